// The relay under test as a child process of the load generator: started with its standard
// output on a pipe, watched through /proc, stopped by its pid.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace load {

struct TargetProcess {
    pid_t pid = -1;
    int output = -1;     // read end of the child's standard output
    std::string pending; // output not yet split into lines
    double readyMs = -1; // from the spawn to the ready line; -1 when it never came
    std::vector<std::string> lines;
};

// Spawns argv[0] with the arguments and the environment variables added to (or replacing
// those of) this process's own, then waits up to timeoutMs for an output line that is
// readyWord or ends with a blank and readyWord. True when the line came.
bool startTarget(TargetProcess& target, const std::vector<std::string>& argv,
                 const std::vector<std::string>& extraEnv, const char* readyWord, int timeoutMs);

// Reads whatever output is waiting without blocking, so the child never stalls on a full pipe.
void drainOutput(TargetProcess& target);

// SIGTERM, then up to timeoutMs for the exit, then SIGKILL. Returns the exit code, 128 + the
// signal number when a signal ended it, or -1.
int stopTarget(TargetProcess& target, int timeoutMs);

// CPU time (user and system) of the process so far, in clock ticks; -1 when unreadable.
long cpuTicks(pid_t pid);

// Resident set size of the process (VmRSS) in KiB; -1 when unreadable.
long residentKiB(pid_t pid);

// Datagrams dropped so far by the UDP socket bound to address (network order) and port (host
// order), as /proc/net/udp reports them; -1 when no such socket is listed.
long udpSocketDrops(unsigned address, unsigned short port);

} // namespace load
