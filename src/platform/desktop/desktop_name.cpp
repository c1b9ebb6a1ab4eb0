// Registry names and credential-carrying datagrams of the desktop registry.
#include "platform/desktop/desktop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace platform::desktop {

namespace {

// The desktop named by CONFSERVER_DESKTOP, "" for the user's ordinary one.
const char* desktopSuffix() {
    const char* desktop = std::getenv("CONFSERVER_DESKTOP");
    return desktop == nullptr || std::strchr(desktop, '/') != nullptr ? "" : desktop;
}

} // namespace

// "\0confserver-desktop[.D]/<uid>/<C>": an abstract name, without a terminating zero.
bool registryName(const char* className, RegistryName& name) {
    if (className == nullptr || className[0] == '\0') {
        return false;
    }
    const char* desktop = desktopSuffix();
    char text[sizeof name.address.sun_path];
    const int n = std::snprintf(text, sizeof text, "confserver-desktop%s%s/%u/%s",
                                desktop[0] != '\0' ? "." : "", desktop,
                                static_cast<unsigned>(::getuid()), className);
    if (n < 0 || static_cast<size_t>(n) + 1 > sizeof name.address.sun_path) {
        return false;
    }
    name.address = sockaddr_un{};
    name.address.sun_family = AF_UNIX;
    name.address.sun_path[0] = '\0';
    std::memcpy(name.address.sun_path + 1, text, static_cast<size_t>(n));
    name.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return true;
}

int credentialSocket() {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &one, sizeof one) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

ssize_t receiveWithSender(int fd, char* bytes, size_t size, Sender& from) {
    iovec part{bytes, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_name = &from.address;
    message.msg_namelen = from.length;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) {
        return n;
    }
    from.length = message.msg_namelen;
    from.truncated = (message.msg_flags & MSG_TRUNC) != 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
            c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred sender;
            std::memcpy(&sender, CMSG_DATA(c), sizeof sender);
            from.uid = sender.uid;
        }
    }
    return n;
}

bool isRequest(const char* bytes, ssize_t n, const char* request) {
    return n >= 0 && static_cast<size_t>(n) == std::strlen(request) &&
           std::memcmp(bytes, request, static_cast<size_t>(n)) == 0;
}

} // namespace platform::desktop
