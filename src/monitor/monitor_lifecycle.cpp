// The monitor's clock, start and stop, the hand-off of events to the event log and the
// event stream, and the status texts gathered for the event stream.
#include "base/status_text.h"
#include "config/config.h"
#include "monitor/event_log.h"
#include "monitor/monitor_internal.h"
#include "monitor/monitor_view.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/window/window.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// The monitor observes the status text from program start, before any step sets one.
[[maybe_unused]] const bool observesStatusText = (setStatusTextObserver(monitorStatusText), true);

int64_t realWallClockMs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t (*wallClock)() = realWallClockMs;
int64_t wallBaseMs = 0;
DWORD tickBase = 0;
int64_t startedAtMs = 0;
bool started = false;

constexpr size_t HTTP_ADDRESS_SIZE = 64;
char httpAddress[HTTP_ADDRESS_SIZE] = ""; // from the command line; "" lets the file decide
bool httpAddressGiven = false;
char startError[320] = "";

void (*eventListener)(const MonitorEvent&) = nullptr;
void (*statusListener)(const char*, int64_t) = nullptr;
constexpr int EXTRA_LISTENERS_MAX = 4;
void (*extraListeners[EXTRA_LISTENERS_MAX])(const MonitorEvent&) = {};

// Status texts set since the last flush, oldest first; when more come than fit, the
// oldest waiting ones give way (the event stream shows the latest state, never a stale one).
constexpr int STATUS_WAITING_MAX = 16;
constexpr size_t STATUS_TEXT_SIZE = 128;
struct WaitingStatus {
    char text[STATUS_TEXT_SIZE];
    int64_t atMs;
};
WaitingStatus waitingStatus[STATUS_WAITING_MAX];
int waitingFirst = 0;
int waitingCount = 0;
char lastStatus[STATUS_TEXT_SIZE] = "";

bool startWaiting = false; // the start event waits for the first flush: the loop runs

// The start event is written once the loop runs (after the first status line), or before
// the first other event, whichever comes first.
void emitStartWaiting() {
    if (startWaiting) {
        startWaiting = false;
        MonitorEvent event{};
        event.kind = MonitorEventKind::Start;
        event.atMs = startedAtMs;
        monitorEmit(event);
    }
}
int waitingQueueClears = 0;
int waitingDrained = 0;
uint64_t waitingSuppressed = 0; // refusals left out since the last tick

// One event a tick counts the refusals that got no reply and no event of their own.
void emitSuppressedRefusals() {
    if (waitingSuppressed == 0) {
        return;
    }
    MonitorEvent event{};
    event.kind = MonitorEventKind::RefuseSuppressed;
    event.atMs = monitorNowMs();
    event.count = waitingSuppressed;
    waitingSuppressed = 0;
    monitorEmit(event);
}

void flushHook(void*) {
    monitorFlush();
}

// Reads the wall clock once: later times count from here on the monotonic clock.
void rebaseClock() {
    wallBaseMs = wallClock();
    tickBase = GetTickCount();
}

} // namespace

int64_t monitorNowMs() {
    return wallBaseMs + static_cast<int64_t>(static_cast<DWORD>(GetTickCount() - tickBase));
}

int64_t monitorStartedAtMs() {
    return startedAtMs;
}

void monitorSetWallClock(int64_t (*nowMs)()) {
    wallClock = nowMs != nullptr ? nowMs : realWallClockMs;
    rebaseClock();
}

void monitorSetHttpAddress(const char* address) {
    httpAddressGiven = address != nullptr;
    std::snprintf(httpAddress, sizeof httpAddress, "%s", address != nullptr ? address : "");
}

const char* monitorStartError() {
    return startError;
}

void monitorEventStation(MonitorEvent* event, const char* name, uint32_t address) {
    event->hasStation = true;
    event->named = name != nullptr;
    if (name != nullptr) {
        escapeText(name, event->name, sizeof event->name);
    } else {
        std::snprintf(event->name, sizeof event->name, "-");
    }
    event->address = address;
}

void monitorSetEventListener(void (*listener)(const MonitorEvent&)) {
    eventListener = listener;
}

bool monitorAddEventListener(void (*listener)(const MonitorEvent&)) {
    for (auto& slot : extraListeners) {
        if (slot == listener) {
            return true;
        }
    }
    for (auto& slot : extraListeners) {
        if (slot == nullptr) {
            slot = listener;
            return true;
        }
    }
    return false;
}

void monitorRemoveEventListener(void (*listener)(const MonitorEvent&)) {
    for (auto& slot : extraListeners) {
        if (slot == listener) {
            slot = nullptr;
        }
    }
}

void monitorSetStatusListener(void (*listener)(const char*, int64_t)) {
    statusListener = listener;
}

void monitorEmit(const MonitorEvent& event) {
    if (event.kind != MonitorEventKind::Start) {
        emitStartWaiting();
    }
    eventLogWrite(event);
    if (eventListener != nullptr) {
        eventListener(event);
    }
    for (auto* listener : extraListeners) {
        if (listener != nullptr) {
            listener(event);
        }
    }
}

void monitorNoteQueueClear(int drained) {
    ++waitingQueueClears;
    waitingDrained += drained;
}

void monitorNoteRefusalSuppressed() {
    ++waitingSuppressed;
}

void monitorStatusText(const char* text) {
    if (text == nullptr || std::strncmp(text, lastStatus, sizeof lastStatus - 1) == 0) {
        return;
    }
    std::strncpy(lastStatus, text, sizeof lastStatus - 1);
    int slot = (waitingFirst + waitingCount) % STATUS_WAITING_MAX;
    if (waitingCount == STATUS_WAITING_MAX) {
        waitingFirst = (waitingFirst + 1) % STATUS_WAITING_MAX;
    } else {
        ++waitingCount;
    }
    std::memcpy(waitingStatus[slot].text, lastStatus, sizeof lastStatus);
    waitingStatus[slot].atMs = monitorNowMs();
}

const char* monitorLastStatus() {
    return lastStatus;
}

void monitorFlush() {
    emitStartWaiting();
    if (waitingQueueClears > 0) {
        MonitorEvent event{};
        event.kind = MonitorEventKind::QueueClear;
        event.atMs = monitorNowMs();
        event.drained = waitingDrained;
        waitingQueueClears = 0;
        waitingDrained = 0;
        monitorEmit(event);
    }
    while (waitingCount > 0) {
        WaitingStatus& status = waitingStatus[waitingFirst];
        waitingFirst = (waitingFirst + 1) % STATUS_WAITING_MAX;
        --waitingCount;
        if (statusListener != nullptr) {
            statusListener(status.text, status.atMs);
        }
    }
}

void monitorQuietStandardError() {
    eventLogQuietStandardError();
}

void monitorTick() {
    emitSuppressedRefusals();
    monitorFlush();
    monitorHttpTick();
}

bool monitorStarted() {
    rebaseClock();
    startedAtMs = monitorNowMs();
    startError[0] = '\0';
    eventLogOpen();
    char node[64];
    char description[64];
    GetPrivateProfileStringA("callsign", "user", "", node, sizeof node, CONFIG_FILE);
    GetPrivateProfileStringA("callsign", "desc", "", description, sizeof description, CONFIG_FILE);
    monitorSetServerNames(node, description);
    char address[HTTP_ADDRESS_SIZE];
    std::snprintf(address, sizeof address, "%s", httpAddress);
    if (!httpAddressGiven) {
        GetPrivateProfileStringA("monitor", "http", "", address, sizeof address, CONFIG_FILE);
    }
    if (address[0] != '\0' && !monitorHttpOpen(address, startError, sizeof startError)) {
        return false;
    }
    platformAddBeforeSleep(flushHook, nullptr);
    started = true;
    startWaiting = true;
    return true;
}

void monitorStopping() {
    if (!started) {
        return;
    }
    started = false;
    emitSuppressedRefusals();
    monitorFlush();
    MonitorEvent event{};
    event.kind = MonitorEventKind::Stop;
    event.atMs = monitorNowMs();
    monitorEmit(event);
    monitorFlush();
    platformRemoveBeforeSleep(flushHook, nullptr);
    monitorHttpClose();
}

void monitorReset() {
    if (started) {
        platformRemoveBeforeSleep(flushHook, nullptr);
        monitorHttpClose();
    }
    started = false;
    monitorResetFigures();
    rebaseClock();
    startedAtMs = wallBaseMs;
    httpAddress[0] = '\0';
    httpAddressGiven = false;
    startError[0] = '\0';
    waitingFirst = 0;
    waitingCount = 0;
    lastStatus[0] = '\0';
    waitingQueueClears = 0;
    waitingDrained = 0;
    waitingSuppressed = 0;
    startWaiting = false;
    eventListener = nullptr;
    for (auto& slot : extraListeners) {
        slot = nullptr;
    }
    statusListener = nullptr;
    eventLogReset();
}
