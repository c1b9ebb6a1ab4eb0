// The minimised front end: draws nothing, counts every top-level window as
// minimised, answers message boxes on standard error and writes the status line to standard
// output, every text escaped so that one status change is one line (see output_stream.h).
#include "frontend/minimised/minimised.h"

#include "platform/stream/escape.h"
#include "platform/stream/output_stream.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"

#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>

namespace {

// How long a message box may wait for standard error to take its line, at most.
constexpr int kBoxWaitMs = 200;

struct MinimisedFrontEnd : platform::FrontEnd {
    bool canShowDialogs() const override { return false; }
    bool windowsAreIconic() const override { return true; }

    void titleChanged(HWND hwnd, const char* title) override {
        if (statusWindows.count(hwnd) != 0) {
            emit(title);
        }
    }

    // The status line is the title of a shown top-level window with a caption, neither
    // owned nor a dialog.
    void windowShown(HWND hwnd) override {
        if (statusWindows.count(hwnd) != 0 || GetWindow(hwnd, GW_OWNER) != nullptr ||
            platform::dialogMode(hwnd) != platform::DialogMode::None ||
            (GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CAPTION) != WS_CAPTION) {
            return;
        }
        statusWindows.insert(hwnd);
        char title[platform::LineQueue::kLongestLine];
        GetWindowTextA(hwnd, title, sizeof title);
        emit(title);
    }

    void windowDestroyed(HWND hwnd) override { statusWindows.erase(hwnd); }
    void dialogCreated(HWND) override {}

    // "CAPTION: TEXT" (or the text alone), both escaped, to standard error. Nobody is there
    // to answer: OK alone is answered OK, a question No or Cancel, so nothing goes ahead.
    int messageBox(HWND, const char* text, const char* caption, UINT type) override {
        char line[platform::LineQueue::kLongestLine];
        size_t n = 0;
        if (caption != nullptr && caption[0] != '\0') {
            n = escapeText(caption, line, sizeof line - 2);
            line[n++] = ':';
            line[n++] = ' ';
        }
        n += escapeText(text != nullptr ? text : "", line + n, sizeof line - n);
        platform::streamLine(platform::Stream::Error, line, n);
        platform::streamDrain(platform::Stream::Error, kBoxWaitMs);
        return platform::unattendedAnswer(type);
    }

    // Writes "YYYY-MM-DD HH:MM:SS.mmm TEXT" (escaped) unless the text equals the last one.
    void emit(const char* text) {
        std::string next = text != nullptr ? text : "";
        if (last == next) {
            return;
        }
        last = next;
        if (platform::StatusHook hook = platform::statusHook()) {
            hook(next.c_str());
            return;
        }
        // Under systemd the journal files status lines at debug priority, so that a view at
        // info shows the events without the standby toggles.
        char line[platform::LineQueue::kLongestLine];
        const char* priority = platform::journalPrefix(STDOUT_FILENO, "<7>");
        size_t n = std::strlen(priority);
        std::memcpy(line, priority, n);
        n += platform::formatStamp(line + n, sizeof line - n);
        n += escapeText(next.c_str(), line + n, sizeof line - n);
        platform::streamLine(platform::Stream::Status, line, n);
    }

    std::set<HWND> statusWindows;
    std::optional<std::string> last; // the text written last
};

MinimisedFrontEnd& minimised() {
    static MinimisedFrontEnd frontEnd;
    return frontEnd;
}

} // namespace

platform::FrontEnd* minimisedFrontEnd() {
    return &minimised();
}

void resetMinimisedFrontEnd() {
    minimised().statusWindows.clear();
    minimised().last.reset();
}
