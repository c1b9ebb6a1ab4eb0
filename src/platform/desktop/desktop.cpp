// The desktop registry: how programs of one user find each other's top-level windows
// (FindWindowA of a class that another program owns) and ask them to restore or focus.
// This file is the owner's side; desktop_remote.cpp is the asker's.
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
// Per user in fact: abstract names have no file permissions, so any local user can bind any
// name, ours included. Both sides therefore check the credentials that the kernel attaches
// to every datagram (SO_PASSCRED; a process cannot claim another user's id without
// privilege). The owner acts only on requests of its own user. The asker takes a name as a
// window of its user only when the holder answers "ICONIC?" with its credentials showing
// that user, and it sends its requests on a socket connected to the socket that answered,
// which takes datagrams from that socket alone and cannot reach a later holder of the
// name. A name held by another user is no window: it does not stop a start, and it gets
// no RESTORE or FOCUS (only the one "ICONIC?" that finds out who holds it).
//
// Requests are read only when they arrive and only while the server has nothing else to
// do: the announcement socket is polled only when the pump is about to wait, never by the
// look that every PeekMessageA takes, and each wake reads at most 16 requests. A flood of
// requests therefore costs the relay nothing while it is busy. Every call here is bounded:
// sends never block, and an answer is awaited at most 500 ms.
#include "platform/desktop/desktop.h"
#include "platform/loop/loop.h"
#include "platform/runtime.h"
#include "platform/window/window.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <unordered_map>

namespace {

using namespace platform::desktop;

constexpr int requestsPerWake = 16;

struct Announcement {
    int fd;
    std::string className;
};

std::unordered_map<HWND, Announcement>& announcements() {
    static std::unordered_map<HWND, Announcement> table;
    return table;
}

uint64_t requestsRead = 0; // every datagram taken from an announcement socket

// Acts on one request of this user that arrived for hwnd.
void answerRequest(int fd, HWND hwnd, const char* bytes, ssize_t n, const Sender& from) {
    if (isRequest(bytes, n, askIconic)) {
        if (from.length > sizeof(sa_family_t)) {
            const char answer = IsIconic(hwnd) ? '1' : '0';
            ::sendto(fd, &answer, 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&from.address), from.length);
        }
    } else if (isRequest(bytes, n, askRestore)) {
        PostMessageA(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    } else if (isRequest(bytes, n, askFocus)) {
        SetFocus(hwnd);
    }
}

// Called by the pump when hwnd's announcement socket is readable (only when it is about
// to wait): handles at most 16 waiting requests, ignoring those of other users and those
// too long to be one; the rest wait for the next wake.
void onRequests(int fd, short, void* data) {
    HWND hwnd = static_cast<HWND>(data);
    const uid_t self = ::getuid();
    for (int i = 0; i < requestsPerWake; ++i) {
        char bytes[64];
        Sender from;
        const ssize_t n = receiveWithSender(fd, bytes, sizeof bytes, from);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        ++requestsRead;
        if (from.uid == self && !from.truncated) {
            answerRequest(fd, hwnd, bytes, n, from);
        }
    }
}

} // namespace

namespace platform {

// The announcement socket is polled only while the pump waits.
void desktopAnnounce(HWND hwnd, const char* className) {
    desktopWithdraw(hwnd);
    RegistryName name;
    if (hwnd == nullptr || !registryName(className, name)) {
        return;
    }
    const int fd = credentialSocket();
    if (fd < 0) {
        return;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&name.address), name.length) != 0) {
        ::close(fd);
        return;
    }
    announcements()[hwnd] = Announcement{fd, className};
    platformWatchDescriptor(fd, POLLIN, onRequests, hwnd);
    setFdIdleOnly(fd, true);
}

void desktopWithdraw(HWND hwnd) {
    desktopForgetRemote(hwnd);
    const auto found = announcements().find(hwnd);
    if (found == announcements().end()) {
        return;
    }
    platformUnwatchDescriptor(found->second.fd);
    ::close(found->second.fd);
    announcements().erase(found);
}

bool desktopAnnouncesClass(const char* className) {
    return std::any_of(
        announcements().begin(), announcements().end(),
        [className](const auto& entry) { return entry.second.className == className; });
}

uint64_t desktopRequestsRead() {
    return requestsRead;
}

void desktopReset() {
    while (!announcements().empty()) {
        desktopWithdraw(announcements().begin()->first);
    }
    desktopForgetRemotes();
    requestsRead = 0;
}

} // namespace platform
