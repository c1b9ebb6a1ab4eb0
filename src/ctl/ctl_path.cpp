// Where the control socket is: under systemd the unit's runtime directory, else the user's.
// The client looks in the same places, then at the packaged service's.
#include "ctl/ctl_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr const char* PACKAGED_SERVICE_SOCKET = "/run/confserver/control";

} // namespace

bool ctlDefaultServerPath(char* out, size_t size) {
    out[0] = '\0';
    const char* runtime = std::getenv("RUNTIME_DIRECTORY");
    if (runtime != nullptr && runtime[0] != '\0') {
        // Several RuntimeDirectory= entries come as one list separated by ':'.
        size_t first = std::strcspn(runtime, ":");
        std::snprintf(out, size, "%.*s/control", static_cast<int>(first), runtime);
        return true;
    }
    const char* user = std::getenv("XDG_RUNTIME_DIR");
    if (user != nullptr && user[0] != '\0') {
        std::snprintf(out, size, "%s/confserver/control", user);
        return true;
    }
    return false;
}

void ctlDefaultClientPath(char* out, size_t size) {
    struct stat st {};
    bool own = ctlDefaultServerPath(out, size);
    if (own && ::stat(out, &st) == 0) {
        return;
    }
    // Nothing of the user's own: the packaged service's, when it is there (or when the
    // user has no place of their own, so that the error names a place).
    if (!own || ::stat(PACKAGED_SERVICE_SOCKET, &st) == 0) {
        std::snprintf(out, size, "%s", PACKAGED_SERVICE_SOCKET);
    }
}
