// The built confserver binary run as a child process: its status lines read from its
// standard output, its standard error kept, stopped by its pid.
#pragma once

#include <string>
#include <vector>

namespace testutil {

class ServerProcess {
  public:
    // Starts the binary (the server unless another is named) with the arguments; extraEnv
    // entries are "NAME=value". XDG_RUNTIME_DIR and RUNTIME_DIRECTORY are not passed on
    // unless extraEnv sets them, so servers run at once never share a control socket.
    ServerProcess(const std::vector<std::string>& args,
                  const std::vector<std::string>& extraEnv = {},
                  const std::string& binary = CONFSERVER_BINARY);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool started() const { return pid_ > 0; }
    int pid() const { return pid_; }
    // Waits up to timeoutMs for a status line whose text (after the time stamp) equals text.
    bool waitForStatus(const std::string& text, int timeoutMs);
    // Waits up to timeoutMs for an output line equal to line (no time stamp expected).
    bool waitForRawLine(const std::string& line, int timeoutMs);
    // Status texts seen so far (time stamps removed).
    std::vector<std::string> statuses();
    // Raw standard output lines seen so far.
    std::vector<std::string> lines();
    std::string standardError();
    // Sends a signal; waits up to timeoutMs for the exit; the exit code, or -1 if it did not
    // exit (it is then killed).
    int stop(int signal, int timeoutMs);
    // Waits for the process to exit by itself; exit code or -1 on timeout (then killed).
    int waitExit(int timeoutMs);

  private:
    void readAvailable(int timeoutMs);
    int pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
    std::vector<std::string> lines_;
    int exitCode_ = -2;
};

} // namespace testutil
