#include "monitor/http_guard.h"

#include "monitor/http_library.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int LISTEN_BACKLOG = 128;

// One connection the library has open: since when it waits for a whole request (0 while
// it has one).
struct Guarded {
    MHD_Connection* connection;
    int fd;
    int64_t waitingSinceMs;
};

Guarded guarded[HTTP_CONNECTIONS_MAX];

// Real time, never scaled: the deadline protects against clients, which keep real time.
int64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

Guarded* find(MHD_Connection* connection) {
    for (Guarded& g : guarded) {
        if (g.connection == connection) {
            return &g;
        }
    }
    return nullptr;
}

} // namespace

int httpGuardListen(uint32_t host, uint16_t port, char* why, size_t size) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::snprintf(why, size, "%s", std::strerror(errno));
        return -1;
    }
    // SO_REUSEADDR lets a restarted server bind while connections of the one before wait
    // out their close; on Linux it never lets two sockets listen on one address and port.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = host;
    at.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(fd, LISTEN_BACKLOG) != 0) {
        std::snprintf(why, size, "%s", std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

void httpGuardNotify(void*, MHD_Connection* connection, void** socketContext,
                     MHD_ConnectionNotificationCode code) {
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        Guarded* slot = find(nullptr);
        const MHD_ConnectionInfo* info =
            httpLibrary.getConnectionInfo(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (slot != nullptr && info != nullptr) {
            slot->connection = connection;
            slot->fd = info->connect_fd;
            slot->waitingSinceMs = monotonicMs();
        } else {
            slot = nullptr;
        }
        *socketContext = slot;
    } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        auto* slot = static_cast<Guarded*>(*socketContext);
        if (slot != nullptr && slot->connection == connection) {
            *slot = Guarded{};
        }
        *socketContext = nullptr;
    }
}

void httpGuardCompleted(void*, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    if (Guarded* g = find(connection)) {
        g->waitingSinceMs = monotonicMs();
    }
}

void httpGuardRequestWhole(MHD_Connection* connection) {
    if (Guarded* g = find(connection)) {
        g->waitingSinceMs = 0;
    }
}

bool httpGuardNoticeGone() {
    pollfd polled[HTTP_CONNECTIONS_MAX];
    Guarded* of[HTTP_CONNECTIONS_MAX];
    nfds_t n = 0;
    for (Guarded& g : guarded) {
        if (g.connection != nullptr && g.waitingSinceMs != 0) {
            polled[n] = pollfd{g.fd, POLLRDHUP, 0};
            of[n++] = &g;
        }
    }
    if (n == 0 || ::poll(polled, n, 0) <= 0) {
        return false;
    }
    bool any = false;
    for (nfds_t i = 0; i < n; ++i) {
        int unread = 0;
        if ((polled[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0 ||
            (::ioctl(polled[i].fd, FIONREAD, &unread) == 0 && unread > 0)) {
            continue; // still open, or bytes the library has yet to read
        }
        ::shutdown(polled[i].fd, SHUT_RDWR);
        of[i]->waitingSinceMs = 0;
        any = true;
    }
    return any;
}

bool httpGuardEnforce() {
    int64_t now = monotonicMs();
    bool any = false;
    for (Guarded& g : guarded) {
        if (g.connection == nullptr || g.waitingSinceMs == 0 ||
            now - g.waitingSinceMs < static_cast<int64_t>(HTTP_REQUEST_DEADLINE_S) * 1000) {
            continue;
        }
        // The library owns the descriptor: shut down, it reads the end and closes it.
        ::shutdown(g.fd, SHUT_RDWR);
        g.waitingSinceMs = 0; // once is enough; the close frees the slot
        any = true;
    }
    return any;
}

void httpGuardReset() {
    for (Guarded& g : guarded) {
        g = Guarded{};
    }
}
