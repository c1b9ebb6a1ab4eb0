// The desktop registry: how programs of one user find each other's top-level windows
// (FindWindowA of a class that another program owns) and ask them to restore or focus.
//
// A top-level window of class C is announced by a Unix datagram socket bound to the
// abstract name (leading zero byte, no terminating zero)
//
//     "\0confserver-desktop/<uid>/<C>"      for example "\0confserver-desktop/1000/Omvar_CS"
//
// where <uid> is the real user id in decimal and <C> the class name as registered (case
// kept). When the environment variable CONFSERVER_DESKTOP holds a name D (without '/'),
// the programs that share it form a separate desktop, named
//
//     "\0confserver-desktop.D/<uid>/<C>"
//
// so that tests running side by side do not see each other's windows. An abstract name
// exists exactly as long as its socket is open, so a program that ends or crashes withdraws its
// windows by itself. The first process to bind a name owns it; another process announcing the same
// class is not registered. Requests are datagrams of plain ASCII without a terminating zero:
//
//     "ICONIC?"   the owner answers "1" (minimised) or "0" to the sender's own address
//     "RESTORE"   the owner posts WM_SYSCOMMAND with SC_RESTORE to its window
//     "FOCUS"     the owner gives its window the keyboard focus
//
// The owner acts only on requests from processes of its own user (checked with the
// credentials that the kernel attaches), and an asker accepts only an answer that comes
// from the registry name it asked. Every call here is bounded: sends never block, and an
// answer is awaited at most 500 ms.
#include "platform/internal.h"
#include "platform/window.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr int answerWaitMs = 500;
constexpr int requestsPerWake = 32;
constexpr char askIconic[] = "ICONIC?";
constexpr char askRestore[] = "RESTORE";
constexpr char askFocus[] = "FOCUS";

struct Announcement {
    int fd;
    std::string className;
};

std::unordered_map<HWND, Announcement>& announcements() {
    static std::unordered_map<HWND, Announcement> table;
    return table;
}

// Remote windows handed out by desktopFind, with the class they stand for.
std::unordered_map<HWND, std::string>& remoteClasses() {
    static std::unordered_map<HWND, std::string> table;
    return table;
}

struct RegistryName {
    sockaddr_un address{};
    socklen_t length = 0;
};

// The desktop named by CONFSERVER_DESKTOP, "" for the user's ordinary one.
const char* desktopSuffix() {
    const char* desktop = std::getenv("CONFSERVER_DESKTOP");
    return desktop == nullptr || std::strchr(desktop, '/') != nullptr ? "" : desktop;
}

// The registry name of a class; false when the class name is empty or does not fit.
bool registryName(const char* className, RegistryName& name) {
    if (className == nullptr || className[0] == '\0') {
        return false;
    }
    const char* desktop = desktopSuffix();
    char text[sizeof name.address.sun_path];
    const int n = std::snprintf(text, sizeof text, "confserver-desktop%s%s/%u/%s",
                                desktop[0] != '\0' ? "." : "", desktop,
                                static_cast<unsigned>(::getuid()), className);
    if (n < 0 || static_cast<size_t>(n) + 1 > sizeof name.address.sun_path) {
        return false;
    }
    name.address.sun_family = AF_UNIX;
    name.address.sun_path[0] = '\0';
    std::memcpy(name.address.sun_path + 1, text, static_cast<size_t>(n));
    name.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return true;
}

int datagramSocket() {
    return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// Sends one request without waiting; false when it could not be sent.
bool sendRequest(int fd, const RegistryName& to, const char* text) {
    return ::sendto(fd, text, std::strlen(text), MSG_DONTWAIT | MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&to.address), to.length) >= 0;
}

bool sendRequestTo(HWND remote, const char* text) {
    const auto found = remoteClasses().find(remote);
    RegistryName to;
    if (found == remoteClasses().end() || !registryName(found->second.c_str(), to)) {
        return false;
    }
    const int fd = datagramSocket();
    if (fd < 0) {
        return false;
    }
    const bool sent = sendRequest(fd, to, text);
    ::close(fd);
    return sent;
}

bool isRequest(const char* bytes, ssize_t n, const char* request) {
    return static_cast<size_t>(n) == std::strlen(request) &&
           std::memcmp(bytes, request, static_cast<size_t>(n)) == 0;
}

// Acts on one request that arrived for hwnd.
void answerRequest(int fd, HWND hwnd, const char* bytes, ssize_t n, const sockaddr_un& from,
                   socklen_t fromLength) {
    if (isRequest(bytes, n, askIconic)) {
        if (fromLength > sizeof(sa_family_t)) {
            const char answer = IsIconic(hwnd) ? '1' : '0';
            ::sendto(fd, &answer, 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&from), fromLength);
        }
    } else if (isRequest(bytes, n, askRestore)) {
        PostMessageA(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    } else if (isRequest(bytes, n, askFocus)) {
        SetFocus(hwnd);
    }
}

// Called by the pump when an announcement socket is readable: handles the requests
// waiting there (a bounded number per call), ignoring those of other users.
void onRequests(int fd) {
    HWND hwnd = nullptr;
    for (const auto& [window, announcement] : announcements()) {
        if (announcement.fd == fd) {
            hwnd = window;
        }
    }
    for (int i = 0; i < requestsPerWake; ++i) {
        char bytes[64];
        sockaddr_un from{};
        iovec part{bytes, sizeof bytes};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        bool sameUser = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
                c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
                ucred sender;
                std::memcpy(&sender, CMSG_DATA(c), sizeof sender);
                sameUser = sender.uid == ::getuid();
            }
        }
        if (hwnd != nullptr && sameUser && (message.msg_flags & MSG_TRUNC) == 0) {
            answerRequest(fd, hwnd, bytes, n, from, message.msg_namelen);
        }
    }
}

} // namespace

namespace platform {

// Binds the registry name of className for hwnd and watches it for requests. When another
// process holds the name (or it cannot be made), the window is simply not announced.
void desktopAnnounce(HWND hwnd, const char* className) {
    desktopWithdraw(hwnd);
    RegistryName name;
    if (hwnd == nullptr || !registryName(className, name)) {
        return;
    }
    const int fd = datagramSocket();
    if (fd < 0) {
        return;
    }
    const int one = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &one, sizeof one) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&name.address), name.length) != 0) {
        ::close(fd);
        return;
    }
    announcements()[hwnd] = Announcement{fd, className};
    watchFd(fd, onRequests);
    enableFd(fd, true);
}

// Ends hwnd's announcement (if any): the name is free again at once.
void desktopWithdraw(HWND hwnd) {
    remoteClasses().erase(hwnd);
    const auto found = announcements().find(hwnd);
    if (found == announcements().end()) {
        return;
    }
    unwatchFd(found->second.fd);
    ::close(found->second.fd);
    announcements().erase(found);
}

// A remote window for className when another process of this user announces it; nullptr
// when nobody does or when this process is the announcer (its own windows are found by the
// window core).
HWND desktopFind(const char* className) {
    RegistryName name;
    if (!registryName(className, name)) {
        return nullptr;
    }
    for (const auto& entry : announcements()) {
        if (entry.second.className == className) {
            return nullptr;
        }
    }
    const int fd = datagramSocket();
    if (fd < 0) {
        return nullptr;
    }
    // A datagram connect succeeds exactly when a socket is bound to the name.
    const bool bound =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&name.address), name.length) == 0;
    ::close(fd);
    if (!bound) {
        return nullptr;
    }
    HWND remote = newRemoteWindow(className);
    if (remote != nullptr) {
        remoteClasses()[remote] = className;
    }
    return remote;
}

// Asks the owner whether its window is minimised; false when it does not answer "1"
// within 500 ms.
bool desktopIsIconic(HWND remote) {
    const auto found = remoteClasses().find(remote);
    RegistryName to;
    if (found == remoteClasses().end() || !registryName(found->second.c_str(), to)) {
        return false;
    }
    const int fd = datagramSocket();
    if (fd < 0) {
        return false;
    }
    sockaddr_un self{};
    self.sun_family = AF_UNIX;
    // Binding with the family alone gives the socket a unique name to be answered at.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof(sa_family_t)) != 0 ||
        !sendRequest(fd, to, askIconic)) {
        ::close(fd);
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(answerWaitMs);
    bool iconic = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        char answer[8];
        sockaddr_un from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, answer, sizeof answer, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n == 1 && fromLength == to.length && std::memcmp(&from, &to.address, to.length) == 0) {
            iconic = answer[0] == '1';
            break;
        }
    }
    ::close(fd);
    return iconic;
}

// Forwards a restore request (WM_SYSCOMMAND with SC_RESTORE); other messages are not
// carried across programs and are dropped.
void desktopPost(HWND remote, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_RESTORE) {
        sendRequestTo(remote, askRestore);
    }
}

void desktopFocus(HWND remote) {
    sendRequestTo(remote, askFocus);
}

// Withdraws every announcement of this process and forgets the remote windows.
void desktopReset() {
    for (const auto& entry : announcements()) {
        unwatchFd(entry.second.fd);
        ::close(entry.second.fd);
    }
    announcements().clear();
    remoteClasses().clear();
}

} // namespace platform
