// The names and the wire of the desktop registry, shared by the owner side (desktop.cpp)
// and the asking side (desktop_remote.cpp). Naming and requests are described in
// desktop.cpp.
#pragma once

#include <cstddef>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

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
