// Redraw coalescing of the terminal front end. A change only marks the screen dirty; the
// screen is drawn when the message loop runs out of messages (so a burst of status texts
// is drawn once), or by a short timer while messages keep coming (so a busy relay still
// sees its status, at most a few times a second, and is never slowed down by drawing).
// A resize signal and waiting keys wake the loop through a pipe.
#include "frontend/terminal/terminal.h"
#include "platform/internal.h"
#include "platform/window/window.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace platform::term {
namespace {

constexpr long kRedrawDelayNs = 40L * 1000 * 1000;

int wakeRead = -1;
int wakeWrite = -1;
int redrawTimer = -1;
bool timerArmed = false;
volatile sig_atomic_t resizePending = 0;

void wake() {
    char byte = 1;
    ssize_t n = ::write(wakeWrite, &byte, 1);
    (void)n; // a full pipe already holds a wake-up
}

void onResizeSignal(int) {
    int saved = errno;
    resizePending = 1;
    wake();
    errno = saved;
}

// Arms the redraw timer to expire once after delayNs, or disarms it (0).
void setTimer(long delayNs) {
    if (redrawTimer < 0 || timerArmed == (delayNs > 0)) {
        return;
    }
    itimerspec setting{};
    setting.it_value.tv_nsec = delayNs;
    bool set = timerfd_settime(redrawTimer, 0, &setting, nullptr) == 0;
    timerArmed = set && delayNs > 0;
}

void onWake(int fd) {
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
    if (resizePending != 0) {
        resizePending = 0;
        screenResize();
        markDirty();
    }
    handleWaitingInput();
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

// Draws now when something changed.
void redrawIfDirty() {
    if (!ui.dirty) {
        return;
    }
    ui.dirty = false;
    setTimer(0);
    if (ui.started && !ui.lost && screenStarted()) {
        drawAll();
    }
}

void onRedrawTimer(int fd) {
    uint64_t expirations = 0;
    ssize_t n = ::read(fd, &expirations, sizeof expirations);
    (void)n;
    timerArmed = false;
    // Work handed to the message loop has had its time; keys typed after it go on.
    ui.holdInput = false;
    handleWaitingInput();
    redrawIfDirty();
}

} // namespace

void markDirty() {
    ui.dirty = true;
    if (ui.started && !ui.lost) {
        setTimer(kRedrawDelayNs);
    }
}

bool startRedrawSources() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;
    }
    wakeRead = fds[0];
    wakeWrite = fds[1];
    watchFd(wakeRead, onWake);
    redrawTimer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (redrawTimer >= 0) {
        watchFd(redrawTimer, onRedrawTimer);
    }
    struct sigaction action {};
    action.sa_handler = onResizeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
    return true;
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
        wake(); // handled from the pump, which then looks at the queue again
    }
    redrawIfDirty();
}

} // namespace platform::term
