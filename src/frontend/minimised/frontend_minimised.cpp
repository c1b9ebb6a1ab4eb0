// The minimised front end (the default): draws nothing, counts every top-level window
// as minimised, cannot show dialogs, answers message boxes on standard error and writes
// the status line to standard output. Every text is escaped on its way out (a station's
// name may hold any byte), so one status change is exactly one line, and neither stream
// ever holds the server up (see output_stream.h).
#include "platform/loop/loop.h"
#include "platform/stream/escape.h"
#include "platform/stream/output_stream.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"

#include <optional>
#include <set>
#include <string>

namespace {

// How long a message box may wait for standard error to take its line, at most.
constexpr int kBoxWaitMs = 200;

// Nobody is there to answer: a box with OK alone is answered OK; a question (Yes/No,
// OK/Cancel) is answered No or Cancel, so nothing that asks for confirmation goes ahead.
int answerAtOnce(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
        return IDNO;
    case MB_OKCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}

// A shown top-level window whose title is the status line: one with a caption, neither
// owned nor a dialog.
bool isStatusWindow(HWND hwnd) {
    return GetWindow(hwnd, GW_OWNER) == nullptr &&
           platform::dialogMode(hwnd) == platform::DialogMode::None &&
           (GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
}

// One line "YYYY-MM-DD HH:MM:SS.mmm TEXT" (the text escaped) to standard output.
void writeStatusLine(const char* text) {
    char line[platform::LineQueue::kLongestLine];
    size_t n = platform::formatStamp(line, sizeof line);
    n += escapeText(text, line + n, sizeof line - n);
    platform::streamLine(platform::Stream::Status, line, n);
}

// "CAPTION: TEXT" (or the text alone without a caption), both escaped, to standard error.
void writeBoxLine(const char* caption, const char* text) {
    char line[platform::LineQueue::kLongestLine];
    size_t n = 0;
    if (caption != nullptr && caption[0] != '\0') {
        n = escapeText(caption, line, sizeof line - 2);
        line[n++] = ':';
        line[n++] = ' ';
    }
    n += escapeText(text, line + n, sizeof line - n);
    platform::streamLine(platform::Stream::Error, line, n);
    platform::streamDrain(platform::Stream::Error, kBoxWaitMs);
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
        char title[platform::LineQueue::kLongestLine];
        GetWindowTextA(hwnd, title, sizeof title);
        emit(title);
    }

    void windowDestroyed(HWND hwnd) override { statusWindows_.erase(hwnd); }
    void dialogCreated(HWND) override {}

    int messageBox(HWND, const char* text, const char* caption, UINT type) override {
        writeBoxLine(caption, text != nullptr ? text : "");
        return answerAtOnce(type);
    }

    void reset() {
        statusWindows_.clear();
        last_.reset();
    }

  private:
    // Writes a status text unless it equals the one written before.
    void emit(const char* text) {
        std::string next = text != nullptr ? text : "";
        if (last_ == next) {
            return;
        }
        last_ = next;
        if (platform::StatusHook hook = platform::statusHook()) {
            hook(next.c_str());
        } else {
            writeStatusLine(next.c_str());
        }
    }

    std::set<HWND> statusWindows_;
    std::optional<std::string> last_; // the text written last
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
    resetStreams();
}

} // namespace platform
