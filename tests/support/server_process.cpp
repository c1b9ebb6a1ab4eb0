#include "server_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testutil {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& args,
                             const std::vector<std::string>& extraEnv, const std::string& binary) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> argStrings = {binary};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        // The runtime directories would give every server the same control socket: a test
        // names one with --control, or passes these in extraEnv.
        std::string entry = *e;
        if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0 && entry.rfind("RUNTIME_DIRECTORY=", 0) != 0) {
            envStrings.push_back(entry);
        }
    }
    for (const std::string& e : extraEnv) {
        std::string name = e.substr(0, e.find('='));
        for (auto it = envStrings.begin(); it != envStrings.end();) {
            it = it->compare(0, name.size() + 1, name + "=") == 0 ? envStrings.erase(it) : it + 1;
        }
        envStrings.push_back(e);
    }
    std::vector<char*> envp;
    for (std::string& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argStrings[0].c_str(), &actions, nullptr, argv.data(), envp.data()) !=
        0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    pid_ = pid;
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && exitCode_ == -2) {
        stop(SIGKILL, 5000);
    }
    if (out_ >= 0) {
        ::close(out_);
    }
    if (err_ >= 0) {
        ::close(err_);
    }
}

void ServerProcess::readAvailable(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) {
        return;
    }
    char buf[4096];
    if (fds[0].revents != 0) {
        ssize_t n = ::read(out_, buf, sizeof buf);
        if (n > 0) {
            outBuffer_.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = outBuffer_.find('\n')) != std::string::npos) {
                lines_.push_back(outBuffer_.substr(0, nl));
                outBuffer_.erase(0, nl + 1);
            }
        }
    }
    if (fds[1].revents != 0) {
        ssize_t n = ::read(err_, buf, sizeof buf);
        if (n > 0) {
            errBuffer_.append(buf, static_cast<size_t>(n));
        }
    }
}

std::vector<std::string> ServerProcess::lines() {
    readAvailable(0);
    return lines_;
}

std::vector<std::string> ServerProcess::statuses() {
    std::vector<std::string> texts;
    for (const std::string& line : lines()) {
        // "YYYY-MM-DD HH:MM:SS.mmm TEXT": the text starts after 24 characters.
        texts.push_back(line.size() >= 24 ? line.substr(24) : line);
    }
    return texts;
}

bool ServerProcess::waitForStatus(const std::string& text, int timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t checked = 0;
    do {
        readAvailable(std::min(remainingMs(end), 20));
        for (; checked < lines_.size(); ++checked) {
            const std::string& line = lines_[checked];
            if (line.size() >= 24 && line.substr(24) == text) {
                return true;
            }
        }
    } while (remainingMs(end) > 0);
    return false;
}

bool ServerProcess::waitForRawLine(const std::string& line, int timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t checked = 0;
    do {
        readAvailable(std::min(remainingMs(end), 20));
        for (; checked < lines_.size(); ++checked) {
            if (lines_[checked] == line) {
                return true;
            }
        }
    } while (remainingMs(end) > 0);
    return false;
}

std::string ServerProcess::standardError() {
    readAvailable(0);
    return errBuffer_;
}

int ServerProcess::waitExit(int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    if (exitCode_ != -2) {
        return exitCode_;
    }
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (true) {
        readAvailable(0);
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            readAvailable(0);
            readAvailable(0);
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitCode_;
        }
        if (remainingMs(end) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            exitCode_ = -1;
            return -1;
        }
        readAvailable(5);
    }
}

int ServerProcess::stop(int signal, int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    if (exitCode_ == -2) {
        ::kill(pid_, signal);
    }
    return waitExit(timeoutMs);
}

} // namespace testutil
