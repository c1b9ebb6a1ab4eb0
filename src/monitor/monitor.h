// What is happening in the conference: counters, per-station figures and the last talk
// spells, kept in fixed-size storage on the server's one thread. The server tells the
// monitor what happened through the narrow calls below, placed at fixed points of its own
// steps; none of them allocates or makes a system call, so they may sit on the relay path.
// The readers at the end serve the event log, the HTTP view and the terminal's panel.
// The calls carry plain data (a station's index in the station set, addresses, names), so
// the monitor reads no state of the subsystems above it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int MONITOR_MAX_SPELLS = 50;
constexpr int MONITOR_MAX_STATIONS = 26; // as the station set
constexpr int MONITOR_MAX_LINKS = 8;
constexpr size_t MONITOR_NAME_SIZE = 256;      // a name as stations give it, cut to this
constexpr size_t MONITOR_LINK_HOST_SIZE = 256; // a link's host as configured, cut to this

// --- Narrow calls (the server's steps) -----------------------------------------------
// The server is up (both ports open): fixes the start time, opens the event log and, when
// an address is set, the HTTP view. False (with a one-line reason in monitorStartError())
// when the HTTP view cannot listen. / The server is closing: stop event, HTTP view closed.
bool monitorStarted();
void monitorStopping();
const char* monitorStartError();
// The station set put a station (address, network order) at its front, index 0: its entry
// starts active, unnamed, with figures at zero; the entry at index went out (later ones move
// up one); the set was emptied. The monitor's per-station table follows the set this way.
void monitorStationInserted(uint32_t address);
void monitorStationRemoved(int index);
void monitorStationsCleared();
// Admission succeeded for the station at index (its window exists); a new control sender
// was refused (capacity), or denied by the access rules (line: the rule's line in the
// access file).
void monitorJoined(int index);
void monitorRefused(uint32_t address);
// A refused control packet that got no reply (its address was refused less than 10 ticks
// ago, or 20 refusals went out this tick): counted as a refusal and as suppressed; one
// event a tick says how many were left out.
void monitorRefusalSuppressed();
void monitorDenied(const char* name, uint32_t address, int line);
// The control handler set or changed the name of the station at index.
void monitorNamed(int index, const char* name);
// An audio datagram from the station at index was relayed to copies stations (its idle
// count back to 0) / dropped by the talker lock.
void monitorRelayed(int index, int copies);
void monitorFirewalled(int index);
// A datagram not relayed: identical to one relayed in the last two ticks (loop guard); from
// a station muted by the talk limit; beyond its station's rate limit.
void monitorLoop();
void monitorMuted(int index);
void monitorRateLimited(int index);
// The talk limit muted the station at index (it held the talker lock too long without a
// pause); the unnamed limit closed it (no name within the limit's ticks of its admission).
void monitorTalkLimit(int index);
void monitorUnnamedClosed(int index);
// A datagram from an address that is no station; a text datagram; a control packet error.
void monitorUnregistered();
void monitorTextDatagram();
void monitorControlError();
// The flood guard threw away the waiting audio (drained datagrams).
void monitorQueueCleared(int drained);
// The talker lock was taken by the station at index / is free again (on the tick, where
// the talk spell's event is written, or when the talk limit frees it).
void monitorTalker(int index);
void monitorTalkerFree();
// A control packet from the station at index was taken (it was heard: active again, its
// idle count back to 0). / One tick of the station counted one more idle second.
void monitorHeard(int index);
void monitorIdleTick(int index);
// The station at index is closing (its window goes soon), by a BYE, the operator, the
// access rules, a limit or the inactivity timeout; closed by a BYE, by the timeout.
void monitorClosing(int index);
void monitorBye(int index);
void monitorTimedOut(int index);
// A standby beacon or a keep-alive was sent.
void monitorBeaconSent();
void monitorKeepAliveSent();
// The links table holds count links (0: none) / link index (in key order) is now as given:
// its key, host as configured, address (network order), state ("up", "linking",
// "refused") and since when (monitor time). Shown in the status, the metrics and the panel.
void monitorLinkCount(int count);
void monitorLinkShown(int index, int key, const char* host, uint32_t address, const char* state,
                      int64_t sinceMs);
// A link came up (its peer is a station here) / went down (reason: timeout, bye, closed).
void monitorLinkUp(const char* host, uint32_t address);
void monitorLinkDown(const char* host, uint32_t address, const char* reason);
// The status text changed (the main window's title).
void monitorStatusText(const char* text);
// Once per tick: what the relay path gathered is handed on, the HTTP view's timeouts run.
void monitorTick();

// --- Readers ---------------------------------------------------------------------------
// Times are real time in milliseconds since 1970 (UTC).

// What the monitor keeps of one station, at its index in the station set.
struct MonitorStation {
    uint32_t address; // network order
    bool named;
    bool closing; // closed, its window not yet gone
    bool talking; // holds the open talk spell
    int32_t idleTicks;
    int64_t joinedAtMs;
    int64_t lastHeardAtMs;
    uint64_t relayed;             // datagrams relayed from it
    uint64_t firewalled;          // datagrams of it dropped by the talker lock
    uint64_t muted;               // datagrams of it dropped while the talk limit muted it
    uint64_t rateLimited;         // datagrams of it dropped beyond the rate limit
    char name[MONITOR_NAME_SIZE]; // "" while unnamed
};

// A configured link as last shown.
struct MonitorLink {
    int key;
    char host[MONITOR_LINK_HOST_SIZE];
    uint32_t address; // network order
    char state[8];    // "up", "linking" or "refused"
    int64_t sinceMs;
};

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

// The stations in window order: index 0 .. monitorStationCount() - 1; null beyond.
int monitorStationCount();
const MonitorStation* monitorStationAt(int index);
// The talker lock's holder while it is held (network order), false when it is free.
bool monitorTalkerAddress(uint32_t* address);
// The links in key order: 0 .. monitorLinksCount() - 1; null beyond. / The link whose peer
// has address, or null. / How many are up.
int monitorLinksCount();
const MonitorLink* monitorLinkAt(int index);
const MonitorLink* monitorLinkOf(uint32_t address);
int monitorLinksUp();
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
