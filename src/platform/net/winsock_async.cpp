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
//
// The receive learns whether more is waiting without a system call of its own: it asks
// the kernel for two datagrams at once (recvmmsg), the one asked for and the next, which
// it keeps as the read-ahead datagram of the socket. The next receive gives that one
// without a system call and reads the following one ahead in its place. So each datagram
// costs one system call, as a plain receive does, and nothing is allocated per datagram.
#include "platform/loop/loop.h"
#include "platform/net/winsock_internal.h"
#include "platform/window/window.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <vector>

namespace {

// Room of a read-ahead datagram: the largest UDP datagram, so reading ahead never cuts
// one that the receive taking it would have held. Only the bytes a datagram fills are ever
// touched, so the memory resident stays what the datagrams use.
constexpr size_t kReadAheadBytes = 65536;

struct ReadAhead {
    bool full = false;
    platform::Received datagram; // length, truncation (longer than bytes) and sender
    unsigned char bytes[kReadAheadBytes];
};

struct Registration {
    HWND hwnd = nullptr; // nullptr: the socket is not registered
    UINT msg = 0;
    std::unique_ptr<ReadAhead> readAhead; // made at registration, kept until the close
};

// Registrations by descriptor number: the receive path finds its socket's in one step.
std::vector<Registration> registrations;

Registration* slotOf(SOCKET s) {
    if (s < 0 || static_cast<size_t>(s) >= registrations.size()) {
        return nullptr;
    }
    return &registrations[static_cast<size_t>(s)];
}

const Registration* registrationOf(SOCKET s) {
    const Registration* r = slotOf(s);
    return r != nullptr && r->hwnd != nullptr ? r : nullptr;
}

void postNotification(SOCKET s, const Registration& r) {
    PostMessageA(r.hwnd, r.msg, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(FD_READ, 0));
}

// Called by the pump when a watched socket is readable: one notification, then the
// socket waits for a receive to re-arm it.
void onSocketReadable(int fd) {
    platform::enableFd(fd, false);
    if (const Registration* r = registrationOf(fd)) {
        postNotification(fd, *r);
    }
}

void setUp(msghdr& h, iovec& part, void* bytes, size_t room, platform::Received& into) {
    part = iovec{bytes, room};
    h = msghdr{};
    h.msg_name = &into.peer;
    h.msg_namelen = sizeof into.peer;
    h.msg_iov = &part;
    h.msg_iovlen = 1;
}

void finish(const msghdr& h, unsigned length, size_t room, platform::Received& into) {
    into.length = static_cast<long>(length < room ? length : room);
    into.truncated = (h.msg_flags & MSG_TRUNC) != 0;
    into.peerLength = h.msg_namelen;
}

// Receives up to two datagrams without waiting: the first into buf, the second into the
// read-ahead. Returns how many came (0, with the error in first, when none did).
int receiveTwo(SOCKET s, char* buf, size_t room, platform::Received& first, ReadAhead& ahead) {
    mmsghdr m[2]{};
    iovec parts[2];
    ahead.datagram = platform::Received{};
    setUp(m[0].msg_hdr, parts[0], buf, room, first);
    setUp(m[1].msg_hdr, parts[1], ahead.bytes, kReadAheadBytes, ahead.datagram);
    int n;
    do {
        n = ::recvmmsg(s, m, 2, MSG_DONTWAIT, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        first.length = -1;
        first.error = n < 0 ? errno : EAGAIN;
        return 0;
    }
    finish(m[0].msg_hdr, m[0].msg_len, room, first);
    if (n > 1) {
        finish(m[1].msg_hdr, m[1].msg_len, kReadAheadBytes, ahead.datagram);
    }
    return n;
}

// A plain receive of one datagram with the caller's flags.
void receiveOne(SOCKET s, char* buf, size_t room, int flags, platform::Received& into) {
    msghdr h;
    iovec part;
    setUp(h, part, buf, room, into);
    ssize_t n;
    do {
        n = ::recvmsg(s, &h, flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        into.length = -1;
        into.error = errno;
        return;
    }
    finish(h, static_cast<unsigned>(n), room, into);
}

// Gives the read-ahead datagram as the result of a receive into buf.
platform::Received takeReadAhead(ReadAhead& ahead, char* buf, size_t room) {
    platform::Received r = ahead.datagram;
    const size_t length = static_cast<size_t>(r.length);
    std::memcpy(buf, ahead.bytes, length < room ? length : room);
    if (length > room) {
        r.length = static_cast<long>(room);
        r.truncated = true;
    }
    ahead.full = false;
    return r;
}

} // namespace

namespace platform {

Received receiveDatagram(SOCKET s, char* buf, size_t room, int flags) {
    const int savedErrno = errno;
    Registration* slot = slotOf(s);
    ReadAhead* ahead = slot != nullptr ? slot->readAhead.get() : nullptr;
    const bool registered = slot != nullptr && slot->hwnd != nullptr;
    Received r;
    if (ahead != nullptr && ahead->full) {
        r = takeReadAhead(*ahead, buf, room);
        if (registered) {
            // What the receive of a plain socket would learn: whether more is waiting.
            Received next;
            receiveOne(s, reinterpret_cast<char*>(ahead->bytes), kReadAheadBytes, MSG_DONTWAIT,
                       next);
            if (next.length >= 0) {
                ahead->datagram = next;
                ahead->full = true;
            }
        }
    } else if (registered && flags == 0) {
        ahead->full = receiveTwo(s, buf, room, r, *ahead) == 2;
    } else {
        receiveOne(s, buf, room, flags, r); // not registered, or flags: no read-ahead
    }
    if (registered) {
        if (ahead->full) {
            enableFd(s, false);
            postNotification(s, *slot);
        } else {
            enableFd(s, true);
        }
    }
    errno = savedErrno;
    return r;
}

void forgetAsyncSocket(SOCKET s) {
    if (Registration* r = slotOf(s); r != nullptr && r->hwnd != nullptr) {
        r->hwnd = nullptr;
        unwatchFd(s);
    }
}

void asyncSocketClosed(SOCKET s) {
    forgetAsyncSocket(s);
    if (Registration* r = slotOf(s)) {
        r->readAhead.reset();
    }
}

// Forgets every registration without touching the descriptors: the pump's own reset
// drops its watch list, and a descriptor number may already belong to someone else.
void socketsReset() {
    registrations.clear();
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
    if (static_cast<size_t>(s) >= registrations.size()) {
        registrations.resize(static_cast<size_t>(s) + 1);
    }
    Registration& r = registrations[static_cast<size_t>(s)];
    r.hwnd = hwnd;
    r.msg = msg;
    if (r.readAhead == nullptr) {
        r.readAhead = std::make_unique_for_overwrite<ReadAhead>();
    }
    platform::watchFd(s, onSocketReadable);
    if (r.readAhead->full) {
        // A datagram read ahead before the registration changed is still waiting.
        platform::enableFd(s, false);
        postNotification(s, r);
    } else {
        platform::enableFd(s, true);
    }
    return 0;
}
