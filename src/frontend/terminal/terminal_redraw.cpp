// Redraw coalescing: a change marks the screen dirty; it is drawn when the message loop is
// idle (a burst is drawn once) or by a short timer while messages keep coming.
#include "frontend/terminal/terminal.h"
#include "platform/runtime.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"

namespace platform::term {
namespace {

constexpr UINT kRedrawDelayMs = 40;

void onRedrawTimer();

// Draws now when something changed.
void redrawIfDirty() {
    if (!ui.dirty) {
        return;
    }
    ui.dirty = false;
    cancelCall(onRedrawTimer);
    if (!ui.started || ui.lost || !screenStarted()) {
        return;
    }
    Target target = keyTarget();
    screenBeginFrame();
    if (IsWindowVisible(ui.mainWindow)) {
        drawMainWindow(target.kind == TargetKind::Main);
    }
    if (panelShown()) {
        drawPanel(target.kind == TargetKind::Panel);
    }
    std::vector<HWND> dialogs = ui.dialogs; // a colour request may change the list
    for (HWND d : dialogs) {
        if (IsWindowVisible(d)) {
            drawDialog(d, target.kind == TargetKind::Dialog && target.hwnd == d);
        }
    }
    for (BoxView* box : ui.boxes) {
        drawMessageBox(box);
    }
    screenEndFrame();
    if (IsWindow(ui.mainWindow)) {
        screenSetTitle(titleText(windowText(ui.mainWindow).c_str()));
    }
    ++ui.draws;
}

void onRedrawTimer() {
    // Work handed to the message loop has had its time; keys typed after it go on.
    ui.holdInput = false;
    handleWaitingInput();
    redrawIfDirty();
}

} // namespace

void markDirty() {
    ui.dirty = true;
    if (ui.started && !ui.lost) {
        callAfter(onRedrawTimer, kRedrawDelayMs);
    }
}

void terminalIdle() {
    if (!ui.started) {
        return;
    }
    // A panel key's action runs first, so that the keys after it go to the box it opens.
    runPendingPanelAction();
    if (ui.workHanded) {
        // The work a key handed over is done: what it changed shows, reported or not.
        ui.workHanded = false;
        ui.dirty = true;
    }
    ui.holdInput = false;
    handleWaitingInput(); // what it posts is taken before the pump sleeps
    if (!ui.input.empty() && !ui.holdInput) {
        platformBeforeSleepAgain(); // more keys than one round takes: no sleep in between
    }
    redrawIfDirty();
}

} // namespace platform::term
