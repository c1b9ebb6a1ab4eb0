// The current front end, the hooks of tests, and message boxes.
#include "platform/window/frontend.h"
#include "platform/runtime.h"
#include "platform/stream/output_stream.h"
#include "platform/window/dialog.h"
#include "platform/window/window_table.h"

namespace {

// What stands in while no front end is installed: draws nothing, shows no dialog, counts
// every top-level window as minimised and answers every box as nobody being there.
struct NoFrontEnd : platform::FrontEnd {
    bool canShowDialogs() const override { return false; }
    bool windowsAreIconic() const override { return true; }
    void titleChanged(HWND, const char*) override {}
    void windowShown(HWND) override {}
    void windowDestroyed(HWND) override {}
    void dialogCreated(HWND) override {}
    int messageBox(HWND, const char*, const char*, UINT type) override {
        return platform::unattendedAnswer(type);
    }
};

NoFrontEnd none;
platform::FrontEnd* current = nullptr;
platform::StatusHook statusHookFn = nullptr;
int (*messageBoxHook)(HWND, const char*, const char*, UINT) = nullptr;

} // namespace

namespace platform {

int unattendedAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
        return IDNO;
    case MB_OKCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}

void setFrontEnd(FrontEnd* frontEnd) {
    current = frontEnd;
}

FrontEnd* frontEnd() {
    return current != nullptr ? current : &none;
}

StatusHook statusHook() {
    return statusHookFn;
}

void resetFrontEnd() {
    current = nullptr;
    statusHookFn = nullptr;
    messageBoxHook = nullptr;
    resetStreams();
}

} // namespace platform

void platformSetStatusHook(void (*hook)(const char* text)) {
    statusHookFn = hook;
}

void platformSetMessageBoxHook(int (*hook)(HWND owner, const char* text, const char* caption,
                                           UINT type)) {
    messageBoxHook = hook;
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    if (messageBoxHook != nullptr) {
        return messageBoxHook(owner, text, caption, type);
    }
    return platform::frontEnd()->messageBox(owner, text, caption, type);
}
