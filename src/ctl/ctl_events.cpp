// events: every event-log record, as a line with its local time, to each client that
// follows the log. A client that does not read is dropped when its buffer is full.
#include "ctl/ctl_internal.h"
#include "monitor/event_log.h"
#include "monitor/monitor_event.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr size_t EVENT_LINE_SIZE = MONITOR_ESCAPED_NAME_SIZE + 128;

// "YYYY-MM-DD HH:MM:SS.mmm " of ms since 1970, local time.
size_t timePrefix(int64_t ms, char* out, size_t size) {
    time_t seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    int n = std::snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900,
                          local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec, static_cast<int>(ms % 1000));
    return n > 0 && static_cast<size_t>(n) < size ? static_cast<size_t>(n) : 0;
}

void onEvent(const MonitorEvent& event) {
    char line[EVENT_LINE_SIZE];
    size_t length = timePrefix(event.atMs, line, sizeof line);
    length += eventLogLine(event, line + length, sizeof line - length - 1);
    line[length++] = '\n';
    for (int slot = 0; slot < CTL_CLIENTS_MAX; ++slot) {
        if (ctlClientFollowing(slot)) {
            ctlClientSend(slot, line, length);
        }
    }
}

} // namespace

void ctlEventsStart() {
    monitorAddEventListener(onEvent);
}

void ctlEventsStop() {
    monitorRemoveEventListener(onEvent);
}
