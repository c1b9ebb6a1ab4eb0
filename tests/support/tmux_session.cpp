#include "support/tmux_session.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testutil {
namespace {

using Clock = std::chrono::steady_clock;

std::string shellQuote(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Runs a program to its end (at most 10 s) and returns its standard output.
std::string runCapture(const std::vector<std::string>& argv) {
    int out[2];
    // Close-on-exec: the tmux server that the first command starts must not keep the pipe.
    if (pipe2(out, O_CLOEXEC) != 0) {
        return "";
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", 0, 0);
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (std::string& a : copy) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    auto end = Clock::now() + std::chrono::seconds(10);
    while (rc == 0 && Clock::now() < end) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buf[4096];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    if (rc == 0) {
        int status = 0;
        if (Clock::now() >= end) {
            kill(pid, SIGKILL);
        }
        waitpid(pid, &status, 0);
    }
    return text;
}

std::atomic<int> sessionCount{0};

} // namespace

bool tmuxAvailable() {
    return runCapture({"tmux", "-V"}).rfind("tmux ", 0) == 0;
}

TmuxSession::TmuxSession(const std::vector<std::string>& env, const std::vector<std::string>& argv,
                         int cols, int rows, const std::string& errorFile) {
    int n = ++sessionCount;
    socket_ = "confserver-test-" + std::to_string(getpid()) + "-" + std::to_string(n);
    char exitTemplate[] = "/tmp/confserver-exit-XXXXXX";
    int fd = mkstemp(exitTemplate);
    if (fd < 0) {
        return;
    }
    close(fd);
    unlink(exitTemplate);
    exitFile_ = exitTemplate;

    std::string command = "env";
    for (const std::string& e : env) {
        command += " " + shellQuote(e);
    }
    for (const std::string& a : argv) {
        command += " " + shellQuote(a);
    }
    if (!errorFile.empty()) {
        command += " 2>" + shellQuote(errorFile);
    }
    command += "; echo $? > " + shellQuote(exitFile_);
    tmux({"-f",
          "/dev/null",
          "start-server",
          ";",
          "set-option",
          "-g",
          "remain-on-exit",
          "on",
          ";",
          "set-option",
          "-g",
          "default-shell",
          "/bin/sh",
          ";",
          "new-session",
          "-d",
          "-x",
          std::to_string(cols),
          "-y",
          std::to_string(rows),
          "-s",
          "main",
          command});
    ok_ = programPid(5000) > 0;
}

TmuxSession::~TmuxSession() {
    int pid = programPid(0);
    tmux({"kill-server"});
    if (pid > 0) {
        kill(pid, SIGKILL); // a program that outlived its terminal
    }
    if (!exitFile_.empty()) {
        unlink(exitFile_.c_str());
    }
}

std::string TmuxSession::tmux(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"tmux", "-L", socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCapture(argv);
}

std::string TmuxSession::screen() {
    return tmux({"capture-pane", "-p", "-t", "main"});
}

std::string TmuxSession::screenAndHistory() {
    return tmux({"capture-pane", "-p", "-S", "-", "-t", "main"});
}

std::string TmuxSession::screenWithColours() {
    return tmux({"capture-pane", "-e", "-p", "-t", "main"});
}

std::vector<std::string> TmuxSession::rows() {
    std::vector<std::string> lines;
    std::istringstream in(screen());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool TmuxSession::waitFor(const std::function<bool(const std::string&)>& test, int timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (test(screen())) {
            return true;
        }
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool TmuxSession::waitForText(const std::string& text, int timeoutMs) {
    return waitFor([&](const std::string& s) { return s.find(text) != std::string::npos; },
                   timeoutMs);
}

bool TmuxSession::waitForNoText(const std::string& text, int timeoutMs) {
    return waitFor([&](const std::string& s) { return s.find(text) == std::string::npos; },
                   timeoutMs);
}

void TmuxSession::keys(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        tmux({"send-keys", "-t", "main", name});
    }
}

void TmuxSession::type(const std::string& text) {
    tmux({"send-keys", "-t", "main", "-l", text});
}

std::string TmuxSession::title() {
    std::string t = tmux({"display-message", "-p", "-t", "main", "#{pane_title}"});
    while (!t.empty() && t.back() == '\n') {
        t.pop_back();
    }
    return t;
}

void TmuxSession::resize(int cols, int rows) {
    tmux({"resize-window", "-t", "main", "-x", std::to_string(cols), "-y", std::to_string(rows)});
}

int TmuxSession::programPid(int timeoutMs) {
    std::string shell = tmux({"display-message", "-p", "-t", "main", "#{pane_pid}"});
    int shellPid = std::atoi(shell.c_str());
    if (shellPid <= 0) {
        return 0;
    }
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string path =
        "/proc/" + std::to_string(shellPid) + "/task/" + std::to_string(shellPid) + "/children";
    for (;;) {
        std::ifstream in(path);
        int child = 0;
        if (in >> child && child > 0) {
            return child;
        }
        if (Clock::now() >= end) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int TmuxSession::waitExit(int timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::ifstream in(exitFile_);
        int code = -1;
        if (in >> code) {
            return code;
        }
        if (Clock::now() >= end) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace testutil
