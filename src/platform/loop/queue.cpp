// The thread message queue: posting, sending, peeking, waiting and dispatching.
//
// Peek and Get look at the clock and the watched descriptors (pollSources) before they
// answer, so that due timers and readable sockets are in the queue. Get leaves the look out
// when the message it answers with was already waiting at the latest look (what a look
// would queue goes behind it anyway); with nothing to answer it runs the before-sleep hooks
// and then blocks in that one look, rather than looking once more without waiting first.
//
// The queue is a ring of message slots that grows (doubling) only when it is full, so
// posting and taking allocate nothing once the queue has been as long as it gets.
#include "platform/desktop/desktop.h"
#include "platform/loop/loop.h"
#include "platform/runtime.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace {

struct Queued {
    MSG msg;
    bool fromTimer;
    uint64_t serial; // its place among all messages ever queued
};

constexpr size_t kInitialSlots = 256; // a power of two, as every later size

std::vector<Queued> ring; // capacity: ring.size(); the live entries start at head
size_t head = 0;
size_t count = 0;
bool quitPosted = false;
uint64_t queuedCount = 0;     // messages ever queued: the serial of the latest
uint64_t lookedThrough = 0;   // queuedCount at the latest look at the sources
uint64_t dispatchCount = 0;   // dispatches begun so far
uint64_t currentDispatch = 0; // the serial of the dispatch running now (0: none)

// The i-th waiting message (0: the oldest).
Queued& at(size_t i) {
    return ring[(head + i) & (ring.size() - 1)];
}

void push(const Queued& entry) {
    if (count == ring.size()) {
        std::vector<Queued> larger(ring.empty() ? kInitialSlots : ring.size() * 2);
        for (size_t i = 0; i < count; ++i) {
            larger[i] = at(i);
        }
        ring.swap(larger);
        head = 0;
    }
    ++count;
    at(count - 1) = entry;
}

// Takes the i-th waiting message out; the later ones keep their order.
void eraseAt(size_t i) {
    if (i == 0) {
        head = (head + 1) & (ring.size() - 1);
    } else {
        for (size_t j = i; j + 1 < count; ++j) {
            at(j) = at(j + 1);
        }
    }
    --count;
}

bool matches(const MSG& m, HWND hwnd, UINT filterMin, UINT filterMax) {
    const bool anyMessage = filterMin == 0 && filterMax == 0;
    return (hwnd == nullptr || m.hwnd == hwnd) &&
           (anyMessage || (m.message >= filterMin && m.message <= filterMax));
}

// The position of the first waiting message within the filter (WM_QUIT left out when
// skipQuit), or count when there is none.
size_t findFirst(HWND hwnd, UINT filterMin, UINT filterMax, bool skipQuit) {
    for (size_t i = 0; i < count; ++i) {
        const MSG& m = at(i).msg;
        if (matches(m, hwnd, filterMin, filterMax) && !(skipQuit && m.message == WM_QUIT)) {
            return i;
        }
    }
    return count;
}

// Finds the first waiting message within the filter; takes it out of the queue when
// remove is set.
bool take(MSG* out, HWND hwnd, UINT filterMin, UINT filterMax, bool remove, bool skipQuit) {
    const size_t i = findFirst(hwnd, filterMin, filterMax, skipQuit);
    if (i == count) {
        return false;
    }
    const Queued entry = at(i);
    if (out != nullptr) {
        *out = entry.msg;
    }
    if (remove) {
        eraseAt(i);
        if (entry.fromTimer) {
            platform::timerMessageRemoved(entry.msg.hwnd, entry.msg.wParam);
        }
    }
    return true;
}

// Looks at the clock and the sources (waiting up to timeoutMs), noting which messages were
// waiting when it was done: those it found itself (due timers, notifications) included.
void look(int timeoutMs, uint64_t now = 0) {
    platform::pollSources(timeoutMs, now);
    lookedThrough = queuedCount;
}

// How long the pump may block from now (nowUs): until the next timer is due; with the manual clock
// at most 20 ms of real time, so that the loop looks at the moved clock again.
int waitTimeoutMs(uint64_t now) {
    uint64_t next = platform::nextTimerDueUs();
    int ms = -1;
    if (next != UINT64_MAX) {
        uint64_t wait = next <= now ? 0 : (next - now + 999) / 1000;
        ms = static_cast<int>(std::min<uint64_t>(wait, INT_MAX));
    }
    if (platformClockIsManual() && (ms < 0 || ms > 20)) {
        ms = 20;
    }
    return ms;
}

// Waits for a message within the filter and takes it out. Returns false (no message)
// as soon as stop() is true, when stop is given.
bool waitMessage(MSG* out, HWND hwnd, UINT filterMin, UINT filterMax,
                 const std::function<bool()>* stop) {
    for (;;) {
        if (stop != nullptr && (*stop)()) {
            return false;
        }
        const size_t first = findFirst(hwnd, filterMin, filterMax, false);
        if (first != count) {
            // A message that was waiting at the latest look comes before anything a look
            // would queue now, so the look is left to the first message queued after it
            // (the ticks of 26 station windows cost one look, not 26).
            if (at(first).serial > lookedThrough) {
                look(0);
            }
            return take(out, hwnd, filterMin, filterMax, true, false);
        }
        const bool hooksAgain = platform::runBeforeSleep();
        if (findFirst(hwnd, filterMin, filterMax, false) != count ||
            (stop != nullptr && (*stop)())) {
            continue; // the hooks posted something, or the loop is done
        }
        const uint64_t now = platform::nowUs();
        look(hooksAgain ? 0 : waitTimeoutMs(now), now);
        if (take(out, hwnd, filterMin, filterMax, true, false)) {
            return true;
        }
    }
}

} // namespace

namespace platform {

void enqueue(const MSG& msg, bool fromTimer) {
    push(Queued{msg, fromTimer, ++queuedCount});
}

void removeTimerMessages(HWND hwnd, UINT_PTR id) {
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const Queued& q = at(i);
        if (!(q.fromTimer && q.msg.hwnd == hwnd && q.msg.wParam == id)) {
            at(kept++) = q;
        }
    }
    count = kept;
}

void resetQueue() {
    head = 0;
    count = 0;
    quitPosted = false;
}

void runModalLoop(const std::function<bool()>& done) {
    MSG msg{};
    while (waitMessage(&msg, nullptr, 0, 0, &done)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam)); // the outer loop ends too
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

uint64_t dispatchSerial() {
    return currentDispatch;
}

} // namespace platform

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd != nullptr) {
        platform::Window* w = platform::findWindow(hwnd);
        if (w == nullptr) {
            return FALSE;
        }
        if (w->remote) {
            platform::desktopPost(hwnd, msg, wParam, lParam);
            return TRUE;
        }
    }
    platform::enqueue(MSG{hwnd, msg, wParam, lParam, platform::lastReadingMs()}, false);
    return TRUE;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return platform::callWindowProc(hwnd, msg, wParam, lParam);
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    MSG local{};
    MSG* out = msg != nullptr ? msg : &local;
    waitMessage(out, hwnd, filterMin, filterMax, nullptr);
    return out->message == WM_QUIT ? FALSE : TRUE;
}

// A filtered look polls the descriptors only when one of them could post a message within
// the filter and has not already done so: a backlog of socket notifications costs no poll.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if ((filterMin == 0 && filterMax == 0) || platform::sourcesMayPost(filterMin, filterMax)) {
        look(0);
    } else {
        platform::postDueTimers();
        platform::deliverPendingSignal();
    }
    return take(msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, false) ? TRUE
                                                                                        : FALSE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr) {
        return 0;
    }
    // Each dispatch has a serial of its own while it runs (see dispatchSerial).
    const uint64_t outer = currentDispatch;
    currentDispatch = ++dispatchCount;
    // A message for a window that is gone is dropped here.
    const LRESULT result =
        platform::callWindowProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    currentDispatch = outer;
    return result;
}

void PostQuitMessage(int exitCode) {
    quitPosted = true;
    platform::enqueue(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, GetTickCount()},
                      false);
}

int platformDispatchPending(int limit) {
    look(0);
    int dispatched = 0;
    MSG msg{};
    // WM_QUIT stays in the queue for the message loop that ends on it.
    while (dispatched < limit && take(&msg, nullptr, 0, 0, true, true)) {
        DispatchMessageA(&msg);
        ++dispatched;
    }
    return dispatched;
}

bool platformQuitPosted() {
    return quitPosted;
}
