// Readiness of sockets as window messages (WSAAsyncSelect with FD_READ).
//
// A registered socket is watched by the message pump. When the pump finds it readable it
// posts one notification and stops watching it (the descriptor is disabled), so one
// notification at a time is outstanding. Every receive on the socket re-arms it: if more
// data is waiting at that moment the next notification is posted at once and the
// descriptor stays disabled; otherwise the pump watches it again and the next arrival
// posts. A backlog therefore shows as a notification in the queue as soon as a receive
// leaves data behind. As with the Windows call, a receive made while a notification is
// still in the queue may leave two in it; the later one then finds nothing to read.
#include "platform/internal.h"
#include "platform/window.h"
#include "platform/winsock_internal.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unordered_map>

namespace {

struct Registration {
    HWND hwnd;
    UINT msg;
};

std::unordered_map<SOCKET, Registration>& registrations() {
    static std::unordered_map<SOCKET, Registration> table;
    return table;
}

bool dataWaiting(SOCKET s) {
    pollfd p{s, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

void postNotification(SOCKET s, const Registration& r) {
    PostMessageA(r.hwnd, r.msg, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(FD_READ, 0));
}

// Called by the pump when a watched socket is readable: one notification, then the
// socket waits for a receive to re-arm it.
void onSocketReadable(int fd) {
    platform::enableFd(fd, false);
    const auto found = registrations().find(fd);
    if (found != registrations().end()) {
        postNotification(fd, found->second);
    }
}

} // namespace

namespace platform {

void rearmAsyncSocket(SOCKET s) {
    const auto found = registrations().find(s);
    if (found == registrations().end()) {
        return;
    }
    const int savedErrno = errno;
    if (dataWaiting(s)) {
        enableFd(s, false);
        postNotification(s, found->second);
    } else {
        enableFd(s, true);
    }
    errno = savedErrno;
}

void forgetAsyncSocket(SOCKET s) {
    if (registrations().erase(s) > 0) {
        unwatchFd(s);
    }
}

// Forgets every registration without touching the descriptors: the pump's own reset
// drops its watch list, and a descriptor number may already belong to someone else.
void socketsReset() {
    registrations().clear();
}

} // namespace platform

// Registers s for FD_READ notifications as msg to hwnd (see the file comment), or cancels
// the registration when events is 0. Makes the socket non-blocking. Only FD_READ is
// supported: any other event bit is WSAEINVAL, as is a null window.
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events) {
    int type = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &size) != 0) {
        platform::setSocketErrorFromErrno(errno);
        return SOCKET_ERROR;
    }
    if (events == 0) {
        platform::forgetAsyncSocket(s);
        return 0;
    }
    if ((events & ~FD_READ) != 0 || hwnd == nullptr) {
        platform::setSocketError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) {
        platform::setSocketErrorFromErrno(errno);
        return SOCKET_ERROR;
    }
    platform::forgetAsyncSocket(s);
    registrations()[s] = Registration{hwnd, msg};
    platform::watchFd(s, onSocketReadable);
    platform::enableFd(s, true);
    return 0;
}
