// The desktop registry: top-level windows of this process announced to other programs of
// the same user, and requests to theirs. The owner side is desktop.cpp, the asking side
// desktop_remote.cpp; naming and requests are described in desktop.cpp.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

namespace platform {

// Called by the window core: announce or withdraw a top-level window of this process.
void desktopAnnounce(HWND hwnd, const char* className);
void desktopWithdraw(HWND hwnd);
// A window of that class announced by another process of this user, or nullptr.
HWND desktopFind(const char* className);
// Requests to another program's window over its announcement socket.
bool desktopIsIconic(HWND remote);
void desktopPost(HWND remote, UINT msg, WPARAM wParam, LPARAM lParam);
void desktopFocus(HWND remote);
// Whether this process announces a window of that class.
bool desktopAnnouncesClass(const char* className);
// Forgets one remote window (closing its connection to the owner), or all of them.
void desktopForgetRemote(HWND remote);
void desktopForgetRemotes();
// Datagrams read from this process's announcement sockets since the last reset (tests
// count with it that a flood is read only while the pump waits).
uint64_t desktopRequestsRead();
// Closes every announcement socket (platformReset).
void desktopReset();

} // namespace platform

namespace platform::desktop {

constexpr char askIconic[] = "ICONIC?";
constexpr char askRestore[] = "RESTORE";
constexpr char askFocus[] = "FOCUS";

struct RegistryName {
    sockaddr_un address{};
    socklen_t length = 0;
};

// The registry name of a class on the current desktop; false when the class name is empty
// or the name does not fit.
bool registryName(const char* className, RegistryName& name);

// A non-blocking, close-on-exec Unix datagram socket that receives the sender's
// credentials with each datagram; -1 when it cannot be made.
int credentialSocket();

// One datagram received without waiting, with the sender's user id from the credentials
// the kernel attached. Returns the byte count (-1 with errno when none was read); *uid is
// (uid_t)-1 when no credentials came, *truncated tells a datagram longer than size.
ssize_t receiveWithSender(int fd, char* bytes, size_t size, sockaddr_un* from,
                          socklen_t* fromLength, uid_t* uid, bool* truncated);

// Whether the n received bytes are exactly the request text.
bool isRequest(const char* bytes, ssize_t n, const char* request);

} // namespace platform::desktop
