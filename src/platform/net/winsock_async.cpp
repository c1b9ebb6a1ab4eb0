// Readiness of sockets as window messages (WSAAsyncSelect with FD_READ).
//
// A registered socket is watched by the message pump. When the pump finds it readable it
// posts one notification and stops watching it (it waits for no event), so one
// notification at a time is outstanding. Every receive on the socket re-arms it: if more
// data is waiting at that moment the next notification is posted at once and the
// descriptor stays quiet; otherwise the pump watches it again and the next arrival
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
#include "platform/runtime.h"
#include "platform/window/window.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
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

void postNotification(SOCKET s, const Registration& r) {
    PostMessageA(r.hwnd, r.msg, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(FD_READ, 0));
}

// One notification at a time: posted now when a datagram is read ahead (the socket stays
// unwatched), else the pump watches the socket again.
void rearm(SOCKET s, const Registration& r) {
    platformSetDescriptorEvents(s, r.readAhead->full ? 0 : POLLIN);
    if (r.readAhead->full) {
        postNotification(s, r);
    }
}

// Called by the pump when a watched socket is readable: one notification, then the
// socket waits for a receive to re-arm it.
void onSocketReadable(int fd, short, void*) {
    platformSetDescriptorEvents(fd, 0);
    if (const Registration* r = slotOf(fd); r != nullptr && r->hwnd != nullptr) {
        postNotification(fd, *r);
    }
}

void setUp(mmsghdr& m, iovec& part, void* bytes, size_t room, platform::Received& into) {
    part = iovec{bytes, room};
    m.msg_hdr.msg_name = &into.peer;
    m.msg_hdr.msg_namelen = sizeof into.peer;
    m.msg_hdr.msg_iov = &part;
    m.msg_hdr.msg_iovlen = 1;
}

void finish(const mmsghdr& m, size_t room, platform::Received& into) {
    into.length = static_cast<long>(m.msg_len < room ? m.msg_len : room);
    into.truncated = (m.msg_hdr.msg_flags & MSG_TRUNC) != 0;
    into.peerLength = m.msg_hdr.msg_namelen;
}

// Receives in one system call the datagram into buf (room bytes) as first and, when ahead
// is given, the next one into it. Returns how many came (0, with the error in first, if none).
int receive(SOCKET s, void* buf, size_t room, int flags, platform::Received& first,
            ReadAhead* ahead) {
    mmsghdr m[2]{};
    iovec parts[2];
    setUp(m[0], parts[0], buf, room, first);
    if (ahead != nullptr) {
        ahead->datagram = platform::Received{};
        setUp(m[1], parts[1], ahead->bytes, kReadAheadBytes, ahead->datagram);
    }
    int n;
    do {
        n = ::recvmmsg(s, m, ahead != nullptr ? 2 : 1, flags, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        first.length = -1;
        first.error = n < 0 ? errno : EAGAIN;
        return 0;
    }
    finish(m[0], room, first);
    if (n > 1) {
        finish(m[1], kReadAheadBytes, ahead->datagram);
    }
    return n;
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
    bool emptied = false; // the receive found nothing more waiting (not an error)
    if (ahead != nullptr && ahead->full) {
        r = takeReadAhead(*ahead, buf, room);
        // What the receive of a plain socket would learn: whether more is waiting.
        ahead->full = registered && receive(s, ahead->bytes, kReadAheadBytes, MSG_DONTWAIT,
                                            ahead->datagram, nullptr) == 1;
        emptied = registered && !ahead->full && ahead->datagram.error == EAGAIN;
    } else if (registered && flags == 0) {
        const int n = receive(s, buf, room, MSG_DONTWAIT, r, ahead);
        ahead->full = n == 2;
        emptied = n == 1 || (n == 0 && r.error == EAGAIN);
    } else {
        receive(s, buf, room, flags, r, nullptr); // not registered, or flags: no read-ahead
    }
    if (registered) {
        rearm(s, *slot);
        if (emptied) {
            // This receive was a look at the socket: a look right after it need not poll.
            platform::setFdLooked(s);
        }
    }
    errno = savedErrno;
    return r;
}

void forgetAsyncSocket(SOCKET s) {
    if (Registration* r = slotOf(s); r != nullptr && r->hwnd != nullptr) {
        r->hwnd = nullptr;
        platformUnwatchDescriptor(s);
    }
}

void asyncSocketClosed(SOCKET s) {
    forgetAsyncSocket(s);
    if (Registration* r = slotOf(s)) {
        r->readAhead.reset();
    }
}

void socketsReset() {
    registrations.clear();
}

} // namespace platform

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events) {
    int type = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &size) != 0) {
        return platform::failWithErrno(errno);
    }
    if (events == 0) {
        platform::forgetAsyncSocket(s);
        return 0;
    }
    if ((events & ~FD_READ) != 0 || hwnd == nullptr) {
        return platform::failWith(WSAEINVAL);
    }
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) {
        return platform::failWithErrno(errno);
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
    platformWatchDescriptor(s, POLLIN, onSocketReadable, nullptr);
    platform::setFdPosts(s, msg, msg);
    rearm(s, r); // a datagram read ahead before the registration changed is still waiting
    return 0;
}
