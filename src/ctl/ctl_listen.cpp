// The listening socket: its directory, a stale file left by a server that ended, the
// modes that keep other users out, and its removal at the end.
#include "ctl/ctl_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr mode_t DIRECTORY_MODE = 0750;
constexpr mode_t SOCKET_MODE = 0660;
constexpr int BACKLOG = 8;

// The socket file this server made (to remove it only while it is still that one).
dev_t ownDevice = 0;
ino_t ownInode = 0;
bool ownKnown = false;

void fail(char* why, size_t size, const char* shownPath, const char* what, int error) {
    if (error != 0) {
        std::snprintf(why, size, "control socket %s: %s: %s", shownPath, what,
                      std::strerror(error));
    } else {
        std::snprintf(why, size, "control socket %s: %s", shownPath, what);
    }
}

// Makes the socket's directory (the last level only) when it is missing.
bool makeDirectory(const char* path, char* why, size_t size, const char* shownPath) {
    char directory[sizeof(sockaddr_un::sun_path)];
    std::snprintf(directory, sizeof directory, "%s", path);
    char* slash = std::strrchr(directory, '/');
    if (slash == nullptr || slash == directory) {
        return true; // the current directory, or /
    }
    *slash = '\0';
    struct stat st {};
    if (::stat(directory, &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            fail(why, size, shownPath, "its directory is not a directory", 0);
            return false;
        }
        return true;
    }
    if (::mkdir(directory, DIRECTORY_MODE) != 0 && errno != EEXIST) {
        fail(why, size, shownPath, "cannot make its directory", errno);
        return false;
    }
    ::chmod(directory, DIRECTORY_MODE); // whatever the umask left out
    return true;
}

// A socket file already at path: removed when no server listens on it any more.
bool clearStale(const sockaddr_un& address, char* why, size_t size, const char* shownPath) {
    struct stat st {};
    if (::lstat(address.sun_path, &st) != 0) {
        return true;
    }
    if (!S_ISSOCK(st.st_mode)) {
        fail(why, size, shownPath, "exists and is not a socket", 0);
        return false;
    }
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        fail(why, size, shownPath, "cannot look at it", errno);
        return false;
    }
    int rc = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int error = errno;
    ::close(probe);
    if (rc == 0 || error == EAGAIN) {
        fail(why, size, shownPath, "another server is listening on it", 0);
        return false;
    }
    if (error != ECONNREFUSED) {
        fail(why, size, shownPath, "cannot look at it", error);
        return false;
    }
    if (::unlink(address.sun_path) != 0 && errno != ENOENT) {
        fail(why, size, shownPath, "cannot remove the file left by a server that ended", errno);
        return false;
    }
    return true;
}

} // namespace

int ctlListen(const char* path, char* why, size_t size) {
    const char* shownPath = path; // escaped by the operator line or the message box
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path[0] == '\0' || std::strlen(path) >= sizeof address.sun_path) {
        fail(why, size, shownPath, "the path is empty or longer than 107 bytes", 0);
        return -1;
    }
    std::memcpy(address.sun_path, path, std::strlen(path) + 1);
    if (!makeDirectory(path, why, size, shownPath) || !clearStale(address, why, size, shownPath)) {
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail(why, size, shownPath, "cannot open a socket", errno);
        return -1;
    }
    // The file is made with the socket's mode from its first instant (one thread: the
    // umask is the process's only for this call).
    mode_t old = ::umask(static_cast<mode_t>(0777 & ~SOCKET_MODE));
    int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int error = errno;
    ::umask(old);
    if (rc != 0) {
        ::close(fd);
        fail(why, size, shownPath, "cannot bind", error);
        return -1;
    }
    struct stat st {};
    if (::chmod(path, SOCKET_MODE) != 0 || ::lstat(path, &st) != 0 || ::listen(fd, BACKLOG) != 0) {
        error = errno;
        ::close(fd);
        ::unlink(path);
        fail(why, size, shownPath, "cannot listen", error);
        return -1;
    }
    ownDevice = st.st_dev;
    ownInode = st.st_ino;
    ownKnown = true;
    return fd;
}

void ctlUnlinkOwn(const char* path) {
    struct stat st {};
    if (ownKnown && ::lstat(path, &st) == 0 && st.st_dev == ownDevice && st.st_ino == ownInode) {
        ::unlink(path);
    }
    ownKnown = false;
}
