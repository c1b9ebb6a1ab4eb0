// SIGINT, SIGTERM and SIGHUP become WM_CLOSE to the shown top-level windows; SIGWINCH
// calls the front end's resize handler from the pump; SIGPIPE is ignored, so a reader of
// standard output or error that goes away (`confserver -m | head -1`) costs the lines it
// would have read and nothing else (the writes see EPIPE).
//
// The handlers only set a flag and write a byte to the loop's one self-pipe
// (async-signal-safe); the pipe is a watched descriptor whose callback, run by the pump,
// acts on the flags. A close signal caught before any top-level window has been shown
// stays pending until one is.
// During start-up (platformSetSignalAction) a signal ends the process instead: from the
// pump, or from the handler itself while the program may be held up outside the pump.
#include "platform/loop/loop.h"
#include "platform/runtime.h"
#include "platform/stream/output_stream.h"
#include "platform/window/window_table.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int pipeRead = -1;
int pipeWrite = -1;
bool pending = false;
volatile sig_atomic_t closeCaught = 0;
volatile sig_atomic_t resizeCaught = 0;
void (*resizeHandler)() = nullptr;
volatile sig_atomic_t signalAction = SIGNALS_CLOSE_WINDOWS;
// The line written when a signal ends start-up, made before it is needed (the handler
// cannot format).
char endLine[128];
size_t endLineLength = 0;

// Ends the process for a signal during start-up. Safe in a signal handler when atOnce.
[[noreturn]] void endForSignal(bool atOnce) {
    if (atOnce) {
        // Written directly: a signal handler cannot take the operator-line queue's path.
        ssize_t written = write(STDERR_FILENO, endLine, endLineLength);
        (void)written; // nothing more can be done for a standard error that does not take it
        _exit(0);
    }
    platform::operatorErrorLine(endLine, endLineLength > 0 ? endLineLength - 1 : 0);
    std::exit(0);
}

// Wakes the pump (async-signal-safe).
void wakePump() {
    int saved = errno;
    char byte = 1;
    ssize_t written = write(pipeWrite, &byte, 1);
    (void)written; // a full pipe already holds a wake-up
    errno = saved;
}

void onSignal(int) {
    if (signalAction == SIGNALS_END_PROCESS_AT_ONCE) {
        endForSignal(true);
    }
    closeCaught = 1;
    wakePump();
}

void onResize(int) {
    resizeCaught = 1;
    wakePump();
}

void drainPipe() {
    char buf[64];
    while (pipeRead >= 0 && read(pipeRead, buf, sizeof(buf)) > 0) {
    }
}

// A close signal caught since the last look becomes pending.
void takeCloseSignal() {
    if (closeCaught != 0) {
        closeCaught = 0;
        pending = true;
    }
}

void onPipeReadable(int, short, void*) {
    drainPipe();
    takeCloseSignal();
    if (resizeCaught != 0 && resizeHandler != nullptr) {
        resizeCaught = 0;
        resizeHandler();
    }
    platform::deliverPendingSignal();
}

// Makes the self-pipe once and watches it; false when no pipe can be had.
bool watchPipe() {
    if (pipeRead < 0) {
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
            return false;
        }
        pipeRead = fds[0];
        pipeWrite = fds[1];
    }
    platformWatchDescriptor(pipeRead, POLLIN, onPipeReadable, nullptr);
    return true;
}

void catchSignal(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

// Top-level windows of this process that have been shown and have no owner (an owned
// window goes with its owner).
bool isCloseTarget(const platform::Window* w) {
    return w->parent == nullptr && w->owner == nullptr && !w->remote && w->visible &&
           !w->destroying;
}

} // namespace

namespace platform {

void deliverPendingSignal() {
    if (!pending) {
        return;
    }
    if (signalAction != SIGNALS_CLOSE_WINDOWS) {
        endForSignal(false);
    }
    std::vector<HWND> targets;
    for (HWND h : topLevelWindows()) {
        Window* w = findWindow(h);
        if (w != nullptr && isCloseTarget(w)) {
            targets.push_back(h);
        }
    }
    if (targets.empty()) {
        return; // stays pending until a window is shown
    }
    pending = false;
    for (HWND h : targets) {
        Window* w = findWindow(h);
        if (w != nullptr && !w->signalled) {
            w->signalled = true; // once per window, however many signals come
            PostMessageA(h, WM_CLOSE, 0, 0);
        }
    }
}

void resetSignals() {
    pending = false;
    signalAction = SIGNALS_CLOSE_WINDOWS;
    drainPipe();
    closeCaught = 0;
    resizeCaught = 0;
    resizeHandler = nullptr;
    if (pipeRead >= 0) {
        platformWatchDescriptor(pipeRead, POLLIN, onPipeReadable, nullptr);
    }
}

bool watchResizeSignal(void (*handler)()) {
    if (!watchPipe()) {
        return false;
    }
    resizeHandler = handler;
    catchSignal(SIGWINCH, onResize);
    return true;
}

} // namespace platform

void platformInstallSignalHandlers() {
    catchSignal(SIGPIPE, SIG_IGN);
    if (!watchPipe()) {
        return;
    }
    catchSignal(SIGINT, onSignal);
    catchSignal(SIGTERM, onSignal);
    catchSignal(SIGHUP, onSignal);
}

void platformSetSignalAction(int newAction) {
    if (endLineLength == 0) {
        int n = std::snprintf(endLine, sizeof endLine, "%s: ended by a signal during start-up\n",
                              program_invocation_short_name);
        endLineLength = n > 0 ? std::strlen(endLine) : 0;
    }
    signalAction = newAction;
    takeCloseSignal();
    if (pending && newAction != SIGNALS_CLOSE_WINDOWS) {
        endForSignal(false);
    }
}
