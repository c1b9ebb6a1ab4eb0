// The station set's storage and its changes. At most 26 entries, so a change moves at
// most a few hundred bytes and a lookup scans one cache line of addresses.
#include "stations/station_set.h"

#include "monitor/monitor.h"
#include "stations/station.h"

#include <cstring>

StationSet stationSet{};

static_assert(STATIONS_MAX == MONITOR_MAX_STATIONS, "the monitor keeps one entry per station");

namespace {

// Where the last lookup found its station: the talker's datagrams look it up one after
// another, so it is tried first. No two entries have one address and port (admission
// comes only after a lookup of them found none), so the hint never hides an earlier one.
int lastFound = 0;

// Moves entries [from, count) by one place: up (+1, making room at from) or down (-1,
// closing the gap at from - 1).
void shiftEntries(int from, int by) {
    const int n = stationSet.count - from;
    if (n <= 0) {
        return;
    }
    std::memmove(&stationSet.addresses[from + by], &stationSet.addresses[from],
                 n * sizeof stationSet.addresses[0]);
    std::memmove(&stationSet.records[from + by], &stationSet.records[from],
                 n * sizeof stationSet.records[0]);
    std::memmove(&stationSet.windows[from + by], &stationSet.windows[from],
                 n * sizeof stationSet.windows[0]);
}

} // namespace

bool stationSetInsert(HWND window, StationRecord* record) {
    if (stationSet.count >= STATIONS_MAX) {
        return false;
    }
    shiftEntries(0, 1);
    ++stationSet.count;
    stationSet.addresses[0] = record->source.sin_addr.s_addr;
    stationSet.records[0] = record;
    stationSet.windows[0] = window;
    monitorStationInserted(record->source.sin_addr.s_addr);
    return true;
}

void stationSetRemove(const StationRecord* record) {
    const int i = stationIndexOf(record);
    if (i < 0) {
        return;
    }
    shiftEntries(i + 1, -1);
    --stationSet.count;
    stationSet.records[stationSet.count] = nullptr;
    stationSet.windows[stationSet.count] = nullptr;
    monitorStationRemoved(i);
}

int stationIndexOf(const StationRecord* record) {
    if (lastFound < stationSet.count && stationSet.records[lastFound] == record) {
        return lastFound;
    }
    for (int i = 0; i < stationSet.count; ++i) {
        if (stationSet.records[i] == record) {
            lastFound = i;
            return i;
        }
    }
    return -1;
}

void stationSetReset() {
    stationSet = StationSet{};
    lastFound = 0;
    monitorStationsCleared();
}

int findStation(const sockaddr_in* address) {
    const uint32_t key = address->sin_addr.s_addr;
    const uint16_t port = ntohs(address->sin_port);
    if (lastFound < stationSet.count && stationSet.addresses[lastFound] == key &&
        stationSet.records[lastFound]->port == port) {
        return lastFound;
    }
    for (int i = 0; i < stationSet.count; ++i) {
        if (stationSet.addresses[i] == key && stationSet.records[i]->port == port) {
            lastFound = i;
            return i;
        }
    }
    return -1;
}
