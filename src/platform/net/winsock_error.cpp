// The thread's last socket error and the translation of errno values to Windows codes.
#include "platform/net/winsock_internal.h"

#include <cerrno>
#include <cstring>

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

// The errno value behind a code (the named ones mapped back, the others 10000 + errno);
// the two codes that have none get words of their own.
const char* wsaErrorText(int code) {
    struct Named {
        int code;
        int err;
    };
    static constexpr Named named[] = {
        {WSAEINTR, EINTR},
        {WSAEBADF, EBADF},
        {WSAEINVAL, EINVAL},
        {WSAEWOULDBLOCK, EAGAIN},
        {WSAEMSGSIZE, EMSGSIZE},
        {WSAEADDRINUSE, EADDRINUSE},
        {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
        {WSAENETUNREACH, ENETUNREACH},
        {WSAECONNREFUSED, ECONNREFUSED},
        {WSAETIMEDOUT, ETIMEDOUT},
        {WSAEHOSTUNREACH, EHOSTUNREACH},
    };
    if (code == WSAHOST_NOT_FOUND) {
        return "host not found";
    }
    if (code == WSANOTINITIALISED) {
        return "network library not started";
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
