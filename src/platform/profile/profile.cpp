// The private-profile functions: each call resolves the file name, reads the file whole
// and, for a write, replaces it atomically. No content is cached between calls, so an
// edit made by hand takes effect at the next read.
#include "platform/profile/profile.h"
#include "platform/profile/profile_internal.h"
#include "platform/profile/profile_names.h"
#include "platform/runtime.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

namespace pp = platform::profile;

// Copies text into buf cut to size - 1 characters and terminated (nothing when size is 0);
// returns the number of characters copied.
size_t copyCut(std::string_view text, char* buf, size_t size) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    if (n > 0) { // an empty text may have no data pointer at all
        std::memcpy(buf, text.data(), n);
    }
    buf[n] = '\0';
    return n;
}

// Why the last write that returned FALSE failed: "PATH: REASON".
std::string lastWriteError;

// Records a failed write and returns FALSE for it.
BOOL writeFailed(const std::string& path, const std::string& reason) {
    lastWriteError = (path.empty() ? std::string("(no file)") : path) + ": " + reason;
    return FALSE;
}

// The value of the key in the file, or nothing when the file, section or key is missing
// (a null section or key included) or the file cannot be read.
std::optional<std::string> lookUp(const char* section, const char* key, const char* fileName) {
    std::string text;
    std::string path = pp::resolvePath(fileName);
    if (section == nullptr || key == nullptr || path.empty() ||
        pp::readWholeFile(path, text) != pp::ReadResult::Ok) {
        return std::nullopt;
    }
    std::optional<std::string_view> value = pp::findValue(text, section, key);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

// The key names of a section, each ended by a NUL and the last by a second NUL; a buffer
// too small cuts the last name and returns size - 2, as the enumeration rule says.
DWORD copyKeyNames(const char* section, const char* fileName, char* buf, DWORD size) {
    std::string text;
    std::string path = pp::resolvePath(fileName);
    std::string names;
    if (!path.empty() && pp::readWholeFile(path, text) == pp::ReadResult::Ok) {
        names = pp::keyNames(text, section);
    }
    if (buf == nullptr || size == 0) {
        return 0;
    }
    if (size < 2) {
        buf[0] = '\0';
        return 0;
    }
    if (names.size() + 1 <= size) {
        std::memcpy(buf, names.data(), names.size());
        buf[names.size()] = '\0';
        if (names.empty() && size > 1) {
            buf[1] = '\0';
        }
        return static_cast<DWORD>(names.empty() ? 0 : names.size());
    }
    std::memcpy(buf, names.data(), size - 2);
    buf[size - 2] = '\0';
    buf[size - 1] = '\0';
    return size - 2;
}

} // namespace

// A null section (the enumeration of sections) is not supported and gives 0 with an empty
// buffer; a null key lists the section's key names (copyKeyNames); a null default reads as "".
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buf, DWORD size, const char* fileName) {
    if (section != nullptr && key == nullptr) {
        return copyKeyNames(section, fileName, buf, size);
    }
    std::optional<std::string> value = lookUp(section, key, fileName);
    if (!value && section != nullptr && key != nullptr && defaultValue != nullptr) {
        value = defaultValue;
    }
    return static_cast<DWORD>(copyCut(value.value_or(""), buf, size));
}

// A present key with no number (an empty value included) reads as 0; numbers too large
// for 32 bits wrap (see parseLeadingInt), and callers cast the result to int.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName) {
    std::optional<std::string> value = lookUp(section, key, fileName);
    return value ? pp::parseLeadingInt(*value) : static_cast<UINT>(defaultValue);
}

// A write that would leave the file as it is does not touch it. A null section, key or
// value, names or a value that would break the line structure, and an unreadable or
// oversized file are refused with FALSE and the file is left alone.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    std::string path = pp::resolvePath(fileName);
    if (section == nullptr || key == nullptr || value == nullptr) {
        return writeFailed(path, "no section, key or value to write");
    }
    if (!pp::isWritableSection(section) || !pp::isWritableKey(key) || !pp::isWritableValue(value)) {
        return writeFailed(path, "a name or value that would break the lines of the file");
    }
    if (path.empty()) {
        return writeFailed(path, "no file name");
    }
    std::string text;
    std::string reason;
    if (pp::readWholeFile(path, text, &reason) == pp::ReadResult::Failed) {
        return writeFailed(path, "cannot be read: " + reason);
    }
    std::string updated = pp::setValue(text, section, key, value);
    if (updated != text && !pp::replaceFile(path, updated, &reason)) {
        return writeFailed(path, reason);
    }
    return TRUE;
}

void platformProfileWriteError(char* buf, size_t size) {
    copyCut(lastWriteError, buf, size);
}

namespace {

struct NameVisit {
    ProfileNameVisitor visit;
    void* context;
};

// Hands one name to the caller's visitor as bounded, terminated texts.
void visitName(std::string_view section, std::string_view key, int line, void* context) {
    const NameVisit* v = static_cast<const NameVisit*>(context);
    char sectionText[PROFILE_NAME_SHOWN + 1];
    char keyText[PROFILE_NAME_SHOWN + 1];
    copyCut(section, sectionText, sizeof sectionText);
    copyCut(key, keyText, sizeof keyText);
    v->visit(sectionText, key.empty() ? nullptr : keyText, line, v->context);
}

} // namespace

bool platformProfileVisitNames(const char* fileName, ProfileNameVisitor visit, void* context) {
    std::string text;
    std::string path = pp::resolvePath(fileName);
    if (path.empty() || pp::readWholeFile(path, text) != pp::ReadResult::Ok) {
        return false;
    }
    NameVisit v{visit, context};
    pp::forEachName(text, visitName, &v);
    return true;
}

void platformProfilePath(const char* fileName, char* buf, size_t size) {
    copyCut(pp::resolvePath(fileName), buf, size);
}

int platformProfileFileState(const char* fileName, unsigned* mode, char* why, size_t size) {
    std::string path = pp::resolvePath(fileName);
    std::string reason = "no file name";
    mode_t bits = 0;
    pp::ReadResult found =
        path.empty() ? pp::ReadResult::Failed : pp::inspectFile(path, &bits, &reason);
    if (mode != nullptr) {
        *mode = found == pp::ReadResult::Ok ? static_cast<unsigned>(bits) : 0u;
    }
    copyCut(found == pp::ReadResult::Failed ? reason : "", why, size);
    switch (found) {
    case pp::ReadResult::Ok:
        return PROFILE_FILE_READABLE;
    case pp::ReadResult::Missing:
        return PROFILE_FILE_MISSING;
    default:
        return PROFILE_FILE_UNREADABLE;
    }
}
