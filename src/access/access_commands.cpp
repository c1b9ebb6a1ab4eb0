// The operator's commands on the access file that the terminal panel and the control socket
// share: whether a station's callsign can be denied by a line, and a read of the file now.
#include "access/access.h"
#include "access/access_internal.h"
#include "platform/stream/escape.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

const char* accessDenyLineProblem(const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return "has no callsign yet, so there is none to deny.";
    }
    // A name with '*' would be read back as a pattern and keep out more than this station.
    size_t length = std::strlen(name);
    if (!accessIsCallsignPattern(name, length) || std::memchr(name, '*', length) != nullptr) {
        return "has a callsign that an access file line cannot name exactly.";
    }
    char path[8];
    if (!accessResolvePath(path, sizeof path)) {
        return "cannot be denied: no access file is configured (--access or [access] file).";
    }
    return nullptr;
}

bool accessReloadNow(char* why, size_t size) {
    const char* path = accessinternal::filePath();
    if (path[0] == '\0') {
        std::snprintf(why, size, "no access file is configured (--access or [access] file)");
        return false;
    }
    char shown[escapedSize(1024)];
    escapeText(path, shown, sizeof shown);
    struct stat st {};
    if (::stat(path, &st) != 0) {
        int error = errno;
        accessinternal::reloadIfChanged(true);
        std::snprintf(why, size, "%s: %s", shown, std::strerror(error));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::snprintf(why, size, "%s: not a regular file; the last good rules stay", shown);
        return false;
    }
    if (!accessinternal::reloadIfChanged(true)) {
        std::snprintf(why, size, "%s: cannot be read; the last good rules stay", shown);
        return false;
    }
    accessinternal::closeDeniedStations();
    return true;
}
