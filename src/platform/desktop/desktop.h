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

// Called by the window core: announce a top-level window of this process (not when another
// process of any user holds the name, or it cannot be made), or withdraw it (the name is free
// again at once).
void desktopAnnounce(HWND hwnd, const char* className);
void desktopWithdraw(HWND hwnd);
// A window of that class announced by another process of this user that proves it by its
// answer within 500 ms; nullptr otherwise, and for classes this process announces.
HWND desktopFind(const char* className);
// Requests to another program's window: whether it is minimised (false when it does not
// answer "1" within 500 ms), restore (WM_SYSCOMMAND with SC_RESTORE; other messages are
// dropped) and focus.
bool desktopIsIconic(HWND remote);
void desktopPost(HWND remote, UINT msg, WPARAM wParam, LPARAM lParam);
void desktopFocus(HWND remote);
// Whether this process announces a window of that class (matched exactly).
bool desktopAnnouncesClass(const char* className);
// Forgets one remote window (closing its connection to the owner), or all of them.
void desktopForgetRemote(HWND remote);
void desktopForgetRemotes();
// Datagrams read from this process's announcement sockets since the last reset (tests
// count with it that a flood is read only while the pump waits).
uint64_t desktopRequestsRead();
// Closes every announcement socket and forgets the remote windows (platformReset).
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

// Who sent a datagram: its address, the user id from the credentials the kernel attached
// ((uid_t)-1 when none came), and whether the datagram was longer than the room given.
struct Sender {
    sockaddr_un address{};
    socklen_t length = sizeof address;
    uid_t uid = static_cast<uid_t>(-1);
    bool truncated = false;
};

// One datagram received without waiting: the byte count, or -1 with errno when none was read.
ssize_t receiveWithSender(int fd, char* bytes, size_t size, Sender& from);

// Whether the n received bytes are exactly the request text.
bool isRequest(const char* bytes, ssize_t n, const char* request);

} // namespace platform::desktop
