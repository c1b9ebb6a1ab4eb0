// Where a private-profile file name points on this system.
#include "platform/profile/profile_internal.h"
#include "platform/runtime.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <pwd.h>
#include <unistd.h>

namespace platform::profile {

namespace {

// Bare names mapped to paths by platformSetProfileFile (the --config option).
std::map<std::string, std::string> mappedNames;

// The user's home directory: $HOME, else the password database; empty when neither
// knows it.
std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    char buffer[16384]; // far more than an entry takes
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    return std::string();
}

// The directory of bare names, with a trailing '/'; empty (the current directory) when
// no home directory is known.
std::string configDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const bool xdgSet = xdg != nullptr && xdg[0] == '/';
    std::string dir = xdgSet ? std::string(xdg) : homeDirectory();
    if (dir.empty()) {
        return dir;
    }
    if (dir.back() != '/') {
        dir += '/';
    }
    return xdgSet ? dir : dir + ".config/";
}

} // namespace

std::string resolvePath(const char* fileName) {
    if (fileName == nullptr || fileName[0] == '\0') {
        return std::string();
    }
    if (std::strchr(fileName, '/') != nullptr) {
        return fileName;
    }
    auto mapped = mappedNames.find(fileName);
    if (mapped != mappedNames.end()) {
        return mapped->second;
    }
    return configDirectory() + fileName;
}

} // namespace platform::profile

// A null or empty path removes the mapping of bareName.
void platformSetProfileFile(const char* bareName, const char* path) {
    if (bareName == nullptr || bareName[0] == '\0') {
        return;
    }
    auto& names = platform::profile::mappedNames;
    if (path == nullptr || path[0] == '\0') {
        names.erase(bareName);
    } else {
        names[bareName] = path;
    }
}
