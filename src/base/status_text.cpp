#include "base/status_text.h"

#include "base/app_state.h"
#include "platform/window/window.h"

namespace {

StatusTextObserver statusTextObserver = nullptr;

} // namespace

void setStatusText(const char* text) {
    SetWindowTextA(mainWindow, text);
    if (statusTextObserver != nullptr) {
        statusTextObserver(text);
    }
}

void setStatusTextObserver(StatusTextObserver observer) {
    statusTextObserver = observer;
}
