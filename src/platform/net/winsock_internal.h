// Pieces shared by the socket files of the platform layer: the thread's last socket
// error, the async-notification registry and the stream connection time-out.
#pragma once

#include "platform/net/winsock.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

// Windows-style code of an errno value: the named WSA constant where winsock.h has one,
// otherwise 10000 + errno (never 0).
int wsaErrorFromErrno(int err);
// Sets the code that WSAGetLastError of this thread reports; returns SOCKET_ERROR.
int failWith(int code);
// The same with the code of an errno value (wsaErrorFromErrno).
int failWithErrno(int err);

// One datagram as a receive gives it: its length (or -1 with errno in error), whether it
// was longer than the room given (then it is consumed whole and cut), and its sender.
struct Received {
    long length = -1;
    int error = 0;
    bool truncated = false;
    sockaddr_in6 peer{}; // room for an IPv4 or IPv6 sender (the sockets are one or the other)
    socklen_t peerLength = 0;
};

// Receives one datagram of s into buf (room bytes); on a socket registered with
// WSAAsyncSelect it re-arms the notification in the same system call (winsock_async.cpp).
// Leaves errno and the thread's last socket error as they were.
Received receiveDatagram(SOCKET s, char* buf, size_t room, int flags);
// Drops the registration of s (if any) and stops watching it; a datagram read ahead stays
// for the next receive.
void forgetAsyncSocket(SOCKET s);
// s is being closed: forgets its registration and any datagram read ahead.
void asyncSocketClosed(SOCKET s);

// Forgets every async registration (platformReset) without touching the descriptors: the
// pump's own reset drops its watch list, and a number may already belong to someone else.
void socketsReset();

// Longest wait of a stream socket's connect, in milliseconds (10000 unless changed).
// For tests; values below 1 restore the default.
void setStreamConnectTimeout(int ms);
int streamConnectTimeout();

} // namespace platform
