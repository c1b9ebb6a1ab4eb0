// The control socket's clients: who may connect, their requests read a bounded line at a
// time, their answers written without ever waiting. A client that does not read costs its
// own bounded buffer and then its connection, never the server's time.
#include "ctl/ctl_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef SO_PEERGROUPS
#define SO_PEERGROUPS 59
#endif

namespace {

constexpr size_t OUTPUT_MAX = 64 * 1024; // what may wait for one client
constexpr size_t READ_CHUNK = 4096;
constexpr int READS_PER_READY = 8; // a flooding client gives way to the pump between rounds
constexpr int ACCEPTS_PER_READY = 16;
constexpr int PEER_GROUPS_MAX = 256;

struct Client {
    int fd;
    bool following;
    bool wantWrite; // the epoll set waits for room to write
    int64_t lastHeardMs;
    size_t inLength;
    char in[CTL_REQUEST_MAX];
    size_t outStart; // out[outStart, outLength) waits to be written
    size_t outLength;
    char out[OUTPUT_MAX];
};

Client clients[CTL_CLIENTS_MAX] = {};
bool slotsReady = false;
CtlAnswer answer; // one answer at a time: the server has one thread

void prepareSlots() {
    if (!slotsReady) {
        for (Client& c : clients) {
            c.fd = -1;
        }
        slotsReady = true;
    }
}

void closeClient(int slot) {
    Client& c = clients[slot];
    if (c.fd >= 0) {
        ctlPollRemove(c.fd);
        ::close(c.fd);
    }
    c.fd = -1;
    c.following = false;
}

// One error line and the end of the answer, written if there is room at once, then the
// connection closed.
void refuse(int fd, const char* text) {
    char line[256];
    int n = std::snprintf(line, sizeof line, "error %s\n\n", text);
    if (n > 0) {
        ::send(fd, line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : 0,
               MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    ::close(fd);
}

// Root, the server's own user, and members of the server's group may control it (the
// socket's mode says the same to the file system; this holds where the mode is wider).
bool peerAllowed(int fd, char* why, size_t size) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        std::snprintf(why, size, "permission denied: the peer cannot be told");
        return false;
    }
    if (peer.uid == 0 || peer.uid == ::geteuid() || peer.gid == ::getegid()) {
        return true;
    }
    gid_t groups[PEER_GROUPS_MAX];
    socklen_t groupsLength = sizeof groups;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups, &groupsLength) == 0) {
        for (size_t i = 0; i < groupsLength / sizeof(gid_t); ++i) {
            if (groups[i] == ::getegid()) {
                return true;
            }
        }
    }
    std::snprintf(why, size,
                  "permission denied: user %u is neither root nor the server's user or group",
                  static_cast<unsigned>(peer.uid));
    return false;
}

// Writes what waits, as much as the socket takes now; waits for room only when some is left.
void flush(int slot) {
    Client& c = clients[slot];
    while (c.outStart < c.outLength) {
        ssize_t n =
            ::send(c.fd, c.out + c.outStart, c.outLength - c.outStart, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                break;
            }
            closeClient(slot);
            return;
        }
        c.outStart += static_cast<size_t>(n);
    }
    if (c.outStart == c.outLength) {
        c.outStart = 0;
        c.outLength = 0;
    }
    bool wantWrite = c.outLength > 0;
    if (wantWrite != c.wantWrite) {
        c.wantWrite = wantWrite;
        ctlPollWant(c.fd, slot, true, wantWrite);
    }
}

void answerRequest(int slot, const char* request, size_t length) {
    bool follow = false;
    ctlRunRequest(request, length, &answer, &follow);
    if (follow) {
        clients[slot].following = true;
    }
    ctlClientSend(slot, answer.text, answer.length);
}

// Reads what the client sent and answers each whole line; a line longer than a request may
// be is answered with an error and the connection closed.
void readRequests(int slot) {
    Client& c = clients[slot];
    char chunk[READ_CHUNK];
    for (int round = 0; round < READS_PER_READY && c.fd >= 0; ++round) {
        ssize_t n = ::recv(c.fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0) {
            closeClient(slot);
            return;
        }
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                closeClient(slot);
            }
            return;
        }
        c.lastHeardMs = ctlNowMs();
        for (ssize_t i = 0; i < n && c.fd >= 0; ++i) {
            if (chunk[i] == '\n') {
                size_t length = c.inLength;
                if (length > 0 && c.in[length - 1] == '\r') {
                    --length;
                }
                c.inLength = 0;
                answerRequest(slot, c.in, length);
            } else if (c.inLength == CTL_REQUEST_MAX) {
                int fd = c.fd;
                ctlPollRemove(fd);
                c.fd = -1;
                c.following = false;
                char text[80];
                std::snprintf(text, sizeof text, "a request is one line of at most %zu bytes",
                              CTL_REQUEST_MAX);
                refuse(fd, text);
                return;
            } else {
                c.in[c.inLength++] = chunk[i];
            }
        }
    }
}

} // namespace

int64_t ctlNowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void ctlAcceptClients(int listenFd) {
    prepareSlots();
    for (int i = 0; i < ACCEPTS_PER_READY; ++i) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        char why[160];
        if (!peerAllowed(fd, why, sizeof why)) {
            refuse(fd, why);
            continue;
        }
        int slot = -1;
        for (int s = 0; s < CTL_CLIENTS_MAX && slot < 0; ++s) {
            slot = clients[s].fd < 0 ? s : -1;
        }
        if (slot < 0) {
            refuse(fd, "busy: 4 control clients are connected already");
            continue;
        }
        Client& c = clients[slot];
        c.fd = fd;
        c.following = false;
        c.wantWrite = false;
        c.lastHeardMs = ctlNowMs();
        c.inLength = 0;
        c.outStart = 0;
        c.outLength = 0;
        if (!ctlPollAdd(fd, slot, false)) {
            ::close(fd);
            c.fd = -1;
        }
    }
}

void ctlClientReady(int slot, uint32_t events) {
    if (slot < 0 || slot >= CTL_CLIENTS_MAX || clients[slot].fd < 0) {
        return;
    }
    if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) {
        readRequests(slot);
    }
    if (clients[slot].fd >= 0 && (events & EPOLLOUT) != 0) {
        flush(slot);
    }
}

bool ctlClientSend(int slot, const char* bytes, size_t length) {
    Client& c = clients[slot];
    if (c.fd < 0) {
        return false;
    }
    if (c.outLength + length > OUTPUT_MAX && c.outStart > 0) {
        std::memmove(c.out, c.out + c.outStart, c.outLength - c.outStart);
        c.outLength -= c.outStart;
        c.outStart = 0;
    }
    if (c.outLength + length > OUTPUT_MAX) {
        closeClient(slot); // it does not read: dropped rather than waited for
        return false;
    }
    std::memcpy(c.out + c.outLength, bytes, length);
    c.outLength += length;
    flush(slot);
    return c.fd >= 0;
}

bool ctlClientFollowing(int slot) {
    return slotsReady && clients[slot].fd >= 0 && clients[slot].following;
}

void ctlCloseIdleClients(int64_t nowMs) {
    prepareSlots();
    for (int slot = 0; slot < CTL_CLIENTS_MAX; ++slot) {
        const Client& c = clients[slot];
        if (c.fd >= 0 && !c.following && nowMs - c.lastHeardMs >= CTL_IDLE_CLOSE_MS) {
            closeClient(slot);
        }
    }
}

void ctlCloseAllClients() {
    prepareSlots();
    for (int slot = 0; slot < CTL_CLIENTS_MAX; ++slot) {
        closeClient(slot);
    }
}
