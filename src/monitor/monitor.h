// What is happening in the conference: counters, per-station figures and the last talk
// spells, kept in fixed-size storage on the server's one thread. The server tells the
// monitor what happened through the narrow calls below, placed at fixed points of its own
// steps; none of them allocates or makes a system call, so they may sit on the relay path.
// The readers at the end serve the event log, the HTTP view and the terminal's panel.
#pragma once

#include <cstddef>
#include <cstdint>

struct StationRecord;
struct StationFigures;

constexpr int MONITOR_MAX_SPELLS = 50;

// --- Narrow calls (the server's steps) -----------------------------------------------
// The server is up (both ports open): fixes the start time, opens the event log and, when
// an address is set, the HTTP view. False (with a one-line reason in monitorStartError())
// when the HTTP view cannot listen. / The server is closing: stop event, HTTP view closed.
bool monitorStarted();
void monitorStopping();
const char* monitorStartError();
// Admission succeeded for record (its window exists); a new control sender was refused
// (capacity), or denied by the access rules (line: the rule's line in the access file).
void monitorJoined(const StationRecord* record);
void monitorRefused(uint32_t address);
// A refused control packet that got no reply (its address was refused less than 10 ticks
// ago, or 20 refusals went out this tick): counted as a refusal and as suppressed; one
// event a tick says how many were left out.
void monitorRefusalSuppressed();
void monitorDenied(const char* name, uint32_t address, int line);
// The control handler set or changed the station's name.
void monitorNamed(const StationRecord* record);
// An audio datagram from record was relayed to copies stations / dropped by the talker lock.
void monitorRelayed(const StationRecord* record, int copies);
void monitorFirewalled(const StationRecord* record);
// A datagram not relayed: identical to one relayed in the last two ticks (loop guard); from
// a station muted by the talk limit; beyond its station's rate limit.
void monitorLoop();
void monitorMuted(const StationRecord* record);
void monitorRateLimited(const StationRecord* record);
// The talk limit muted record (it held the talker lock too long without a pause); the
// unnamed limit closed it (no name within the limit's ticks of its admission).
void monitorTalkLimit(const StationRecord* record);
void monitorUnnamedClosed(const StationRecord* record);
// A datagram from an address that is no station; a text datagram; a control packet error.
void monitorUnregistered();
void monitorTextDatagram();
void monitorControlError();
// The flood guard threw away the waiting audio (drained datagrams).
void monitorQueueCleared(int drained);
// The talker lock was taken by record, or is free again (record null; on the tick, where
// the talk spell's event is written).
void monitorTalker(const StationRecord* record);
// A control packet from record was taken (it was heard).
void monitorHeard(const StationRecord* record);
// A station closed by a BYE, by the inactivity timeout; its record goes away.
void monitorBye(const StationRecord* record);
void monitorTimedOut(const StationRecord* record);
void monitorGone(const StationRecord* record);
// A standby beacon or a keep-alive was sent.
void monitorBeaconSent();
void monitorKeepAliveSent();
// A link came up (its peer is a station here) / went down (reason: timeout, bye, closed);
// any other change of the links (state, table) that the panel shows.
void monitorLinkUp(const char* host, uint32_t address);
void monitorLinkDown(const char* host, uint32_t address, const char* reason);
void monitorLinkChanged();
// The status text changed (the main window's title).
void monitorStatusText(const char* text);
// Once per tick: what the relay path gathered is handed on, the HTTP view's timeouts run.
void monitorTick();

// --- Readers ---------------------------------------------------------------------------
// Times are real time in milliseconds since 1970 (UTC).
constexpr size_t MONITOR_NAME_SIZE = 256; // a spell keeps its talker's name, cut to this

struct MonitorSpell {
    char name[MONITOR_NAME_SIZE]; // "" while the talker had no name
    uint32_t address;             // network order
    int64_t startedAtMs;
    int64_t durationMs; // so far, while open
    bool open;          // the talker still holds the lock
};

struct MonitorCounters {
    uint64_t relayed, copiesSent, firewalled, unregistered, textDatagrams, queueClears, drained,
        controlErrors, joins, refusals, denials, timeouts, byes, beacons, keepalives, loops, muted,
        rateLimited, refusalsSuppressed;
};

// The figures of the station whose record this is (kept in the station set at its index),
// or null.
const StationFigures* monitorFiguresOf(const StationRecord* record);
// The talk spells, newest first: index 0 .. monitorSpellCount() - 1 (at most 50).
int monitorSpellCount();
const MonitorSpell* monitorSpell(int newestFirst);
const MonitorCounters& monitorCounters();
// Real time now (ms since 1970, UTC) and when monitorStarted ran.
int64_t monitorNowMs();
int64_t monitorStartedAtMs();
// The last status text set ("" before the first).
const char* monitorLastStatus();

// --- Set-up ----------------------------------------------------------------------------
// The wall clock read once when the monitor starts (and by monitorReset); later times are
// that reading plus the platform's GetTickCount since, so the relay path reads only the
// monotonic clock (no kernel entry) and a manual clock moves every figure. Tests fix it.
void monitorSetWallClock(int64_t (*nowMs)());
// Listens for the HTTP view on address ("A.B.C.D:PORT"; empty or null: off). The command
// line sets it; otherwise monitorStarted takes [monitor] http from the configuration file.
void monitorSetHttpAddress(const char* address);
// The terminal window draws where standard error goes: event lines are not written there
// from now on (the journal, when it is standard error, still gets every record).
void monitorQuietStandardError();
// Forgets every figure, counter, spell and set-up (for tests; the clock hook stays unless
// reset to null).
void monitorReset();
