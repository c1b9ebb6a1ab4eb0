// The terminal front end: the platform's windows, dialogs and message boxes drawn in the
// terminal with ncurses, keys and mouse turned into commands. Chosen by the program when
// standard output is a terminal and it is not told to run minimised.
//
// The screen is taken over only when the first window, dialog or message box shows, so a
// program that ends before that leaves the terminal untouched. It is given back (endwin) on
// every way out: the end of main and exit() (an exit handler), and the signals that close
// the program (they take the normal close path to that end). When the screen cannot be set
// up after all, the minimised front end does everything instead.
#include "frontend/terminal/terminal.h"
#include "platform/internal.h"
#include "platform/loop/loop.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace platform::term {

Terminal& terminal() {
    static auto* state = new Terminal;
    return *state;
}

} // namespace platform::term

namespace {

using namespace platform::term;
using platform::findWindow;
using platform::Window;

platform::FrontEnd* minimised() {
    return platform::minimisedFrontEnd();
}

// A window whose title is the status line: a top-level window of this process with a
// caption, neither owned nor a dialog.
bool isStatusWindow(const Window* w) {
    return w->parent == nullptr && w->owner == nullptr && !w->remote && !w->dialog &&
           (w->style & WS_CAPTION) == WS_CAPTION;
}

// Gives the terminal back, then repeats every message box on standard error, so that what
// the operator was told (such as why the server did not start) stays readable.
void restoreTerminal() {
    Terminal& t = terminal();
    if (!t.started) {
        return;
    }
    screenStop();
    for (const std::string& line : t.boxLog) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
}

// Takes the screen over on first use. False when the minimised front end must answer.
bool ensureStarted() {
    Terminal& t = terminal();
    if (t.started || t.failed) {
        return t.started;
    }
    // The resize signal is caught before ncurses starts, so that ncurses leaves it to us.
    startRedrawSources();
    std::string why;
    if (!screenStart(&why)) {
        t.failed = true;
        std::fprintf(stderr, "%s: %s; running minimised\n", program_invocation_short_name,
                     why.c_str());
        return false;
    }
    t.started = true;
    startInput();
    markDirty();
    return true;
}

class TerminalFrontEnd : public platform::FrontEnd {
  public:
    bool canShowDialogs() const override { return !terminal().failed; }

    bool windowsAreIconic() const override {
        return terminal().failed && minimised()->windowsAreIconic();
    }

    void titleChanged(HWND hwnd, const char* title) override {
        if (terminal().failed) {
            minimised()->titleChanged(hwnd, title);
            return;
        }
        markDirty();
    }

    void windowShown(HWND hwnd) override {
        if (!ensureStarted()) {
            minimised()->windowShown(hwnd);
            return;
        }
        Terminal& t = terminal();
        Window* w = findWindow(hwnd);
        if (w == nullptr || w->remote) {
            return;
        }
        if (w->dialog) {
            if (t.views.count(hwnd) == 0) {
                placeNewDialog(hwnd);
            }
            if (std::find(t.dialogs.begin(), t.dialogs.end(), hwnd) == t.dialogs.end()) {
                t.dialogs.push_back(hwnd);
            }
            t.active = Active::Dialog; // a dialog that shows takes the keys
            t.menuActive = false;
        } else if (t.mainWindow == nullptr && isStatusWindow(w)) {
            t.mainWindow = hwnd;
            t.active = Active::Main;
        }
        markDirty();
    }

    void windowDestroyed(HWND hwnd) override {
        minimised()->windowDestroyed(hwnd);
        Terminal& t = terminal();
        if (hwnd == t.mainWindow) {
            t.mainWindow = nullptr;
            t.menuActive = false;
        }
        t.dialogs.erase(std::remove(t.dialogs.begin(), t.dialogs.end(), hwnd), t.dialogs.end());
        t.views.erase(hwnd);
        t.dialogKeys.erase(hwnd);
        for (auto& [dialog, view] : t.views) {
            if (view.focus == hwnd) {
                view.focus = nullptr;
            }
        }
        markDirty();
    }

    void windowChanged(HWND) override {
        if (!terminal().failed) {
            markDirty();
        }
    }

    void dialogCreated(HWND dialog) override {
        if (ensureStarted()) {
            placeNewDialog(dialog);
            markDirty();
        }
    }

    int messageBox(HWND owner, const char* text, const char* caption, UINT type) override {
        if (!ensureStarted()) {
            return minimised()->messageBox(owner, text, caption, type);
        }
        return runMessageBox(text, caption, type);
    }

    void idle() override {
        if (terminal().started) {
            terminalIdle();
        }
    }
};

} // namespace

bool platformUseTerminalFrontEnd(char* whyNot, size_t size) {
    std::string why;
    if (!screenUsable(&why)) {
        if (whyNot != nullptr && size > 0) {
            std::snprintf(whyNot, size, "%s", why.c_str());
        }
        return false;
    }
    static auto* frontEnd = new TerminalFrontEnd;
    static bool exitHandler = std::atexit(restoreTerminal) == 0;
    (void)exitHandler;
    platform::setFrontEnd(frontEnd);
    terminal().chosen = true;
    return true;
}
