// Pieces shared by the socket files of the platform layer: the thread's last socket
// error, the async-notification registry and the stream connection time-out.
#pragma once

#include "platform/winsock.h"

namespace platform {

// Windows-style code of an errno value: the named WSA constant where winsock.h has one,
// otherwise 10000 + errno.
int wsaErrorFromErrno(int err);
// Sets the code that WSAGetLastError of this thread reports.
void setSocketError(int code);
// Sets it from an errno value (wsaErrorFromErrno).
void setSocketErrorFromErrno(int err);

// After a receive on s: when s is registered with WSAAsyncSelect, posts the next
// notification at once if data is still waiting, or re-enables the socket in the pump.
// Leaves the thread's last socket error as it was.
void rearmAsyncSocket(SOCKET s);
// Drops the registration of s (if any) and stops watching it.
void forgetAsyncSocket(SOCKET s);

// Longest wait of a stream socket's connect, in milliseconds (10000 unless changed).
// For tests; values below 1 restore the default.
void setStreamConnectTimeout(int ms);
int streamConnectTimeout();

} // namespace platform
