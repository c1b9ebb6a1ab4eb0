// The station set: the station windows that hold a record, in window order (newest first,
// as a new MDI child goes to the front), in one fixed array of at most 26. Every walk and
// lookup of the server goes through it; the monitor keeps its per-station figures at the
// same index, told of each insert and removal, so they move with the station.
#pragma once

#include "platform/net/winsock.h"
#include "platform/types.h"

#include <cstdint>

struct StationRecord;

// The most stations the server holds at once: the capacity's limit of 25 plus the one that
// admission lets in above it.
constexpr int STATIONS_MAX = 26;

// The set as parallel arrays; entries 0 .. count - 1 are valid. addresses[i] is the IPv4
// address (network order) of records[i], packed so that findStation scans one short row.
struct StationSet {
    int count;
    uint32_t addresses[STATIONS_MAX];
    StationRecord* records[STATIONS_MAX];
    HWND windows[STATIONS_MAX];
};

extern StationSet stationSet;

// Puts the window and its record at the front (the window was just made, in front of the
// MDI client's children); its figures start at zero. False when the set is full.
bool stationSetInsert(HWND window, StationRecord* record);
// Takes the record's entry out (its window is going, or admission gave up); later entries
// move up one. No entry is no change.
void stationSetRemove(const StationRecord* record);
// Index of the record's entry, or -1.
int stationIndexOf(const StationRecord* record);
// The window of the station at index in window order, or null beyond the set.
inline HWND stationWindowAt(int index) {
    return index >= 0 && index < stationSet.count ? stationSet.windows[index] : nullptr;
}
// Empties the set (the server's state is started afresh).
void stationSetReset();

// Index of the first station in window order whose record has the address's IPv4 address
// and whose port equals the address's port (host order of it), or -1.
int findStation(const sockaddr_in* address);

// Calls visit(record, window) for every station in window order. A visit may take stations
// out of the set (its own or others): the walk goes on after the station it visited, or
// at the one that followed it when that one went. No visit adds a station.
template <typename Visit> void forEachStation(Visit visit) {
    for (int i = 0; i < stationSet.count;) {
        StationRecord* record = stationSet.records[i];
        StationRecord* follower = i + 1 < stationSet.count ? stationSet.records[i + 1] : nullptr;
        visit(record, stationSet.windows[i]);
        if (i < stationSet.count && stationSet.records[i] == record) {
            ++i;
            continue;
        }
        int at = stationIndexOf(record);
        if (at >= 0) {
            i = at + 1;
        } else if (follower != nullptr && (at = stationIndexOf(follower)) >= 0) {
            i = at;
        } // else both went: the entries after them moved up to i
    }
}
