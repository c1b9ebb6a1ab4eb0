// The station record and the station window that owns it. The station windows that hold
// a record, in window order, are the station set (stations/station_set.h).
#pragma once

#include "platform/net/winsock.h"
#include "platform/types.h"
#include "platform/window/window.h"
#include "stations/station_set.h"

#include <cstdint>

// state values.
constexpr char STATION_NEW = 0;
constexpr char STATION_ACTIVE = '.';
constexpr char STATION_CLOSING = '-';

constexpr int32_t INACTIVITY_LIMIT_TICKS = 120;
constexpr int32_t KEEPALIVE_PERIOD_TICKS = 20;
constexpr int32_t CLOSED_HOLD_TICKS = 10;

struct StationRecord {
    char state;
    SOCKET audioSocket;
    SOCKET controlSocket;
    int32_t idleTicks;
    sockaddr_in source;   // sender's address, port replaced by the lookup port
    uint16_t port;        // host order; always 5198
    char addressText[16]; // source's IPv4 address in dotted decimal, never changed
    sockaddr_in audioPeer;
    sockaddr_in controlPeer;
    int32_t keepAliveTicks;
    char* name;          // heap text owned by the record, or null
    int32_t accessTicks; // ticks since admission, counted up to a limit by the access rules
    // The station limits ([limits]): ticks since admission while unnamed; the datagrams it
    // may still send this tick (less a large bias while muted, so one test on the relay
    // path sees both) and serverTicks + 1 of the tick they were given for (0: never);
    // muted by the talk limit, and the beacon tick it was last heard on while muted.
    int32_t unnamedTicks;
    int32_t rateLeft;
    uint32_t rateTick;
    int32_t muted;
    uint32_t mutedBeacon;
};

extern int32_t stationCount;
// The admitted stations (not yet torn down) whose name is set: while it equals
// stationCount no station is unnamed, and the relay's walk need not look at names.
extern int32_t namedStationCount;
extern uint32_t closedAddress; // network order
extern int32_t closedHoldTicks;

// Puts the variables above and the station set back to their values at program start
// (records still in the set are not freed). For tests.
void stationsReset();

// A new zero-filled record for the sender (state 0, sockets invalid, counters 0, no name,
// addressText dotted decimal); null when no memory is left.
StationRecord* newStationRecord(const sockaddr_in* source);
// Releases a record that no window owns (its name too); closes nothing.
void releaseStationRecord(StationRecord* record);

// Closes the station the way a BYE does: state '-' and WM_CLOSE to its window, whose
// handling holds the address off for CLOSED_HOLD_TICKS and destroys it. The one close path
// of a BYE, the access rules, the unnamed limit and the operator.
void stationRequestClose(HWND window, StationRecord* record);

// Window procedure of class IServeClient.
LRESULT stationWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The record in a window's slot 0, or null. Inline: the relay reads it for every station.
inline StationRecord* stationRecordOf(HWND window) {
    return reinterpret_cast<StationRecord*>(GetWindowLongPtrA(window, 0));
}
// True for a window whose procedure is the station window procedure.
inline bool isStationWindow(HWND window) {
    return GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(stationWindowProc);
}

// True while a station that an operator's command picked is still connected: window is still
// a station window, its record has address (dotted decimal) and is not closing.
bool stationStillThere(HWND window, const char* address);

// Lookup port of a datagram received on a socket: 5198 for the two listening sockets and
// the invalid socket, 0 (matches nothing) for any other.
uint16_t serverPortOf(SOCKET s);

// Sends one datagram to the station's control port (connected send, or with controlPeer as
// destination in unconnected mode); the result is not looked at.
void sendToStation(StationRecord* record, const uint8_t* bytes, int length);
