// The terminal front end. The screen is taken over when the first window, dialog or message
// box shows and given back by an exit handler (the closing signals take the normal close
// path); when it cannot be set up, the minimised front end does everything instead.
#include "frontend/minimised/minimised.h"
#include "frontend/terminal/terminal.h"
#include "frontend/terminal/terminal_window.h"
#include "platform/runtime.h"
#include "platform/stream/output_stream.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace platform::term {

Terminal& ui = *new Terminal;

std::string windowText(HWND hwnd) {
    char text[4096];
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

DWORD windowStyle(HWND hwnd) {
    return static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE));
}

} // namespace platform::term

namespace {

using namespace platform::term;

// Gives the terminal back, then repeats every message box on standard error (through its
// queue, waiting at most a quarter of a second for a reader), so that what the operator was
// told (such as why the server did not start) stays readable.
void restoreTerminal() {
    if (!ui.started) {
        return;
    }
    screenStop();
    for (const std::string& line : ui.boxLog) {
        platform::streamLine(platform::Stream::Error, line.data(), line.size());
    }
    platform::streamDrain(platform::Stream::Error, 250);
}

// Takes the screen over on first use. False when the minimised front end must answer.
bool ensureStarted() {
    if (ui.started || ui.failed) {
        return ui.started;
    }
    // The resize signal is caught before ncurses starts, so that ncurses leaves it to us.
    platform::watchResizeSignal([] {
        screenResize();
        markDirty();
    });
    std::string why;
    if (!screenStart(&why)) {
        ui.failed = true;
        const std::string line =
            std::string(program_invocation_short_name) + ": " + why + "; running minimised";
        platform::operatorErrorLine(line.data(), line.size());
        return false;
    }
    ui.started = true;
    // Drawn before the pump sleeps, after the hooks added before it (the panel's among them).
    platformAddBeforeSleep([](void*) { terminalIdle(); }, nullptr);
    startInput();
    markDirty();
    return true;
}

class TerminalFrontEnd : public platform::FrontEnd {
  public:
    bool canShowDialogs() const override { return !ui.failed; }

    bool windowsAreIconic() const override {
        return ui.failed && minimisedFrontEnd()->windowsAreIconic();
    }

    void titleChanged(HWND hwnd, const char* title) override {
        if (ui.failed) {
            minimisedFrontEnd()->titleChanged(hwnd, title);
            return;
        }
        markDirty();
    }

    void windowShown(HWND hwnd) override {
        if (!ensureStarted()) {
            minimisedFrontEnd()->windowShown(hwnd);
            return;
        }
        if (platform::dialogMode(hwnd) != platform::DialogMode::None) {
            if (ui.views.count(hwnd) == 0) {
                placeNewDialog(hwnd);
            }
            if (std::find(ui.dialogs.begin(), ui.dialogs.end(), hwnd) == ui.dialogs.end()) {
                ui.dialogs.push_back(hwnd);
            }
            ui.active = Active::Dialog; // a dialog that shows takes the keys
            ui.menuActive = false;
        } else if (ui.mainWindow == nullptr && GetWindow(hwnd, GW_OWNER) == nullptr &&
                   (windowStyle(hwnd) & WS_CAPTION) == WS_CAPTION) {
            // The status window: top-level with a caption, neither owned nor a dialog.
            ui.mainWindow = hwnd;
            ui.active = Active::Main;
        }
        markDirty();
    }

    void windowDestroyed(HWND hwnd) override {
        minimisedFrontEnd()->windowDestroyed(hwnd);
        if (hwnd == ui.mainWindow) {
            ui.mainWindow = nullptr;
            ui.menuActive = false;
        }
        ui.dialogs.erase(std::remove(ui.dialogs.begin(), ui.dialogs.end(), hwnd), ui.dialogs.end());
        ui.views.erase(hwnd);
        ui.dialogKeys.erase(hwnd);
        for (auto& [dialog, view] : ui.views) {
            if (view.focus == hwnd) {
                view.focus = nullptr;
            }
        }
        markDirty();
    }

    void windowChanged(HWND) override { markDirty(); }

    void dialogCreated(HWND dialog) override {
        if (ensureStarted()) {
            placeNewDialog(dialog);
            markDirty();
        }
    }

    int messageBox(HWND owner, const char* text, const char* caption, UINT type) override {
        return ensureStarted() ? runMessageBox(text, caption, type)
                               : minimisedFrontEnd()->messageBox(owner, text, caption, type);
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
    [[maybe_unused]] static bool exitHandler = std::atexit(restoreTerminal) == 0;
    platform::setFrontEnd(frontEnd);
    ui.chosen = true;
    return true;
}
