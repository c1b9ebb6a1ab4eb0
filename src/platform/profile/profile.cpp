// The private-profile functions: each call resolves the file name, reads the file whole
// and, for a write, replaces it atomically. No content is cached between calls, so an
// edit made by hand takes effect at the next read.
#include "platform/profile/profile.h"
#include "platform/profile/profile_io.h"
#include "platform/profile/profile_location.h"
#include "platform/profile/profile_text.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Why the last write that returned FALSE failed: "PATH: REASON".
std::string lastWriteError;

// Records a failed write and returns FALSE for it.
BOOL writeFailed(const std::string& path, const std::string& reason) {
    lastWriteError = (path.empty() ? std::string("(no file)") : path) + ": " + reason;
    return FALSE;
}

// The value of the key in the file, or nothing when the file, section or key is
// missing or the file cannot be read.
std::optional<std::string> lookUp(const char* section, const char* key, const char* fileName) {
    std::string text;
    std::string path = platform::profile::resolvePath(fileName);
    if (path.empty() ||
        platform::profile::readWholeFile(path, text) != platform::profile::ReadResult::Ok) {
        return std::nullopt;
    }
    std::optional<std::string_view> value = platform::profile::findValue(text, section, key);
    if (!value) {
        return std::nullopt;
    }
    return std::string(*value);
}

} // namespace

// A null section or key (the enumerations) is not supported and gives 0 with an empty
// buffer; a null default reads as "".
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buf, DWORD size, const char* fileName) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    std::optional<std::string> value;
    if (section != nullptr && key != nullptr) {
        value = lookUp(section, key, fileName);
    }
    std::string_view text = "";
    if (value) {
        text = *value;
    } else if (section != nullptr && key != nullptr && defaultValue != nullptr) {
        text = defaultValue;
    }
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<DWORD>(n);
}

// A present key with no number (an empty value included) reads as 0; numbers too large
// for 32 bits wrap (see parseLeadingInt), and callers cast the result to int.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName) {
    if (section == nullptr || key == nullptr) {
        return static_cast<UINT>(defaultValue);
    }
    std::optional<std::string> value = lookUp(section, key, fileName);
    if (!value) {
        return static_cast<UINT>(defaultValue);
    }
    return platform::profile::parseLeadingInt(*value);
}

// A null value deletes the key; a null key deletes the section. A write that would leave
// the file as it is does not touch it. Names or a value that would break the line
// structure (line breaks, '=' in a key, ']' in a section) are refused with FALSE, and so
// is an unreadable or oversized file, which is then left alone. Every FALSE leaves its
// reason for platformProfileWriteError.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    namespace pp = platform::profile;
    std::string path = pp::resolvePath(fileName);
    if (section == nullptr || !pp::isWritableSection(section) ||
        (key != nullptr && value != nullptr &&
         (!pp::isWritableKey(key) || !pp::isWritableValue(value)))) {
        return writeFailed(path, "a name or value that would break the lines of the file");
    }
    if (path.empty()) {
        return writeFailed(path, "no file name");
    }
    std::string text;
    std::string reason;
    pp::ReadResult read = pp::readWholeFile(path, text, &reason);
    if (read == pp::ReadResult::Failed) {
        return writeFailed(path, "cannot be read: " + reason);
    }
    std::string updated;
    if (key == nullptr) {
        updated = pp::deleteSection(text, section);
    } else if (value == nullptr) {
        updated = pp::deleteKey(text, section, key);
    } else {
        updated = pp::setValue(text, section, key, value);
    }
    if (updated == text) {
        return TRUE;
    }
    if (!pp::replaceFile(path, updated, &reason)) {
        return writeFailed(path, reason);
    }
    return TRUE;
}

void platformProfileWriteError(char* buf, size_t size) {
    if (buf == nullptr || size == 0) {
        return;
    }
    size_t n = lastWriteError.size() < size - 1 ? lastWriteError.size() : size - 1;
    std::memcpy(buf, lastWriteError.data(), n);
    buf[n] = '\0';
}

int platformProfileFileState(const char* fileName, unsigned* mode, char* why, size_t size) {
    namespace pp = platform::profile;
    std::string path = pp::resolvePath(fileName);
    std::string reason = "no file name";
    mode_t bits = 0;
    pp::ReadResult found =
        path.empty() ? pp::ReadResult::Failed : pp::inspectFile(path, &bits, &reason);
    if (mode != nullptr) {
        *mode = found == pp::ReadResult::Ok ? static_cast<unsigned>(bits) : 0u;
    }
    if (why != nullptr && size > 0) {
        if (found != pp::ReadResult::Failed) {
            reason.clear();
        }
        size_t n = reason.size() < size - 1 ? reason.size() : size - 1;
        std::memcpy(why, reason.data(), n);
        why[n] = '\0';
    }
    switch (found) {
    case pp::ReadResult::Ok:
        return PROFILE_FILE_READABLE;
    case pp::ReadResult::Missing:
        return PROFILE_FILE_MISSING;
    default:
        return PROFILE_FILE_UNREADABLE;
    }
}
