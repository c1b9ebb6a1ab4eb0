#include "control/control_handler.h"

#include "access/access.h"
#include "base/address_guard.h"
#include "base/app_state.h"
#include "base/status_text.h"
#include "control/rtcp.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/window/window.h"
#include "stations/admission.h"
#include "stations/station.h"
#include "stations/station_access.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int CONTROL_BUFFER_SIZE = 3624;
constexpr int CONTROL_PACKET_MIN = 5;

// The handler's own receive buffer: it can run nested inside the audio relay's queue turn,
// whose datagram must survive that.
uint8_t controlBuffer[CONTROL_BUFFER_SIZE];

// Closes the first station (in window order) with the sender's address text.
void closeStationByAddress(const char* addressText) {
    for (int i = 0; i < stationSet.count; ++i) {
        if (std::strcmp(stationSet.records[i]->addressText, addressText) == 0) {
            controlCloseStation(stationSet.windows[i]);
            return;
        }
    }
}

// Names the station from the compound's source-description items, when they offer a name
// that differs from the one it has. True when the name was set or changed.
bool nameStation(StationRecord* record, const uint8_t* packet, int length) {
    SdesItemTable table = namingItemTable();
    if (!rtcpGetSdesItems(packet, length, &table)) {
        return false;
    }
    char displayName[256] = "";
    if (table.entries[1].item != nullptr) {
        sdesItemText(table.entries[1].item, displayName);
    } else if (table.entries[2].item != nullptr) {
        sdesItemText(table.entries[2].item, displayName);
    } else if (table.entries[0].item != nullptr) {
        sdesItemText(table.entries[0].item, displayName);
    }
    if (record->name != nullptr && std::strcmp(record->name, displayName) == 0) {
        return false;
    }
    const bool wasNamed = record->name != nullptr;
    std::free(record->name);
    record->name = nullptr;
    size_t size = std::strlen(displayName) + 1;
    auto* name = static_cast<char*>(std::calloc(size, 1));
    if (name == nullptr) {
        namedStationCount -= wasNamed ? 1 : 0;
        return false;
    }
    std::memcpy(name, displayName, size);
    record->name = name;
    namedStationCount += wasNamed ? 0 : 1;
    monitorNamed(stationIndexOf(record), record->name);
    return true;
}

} // namespace

void controlCloseStation(HWND window) {
    StationRecord* record = stationRecordOf(window);
    if (record == nullptr) {
        return;
    }
    monitorBye(stationIndexOf(record));
    stationRequestClose(window, record);
}

void controlCloseDeniedStation(HWND window) {
    if (const StationRecord* record = stationRecordOf(window)) {
        accessHoldAddress(record->source.sin_addr.s_addr);
        controlCloseStation(window);
    }
}

void onControlSocket(SOCKET s, WORD event, WORD error) {
    if (event != FD_READ || error != 0) {
        return;
    }
    sockaddr_in from{};
    int fromLength = sizeof from;
    int length = ws::recvfrom(s, reinterpret_cast<char*>(controlBuffer), CONTROL_BUFFER_SIZE, 0,
                              reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (length < CONTROL_PACKET_MIN) {
        setStatusText("CNTL PKT ERROR");
        monitorControlError();
        return;
    }
    sockaddr_in key = from;
    key.sin_port = htons(serverPortOf(s));
    const int at = findStation(&key);
    HWND window = nullptr;
    StationRecord* record = nullptr;
    if (at >= 0) {
        window = stationSet.windows[at];
        record = stationSet.records[at];
        record->state = STATION_ACTIVE;
    } else {
        if (key.sin_addr.s_addr == closedAddress && closedHoldTicks > 0) {
            return;
        }
        if (addressGuardRefuses(key.sin_addr.s_addr)) {
            return; // ourselves, nobody or everybody: no record, no reply
        }
        if (linkOf(key.sin_addr.s_addr) != nullptr && rtcpHasBye(controlBuffer, length)) {
            linksRefusedByPeer(key.sin_addr.s_addr);
            return; // a link's peer refused us: no station is made of its BYE
        }
        if (!accessAddressAllowed(key.sin_addr.s_addr)) {
            return; // no record, no window, no reply
        }
        record = newStationRecord(&key);
        if (record == nullptr) {
            return;
        }
    }
    if (record->state == STATION_NEW) {
        window = admitStation(record);
        if (window == nullptr) {
            releaseStationRecord(record);
            return;
        }
    }
    if (record->idleTicks > 0) {
        record->idleTicks = 0;
    }
    monitorHeard(at >= 0 ? at : stationIndexOf(record));
    if ((controlBuffer[0] & 0xC0) != 0xC0) {
        return;
    }
    if (!rtcpCheckCompound(controlBuffer, length)) {
        return;
    }
    if (rtcpHasBye(controlBuffer, length)) {
        closeStationByAddress(record->addressText);
        return;
    }
    const uint8_t* app = nullptr;
    if (rtcpFindApp(controlBuffer, length, "SFtc", &app)) {
        return;
    }
    if (nameStation(record, controlBuffer, length)) {
        stationAccessNamed(window, record);
    }
}
