// Sockets with the results the server relies on: SOCKET_ERROR and WSAGetLastError
// instead of -1 and errno, readiness as window messages, truncation as an error.
//
// The functions whose names POSIX already uses live in namespace ws.
#pragma once

#include "platform/types.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

constexpr long FD_READ = 0x01;

// Error codes reported by WSAGetLastError.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAHOST_NOT_FOUND = 11001;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
};

struct LINGER {
    unsigned short l_onoff;
    unsigned short l_linger;
};

struct HOSTENT {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

// Grants version 1.1 to any request for 1.1 or later and fills data; returns 0 or the error
// code itself (not SOCKET_ERROR). Opens the batched sends' ring (batch_send.h), which
// WSACleanup closes.
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
// Error code of the last failed socket call of this thread (0 before any failure).
int WSAGetLastError();
// The system's words for an error code of WSAGetLastError ("Address already in use"),
// for messages to the operator; never nullptr.
const char* wsaErrorText(int code);
// Combines an event and an error into a notification's lParam.
inline LPARAM WSAMAKESELECTREPLY(WORD event, WORD error) {
    return MAKELPARAM(event, error);
}
inline WORD WSAGETSELECTEVENT(LPARAM l) {
    return LOWORD(static_cast<uintptr_t>(l));
}
inline WORD WSAGETSELECTERROR(LPARAM l) {
    return HIWORD(static_cast<uintptr_t>(l));
}

// Asks for msg to be posted to hwnd (wParam: the socket, lParam: FD_READ and error 0)
// while data is waiting on the socket; events 0 cancels. One notification is posted when
// data is waiting, and each receive on the socket re-arms it: if more data is still
// waiting, the next notification is posted at once. Makes the socket non-blocking. Any
// event but FD_READ, or a null window, is WSAEINVAL.
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events);

namespace ws {

SOCKET socket(int family, int type, int protocol);
int bind(SOCKET s, const sockaddr* addr, int len);
// A blocking stream socket connects within 10 s or fails with WSAETIMEDOUT; other sockets
// get the plain connect.
int connect(SOCKET s, const sockaddr* addr, int len);
int send(SOCKET s, const char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int toLen);
// Receives one datagram; a datagram longer than len is an error (WSAEMSGSIZE) and is
// consumed. Re-arms the socket's async notification.
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromLen);
int setsockopt(SOCKET s, int level, int name, const char* value, int len);
int closesocket(SOCKET s);
// The first IPv4 address of a host name or dotted address (the list holds that one), in
// static storage; nullptr with WSAHOST_NOT_FOUND when it does not resolve.
HOSTENT* gethostbyname(const char* name);
// Dotted-decimal form of an address (a static buffer that the next call overwrites).
char* inet_ntoa(in_addr address);

} // namespace ws
