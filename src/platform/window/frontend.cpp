// The current front end, the hooks of tests, and message boxes.
#include "platform/window/frontend.h"
#include "platform/runtime.h"
#include "platform/window/dialog.h"
#include "platform/window/window_table.h"

namespace {

platform::FrontEnd* current = nullptr;
platform::StatusHook statusHookFn = nullptr;
int (*messageBoxHook)(HWND, const char*, const char*, UINT) = nullptr;

} // namespace

namespace platform {

void setFrontEnd(FrontEnd* frontEnd) {
    current = frontEnd;
}

FrontEnd* frontEnd() {
    return current != nullptr ? current : minimisedFrontEnd();
}

StatusHook statusHook() {
    return statusHookFn;
}

void resetFrontEnd() {
    current = nullptr;
    statusHookFn = nullptr;
    messageBoxHook = nullptr;
    resetMinimisedFrontEnd();
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
