// Controls of the platform layer with no Windows counterpart: the clock, the time scale,
// profile file paths, signals, panels, descriptors and the hooks of tests.
#pragma once

#include "platform/types.h"

#include <cstddef>

// Replaces the real clock by a manual one that starts at startMs and moves only with
// platformAdvanceClock. Timers and GetTickCount follow it.
void platformUseManualClock(DWORD startMs);
void platformAdvanceClock(DWORD ms);
bool platformClockIsManual();

// Every timer runs n times faster (1 to 1000; other values are clamped).
void platformSetTimeScale(int n);
int platformTimeScale();

// Private-profile files: a bare file name equal to bareName resolves to path. Other bare
// names resolve to the configuration directory ($XDG_CONFIG_HOME, else ~/.config).
void platformSetProfileFile(const char* bareName, const char* path);
// The path that a private-profile file name resolves to, cut to size - 1 characters.
void platformProfilePath(const char* fileName, char* buf, size_t size);

// Minimised mode writes each change of a shown captioned top-level window's title to
// standard output as "YYYY-MM-DD HH:MM:SS.mmm TEXT" (escaped), never waiting: a bounded
// queue (64 KiB) drops the oldest lines when full and then says "... N status lines lost".
// A hook, when set, receives the text (unescaped) instead.
void platformSetStatusHook(void (*hook)(const char* text));

// Writes one line (given without its line end, already escaped) to standard error without
// waiting: what the reader does not take now waits in a bounded queue, flushed from the pump.
void platformErrorLine(const char* line, size_t length);

// One line for the operator on standard error: "confserver: " and text, escaped so that it
// stays one line, bounded. Written at once (waiting at most a moment for room) in minimised
// mode; while the terminal window is up, kept and written after the terminal is given back.
// A hook, when set (tests), receives the escaped text (without the prefix) instead.
void platformOperatorLine(const char* text);
// The same, formatted (printf) from parts that are escaped already (names escaped where
// they came in), cut to the line's bound.
void platformOperatorLinef(const char* format, ...) __attribute__((format(printf, 1, 2)));
void platformSetOperatorLineHook(void (*hook)(const char* text));

// Message boxes are answered by the hook instead of the front end, when it is set.
void platformSetMessageBoxHook(int (*hook)(HWND owner, const char* text, const char* caption,
                                           UINT type));

// Catches SIGINT, SIGTERM and SIGHUP from now on. Each one posts WM_CLOSE to the shown
// top-level windows as soon as a message loop runs (at once if one is running). SIGPIPE is
// ignored from now on, for the whole process: a closed pipe is a failed write, never the end.
void platformInstallSignalHandlers();

// What a caught SIGINT, SIGTERM or SIGHUP does. Start-up, before the program has anything
// to close, ends the process instead: one line on standard error, then exit code 0.
enum SignalAction {
    SIGNALS_CLOSE_WINDOWS,       // WM_CLOSE to the shown top-level windows (the default)
    SIGNALS_END_PROCESS,         // exit() as soon as the pump looks (in every modal loop too),
                                 // so exit handlers run and a terminal is given back
    SIGNALS_END_PROCESS_AT_ONCE, // _exit() in the handler itself, whatever the program is
                                 // waiting for; only while nothing needs an exit handler
};
// A signal that is already waiting is acted on by the new action.
void platformSetSignalAction(int action);

// Dispatches what is waiting now (clock and descriptors looked at first), including what
// is posted meanwhile, up to limit messages; returns the number dispatched.
int platformDispatchPending(int limit);

// The one way to watch a descriptor, for every layer: ready(fd, revents, data) runs on the
// server's one thread, from the pump, when poll reports one of events (POLLIN, POLLOUT) or
// POLLHUP/POLLERR for it. Replaces an earlier watch of fd.
using DescriptorReady = void (*)(int fd, short revents, void* data);
void platformWatchDescriptor(int fd, short events, DescriptorReady ready, void* data);
// Changes what is waited for on a watched descriptor (0: nothing for now, not polled).
void platformSetDescriptorEvents(int fd, short events);
void platformUnwatchDescriptor(int fd);
// The one list of work before sleep: fn(context) runs each time before the pump blocks
// waiting (work that gathers up while the server is busy: output to flush, a screen to
// draw, a file read in steps), in the order added. At most 8 hooks; adding one that is
// there already changes nothing; false when full.
bool platformAddBeforeSleep(void (*fn)(void* context), void* context);
void platformRemoveBeforeSleep(void (*fn)(void* context), void* context);
// Called by a hook that has more to do: the pump then looks at its sources without waiting
// and runs the hooks again before it sleeps.
void platformBeforeSleepAgain();

// True once WM_QUIT has been taken from the queue or is waiting in it.
bool platformQuitPosted();

// Destroys every window, empties the queue, stops every timer, unregisters the classes
// and restores the defaults (real clock, scale 1, no hooks). For tests.
void platformReset();
