#include "stations/station_access.h"

#include "access/access.h"
#include "links/links.h"
#include "stations/station.h"
#include "stations/station_set.h"

namespace {

// Closes a denied station as a BYE does; access then holds its address off and tells the
// listener.
void closeDenied(HWND window, StationRecord* record, int line) {
    stationRequestClose(window, record);
    accessDenied(record->name, record->source.sin_addr.s_addr, line);
}

// Runs fn(window, record) for every station that is not closing.
template <typename Fn> void forEachOpenStation(Fn fn) {
    forEachStation([&](StationRecord* record, HWND window) {
        if (record->state != STATION_CLOSING) {
            fn(window, record);
        }
    });
}

// A link is judged by its address and name, never closed for being unnamed (its peer is a
// server of the network, not a forged first packet).
AccessVerdict judge(const StationRecord* record) {
    const bool link = linkOf(record->source.sin_addr.s_addr) != nullptr;
    return accessJudgeStation(record->source.sin_addr.s_addr, record->name,
                              link ? 0 : record->accessTicks);
}

// The stations' walk answers the access rules from program start.
[[maybe_unused]] const bool listening = (accessSetRulesListener(stationsCloseDenied), true);

} // namespace

void stationsCloseDenied() {
    forEachOpenStation([](HWND window, StationRecord* record) {
        AccessVerdict verdict = judge(record);
        if (!verdict.allowed) {
            closeDenied(window, record, verdict.line);
        }
    });
}

void stationsAccessTick() {
    const bool reloaded = accessTick();
    const bool closedKind = accessConferenceClosed();
    forEachOpenStation([&](HWND window, StationRecord* record) {
        if (record->accessTicks < ACCESS_NAMING_TICKS) {
            ++record->accessTicks;
        }
        bool namingDue = closedKind && record->name == nullptr &&
                         record->accessTicks >= ACCESS_NAMING_TICKS &&
                         linkOf(record->source.sin_addr.s_addr) == nullptr;
        if (reloaded || namingDue) {
            AccessVerdict verdict = judge(record);
            if (!verdict.allowed) {
                closeDenied(window, record, verdict.line);
            }
        }
    });
}

bool stationAccessNamed(HWND window, StationRecord* record) {
    if (record->name == nullptr) {
        return false;
    }
    AccessVerdict verdict = accessJudgeStationName(record->name);
    if (verdict.allowed) {
        return false;
    }
    closeDenied(window, record, verdict.line);
    return true;
}
