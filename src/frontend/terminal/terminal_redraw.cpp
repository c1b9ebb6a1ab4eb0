// Redraw coalescing of the terminal front end. A change only marks the screen dirty; the
// screen is drawn when the message loop runs out of messages (so a burst of status texts
// is drawn once), or by a short timer while messages keep coming (so a busy relay still
// sees its status, at most a few times a second, and is never slowed down by drawing).
// Both are call timers of the loop; a resize comes through the loop's signal pipe.
#include "frontend/terminal/terminal_screen.h"
#include "frontend/terminal/terminal_state.h"
#include "platform/loop/loop.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

namespace platform::term {
namespace {

constexpr UINT kRedrawDelayMs = 40;

void onResize() {
    screenResize();
    markDirty();
}

void onRedrawTimer() {
    // Work handed to the message loop has had its time; keys typed after it go on.
    terminal().holdInput = false;
    handleWaitingInput();
    redrawIfDirty();
}

void drawAll() {
    Terminal& t = terminal();
    Target target = keyTarget();
    screenBeginFrame();
    Window* main = findWindow(t.mainWindow);
    if (main != nullptr && main->visible) {
        drawMainWindow(target.kind == TargetKind::Main);
    }
    if (panelShown()) {
        drawPanel(target.kind == TargetKind::Panel);
    }
    std::vector<HWND> dialogs = t.dialogs; // a colour request may change the list
    for (HWND d : dialogs) {
        if (dialogVisible(d)) {
            drawDialog(d, target.kind == TargetKind::Dialog && target.hwnd == d);
        }
    }
    for (BoxView* box : t.boxes) {
        drawMessageBox(box);
    }
    screenEndFrame();
    main = findWindow(t.mainWindow);
    if (main != nullptr) {
        screenSetTitle(titleText(main->title.c_str()));
    }
    ++t.draws;
}

} // namespace

void markDirty() {
    Terminal& t = terminal();
    t.dirty = true;
    if (t.started && !t.lost) {
        callAfter(onRedrawTimer, kRedrawDelayMs);
    }
}

void redrawIfDirty() {
    Terminal& t = terminal();
    if (!t.dirty) {
        return;
    }
    t.dirty = false;
    cancelCall(onRedrawTimer);
    if (t.started && !t.lost && screenStarted()) {
        drawAll();
    }
}

bool startRedrawSources() {
    return watchResizeSignal(onResize);
}

void terminalIdle() {
    Terminal& t = terminal();
    // An action that a panel key asked for runs first, so that the keys after it go to
    // the box it may open.
    runPendingPanelAction();
    if (t.workHanded) {
        // What a key handed to the message loop is done: what it changed shows (such as a
        // value in a dialog's label), even when no window reported a change.
        t.workHanded = false;
        t.dirty = true;
    }
    t.holdInput = false;
    if (!t.input.empty()) {
        callAfter(handleWaitingInput, 0); // from the pump, which then looks at the queue
    }
    redrawIfDirty();
}

} // namespace platform::term
