// The thread's last socket error and the translation of errno values to Windows codes.
#include "platform/net/winsock_internal.h"

#include <cerrno>
#include <cstring>

namespace {

thread_local int lastSocketError = 0;

// The errno values that the server and its tests tell apart, with their named codes.
struct Named {
    int code;
    int err;
};
constexpr Named named[] = {
    {WSAEINTR, EINTR},
    {WSAEBADF, EBADF},
    {WSAEINVAL, EINVAL},
    {WSAEWOULDBLOCK, EAGAIN},
    {WSAEWOULDBLOCK, EWOULDBLOCK},
    {WSAEMSGSIZE, EMSGSIZE},
    {WSAEADDRINUSE, EADDRINUSE},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
    {WSAENETUNREACH, ENETUNREACH},
    {WSAECONNREFUSED, ECONNREFUSED},
    {WSAETIMEDOUT, ETIMEDOUT},
    {WSAEHOSTUNREACH, EHOSTUNREACH},
};

} // namespace

namespace platform {

int wsaErrorFromErrno(int err) {
    for (const Named& n : named) {
        if (n.err == err) {
            return n.code;
        }
    }
    return 10000 + err;
}

int failWith(int code) {
    lastSocketError = code;
    return SOCKET_ERROR;
}

int failWithErrno(int err) {
    return failWith(wsaErrorFromErrno(err));
}

} // namespace platform

int WSAGetLastError() {
    return lastSocketError;
}

const char* wsaErrorText(int code) {
    if (code == WSAHOST_NOT_FOUND) {
        return "host not found";
    }
    for (const Named& n : named) {
        if (n.code == code) {
            return std::strerror(n.err);
        }
    }
    if (code > 10000 && code < 11000) {
        return std::strerror(code - 10000);
    }
    return "unknown error";
}
