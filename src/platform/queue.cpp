// The thread message queue: posting, sending, peeking, waiting and dispatching.
//
// Peek and Get first look at the clock and the watched descriptors (pollSources), so
// that due timers and readable sockets are in the queue before they answer.
#include "platform/core.h"
#include "platform/internal.h"
#include "platform/runtime.h"
#include "platform/window.h"
#include "platform/window_table.h"

#include <algorithm>
#include <climits>
#include <deque>

namespace {

struct Queued {
    MSG msg;
    bool fromTimer;
};

std::deque<Queued> queue;
bool quitPosted = false;

bool matches(const MSG& m, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (hwnd != nullptr && m.hwnd != hwnd) {
        return false;
    }
    if (filterMin == 0 && filterMax == 0) {
        return true;
    }
    return m.message >= filterMin && m.message <= filterMax;
}

// Finds the first waiting message within the filter (WM_QUIT left out when skipQuit);
// takes it out of the queue when remove is set.
bool take(MSG* out, HWND hwnd, UINT filterMin, UINT filterMax, bool remove, bool skipQuit) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!matches(it->msg, hwnd, filterMin, filterMax) ||
            (skipQuit && it->msg.message == WM_QUIT)) {
            continue;
        }
        Queued entry = *it;
        if (out != nullptr) {
            *out = entry.msg;
        }
        if (remove) {
            queue.erase(it);
            if (entry.fromTimer) {
                platform::timerMessageRemoved(entry.msg.hwnd, entry.msg.wParam);
            }
        }
        return true;
    }
    return false;
}

// How long the pump may block: until the next timer is due; with the manual clock at
// most 20 ms of real time, so that the loop looks at the moved clock again.
int waitTimeoutMs() {
    uint64_t next = platform::nextTimerDueUs();
    uint64_t now = platform::nowUs();
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
        platform::pollSources(0);
        if (take(out, hwnd, filterMin, filterMax, true, false)) {
            return true;
        }
        if (stop != nullptr && (*stop)()) {
            return false;
        }
        platform::runBeforeSleep();
        platform::frontEnd()->idle();
        platform::pollSources(waitTimeoutMs());
    }
}

} // namespace

namespace platform {

void enqueue(const MSG& msg, bool fromTimer) {
    queue.push_back(Queued{msg, fromTimer});
}

void removeTimerMessages(HWND hwnd, UINT_PTR id) {
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [hwnd, id](const Queued& q) {
                                   return q.fromTimer && q.msg.hwnd == hwnd && q.msg.wParam == id;
                               }),
                queue.end());
}

void resetQueue() {
    queue.clear();
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
    platform::enqueue(MSG{hwnd, msg, wParam, lParam, GetTickCount()}, false);
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

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    platform::pollSources(0);
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
    // A message for a window that is gone is dropped here.
    return platform::callWindowProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
    quitPosted = true;
    platform::enqueue(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, GetTickCount()},
                      false);
}

int platformDispatchPending(int limit) {
    platform::pollSources(0);
    int count = 0;
    MSG msg{};
    // WM_QUIT stays in the queue for the message loop that ends on it.
    while (count < limit && take(&msg, nullptr, 0, 0, true, true)) {
        DispatchMessageA(&msg);
        ++count;
    }
    return count;
}

bool platformQuitPosted() {
    return quitPosted;
}
