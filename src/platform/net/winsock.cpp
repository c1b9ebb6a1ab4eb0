// The socket calls of the server on POSIX sockets: Windows results (SOCKET_ERROR and a
// code for WSAGetLastError), no SIGPIPE on a send, truncation as an error.
#include "platform/net/batch_send.h"
#include "platform/net/winsock_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using platform::failWith;
using platform::failWithErrno;

namespace {

constexpr int wsaVersionNotSupported = 10092;
constexpr int wsaFault = 10014;

// The arguments of a send, kept in memory across the system call so that a successful
// send saves and restores no registers for the rare retry.
struct SendCall {
    SOCKET s;
    int flags;
    const char* buf;
    size_t len;
};

// A send that failed once with errno err: again while it is interrupted, else the error.
[[gnu::noinline, gnu::cold]] int sendAfterFailure(const SendCall* call, int err) {
    while (err == EINTR) {
        const ssize_t n = ::send(call->s, call->buf, call->len, call->flags);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        err = errno;
    }
    return failWithErrno(err);
}

} // namespace

int WSAStartup(WORD version, WSADATA* data) {
    if (data == nullptr) {
        return wsaFault;
    }
    std::memset(data, 0, sizeof *data);
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    const int major = version & 0xFF;
    const int minor = (version >> 8) & 0xFF;
    if (major < 1 || (major == 1 && minor < 1)) {
        return wsaVersionNotSupported;
    }
    std::snprintf(data->szDescription, sizeof data->szDescription, "POSIX sockets");
    std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    sendBatchOpen();
    return 0;
}

int WSACleanup() {
    sendBatchClose();
    return 0;
}

namespace ws {

// A socket that is not inherited by programs that the server starts.
SOCKET socket(int family, int type, int protocol) {
    const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        failWithErrno(errno);
        return INVALID_SOCKET;
    }
    return fd;
}

int bind(SOCKET s, const sockaddr* addr, int len) {
    if (len < 0) {
        return failWith(WSAEINVAL);
    }
    return ::bind(s, addr, static_cast<socklen_t>(len)) != 0 ? failWithErrno(errno) : 0;
}

// Sends on a connected socket; a closed peer gives an error, never SIGPIPE.
// The relay makes one per listener: a successful send is the system call and a test.
int send(SOCKET s, const char* buf, int len, int flags) {
    if (len < 0) {
        return failWith(WSAEINVAL);
    }
    const SendCall call{s, flags | MSG_NOSIGNAL, buf, static_cast<size_t>(len)};
    const ssize_t n = ::send(call.s, call.buf, call.len, call.flags);
    if (n >= 0) [[likely]] {
        return static_cast<int>(n);
    }
    return sendAfterFailure(&call, errno);
}

// Sends one datagram to an explicit destination; never raises SIGPIPE.
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int toLen) {
    if (len < 0 || toLen < 0) {
        return failWith(WSAEINVAL);
    }
    ssize_t n;
    do {
        n = ::sendto(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL, to,
                     static_cast<socklen_t>(toLen));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return failWithErrno(errno);
    }
    return static_cast<int>(n);
}

// from receives as much of the sender's address as *fromLen allows; *fromLen becomes its
// full length.
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromLen) {
    if (len < 0 || (from != nullptr && (fromLen == nullptr || *fromLen < 0))) {
        return failWith(WSAEINVAL);
    }
    const platform::Received r = platform::receiveDatagram(s, buf, static_cast<size_t>(len), flags);
    if (r.length < 0) {
        return failWithErrno(r.error);
    }
    if (from != nullptr) {
        const socklen_t room = static_cast<socklen_t>(*fromLen);
        std::memcpy(from, &r.peer, r.peerLength < room ? r.peerLength : room);
        *fromLen = static_cast<int>(r.peerLength);
    }
    if (r.truncated) {
        return failWith(WSAEMSGSIZE);
    }
    return static_cast<int>(r.length);
}

// Passes the option through; SO_LINGER takes the LINGER layout and is converted.
int setsockopt(SOCKET s, int level, int name, const char* value, int len) {
    if (len < 0 || (value == nullptr && len > 0)) {
        return failWith(WSAEINVAL);
    }
    int rc;
    if (level == SOL_SOCKET && name == SO_LINGER) {
        if (static_cast<size_t>(len) < sizeof(LINGER)) {
            return failWith(WSAEINVAL);
        }
        LINGER given;
        std::memcpy(&given, value, sizeof given);
        const linger converted{given.l_onoff, given.l_linger};
        rc = ::setsockopt(s, level, name, &converted, sizeof converted);
    } else {
        rc = ::setsockopt(s, level, name, value, static_cast<socklen_t>(len));
    }
    return rc != 0 ? failWithErrno(errno) : 0;
}

// Ends the socket's async registration, then closes it.
int closesocket(SOCKET s) {
    platform::asyncSocketClosed(s);
    // On Linux the descriptor is released even when close reports EINTR.
    if (::close(s) != 0 && errno != EINTR) {
        return failWithErrno(errno);
    }
    return 0;
}

} // namespace ws
