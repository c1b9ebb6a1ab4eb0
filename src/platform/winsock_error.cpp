// The thread's last socket error and the translation of errno values to Windows codes.
#include "platform/winsock_internal.h"

#include <cerrno>

namespace {

thread_local int lastSocketError = 0;

} // namespace

namespace platform {

// Named codes for the errno values that the server and its tests tell apart; every other
// value keeps its number above 10000, so no failure is ever reported as 0.
int wsaErrorFromErrno(int err) {
    switch (err) {
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAEBADF;
    case EINVAL:
        return WSAEINVAL;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return WSAEWOULDBLOCK;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return 10000 + err;
    }
}

void setSocketError(int code) {
    lastSocketError = code;
}

void setSocketErrorFromErrno(int err) {
    lastSocketError = wsaErrorFromErrno(err);
}

} // namespace platform

// The code set by the last failed socket call of this thread (0 before any failure).
int WSAGetLastError() {
    return lastSocketError;
}
