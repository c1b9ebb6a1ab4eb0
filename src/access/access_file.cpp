// The access file on disk: where it is, reading it without blocking and in steps,
// noticing that it changed, and the warnings an operator sees on standard error (one per
// condition). It fails closed: while the server runs, a file that is gone, empty, not a
// regular file, unreadable or too large leaves the last good rules in force.
#include "access/access.h"
#include "access/access_internal.h"
#include "access/access_load.h"
#include "config/config.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"
#include "platform/window/frontend.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t PATH_SIZE = 4096;
constexpr int BAD_LINE_REPORTS_MAX = 200; // per read; the rest are counted in one line
constexpr size_t WORD_SHOWN_MAX = 64;     // bytes of an offending word in a report

// What the last look at the file found; a warning is written when this changes to a bad one.
enum class Condition { None, Ok, Missing, NotRegular, Empty, Failed, Refused };

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
    Identity identity; // of the file whose rules are in force
    Identity refused;  // of the last file refused whole (not read again until it changes)
    int active;        // index into sets
    bool loading;      // sets[1 - active] is being read in steps
    bool replaced;     // a load in steps put new rules in force since takeReplaced
    int badLinesShown;
    int badLinesHidden;
    char startError[PATH_SIZE + 256];
};

FileState state{};
AccessRuleSet sets[2]; // the rules in force and the ones being read
AccessLoad load;

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
        platformOperatorLinef("%s:%d: %s", state.shownPath, line, why);
    } else {
        platformOperatorLinef("%s:%d: %s: %s", state.shownPath, line, why, shown);
    }
}

// Writes the warning of a bad condition once, when the condition is new.
void enterCondition(Condition condition, const char* text) {
    if (state.condition != condition) {
        platformOperatorLinef("%s: %s", state.shownPath, text);
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

// Why a whole read set cannot be used (null when it can).
const char* unusable(const AccessLoad& l, const AccessRuleSet& set, char* text, size_t size) {
    if (l.tooLarge) {
        std::snprintf(text, size, "larger than %zu MiB", ACCESS_FILE_MAX_BYTES >> 20);
        return text;
    }
    if (set.leftOut > 0) {
        std::snprintf(text, size, "%d rules, more than the %d the server holds",
                      set.count + set.leftOut, ACCESS_MAX_RULES);
        return text;
    }
    return nullptr;
}

void reportHiddenBadLines() {
    if (state.badLinesHidden > 0) {
        platformOperatorLinef("%s: %d more lines that cannot be read", state.shownPath,
                              state.badLinesHidden);
    }
}

void loadStepFromPump(void*);

// Stops a load in steps; the rules in force stay.
void cancelLoad() {
    if (state.loading) {
        platformRemoveBeforeSleep(loadStepFromPump, nullptr);
        accessLoadClose(&load);
        accessClearRules(&sets[1 - state.active]);
        state.loading = false;
    }
}

// A load's set is whole: put it in force, or refuse it whole and keep the rules in force.
void finishLoad(AccessLoadStep step, const char* why) {
    state.loading = false;
    int next = 1 - state.active;
    reportHiddenBadLines();
    if (step == AccessLoadStep::Changed) {
        state.identity = Identity{}; // read again at the next look
        accessClearRules(&sets[next]);
        return;
    }
    char line[PATH_SIZE + 100];
    if (step == AccessLoadStep::Failed) {
        std::snprintf(line, sizeof line, "cannot be read (%s); the last good rules stay", why);
        enterCondition(Condition::Failed, line);
        state.identity = Identity{}; // tried again at the next look
        accessClearRules(&sets[next]);
        return;
    }
    char text[200];
    if (const char* reason = unusable(load, sets[next], text, sizeof text)) {
        // One line for each file refused: another refused file is a change worth a line.
        if (!sameIdentity(state.refused, load.opened)) {
            state.condition = Condition::None;
        }
        std::snprintf(line, sizeof line, "%s; refused, the last good rules stay", reason);
        enterCondition(Condition::Refused, line);
        state.refused = identityOf(load.opened);
        accessClearRules(&sets[next]);
        return;
    }
    accessClearRules(&sets[state.active]);
    state.active = next;
    state.identity = identityOf(load.opened);
    state.refused = Identity{};
    state.condition = Condition::Ok;
    state.replaced = true;
}

// One step of a load in steps, run before each sleep of the pump until the load is done; with
// more to read, the pump only looks at its sources and comes back, without sleeping.
void loadStepFromPump(void*) {
    if (!state.loading) {
        platformRemoveBeforeSleep(loadStepFromPump, nullptr);
        return;
    }
    char why[160] = "";
    AccessLoadStep step = accessLoadStep(&load, ACCESS_STEP_BYTES, why, sizeof why);
    if (step == AccessLoadStep::More) {
        platformBeforeSleepAgain(); // the next step after one look at the sources
        return;
    }
    platformRemoveBeforeSleep(loadStepFromPump, nullptr);
    finishLoad(step, why);
}

} // namespace

AccessReadResult accessReadFile(const char* path, AccessRuleSet* set, AccessBadLine report,
                                void* context, bool* tooLarge, char* why, size_t whySize) {
    static AccessLoad whole;
    if (tooLarge != nullptr) {
        *tooLarge = false;
    }
    AccessReadResult result = accessLoadBegin(&whole, path, set, report, context, why, whySize);
    if (result != AccessReadResult::Ok) {
        return result;
    }
    AccessLoadStep step = AccessLoadStep::More;
    while (step == AccessLoadStep::More) {
        step = accessLoadStep(&whole, SIZE_MAX, why, whySize);
    }
    if (step == AccessLoadStep::Failed) {
        accessClearRules(set);
        return AccessReadResult::Failed;
    }
    if (step == AccessLoadStep::Changed) {
        accessClearRules(set);
        copyText(why, whySize, "changed while it was read");
        return AccessReadResult::Failed;
    }
    if (tooLarge != nullptr) {
        *tooLarge = whole.tooLarge;
    }
    return AccessReadResult::Ok;
}

bool accessFileReadable(const char* path, char* why, size_t whySize) {
    struct stat st {};
    if (::stat(path, &st) != 0) {
        copyText(why, whySize, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        copyText(why, whySize, "not a regular file");
        return false;
    }
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        copyText(why, whySize, std::strerror(errno));
        return false;
    }
    ::close(fd);
    return true;
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

bool accessLoading() {
    return state.loading;
}

namespace accessinternal {

const AccessRuleSet* activeRules() {
    return &sets[state.active];
}

const char* filePath() {
    return state.path;
}

void useFile(const char* path) {
    cancelLoad();
    copyText(state.path, sizeof state.path, path);
    escapeText(state.path, state.shownPath, sizeof state.shownPath);
    state.condition = Condition::None;
    state.identity = Identity{};
    state.refused = Identity{};
}

void forgetFile() {
    useFile("");
    accessClearRules(&sets[0]);
    accessClearRules(&sets[1]);
    state.active = 0;
    state.replaced = false;
}

bool takeReplaced() {
    bool replaced = state.replaced;
    state.replaced = false;
    return replaced;
}

bool fileIsCurrent() {
    struct stat st {};
    return !state.loading && state.condition == Condition::Ok && ::stat(state.path, &st) == 0 &&
           sameIdentity(state.identity, st);
}

bool addAppendedDeny(const char* callsign, int line, bool wasCurrent) {
    cancelLoad();
    AccessRule rule{};
    char text[ACCESS_PATTERN_MAX + 8];
    int n = std::snprintf(text, sizeof text, "deny %s", callsign);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof text ||
        !accessReadRule(line, text, static_cast<size_t>(n), &rule, nullptr, nullptr)) {
        return false;
    }
    AccessRuleSet& active = sets[state.active];
    if (!accessAddRule(&active, rule)) {
        return false;
    }
    struct stat st {};
    // The rules in force are the file's when they were before the line was added to both;
    // otherwise the file is read again (in steps) at the next look.
    state.identity = wasCurrent && ::stat(state.path, &st) == 0 ? identityOf(st) : Identity{};
    return true;
}

bool reloadIfChanged(bool force) {
    if (state.path[0] == '\0' || state.loading) {
        return false;
    }
    struct stat st {};
    if (::stat(state.path, &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            enterCondition(Condition::Missing, "no such file; the last good rules stay");
        } else {
            char text[200];
            std::snprintf(text, sizeof text, "cannot be read (%s); the last good rules stay",
                          std::strerror(errno));
            enterCondition(Condition::Failed, text);
        }
        state.identity = Identity{};
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        enterCondition(Condition::NotRegular, "not a regular file; the last good rules stay");
        state.identity = Identity{};
        return false;
    }
    if (st.st_size == 0) {
        // Truncated to be written again: the rules come when it is.
        enterCondition(Condition::Empty, "empty; the last good rules stay");
        state.identity = Identity{};
        return false;
    }
    if (!force && ((state.condition == Condition::Ok && sameIdentity(state.identity, st)) ||
                   (state.condition == Condition::Refused && sameIdentity(state.refused, st)))) {
        return false;
    }
    int next = 1 - state.active;
    state.badLinesShown = 0;
    state.badLinesHidden = 0;
    char why[160] = "";
    AccessReadResult result =
        accessLoadBegin(&load, state.path, &sets[next], reportBadLine, nullptr, why, sizeof why);
    if (result == AccessReadResult::Missing) { // gone since the look
        enterCondition(Condition::Missing, "no such file; the last good rules stay");
        return false;
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
    // The first step at once: a file of ordinary size is read whole here and now.
    state.loading = true;
    AccessLoadStep step = accessLoadStep(&load, ACCESS_STEP_BYTES, why, sizeof why);
    if (step == AccessLoadStep::More) {
        platformAddBeforeSleep(loadStepFromPump, nullptr);
        return false;
    }
    finishLoad(step, why);
    return takeReplaced();
}

} // namespace accessinternal

bool accessStart() {
    char path[PATH_SIZE];
    accessResolvePath(path, sizeof path);
    accessinternal::forgetFile();
    accessinternal::useFile(path);
    state.startError[0] = '\0';
    if (path[0] == '\0') {
        return true;
    }
    // Read whole before any station can be admitted: no relay waits yet.
    state.badLinesShown = 0;
    state.badLinesHidden = 0;
    char why[160] = "";
    AccessRuleSet& set = sets[state.active];
    AccessReadResult result =
        accessLoadBegin(&load, path, &set, reportBadLine, nullptr, why, sizeof why);
    AccessLoadStep step = AccessLoadStep::Failed;
    while (result == AccessReadResult::Ok &&
           (step = accessLoadStep(&load, SIZE_MAX, why, sizeof why)) == AccessLoadStep::More) {
    }
    reportHiddenBadLines();
    const char* reason = why;
    char text[200];
    if (result == AccessReadResult::Missing) {
        reason = "no such file";
    } else if (result == AccessReadResult::NotRegular) {
        reason = "not a regular file";
    } else if (result == AccessReadResult::Ok && step == AccessLoadStep::Changed) {
        reason = "changed while it was read";
    } else if (result == AccessReadResult::Ok && step == AccessLoadStep::Done) {
        reason = unusable(load, set, text, sizeof text);
    }
    if (reason != nullptr) {
        // Not escaped here: the start error's message box escapes what it shows.
        std::snprintf(state.startError, sizeof state.startError, "Access file %s: %s", state.path,
                      reason);
        accessClearRules(&set);
        return false;
    }
    state.identity = identityOf(load.opened);
    state.condition = Condition::Ok;
    return true;
}

void accessReloadNow() {
    if (accessinternal::reloadIfChanged(true)) {
        accessinternal::closeDeniedStations();
    }
}

const char* accessStartError() {
    return state.startError;
}

void accessStop() {
    accessinternal::forgetFile();
}
