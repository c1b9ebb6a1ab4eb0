// The loop's private interface to the rest of the platform layer: the clock, the timers,
// the message queue, descriptor watching and signals. Nothing above the platform layer
// includes this file.
#pragma once

#include "platform/types.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"

#include <cstdint>

namespace platform {

// --- Clock (clock.cpp) ---
// Microseconds of the platform clock: CLOCK_MONOTONIC, or the manual clock of tests.
uint64_t nowUs();
// The milliseconds of the latest nowUs reading (no reading of its own): a message's time
// stamp, which the pump's looks keep recent.
DWORD lastReadingMs();
// Back to the real clock and scale 1.
void resetClock();

// --- Timers (timer.cpp) ---
// Puts one WM_TIMER in the queue for each due timer that has none waiting (in due
// order) and moves every due timer's next due time past now (nowUs() read by the caller
// just before, or 0: read it here).
void postDueTimers(uint64_t now = 0);
// The earliest next due time, or UINT64_MAX when no timer runs.
uint64_t nextTimerDueUs();
// The queue took a timer's WM_TIMER out: the timer may post again.
void timerMessageRemoved(HWND hwnd, UINT_PTR id);
// Stops every timer of a window (the window is being removed).
void killWindowTimers(HWND hwnd);
// The clock or the time scale changed: every timer is next due one (new) period from now.
void rebaseTimers();
void resetTimers();

// --- Queue (queue.cpp) ---
// Appends a message; fromTimer marks a timer's own WM_TIMER.
void enqueue(const MSG& msg, bool fromTimer);
// Removes the waiting WM_TIMER of a timer, if any (KillTimer).
void removeTimerMessages(HWND hwnd, UINT_PTR id);
void resetQueue();

// --- Descriptor watching (pump.cpp; platformWatchDescriptor in runtime.h) ---
// An idle-only descriptor is polled only when the pump is about to wait, never by the
// look that every Peek takes: work that must never ride on a busy relay.
void setFdIdleOnly(int fd, bool idleOnly);
// The messages a descriptor's callback may post (first..last). Unless set, a callback posts
// system messages only (below WM_USER): input, WM_COMMAND, WM_CLOSE.
void setFdPosts(int fd, UINT first, UINT last);
// A receive on fd has just found nothing more waiting: until the next poll, and while the
// dispatch that made the receive runs, that is the latest look at it, so a look need not
// poll it again (sourcesMayPost leaves it out). The relay's queue check at the end of the
// dispatch that received the datagram is such a look.
void setFdLooked(int fd);
// The serial of the DispatchMessageA call running now (0: none); each call has its own.
uint64_t dispatchSerial();
// True when a watched descriptor that a look (pollSources(0)) would poll may post a
// message within first..last: one that waits for nothing (its notification is already in
// the queue), is idle-only, or was found empty by a receive since the last poll cannot.
bool sourcesMayPost(UINT first, UINT last);
// Runs the before-sleep hooks (platformAddBeforeSleep); called before the pump blocks.
// True when one of them has more to do (platformBeforeSleepAgain): the pump must not wait.
bool runBeforeSleep();
// Polls the watched descriptors (waiting up to timeoutMs, 0: not at all) and posts due
// timers.
// now: nowUs() as the caller has just read it, or 0 (read here).
void pollSources(int timeoutMs, uint64_t now = 0);
void resetWatches();

// --- Signals (signals.cpp) ---
// Posts a caught signal's WM_CLOSE once a shown top-level window exists.
void deliverPendingSignal();
// Forgets a pending signal and the resize handler, and watches the signal pipe again
// (after resetWatches).
void resetSignals();

} // namespace platform
