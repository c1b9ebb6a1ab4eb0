#include "load_target.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace load {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The environment of this process with each NAME=VALUE of extra added or replacing NAME.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const std::string& x : extra) {
            std::string name = x.substr(0, x.find('=') + 1);
            replaced = replaced || entry.compare(0, name.size(), name) == 0;
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// Moves complete lines from the pending text into the line list; true when one of them is
// the ready word or ends with a blank and the ready word.
bool splitLines(TargetProcess& target, const char* readyWord) {
    bool ready = false;
    const std::string suffix = std::string(" ") + (readyWord ? readyWord : "");
    for (size_t end; (end = target.pending.find('\n')) != std::string::npos;) {
        std::string line = target.pending.substr(0, end);
        target.pending.erase(0, end + 1);
        if (readyWord != nullptr &&
            (line == readyWord ||
             (line.size() >= suffix.size() &&
              line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0))) {
            ready = true;
        }
        target.lines.push_back(line);
    }
    return ready;
}

// Reads what is waiting on the pipe (up to 64 KiB); false at end of file or on an error.
bool readOutput(TargetProcess& target) {
    char buffer[65536];
    ssize_t n = read(target.output, buffer, sizeof buffer);
    if (n > 0) {
        target.pending.append(buffer, static_cast<size_t>(n));
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

// The first line of a /proc file that begins with key, or "".
std::string procLine(const std::string& path, const char* key) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        return "";
    }
    char line[512];
    std::string found;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, key, std::strlen(key)) == 0) {
            found = line;
            break;
        }
    }
    std::fclose(f);
    return found;
}

} // namespace

bool startTarget(TargetProcess& target, const std::vector<std::string>& argv,
                 const std::vector<std::string>& extraEnv, const char* readyWord, int timeoutMs) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> envStrings = mergedEnvironment(extraEnv);
    std::vector<std::string> argStrings = argv;
    std::vector<char*> args;
    std::vector<char*> envp;
    for (std::string& a : argStrings) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    for (std::string& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    target.output = pipeFds[0];
    if (spawned != 0) {
        return false;
    }
    target.pid = pid;
    fcntl(target.output, F_SETFL, fcntl(target.output, F_GETFL) | O_NONBLOCK);
    while (msSince(start) < timeoutMs) {
        pollfd p{target.output, POLLIN, 0};
        int left = timeoutMs - static_cast<int>(msSince(start));
        if (poll(&p, 1, left > 0 ? left : 0) <= 0) {
            continue;
        }
        const double at = msSince(start);
        if (!readOutput(target)) {
            return false; // the child closed its output: it has ended
        }
        if (splitLines(target, readyWord)) {
            target.readyMs = at;
            return true;
        }
    }
    return false;
}

void drainOutput(TargetProcess& target) {
    if (target.output < 0) {
        return;
    }
    for (int i = 0; i < 16; ++i) {
        pollfd p{target.output, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || !readOutput(target)) {
            break;
        }
    }
    splitLines(target, nullptr);
}

int stopTarget(TargetProcess& target, int timeoutMs) {
    if (target.pid <= 0) {
        return -1;
    }
    kill(target.pid, SIGTERM);
    int status = 0;
    pid_t done = 0;
    const Clock::time_point start = Clock::now();
    while ((done = waitpid(target.pid, &status, WNOHANG)) == 0 && msSince(start) < timeoutMs) {
        drainOutput(target);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (done == 0) {
        kill(target.pid, SIGKILL);
        done = waitpid(target.pid, &status, 0);
    }
    drainOutput(target);
    close(target.output);
    target.output = -1;
    target.pid = -1;
    if (done <= 0) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long cpuTicks(pid_t pid) {
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (f == nullptr) {
        return -1;
    }
    char text[1024] = {};
    size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    // Fields after the command name (which may hold blanks) start behind the last ')'.
    const char* p = std::strrchr(text, ')');
    if (p == nullptr) {
        return -1;
    }
    unsigned long utime = 0;
    unsigned long stime = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    if (std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                    &stime) != 2) {
        return -1;
    }
    return static_cast<long>(utime + stime);
}

long residentKiB(pid_t pid) {
    std::string line = procLine("/proc/" + std::to_string(pid) + "/status", "VmRSS:");
    long kib = -1;
    if (line.empty() || std::sscanf(line.c_str(), "VmRSS: %ld", &kib) != 1) {
        return -1;
    }
    return kib;
}

long udpSocketDrops(unsigned address, unsigned short port) {
    FILE* f = std::fopen("/proc/net/udp", "r");
    if (f == nullptr) {
        return -1;
    }
    char line[512];
    long drops = -1;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        unsigned localAddress = 0;
        unsigned localPort = 0;
        unsigned long d = 0;
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
        if (std::sscanf(line, " %*u: %8X:%4X %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %lu",
                        &localAddress, &localPort, &d) == 3 &&
            localAddress == address && localPort == port) {
            drops = static_cast<long>(d);
            break;
        }
    }
    std::fclose(f);
    return drops;
}

} // namespace load
