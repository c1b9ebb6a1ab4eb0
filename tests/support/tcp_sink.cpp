#include "tcp_sink.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testutil {

TcpSink::TcpSink(const std::string& address, uint16_t port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 4) != 0) {
        ::close(listener_);
        listener_ = -1;
        return;
    }
    thread_ = std::thread([this] { run(); });
}

TcpSink::~TcpSink() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

void TcpSink::run() {
    int conn = -1;
    // Accept within 30 s at most, then read until the peer closes (again bounded).
    for (int i = 0; i < 3000 && !stop_ && conn < 0; ++i) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) {
            conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
    if (conn < 0) {
        return;
    }
    accepted_ = true;
    char buf[4096];
    for (int i = 0; i < 3000 && !stop_; ++i) {
        pollfd p{conn, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) {
            continue;
        }
        ssize_t n = ::recv(conn, buf, sizeof buf, 0);
        if (n <= 0) {
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        data_.append(buf, static_cast<size_t>(n));
    }
    ::close(conn);
    closed_ = true;
}

std::string TcpSink::waitForClose(int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!closed_ && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
}

} // namespace testutil
