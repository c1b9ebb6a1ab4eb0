// connect with a bounded wait for stream sockets: the sign-off at shutdown must not hang
// on a directory server that does not answer.
#include "platform/net/winsock_internal.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int defaultConnectTimeoutMs = 10000;
int connectTimeoutMs = defaultConnectTimeoutMs;

bool isStreamSocket(SOCKET s) {
    int type = 0;
    socklen_t size = sizeof type;
    return ::getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM;
}

// Waits until the connection started on s is made or has failed, at most timeoutMs (real
// milliseconds, signals included). Returns 0 or a Windows error code.
int awaitConnection(SOCKET s, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return WSAETIMEDOUT;
        }
        pollfd p{s, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return platform::wsaErrorFromErrno(errno);
        }
        if (ready == 0) {
            return WSAETIMEDOUT;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            return platform::wsaErrorFromErrno(errno);
        }
        return error == 0 ? 0 : platform::wsaErrorFromErrno(error);
    }
}

} // namespace

namespace platform {

void setStreamConnectTimeout(int ms) {
    connectTimeoutMs = ms < 1 ? defaultConnectTimeoutMs : ms;
}

int streamConnectTimeout() {
    return connectTimeoutMs;
}

} // namespace platform

namespace ws {

// A blocking stream socket is blocking again afterwards.
int connect(SOCKET s, const sockaddr* addr, int len) {
    if (len < 0) {
        return platform::failWith(WSAEINVAL);
    }
    const socklen_t size = static_cast<socklen_t>(len);
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0) {
        return platform::failWithErrno(errno);
    }
    if (!isStreamSocket(s) || (flags & O_NONBLOCK) != 0) {
        return ::connect(s, addr, size) != 0 ? platform::failWithErrno(errno) : 0;
    }
    if (::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) {
        return platform::failWithErrno(errno);
    }
    int result = 0;
    if (::connect(s, addr, size) != 0) {
        result = (errno == EINPROGRESS || errno == EINTR)
                     ? awaitConnection(s, platform::streamConnectTimeout())
                     : platform::wsaErrorFromErrno(errno);
    }
    ::fcntl(s, F_SETFL, flags);
    return result != 0 ? platform::failWith(result) : 0;
}

} // namespace ws
