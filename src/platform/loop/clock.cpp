// The platform clock: CLOCK_MONOTONIC, or a manual clock that tests move by hand; and
// the time scale that divides every timer period.
#include "platform/loop/loop.h"
#include "platform/runtime.h"
#include "platform/window/window.h"

#include <ctime>

namespace {

bool manual = false;
uint64_t manualUs = 0;
uint64_t lastUs = 0; // the latest reading

uint64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

} // namespace

namespace platform {

uint64_t nowUs() {
    lastUs = manual ? manualUs : monotonicUs();
    return lastUs;
}

DWORD lastReadingMs() {
    return static_cast<DWORD>(lastUs / 1000u);
}

void resetClock() {
    manual = false;
    manualUs = 0;
    platformSetTimeScale(1);
}

} // namespace platform

void platformUseManualClock(DWORD startMs) {
    manual = true;
    manualUs = static_cast<uint64_t>(startMs) * 1000u;
    platform::rebaseTimers();
}

void platformAdvanceClock(DWORD ms) {
    if (manual) {
        manualUs += static_cast<uint64_t>(ms) * 1000u;
    }
}

bool platformClockIsManual() {
    return manual;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(platform::nowUs() / 1000u);
}
