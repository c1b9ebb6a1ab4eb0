// The access file on disk: where it is, reading it without blocking, noticing that it
// changed, and the warnings an operator sees on standard error (one per condition).
#include "access/access.h"
#include "access/access_internal.h"
#include "config/config.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t PATH_SIZE = 4096;
constexpr size_t READ_CHUNK = 65536;
constexpr size_t FILE_MAX_BYTES = 8u << 20;
constexpr int BAD_LINE_REPORTS_MAX = 200; // per read; the rest are counted in one line
constexpr size_t WORD_SHOWN_MAX = 64;     // bytes of an offending word in a report

// What the last look at the file found; a warning is written when this changes to a bad one.
enum class Condition { None, Ok, Missing, NotRegular, Failed };

struct Identity {
    bool known;
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
};

struct FileState {
    char overridePath[PATH_SIZE];
    char path[PATH_SIZE];
    char shownPath[escapedSize(PATH_SIZE)]; // path, escaped for messages
    Condition condition;
    Identity identity;
    int active; // index into sets
    int badLinesShown;
    int badLinesHidden;
};

FileState state{};
AccessRuleSet sets[2]; // the rules in force and the ones being read

char readBuffer[READ_CHUNK];

void copyText(char* out, size_t size, const char* text) {
    std::snprintf(out, size, "%s", text != nullptr ? text : "");
}

// One bad line of the server's file, on standard error, at most BAD_LINE_REPORTS_MAX per read.
void reportBadLine(int line, const char* why, const char* word, size_t length, void*) {
    if (state.badLinesShown == BAD_LINE_REPORTS_MAX) {
        ++state.badLinesHidden;
        return;
    }
    ++state.badLinesShown;
    char shown[escapedSize(WORD_SHOWN_MAX)];
    escapeBytes(word, length < WORD_SHOWN_MAX ? length : WORD_SHOWN_MAX, shown, sizeof shown);
    if (length == 0) {
        std::fprintf(stderr, "confserver: %s:%d: %s\n", state.shownPath, line, why);
    } else {
        std::fprintf(stderr, "confserver: %s:%d: %s: %s\n", state.shownPath, line, why, shown);
    }
}

// Writes the warning of a bad condition once, when the condition is new.
void enterCondition(Condition condition, const char* text) {
    if (state.condition != condition) {
        std::fprintf(stderr, "confserver: %s: %s\n", state.shownPath, text);
    }
    state.condition = condition;
}

bool sameIdentity(const Identity& a, const struct stat& st) {
    return a.known && a.device == st.st_dev && a.inode == st.st_ino && a.size == st.st_size &&
           a.modified.tv_sec == st.st_mtim.tv_sec && a.modified.tv_nsec == st.st_mtim.tv_nsec;
}

Identity identityOf(const struct stat& st) {
    return Identity{true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

} // namespace

AccessReadResult accessReadFile(const char* path, AccessRuleSet* set, AccessBadLine report,
                                void* context, bool* tooLarge, char* why, size_t whySize) {
    accessClearRules(set);
    if (tooLarge != nullptr) {
        *tooLarge = false;
    }
    auto fail = [&](const char* text) {
        if (why != nullptr && whySize > 0) {
            copyText(why, whySize, text);
        }
        return AccessReadResult::Failed;
    };
    struct stat st {};
    if (::stat(path, &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return AccessReadResult::Missing;
        }
        return fail(std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return AccessReadResult::NotRegular;
    }
    // Non-blocking and without a controlling terminal: should the path turn into a FIFO or
    // a device between the look and the open, nothing waits and fstat catches it.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return AccessReadResult::NotRegular;
    }
    static AccessParser parser;
    accessParseBegin(&parser, set, report, context);
    size_t total = 0;
    while (total < FILE_MAX_BYTES) {
        size_t want = FILE_MAX_BYTES - total < READ_CHUNK ? FILE_MAX_BYTES - total : READ_CHUNK;
        ssize_t n = ::read(fd, readBuffer, want);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            int error = errno;
            ::close(fd);
            accessClearRules(set);
            return fail(std::strerror(error));
        }
        if (n == 0) {
            break;
        }
        accessParseFeed(&parser, readBuffer, static_cast<size_t>(n));
        total += static_cast<size_t>(n);
    }
    if (total == FILE_MAX_BYTES && tooLarge != nullptr) {
        char probe;
        *tooLarge = ::read(fd, &probe, 1) == 1;
    }
    ::close(fd);
    accessParseEnd(&parser);
    return AccessReadResult::Ok;
}

bool accessResolvePath(char* buf, size_t size) {
    if (size == 0) {
        return false;
    }
    buf[0] = '\0';
    if (state.overridePath[0] != '\0') {
        copyText(buf, size, state.overridePath);
        return true;
    }
    char file[PATH_SIZE];
    GetPrivateProfileStringA("access", "file", "", file, sizeof file, CONFIG_FILE);
    if (file[0] == '\0') {
        return false;
    }
    if (file[0] == '/') {
        copyText(buf, size, file);
        return true;
    }
    // Relative to the directory of the configuration file, so that one directory holds a
    // conference's files wherever the server is started from.
    char config[PATH_SIZE];
    platformProfilePath(CONFIG_FILE, config, sizeof config);
    const char* slash = std::strrchr(config, '/');
    int directoryLength = slash != nullptr ? static_cast<int>(slash - config) : 0;
    if (slash == nullptr) {
        copyText(buf, size, file);
    } else {
        std::snprintf(buf, size, "%.*s/%s", directoryLength, config, file);
    }
    return true;
}

void accessSetFileOverride(const char* path) {
    copyText(state.overridePath, sizeof state.overridePath, path);
}

const AccessRuleSet* accessRules() {
    return &sets[state.active];
}

namespace accessinternal {

const AccessRuleSet* activeRules() {
    return &sets[state.active];
}

const char* filePath() {
    return state.path;
}

void useFile(const char* path) {
    copyText(state.path, sizeof state.path, path);
    escapeText(state.path, state.shownPath, sizeof state.shownPath);
    state.condition = Condition::None;
    state.identity = Identity{};
}

void forgetFile() {
    useFile("");
    accessClearRules(&sets[0]);
    accessClearRules(&sets[1]);
    state.active = 0;
}

bool reloadIfChanged(bool force) {
    if (state.path[0] == '\0') {
        return false;
    }
    AccessRuleSet& current = sets[state.active];
    struct stat st {};
    if (::stat(state.path, &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            enterCondition(Condition::Missing, "no such file; no access rules");
            state.identity = Identity{};
            bool had = current.count > 0;
            accessClearRules(&current);
            return had;
        }
        char text[200];
        std::snprintf(text, sizeof text, "cannot be read (%s); the last good rules stay",
                      std::strerror(errno));
        enterCondition(Condition::Failed, text);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        enterCondition(Condition::NotRegular, "not a regular file; the last good rules stay");
        state.identity = Identity{};
        return false;
    }
    if (!force && state.condition == Condition::Ok && sameIdentity(state.identity, st)) {
        return false;
    }
    int next = 1 - state.active;
    state.badLinesShown = 0;
    state.badLinesHidden = 0;
    bool tooLarge = false;
    char why[160] = "";
    AccessReadResult result =
        accessReadFile(state.path, &sets[next], reportBadLine, nullptr, &tooLarge, why, sizeof why);
    if (result == AccessReadResult::Missing) { // gone since the look
        enterCondition(Condition::Missing, "no such file; no access rules");
        state.identity = Identity{};
        bool had = current.count > 0;
        accessClearRules(&current);
        return had;
    }
    if (result == AccessReadResult::NotRegular) {
        enterCondition(Condition::NotRegular, "not a regular file; the last good rules stay");
        return false;
    }
    if (result == AccessReadResult::Failed) {
        char text[240];
        std::snprintf(text, sizeof text, "cannot be read (%s); the last good rules stay", why);
        enterCondition(Condition::Failed, text);
        return false;
    }
    if (state.badLinesHidden > 0) {
        std::fprintf(stderr, "confserver: %s: %d more lines that cannot be read\n", state.shownPath,
                     state.badLinesHidden);
    }
    if (tooLarge) {
        std::fprintf(stderr, "confserver: %s: larger than 8 MiB; only its start is read\n",
                     state.shownPath);
    }
    const AccessRuleSet& read = sets[next];
    if (read.leftOut > 0) {
        std::fprintf(stderr, "confserver: %s: %d rules beyond the first %d left out\n",
                     state.shownPath, read.leftOut, ACCESS_MAX_RULES);
    }
    state.active = next;
    state.identity = identityOf(st);
    state.condition = Condition::Ok;
    return true;
}

} // namespace accessinternal

void accessStart() {
    char path[PATH_SIZE];
    accessResolvePath(path, sizeof path);
    accessinternal::forgetFile();
    accessinternal::useFile(path);
    accessinternal::reloadIfChanged(true);
}

void accessStop() {
    accessinternal::forgetFile();
}
