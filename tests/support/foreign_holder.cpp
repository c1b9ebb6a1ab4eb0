#include "support/foreign_holder.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

namespace {

constexpr int holdSeconds = 30;

// The child: only system calls from here on (the parent may have threads).
[[noreturn]] void hold(const sockaddr_un& name, socklen_t length, uid_t asUid, bool answers,
                       int report) {
    if (setgid(asUid) != 0 || setuid(asUid) != 0 || getuid() != asUid) {
        _exit(3);
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&name), length) != 0) {
        _exit(4);
    }
    if (write(report, "ready\n", 6) != 6) {
        _exit(5);
    }
    const time_t end = time(nullptr) + holdSeconds;
    while (time(nullptr) < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) != 1) {
            continue;
        }
        char bytes[64];
        sockaddr_un from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(fd, bytes, sizeof bytes - 1, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            continue;
        }
        bytes[n] = '\n';
        if (write(report, bytes, static_cast<size_t>(n) + 1) < 0) {
            _exit(6);
        }
        if (answers && n == 7 && memcmp(bytes, "ICONIC?", 7) == 0) {
            sendto(fd, "1", 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&from), fromLength);
        }
    }
    _exit(0);
}

} // namespace

ForeignHolder::ForeignHolder(const std::string& desktop, const std::string& cls, uid_t asUid,
                             bool answers) {
    const std::string text =
        (desktop.empty() ? "confserver-desktop/" : "confserver-desktop." + desktop + "/") +
        std::to_string(getuid()) + "/" + cls;
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    if (text.size() + 1 > sizeof name.sun_path) {
        return;
    }
    std::memcpy(name.sun_path + 1, text.data(), text.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        hold(name, length, asUid, answers, fds[1]);
    }
    close(fds[1]);
    report_ = fds[0];
}

ForeignHolder::~ForeignHolder() {
    stop();
}

void ForeignHolder::readReports(int waitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (report_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{report_, POLLIN, 0};
        if (poll(&p, 1, left > 0 ? static_cast<int>(left) : 0) != 1) {
            return;
        }
        char chunk[256];
        const ssize_t n = read(report_, chunk, sizeof chunk);
        if (n <= 0) {
            return;
        }
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

bool ForeignHolder::ready() {
    for (int i = 0; i < 50 && !ready_; ++i) {
        readReports(100);
        if (buffered_.rfind("ready\n", 0) == 0) {
            buffered_.erase(0, 6);
            ready_ = true;
        }
    }
    return ready_;
}

std::vector<std::string> ForeignHolder::requests(int waitMs) {
    readReports(waitMs);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = buffered_.find('\n'); end != std::string::npos;
         end = buffered_.find('\n', start)) {
        lines.push_back(buffered_.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void ForeignHolder::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (report_ >= 0) {
        close(report_);
        report_ = -1;
    }
}

} // namespace testutil
