// The asker's side of the desktop registry (see desktop.cpp): finding another program's
// window by class and sending it requests on a socket connected to the holder that answered.
#include "platform/desktop/desktop.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#include <unordered_map>

namespace {

using namespace platform::desktop;

constexpr int answerWaitMs = 500;

// The remote windows handed out by desktopFind, each with its socket connected to the
// holder that proved to be of this user.
std::unordered_map<HWND, int>& remotes() {
    static std::unordered_map<HWND, int> table;
    return table;
}

enum class Answer { Iconic, Shown, None, OtherUser };

// Sends "ICONIC?" on fd (connected to a holder) and waits at most 500 ms for the one-byte
// answer. OtherUser as soon as a datagram of another user arrives; None when nothing
// usable came in time.
Answer askIconicOn(int fd) {
    char stale[8];
    while (::recv(fd, stale, sizeof stale, MSG_DONTWAIT) >= 0) {
        // an answer that came too late for an earlier question
    }
    if (::send(fd, askIconic, std::strlen(askIconic), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
        return Answer::None;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(answerWaitMs);
    const uid_t self = ::getuid();
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Answer::None;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return Answer::None;
        }
        char answer[8];
        Sender from;
        const ssize_t n = receiveWithSender(fd, answer, sizeof answer, from);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return Answer::None; // the holder went away
        }
        if (from.uid != self) {
            return Answer::OtherUser;
        }
        if (n == 1 && !from.truncated) {
            return answer[0] == '1' ? Answer::Iconic : Answer::Shown;
        }
    }
}

// Sends one request to a remote window without waiting; false when it could not be sent.
bool sendToRemote(HWND remote, const char* text) {
    const auto found = remotes().find(remote);
    return found != remotes().end() &&
           ::send(found->second, text, std::strlen(text), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
}

} // namespace

namespace platform {

// This process's own windows are found by the window core.
HWND desktopFind(const char* className) {
    RegistryName name;
    if (!registryName(className, name) || desktopAnnouncesClass(className)) {
        return nullptr;
    }
    const int fd = credentialSocket();
    if (fd < 0) {
        return nullptr;
    }
    sockaddr_un self{};
    self.sun_family = AF_UNIX;
    // Binding with the family alone gives the socket a unique name to be answered at; the
    // connect succeeds exactly when a socket is bound to the registry name.
    const bool held =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof(sa_family_t)) == 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&name.address), name.length) == 0;
    const Answer answer = held ? askIconicOn(fd) : Answer::None;
    const bool proved = answer == Answer::Iconic || answer == Answer::Shown;
    HWND remote = proved ? newRemoteWindow(className) : nullptr;
    if (remote == nullptr) {
        ::close(fd);
        return nullptr;
    }
    remotes()[remote] = fd;
    return remote;
}

bool desktopIsIconic(HWND remote) {
    const auto found = remotes().find(remote);
    return found != remotes().end() && askIconicOn(found->second) == Answer::Iconic;
}

void desktopPost(HWND remote, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_RESTORE) {
        sendToRemote(remote, askRestore);
    }
}

void desktopFocus(HWND remote) {
    sendToRemote(remote, askFocus);
}

void desktopForgetRemote(HWND remote) {
    const auto found = remotes().find(remote);
    if (found != remotes().end()) {
        ::close(found->second);
        remotes().erase(found);
    }
}

void desktopForgetRemotes() {
    for (const auto& entry : remotes()) {
        ::close(entry.second);
    }
    remotes().clear();
}

} // namespace platform
