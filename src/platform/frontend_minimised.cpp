// The minimised front end (the default): draws nothing, counts every top-level window
// as minimised, cannot show dialogs, answers message boxes on standard error and writes
// the status line to standard output.
#include "platform/core.h"
#include "platform/internal.h"
#include "platform/window_table.h"

#include <cstdio>
#include <ctime>
#include <set>
#include <string>

namespace {

// A window whose title is the status line: a top-level window of this process with a
// caption, neither owned nor a dialog.
bool isStatusWindow(HWND hwnd) {
    const platform::Window* w = platform::findWindow(hwnd);
    return w != nullptr && w->parent == nullptr && w->owner == nullptr && !w->remote &&
           !w->dialog && (w->style & WS_CAPTION) == WS_CAPTION;
}

// One line "YYYY-MM-DD HH:MM:SS.mmm TEXT" in local time, flushed at once.
void writeStatusLine(const char* text) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char stamp[32];
    size_t n = strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
    if (n == 0) {
        stamp[0] = '\0';
    }
    std::fprintf(stdout, "%s.%03ld %s\n", stamp, ts.tv_nsec / 1000000L, text);
    std::fflush(stdout);
}

class MinimisedFrontEnd : public platform::FrontEnd {
  public:
    bool canShowDialogs() const override { return false; }
    bool windowsAreIconic() const override { return true; }

    void titleChanged(HWND hwnd, const char* title) override {
        if (statusWindows_.count(hwnd) != 0) {
            emit(title);
        }
    }

    void windowShown(HWND hwnd) override {
        if (statusWindows_.count(hwnd) != 0 || !isStatusWindow(hwnd)) {
            return;
        }
        statusWindows_.insert(hwnd);
        emit(platform::findWindow(hwnd)->title.c_str());
    }

    void windowDestroyed(HWND hwnd) override { statusWindows_.erase(hwnd); }
    void dialogCreated(HWND) override {}

    int messageBox(HWND, const char* text, const char* caption, UINT) override {
        const char* body = text != nullptr ? text : "";
        if (caption != nullptr && caption[0] != '\0') {
            std::fprintf(stderr, "%s: %s\n", caption, body);
        } else {
            std::fprintf(stderr, "%s\n", body);
        }
        std::fflush(stderr);
        return IDOK;
    }

    void reset() {
        statusWindows_.clear();
        last_.clear();
        anyWritten_ = false;
    }

  private:
    // Writes a status text unless it equals the one written before.
    void emit(const char* text) {
        std::string next = text != nullptr ? text : "";
        if (anyWritten_ && next == last_) {
            return;
        }
        anyWritten_ = true;
        last_ = next;
        if (platform::StatusHook hook = platform::statusHook()) {
            hook(next.c_str());
        } else {
            writeStatusLine(next.c_str());
        }
    }

    std::set<HWND> statusWindows_;
    std::string last_;
    bool anyWritten_ = false;
};

MinimisedFrontEnd& instance() {
    static MinimisedFrontEnd frontEnd;
    return frontEnd;
}

} // namespace

namespace platform {

FrontEnd* minimisedFrontEnd() {
    return &instance();
}

void resetMinimisedFrontEnd() {
    instance().reset();
}

} // namespace platform
