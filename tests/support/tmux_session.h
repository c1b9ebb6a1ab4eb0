// A program run in a terminal of its own: a tmux server on a private socket, one window of
// a given size, keys sent as a person types them and the screen read back (with colours
// when asked). The server is killed when the object goes.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testutil {

class TmuxSession {
  public:
    // Runs argv (environment settings first, as env takes them: "NAME=value" or "-u NAME")
    // in a cols x rows window; its standard error goes to errorFile when one is given, else
    // to the screen.
    TmuxSession(const std::vector<std::string>& env, const std::vector<std::string>& argv, int cols,
                int rows, const std::string& errorFile = "");
    ~TmuxSession();
    TmuxSession(const TmuxSession&) = delete;
    TmuxSession& operator=(const TmuxSession&) = delete;

    bool ok() const { return ok_; }
    // The screen as text, one line per row (capture-pane -p), or with its colour and
    // attribute sequences (capture-pane -e -p).
    std::string screen();
    std::string screenWithColours();
    // The screen with the lines scrolled off its top above it.
    std::string screenAndHistory();
    std::vector<std::string> rows();
    // Waits up to timeoutMs until the screen satisfies the test; false on time-out.
    bool waitFor(const std::function<bool(const std::string&)>& test, int timeoutMs);
    bool waitForText(const std::string& text, int timeoutMs);
    bool waitForNoText(const std::string& text, int timeoutMs);
    // Keys by tmux name (Enter, Escape, F10, Tab, Right, ...), one at a time.
    void keys(const std::vector<std::string>& names);
    // Text typed literally (also raw escape sequences such as mouse reports).
    void type(const std::string& text);
    // The title that the program gave the terminal.
    std::string title();
    void resize(int cols, int rows);
    // The program's process id (0 until it runs).
    int programPid(int timeoutMs);
    // Waits for the program to end; its exit code, or -1 on time-out.
    int waitExit(int timeoutMs);

  private:
    std::string tmux(const std::vector<std::string>& args);
    std::string socket_;
    std::string exitFile_;
    bool ok_ = false;
};

// True when the tmux program can be run.
bool tmuxAvailable();

} // namespace testutil
