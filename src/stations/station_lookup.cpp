#include "app/app_state.h"
#include "platform/window/window.h"
#include "stations/station.h"

namespace {

// The station index: open addressing with linear probing over a fixed table that holds
// more entries than the conference can have stations (at most the capacity plus the one
// admitted above it), so a probe sequence is short and no entry is ever refused in
// practice. A window is left out only when the table is at its fill limit; then lookups walk
// the windows until every attached record is indexed again.
constexpr size_t INDEX_SLOTS = 64; // a power of two
constexpr size_t INDEX_FILL_LIMIT = INDEX_SLOTS * 3 / 4;

struct IndexEntry {
    HWND window; // null: free
    const StationRecord* record;
    uint32_t address; // network order
    uint16_t port;    // host order
};

IndexEntry indexTable[INDEX_SLOTS];
size_t indexedCount = 0;  // entries in the table
size_t attachedCount = 0; // records attached (stationIndexAdd less stationIndexRemove)

// Home slot of an address and port.
size_t homeOf(uint32_t address, uint16_t port) {
    uint32_t key = address ^ (static_cast<uint32_t>(port) * 0x10001u);
    return static_cast<size_t>((key * 0x9E3779B1u) >> 26) & (INDEX_SLOTS - 1);
}

// The slot of the window's entry, or INDEX_SLOTS when it has none.
size_t slotOfWindow(HWND window, uint32_t address, uint16_t port) {
    for (size_t i = homeOf(address, port), n = 0; n < INDEX_SLOTS;
         i = (i + 1) & (INDEX_SLOTS - 1), ++n) {
        if (indexTable[i].window == nullptr) {
            return INDEX_SLOTS;
        }
        if (indexTable[i].window == window) {
            return i;
        }
    }
    return INDEX_SLOTS;
}

// Empties slot i and moves later entries of its probe run back, so that every entry stays
// reachable from its home slot without a gap.
void eraseSlot(size_t i) {
    size_t hole = i;
    for (size_t j = (i + 1) & (INDEX_SLOTS - 1); indexTable[j].window != nullptr;
         j = (j + 1) & (INDEX_SLOTS - 1)) {
        size_t home = homeOf(indexTable[j].address, indexTable[j].port);
        // The entry at j may fill the hole when its home is not cyclically in (hole, j].
        bool homeAfterHole = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
        if (!homeAfterHole) {
            indexTable[hole] = indexTable[j];
            hole = j;
        }
    }
    indexTable[hole] = IndexEntry{};
    --indexedCount;
}

// The window of the first entry for the address and port, with its slot; null when none.
const IndexEntry* entryFor(uint32_t address, uint16_t port, size_t* slot) {
    for (size_t i = homeOf(address, port), n = 0; n < INDEX_SLOTS;
         i = (i + 1) & (INDEX_SLOTS - 1), ++n) {
        const IndexEntry& e = indexTable[i];
        if (e.window == nullptr) {
            return nullptr;
        }
        if (e.address == address && e.port == port) {
            *slot = i;
            return &e;
        }
    }
    return nullptr;
}

// The lookup by a walk over the station windows in window order.
HWND walkForStation(uint32_t address, uint16_t port) {
    for (HWND child = GetWindow(mdiClient, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!isStationWindow(child)) {
            continue;
        }
        const StationRecord* record = stationRecordOf(child);
        if (record != nullptr && record->source.sin_addr.s_addr == address &&
            record->port == port) {
            return child;
        }
    }
    return nullptr;
}

} // namespace

void stationIndexAdd(HWND window, const StationRecord* record) {
    ++attachedCount;
    if (window == nullptr || record == nullptr || indexedCount >= INDEX_FILL_LIMIT) {
        return;
    }
    uint32_t address = record->source.sin_addr.s_addr;
    size_t i = homeOf(address, record->port);
    while (indexTable[i].window != nullptr) {
        if (indexTable[i].address == address && indexTable[i].port == record->port) {
            return; // a second record of one address and port: only a walk tells them apart
        }
        i = (i + 1) & (INDEX_SLOTS - 1);
    }
    indexTable[i] = IndexEntry{window, record, address, record->port};
    ++indexedCount;
}

void stationIndexRemove(HWND window, const StationRecord* record) {
    if (attachedCount > 0) {
        --attachedCount;
    }
    if (record == nullptr) {
        return;
    }
    size_t i = slotOfWindow(window, record->source.sin_addr.s_addr, record->port);
    if (i != INDEX_SLOTS) {
        eraseSlot(i);
    }
}

void stationIndexReset() {
    for (IndexEntry& e : indexTable) {
        e = IndexEntry{};
    }
    indexedCount = 0;
    attachedCount = 0;
}

HWND findStationWindow(const sockaddr_in* address, StationRecord** record) {
    StationRecord* held = nullptr;
    HWND window = nullptr;
    if (mdiClient != nullptr) {
        uint32_t key = address->sin_addr.s_addr;
        uint16_t port = ntohs(address->sin_port);
        size_t slot = 0;
        const IndexEntry* e = entryFor(key, port, &slot);
        if (e != nullptr) {
            // The window must still hold the record the entry was made for; an entry that a
            // teardown did not remove is dropped, and the walk decides.
            held = stationRecordOf(e->window);
            if (held == e->record) {
                window = e->window;
            } else {
                eraseSlot(slot);
                if (attachedCount > 0) {
                    --attachedCount;
                }
            }
        }
        if (window == nullptr && (e != nullptr || indexedCount != attachedCount)) {
            // Some attached record is not in the table: the walk decides.
            window = walkForStation(key, port);
            held = window != nullptr ? stationRecordOf(window) : nullptr;
        }
    }
    if (record != nullptr) {
        *record = window != nullptr ? held : nullptr;
    }
    return window;
}
