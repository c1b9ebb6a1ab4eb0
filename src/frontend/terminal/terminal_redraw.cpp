// Redraw coalescing of the terminal front end. A change only marks the screen dirty; the
// screen is drawn when the message loop runs out of messages (so a burst of status texts
// is drawn once), or by a short timer while messages keep coming (so a busy relay still
// sees its status, at most a few times a second, and is never slowed down by drawing).
// Both are call timers of the loop; a resize comes through the loop's signal pipe.
#include "frontend/terminal/terminal.h"
#include "platform/loop/loop.h"
#include "platform/window/window.h"

namespace platform::term {
namespace {

constexpr UINT kRedrawDelayMs = 40;

void onResize() {
    screenResize();
    markDirty();
}

void drawAll() {
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

void onRedrawTimer();

// Draws now when something changed.
void redrawIfDirty() {
    if (!ui.dirty) {
        return;
    }
    ui.dirty = false;
    cancelCall(onRedrawTimer);
    if (ui.started && !ui.lost && screenStarted()) {
        drawAll();
    }
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

bool startRedrawSources() {
    return watchResizeSignal(onResize);
}

void terminalIdle() {
    if (!ui.started) {
        return;
    }
    // An action that a panel key asked for runs first, so that the keys after it go to
    // the box it may open.
    runPendingPanelAction();
    if (ui.workHanded) {
        // What a key handed to the message loop is done: what it changed shows (such as a
        // value in a dialog's label), even when no window reported a change.
        ui.workHanded = false;
        ui.dirty = true;
    }
    ui.holdInput = false;
    if (!ui.input.empty()) {
        callAfter(handleWaitingInput, 0); // from the pump, which then looks at the queue
    }
    redrawIfDirty();
}

} // namespace platform::term
