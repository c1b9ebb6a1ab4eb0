#include "support/tcp_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testutil {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in at(const std::string& address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

} // namespace

int tcpConnectFrom(const std::string& source, const std::string& address, uint16_t port,
                   int timeoutMs) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in from = at(source, 0);
    sockaddr_in to = at(address, port);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    if (poll(&p, 1, timeoutMs) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 ||
        err != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, 0);
    return fd;
}

std::string tcpReadFor(int fd, int timeoutMs, const std::string& stop, bool* closed) {
    std::string got;
    if (closed != nullptr) {
        *closed = false;
    }
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left > 0 ? static_cast<int>(left) : 0) != 1) {
            break;
        }
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (closed != nullptr) {
                *closed = true;
            }
            break;
        }
        got.append(buffer, static_cast<size_t>(n));
        if (!stop.empty() && got.find(stop) != std::string::npos) {
            break;
        }
    }
    return got;
}

std::string httpGetFrom(const std::string& source, const std::string& address, uint16_t port,
                        const std::string& path, int timeoutMs) {
    auto start = Clock::now();
    int fd = tcpConnectFrom(source, address, port, timeoutMs);
    if (fd < 0) {
        return "";
    }
    std::string text = "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::string response = tcpReadFor(fd, timeoutMs - static_cast<int>(spent));
    close(fd);
    return response;
}

} // namespace testutil
