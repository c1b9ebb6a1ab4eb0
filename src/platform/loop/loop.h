// Private interfaces between the files of the window core (clock, timers, queue,
// signals, front ends, dialogs, drawing objects). Nothing above the platform layer
// includes this file.
#pragma once

#include "platform/types.h"
#include "platform/window/window.h"

#include <cstdint>

namespace platform {

// --- Clock (clock.cpp) ---
// Microseconds of the platform clock: CLOCK_MONOTONIC, or the manual clock of tests.
uint64_t nowUs();
// Back to the real clock and scale 1.
void resetClock();

// --- Timers (timer.cpp) ---
// Puts one WM_TIMER in the queue for each due timer that has none waiting (in due
// order) and moves every due timer's next due time past now.
void postDueTimers();
// The earliest next due time, or UINT64_MAX when no timer runs.
uint64_t nextTimerDueUs();
// The queue took a timer's WM_TIMER out: the timer may post again.
void timerMessageRemoved(HWND hwnd, UINT_PTR id);
// Stops every timer of a window (the window is being removed).
void killWindowTimers(HWND hwnd);
// The clock or the time scale changed: every timer is next due one (new) period from now.
void rebaseTimers();
// Every period is divided by this (1 to 1000).
int timeScale();
void resetTimers();

// --- Queue (queue.cpp) ---
// Appends a message; fromTimer marks a timer's own WM_TIMER.
void enqueue(const MSG& msg, bool fromTimer);
// Removes the waiting WM_TIMER of a timer, if any (KillTimer).
void removeTimerMessages(HWND hwnd, UINT_PTR id);
void resetQueue();

// --- Descriptor watching (pump.cpp) ---
void resetWatches();

// --- Signals (signals.cpp) ---
// Posts a caught signal's WM_CLOSE once a shown top-level window exists.
void deliverPendingSignal();
// Forgets a pending signal and watches the signal pipe again (after resetWatches).
void resetSignals();

// --- Front ends (frontend.cpp, frontend_minimised.cpp) ---
class FrontEnd;
void resetFrontEnd();
// The default front end (minimised mode); reset forgets what it has written.
FrontEnd* minimisedFrontEnd();
void resetMinimisedFrontEnd();
// The status hook set by tests, or nullptr.
using StatusHook = void (*)(const char* text);
StatusHook statusHook();

// --- Dialogs and drawing objects (dialog.cpp, gdi.cpp) ---
void resetDialogs();
void resetGdi();

} // namespace platform
