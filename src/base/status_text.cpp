#include "base/status_text.h"

#include "base/app_state.h"
#include "monitor/monitor.h"
#include "platform/window/window.h"

void setStatusText(const char* text) {
    SetWindowTextA(mainWindow, text);
    monitorStatusText(text);
}
