// The loop's one timer list. A due window timer puts one WM_TIMER in the queue and none
// more until that message has been taken out; periods missed meanwhile are skipped, not
// made up. A call timer (callAfter) has no window: it runs its function once from the pump.
#include "platform/loop/loop.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT periodMs;
    uint64_t periodUs;
    uint64_t dueUs;
    bool queued;
    void (*fn)() = nullptr; // a call timer: hwnd is nullptr, id is the function
};

std::vector<Timer> timers;
int scale = 1;
uint64_t earliestDueUs = UINT64_MAX; // the smallest dueUs of all timers

void updateEarliest() {
    earliestDueUs = UINT64_MAX;
    for (const Timer& t : timers) {
        earliestDueUs = std::min(earliestDueUs, t.dueUs);
    }
}

uint64_t scaledPeriodUs(UINT periodMs) {
    uint64_t us = static_cast<uint64_t>(periodMs) * 1000u / static_cast<uint64_t>(scale);
    return std::max<uint64_t>(us, 1000u);
}

Timer* findTimer(HWND hwnd, UINT_PTR id) {
    for (Timer& t : timers) {
        if (t.hwnd == hwnd && t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

} // namespace

namespace platform {

void postDueTimers(uint64_t now) {
    if (now == 0) {
        now = nowUs();
    }
    if (now < earliestDueUs) {
        return; // the common case: one comparison
    }
    // Due call timers leave the list before any of them runs, so that a function which
    // sets itself again runs at the next look, not in this one.
    void (*calls[4])() = {};
    size_t callCount = 0;
    std::erase_if(timers, [&](const Timer& t) {
        if (t.fn == nullptr || now < t.dueUs || callCount == std::size(calls)) {
            return false;
        }
        calls[callCount++] = t.fn;
        return true;
    });
    // Due window timers post in the order of their due times (the earlier first, equal
    // ones in the order they were set); each is moved past now as it is handled.
    for (;;) {
        Timer* next = nullptr;
        for (Timer& t : timers) {
            if (t.fn == nullptr && now >= t.dueUs && (next == nullptr || t.dueUs < next->dueUs)) {
                next = &t;
            }
        }
        if (next == nullptr) {
            break;
        }
        if (!next->queued) {
            next->queued = true;
            enqueue(MSG{next->hwnd, WM_TIMER, next->id, 0, static_cast<DWORD>(now / 1000u)}, true);
        }
        uint64_t missed = (now - next->dueUs) / next->periodUs;
        next->dueUs += (missed + 1) * next->periodUs;
    }
    updateEarliest();
    for (size_t i = 0; i < callCount; ++i) {
        calls[i]();
    }
}

uint64_t nextTimerDueUs() {
    return earliestDueUs;
}

void timerMessageRemoved(HWND hwnd, UINT_PTR id) {
    if (Timer* t = findTimer(hwnd, id)) {
        t->queued = false;
    }
}

void killWindowTimers(HWND hwnd) {
    for (const Timer& t : timers) {
        if (t.hwnd == hwnd) {
            removeTimerMessages(hwnd, t.id);
        }
    }
    std::erase_if(timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
    updateEarliest();
}

void rebaseTimers() {
    uint64_t now = nowUs();
    for (Timer& t : timers) {
        t.periodUs = t.fn != nullptr ? t.periodUs : scaledPeriodUs(t.periodMs);
        t.dueUs = now + t.periodUs;
    }
    updateEarliest();
}

void callAfter(void (*fn)(), UINT delayMs) {
    const UINT_PTR id = reinterpret_cast<UINT_PTR>(fn);
    const uint64_t delay = static_cast<uint64_t>(delayMs) * 1000u;
    if (Timer* t = findTimer(nullptr, id)) {
        t->periodUs = delay;
        t->dueUs = nowUs() + delay;
    } else {
        timers.push_back(Timer{nullptr, id, delayMs, delay, nowUs() + delay, false, fn});
    }
    updateEarliest();
}

void cancelCall(void (*fn)()) {
    std::erase_if(timers, [fn](const Timer& t) { return t.fn == fn; });
    updateEarliest();
}

void resetTimers() {
    timers.clear();
    earliestDueUs = UINT64_MAX;
}

} // namespace platform

void platformSetTimeScale(int n) {
    int clamped = std::clamp(n, 1, 1000);
    if (clamped != scale) {
        scale = clamped;
        platform::rebaseTimers();
    }
}

int platformTimeScale() {
    return scale;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT periodMs, void*) {
    platform::Window* w = platform::findWindow(hwnd);
    if (w == nullptr || w->remote || w->destroying || id == 0) {
        return 0;
    }
    uint64_t period = scaledPeriodUs(periodMs);
    uint64_t due = platform::nowUs() + period;
    if (Timer* t = findTimer(hwnd, id)) {
        t->periodMs = periodMs;
        t->periodUs = period;
        t->dueUs = due;
    } else {
        timers.push_back(Timer{hwnd, id, periodMs, period, due, false});
    }
    updateEarliest();
    return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    if (std::erase_if(timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) == 0) {
        return FALSE;
    }
    updateEarliest();
    platform::removeTimerMessages(hwnd, id);
    return TRUE;
}
