// The configuration check: the keys as the server would read them, then what would go
// wrong. It only reads (the files and the resolver): it writes no file, sends nothing to a
// station or directory server and creates no window.
#include "config/check_config.h"

#include "access/access.h"
#include "app/app_state.h"
#include "config/config.h"
#include "links/links_check.h"
#include "platform/net/winsock.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <sys/stat.h>

namespace {

constexpr int CAPACITY_MAX = 25;
constexpr size_t VALUE_SIZE = 1000;
constexpr size_t PATH_SIZE = 4096;
constexpr size_t WORD_SHOWN_MAX = 64;

struct Check {
    FILE* out;
    int problems;
    bool fatal; // a problem that keeps the server from serving
    char path[PATH_SIZE];
    char shownPath[escapedSize(PATH_SIZE)];
};

Check check;

// One problem line; an error means that the server would not serve.
__attribute__((format(printf, 2, 3))) void problem(bool error, const char* format, ...) {
    check.fatal = check.fatal || error;
    ++check.problems;
    std::fputs(error ? "error: " : "warning: ", check.out);
    va_list args;
    va_start(args, format);
    std::vfprintf(check.out, format, args);
    va_end(args);
    std::fputc('\n', check.out);
}

// The value of a key as the server reads it into a buffer of size bytes; false (and the
// default in buf) when the key is not in the file.
bool readKey(const char* section, const char* key, const char* defaultValue, char* buf,
             DWORD size) {
    // Two reads with different defaults tell a missing key from one holding the default.
    char probe[2];
    GetPrivateProfileStringA(section, key, "\x01", probe, sizeof probe, CONFIG_FILE);
    bool first = std::strcmp(probe, "\x01") == 0;
    GetPrivateProfileStringA(section, key, "\x02", probe, sizeof probe, CONFIG_FILE);
    bool present = !(first && std::strcmp(probe, "\x02") == 0);
    GetPrivateProfileStringA(section, key, defaultValue, buf, size, CONFIG_FILE);
    return present;
}

const char* sourceOf(bool present) {
    return present ? "file" : "default";
}

// Prints "[section] key = value (source)" with the value escaped.
void printKey(const char* section, const char* key, const char* value, const char* source) {
    static char shown[escapedSize(PATH_SIZE)];
    escapeText(value, shown, sizeof shown);
    std::fprintf(check.out, "[%s] %s = %s (%s)\n", section, key, shown, source);
}

// A text key, read into a buffer of size bytes as the server reads it.
void textKey(const char* section, const char* key, const char* defaultValue, DWORD size) {
    char value[VALUE_SIZE];
    bool present = readKey(section, key, defaultValue, value, size);
    printKey(section, key, value, sourceOf(present));
}

// An integer key, as the server takes it.
void intKey(const char* section, const char* key, int defaultValue) {
    char text[VALUE_SIZE];
    bool present = readKey(section, key, "", text, sizeof text);
    int value = static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, CONFIG_FILE));
    char shown[16];
    std::snprintf(shown, sizeof shown, "%d", value);
    printKey(section, key, shown, sourceOf(present));
}

bool passwordSet(bool* present) {
    char password[40];
    *present = readKey("callsign", "valid", "vbnoz5", password, 39);
    return *present && password[0] != '\0';
}

// The access file of the server: the command line's, else [access] file.
bool accessPath(char* buf, size_t size) {
    return accessResolvePath(buf, size);
}

void printKeys(bool accessFromCommandLine) {
    textKey("callsign", "user", "NA", 40);
    textKey("callsign", "desc", "none", 40);
    bool present = false;
    bool set = passwordSet(&present);
    printKey("callsign", "valid", set ? "set" : "not set", sourceOf(present));
    for (const char* key : {"1", "2", "3", "4"}) {
        textKey("server", key, "FIND", VALUE_SIZE);
    }
    intKey("server", "maxusers", 8);
    textKey("server", "ver", "NONE", VALUE_SIZE);
    intKey("help", "c", 0);
    intKey("window", "x1", 0);
    intKey("window", "y1", 0);
    char path[PATH_SIZE];
    bool given = accessPath(path, sizeof path);
    printKey("access", "file", given ? path : "none",
             accessFromCommandLine ? "command line" : sourceOf(given));
}

// The file itself: there, readable, and not readable by others while it holds the password.
void checkFile() {
    struct stat st {};
    if (::stat(check.path, &st) != 0) {
        problem(true, "%s: no such file", check.shownPath);
        return;
    }
    FILE* f = S_ISREG(st.st_mode) ? std::fopen(check.path, "r") : nullptr;
    if (f == nullptr) {
        problem(true, "%s: cannot be read", check.shownPath);
    } else {
        std::fclose(f);
    }
    bool present = false;
    if (passwordSet(&present) && (st.st_mode & S_IROTH) != 0) {
        problem(false, "%s is readable by others and holds the password (chmod 600 it)",
                check.shownPath);
    }
}

void checkAccount() {
    char desc[40];
    readKey("callsign", "desc", "none", desc, sizeof desc);
    if (std::strcmp(desc, "none") == 0) {
        problem(true, "the account is not set up: [callsign] desc is \"none\"; set user, desc "
                      "and valid");
    }
}

// Each directory entry must resolve through the platform's resolver.
void checkDirectory() {
    for (const char* key : {"1", "2", "3", "4"}) {
        char host[VALUE_SIZE];
        GetPrivateProfileStringA("server", key, "FIND", host, sizeof host, CONFIG_FILE);
        HOSTENT* entry = ws::gethostbyname(host);
        if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
            static char shown[escapedSize(VALUE_SIZE)];
            escapeText(host, shown, sizeof shown);
            problem(false, "[server] %s = %s does not resolve", key, shown);
        }
    }
}

void checkCapacity() {
    int maxusers = static_cast<int>(GetPrivateProfileIntA("server", "maxusers", 8, CONFIG_FILE));
    if (maxusers > CAPACITY_MAX) {
        problem(false, "[server] maxusers %d is above 25: the capacity is 25", maxusers);
    } else if (maxusers < 0) {
        problem(true, "[server] maxusers %d is below 0: every station is refused", maxusers);
    }
}

void accessBadLine(int line, const char* why, const char* word, size_t length, void* context) {
    const char* shownPath = static_cast<const char*>(context);
    char shown[escapedSize(WORD_SHOWN_MAX)];
    escapeBytes(word, length < WORD_SHOWN_MAX ? length : WORD_SHOWN_MAX, shown, sizeof shown);
    if (length == 0) {
        problem(false, "%s:%d: %s", shownPath, line, why);
    } else {
        problem(false, "%s:%d: %s: %s", shownPath, line, why, shown);
    }
}

// Every line of the access file that cannot be read, and a file that cannot be read at all.
void checkAccess() {
    static char path[PATH_SIZE];
    if (!accessPath(path, sizeof path)) {
        return;
    }
    static char shownPath[escapedSize(PATH_SIZE)];
    escapeText(path, shownPath, sizeof shownPath);
    static AccessRuleSet rules;
    bool tooLarge = false;
    char why[160] = "";
    switch (accessReadFile(path, &rules, accessBadLine, shownPath, &tooLarge, why, sizeof why)) {
    case AccessReadResult::Ok:
        if (tooLarge) {
            problem(false, "%s: larger than 8 MiB; only its start is read", shownPath);
        }
        if (rules.leftOut > 0) {
            problem(false, "%s: %d rules beyond the first %d left out", shownPath, rules.leftOut,
                    ACCESS_MAX_RULES);
        }
        break;
    case AccessReadResult::Missing:
        problem(false, "%s: no such file; no access rules", shownPath);
        break;
    case AccessReadResult::NotRegular:
        problem(false, "%s: not a regular file; no access rules", shownPath);
        break;
    case AccessReadResult::Failed:
        problem(false, "%s: cannot be read (%s); no access rules", shownPath, why);
        break;
    }
}

// A problem of the [links] check, as one line.
void linkProblem(bool error, const char* text) {
    problem(error, "%s", text);
}

} // namespace

int checkConfiguration(FILE* out, bool accessFromCommandLine) {
    check.out = out;
    check.problems = 0;
    check.fatal = false;
    platformProfilePath(CONFIG_FILE, check.path, sizeof check.path);
    escapeText(check.path, check.shownPath, sizeof check.shownPath);
    std::fprintf(out, "configuration file: %s\n", check.shownPath);
    printKeys(accessFromCommandLine);
    checkFile();
    checkAccount();
    checkDirectory();
    checkCapacity();
    checkAccess();
    linksCheckConfig(out, bindAddress, linkProblem);
    if (check.problems == 0) {
        std::fprintf(out, "no problems\n");
    }
    std::fprintf(out, check.fatal ? "the server would not serve\n" : "the server would serve\n");
    return check.fatal ? 1 : 0;
}
