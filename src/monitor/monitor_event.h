// One record of the event log: what happened, to whom, when. Built by the monitor on the
// server's thread and handed to the event log and the HTTP view's event stream.
#pragma once

#include "platform/stream/escape.h"

#include <cstddef>
#include <cstdint>

enum class MonitorEventKind {
    Join,
    Refuse,
    Deny,
    Name,
    Bye,
    Timeout,
    Talk,
    QueueClear,
    Start,
    Stop,
    RefuseSuppressed,
    TalkLimit,
    Unnamed,
    LinkUp,
    LinkDown
};

// Longest escaped name: 255 bytes of a name, each at most four after escaping.
constexpr size_t MONITOR_ESCAPED_NAME_SIZE = escapedSize(255);

struct MonitorEvent {
    MonitorEventKind kind;
    int64_t atMs;                         // real time, ms since 1970 (UTC)
    bool hasStation;                      // the record is about one station
    bool named;                           // it had a name (else written "-")
    char name[MONITOR_ESCAPED_NAME_SIZE]; // escaped as for the status line
    uint32_t address;                     // network order (when hasStation)
    int64_t durationMs;                   // talk: the spell's length
    int drained;                          // queue-clear: datagrams thrown away
    int line;                             // deny: the rule's line in the access file
    uint64_t count;                       // refuse-suppressed: refusals left out this tick
    bool hasLink;                         // link-up, link-down: the link's host and address
    char link[MONITOR_ESCAPED_NAME_SIZE]; // the host as configured, escaped
    const char* reason;                   // link-down: timeout, bye, closed
};

// The event's name as written in the log: join, refuse, deny, name, bye, timeout, talk,
// queue-clear, start, stop, refuse-suppressed, talk-limit, unnamed, link-up, link-down.
const char* monitorEventName(MonitorEventKind kind);

// The HTTP view's event stream listens here (null: none). It runs on the server's thread
// after the event log has written the record.
void monitorSetEventListener(void (*listener)(const MonitorEvent& event));
// Further listeners of every record (the control socket's followers), run after the one
// above; at most 4 at once. Adding one that is there already changes nothing; false when
// full.
bool monitorAddEventListener(void (*listener)(const MonitorEvent& event));
void monitorRemoveEventListener(void (*listener)(const MonitorEvent& event));
// The status text listener: runs off the relay path (before the pump sleeps, or at the
// tick) once per status text set since the last run, oldest first.
void monitorSetStatusListener(void (*listener)(const char* text, int64_t atMs));
// Hands the status texts gathered since the last call to the status listener, and the
// queue clears gathered on the relay path to the event log. Runs before the pump sleeps.
void monitorFlush();
