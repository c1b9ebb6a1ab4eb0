// The configuration check: the keys as the server would read them, then what would go
// wrong. It only reads the two files: it resolves no name, opens no socket, writes no file,
// sends nothing and creates no window.
#include "check/check_config.h"

#include "access/access.h"
#include "check/check_config_internal.h"
#include "config/account.h"
#include "config/config.h"
#include "links/links_check.h"
#include "monitor/http_library.h"
#include "monitor/monitor_view.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"

#include <arpa/inet.h>
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
constexpr size_t HTTP_ADDRESS_SIZE = 64; // as the monitor reads [monitor] http
constexpr const char* LIMIT_KEYS[] = {"talk", "rate", "unnamed"};

struct Check {
    FILE* out;
    int errors;
    int warnings;
    char path[PATH_SIZE];
    char shownPath[escapedSize(PATH_SIZE)];
};

Check check;

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

// A key that is off while it is missing: value when the command line gave one, else the
// file's text, or "none".
void optionalKey(const char* section, const char* key, const char* value, const char* source) {
    char text[VALUE_SIZE];
    bool present = readKey(section, key, "", text, sizeof text);
    if (value != nullptr) {
        printKey(section, key, value, source);
    } else {
        printKey(section, key, present ? text : "none", sourceOf(present));
    }
}

bool passwordSet(bool* present) {
    char password[40];
    *present = readKey("callsign", "valid", "vbnoz5", password, 39);
    return *present && password[0] != '\0';
}

void printKeys(const CheckConfigOptions& options) {
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
    bool given = accessResolvePath(path, sizeof path);
    printKey("access", "file", given ? path : "none",
             options.accessFromCommandLine ? "command line" : sourceOf(given));
    optionalKey("monitor", "http",
                options.http != nullptr && options.http[0] == '\0' ? "none" : options.http,
                "command line");
    for (const char* key : LIMIT_KEYS) {
        char text[VALUE_SIZE];
        if (readKey("limits", key, "", text, sizeof text)) {
            intKey("limits", key, 0);
        } else {
            printKey("limits", key, "none", "default");
        }
    }
    linksPrintKeys(check.out);
}

// The file itself: there, readable, and not readable by others while it holds the password.
void checkFile() {
    struct stat st {};
    if (::stat(check.path, &st) != 0) {
        checkProblem(true, "%s: no such file", check.shownPath);
        return;
    }
    FILE* f = S_ISREG(st.st_mode) ? std::fopen(check.path, "r") : nullptr;
    if (f == nullptr) {
        checkProblem(true, "%s: cannot be read", check.shownPath);
    } else {
        std::fclose(f);
    }
    bool present = false;
    if (passwordSet(&present) && (st.st_mode & S_IROTH) != 0) {
        checkProblem(false, "%s is readable by others and holds the password (chmod 600 it)",
                     check.shownPath);
    }
}

// The account: desc "none" is the first run; an empty or missing name, description or
// password is an account that the network cannot know.
void checkAccount() {
    char desc[40];
    readKey("callsign", "desc", "none", desc, sizeof desc);
    if (std::strcmp(desc, "none") == 0) {
        checkProblem(true, "the account is not set up: [callsign] desc is \"none\"; set user, "
                           "desc and valid");
    }
    for (const char* key : {"user", "desc", "valid"}) {
        char value[40];
        bool present = readKey("callsign", key, "", value, sizeof value);
        if (!present && std::strcmp(key, "desc") != 0) {
            checkProblem(true, "[callsign] %s is not set", key);
        } else if (present && value[0] == '\0') {
            checkProblem(true, "[callsign] %s is empty", key);
        }
    }
}

// A number key whose text is more than a number: tells what the server will read.
void checkNumberText(const char* section, const char* key) {
    char text[VALUE_SIZE];
    if (!readKey(section, key, "", text, sizeof text)) {
        return;
    }
    const char* p = text;
    if (*p == '-' || *p == '+') {
        ++p;
    }
    size_t digits = std::strspn(p, "0123456789");
    if (digits > 0 && p[digits] == '\0') {
        return;
    }
    static char shown[escapedSize(VALUE_SIZE)];
    escapeText(text, shown, sizeof shown);
    checkProblem(false, "[%s] %s = %s reads as %d", section, key, shown,
                 static_cast<int>(GetPrivateProfileIntA(section, key, 0, CONFIG_FILE)));
}

void checkNumbers() {
    checkNumberText("server", "maxusers");
    checkNumberText("help", "c");
    checkNumberText("window", "x1");
    checkNumberText("window", "y1");
    int maxusers = static_cast<int>(GetPrivateProfileIntA("server", "maxusers", 8, CONFIG_FILE));
    if (maxusers > CAPACITY_MAX) {
        checkProblem(false, "[server] maxusers %d is above 25: the capacity is 25", maxusers);
    } else if (maxusers < 0) {
        checkProblem(true, "[server] maxusers %d is below 0: every station is refused", maxusers);
    }
}

// A missing ver has the first start rewrite the directory entries and the capacity (the
// directory list update); any other value than the one it writes is left as it is.
void checkVersion() {
    char ver[VALUE_SIZE];
    bool present = readKey("server", "ver", "NONE", ver, sizeof ver);
    if (std::strcmp(ver, "NONE") == 0) {
        checkProblem(false,
                     "[server] ver is %s: the next start writes [server] 1 = %s, 2 = %s, 3 = %s, "
                     "4 = %s, maxusers = 8 and ver = 618",
                     present ? "NONE" : "not set", defaultDirectoryServers[0],
                     defaultDirectoryServers[1], defaultDirectoryServers[2],
                     defaultDirectoryServers[3]);
    } else if (std::strcmp(ver, "618") != 0) {
        static char shown[escapedSize(VALUE_SIZE)];
        escapeText(ver, shown, sizeof shown);
        checkProblem(false,
                     "[server] ver = %s is not 618: the directory entries are kept as they are "
                     "(only a missing ver has them rewritten)",
                     shown);
    }
}

// The directory entries are only looked at, never resolved: the placeholder and an empty
// entry are the two that certainly name no directory server.
void checkDirectory() {
    for (const char* key : {"1", "2", "3", "4"}) {
        char host[VALUE_SIZE];
        GetPrivateProfileStringA("server", key, "FIND", host, sizeof host, CONFIG_FILE);
        if (std::strcmp(host, "FIND") == 0) {
            checkProblem(false, "[server] %s = FIND is a placeholder, not a directory server", key);
        } else if (host[0] == '\0') {
            checkProblem(false, "[server] %s is empty: no directory server", key);
        }
    }
}

// [monitor] http (or --http) as the monitor takes it at start: a value it cannot listen on,
// or a library it cannot load, stops the start.
void checkHttp(const CheckConfigOptions& options) {
    char address[HTTP_ADDRESS_SIZE];
    if (options.http != nullptr) {
        std::snprintf(address, sizeof address, "%s", options.http);
    } else {
        GetPrivateProfileStringA("monitor", "http", "", address, sizeof address, CONFIG_FILE);
    }
    if (address[0] == '\0') {
        return;
    }
    uint32_t host = 0;
    uint16_t port = 0;
    char shown[escapedSize(HTTP_ADDRESS_SIZE)];
    escapeText(address, shown, sizeof shown);
    const char* where = options.http != nullptr ? "--http" : "[monitor] http";
    if (!monitorParseHttpAddress(address, &host, &port)) {
        checkProblem(true,
                     "%s = %s is not an IPv4 address and a port from 1 to 65535: the server "
                     "would not start",
                     where, shown);
        return;
    }
    char why[256];
    if (!httpLibraryLoad(why, sizeof why)) {
        checkProblem(true, "%s = %s: the HTTP view cannot start: %s", where, shown, why);
    }
}

// [limits]: numbers from 0 up; 0 (no limit) on an address that is not loopback is told.
void checkLimits(const CheckConfigOptions& options) {
    bool loopback = (ntohl(options.bindAddress) >> 24) == 127;
    for (const char* key : LIMIT_KEYS) {
        char text[VALUE_SIZE];
        if (!readKey("limits", key, "", text, sizeof text)) {
            continue;
        }
        checkNumberText("limits", key);
        int value = static_cast<int>(GetPrivateProfileIntA("limits", key, 0, CONFIG_FILE));
        if (value < 0) {
            checkProblem(true, "[limits] %s %d is below 0: a limit is a number from 0 up", key,
                         value);
        } else if (value == 0 && !loopback) {
            checkProblem(false,
                         "[limits] %s = 0 is no limit, and the server listens on an address "
                         "that is not loopback",
                         key);
        }
    }
}

void accessBadLine(int line, const char* why, const char* word, size_t length, void* context) {
    const char* shownPath = static_cast<const char*>(context);
    char shown[escapedSize(WORD_SHOWN_MAX)];
    escapeBytes(word, length < WORD_SHOWN_MAX ? length : WORD_SHOWN_MAX, shown, sizeof shown);
    if (length == 0) {
        checkProblem(false, "%s:%d: %s", shownPath, line, why);
    } else {
        checkProblem(false, "%s:%d: %s: %s", shownPath, line, why, shown);
    }
}

// Every line of the access file that cannot be read; a configured file that cannot be read
// at all stops the start (the server fails closed).
void checkAccess() {
    static char path[PATH_SIZE];
    if (!accessResolvePath(path, sizeof path)) {
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
            checkProblem(true, "%s: larger than 64 MiB: the server would not start", shownPath);
        }
        if (rules.leftOut > 0) {
            checkProblem(true, "%s: more than %d rules: the server would not start", shownPath,
                         ACCESS_MAX_RULES);
        }
        break;
    case AccessReadResult::Missing:
        checkProblem(true, "%s: no such file: the server would not start", shownPath);
        break;
    case AccessReadResult::NotRegular:
        checkProblem(true, "%s: not a regular file: the server would not start", shownPath);
        break;
    case AccessReadResult::Failed:
        checkProblem(true, "%s: cannot be read (%s): the server would not start", shownPath, why);
        break;
    }
}

// A problem of the [links] check, as one line.
void linkProblem(bool error, const char* text) {
    checkProblem(error, "%s", text);
}

} // namespace

void checkProblem(bool error, const char* format, ...) {
    ++(error ? check.errors : check.warnings);
    std::fputs(error ? "error: " : "warning: ", check.out);
    va_list args;
    va_start(args, format);
    std::vfprintf(check.out, format, args);
    va_end(args);
    std::fputc('\n', check.out);
}

int checkConfiguration(FILE* out, const CheckConfigOptions& options) {
    check.out = out;
    check.errors = 0;
    check.warnings = 0;
    platformProfilePath(CONFIG_FILE, check.path, sizeof check.path);
    escapeText(check.path, check.shownPath, sizeof check.shownPath);
    std::fprintf(out, "configuration file: %s\n", check.shownPath);
    printKeys(options);
    checkFile();
    checkNames(check.shownPath);
    checkAccount();
    checkNumbers();
    checkVersion();
    checkDirectory();
    checkHttp(options);
    checkLimits(options);
    checkAccess();
    linksCheckConfig(options.bindAddress, linkProblem);
    if (check.errors + check.warnings == 0) {
        std::fprintf(out, "no problems\n");
    }
    if (check.errors > 0) {
        std::fprintf(out, "the server would not serve\n");
        return 1;
    }
    if (options.strict && check.warnings > 0) {
        std::fprintf(out, "the server would serve, but --strict fails the check on %d %s\n",
                     check.warnings, check.warnings == 1 ? "warning" : "warnings");
        return 1;
    }
    std::fprintf(out, "the server would serve\n");
    return 0;
}
