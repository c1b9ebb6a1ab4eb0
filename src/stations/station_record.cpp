#include "base/app_state.h"
#include "stations/station.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int32_t stationCount = 0;
int32_t namedStationCount = 0;
uint32_t closedAddress = 0;
int32_t closedHoldTicks = 0;

void stationsReset() {
    stationCount = 0;
    namedStationCount = 0;
    closedAddress = 0;
    closedHoldTicks = 0;
    stationSetReset();
}

StationRecord* newStationRecord(const sockaddr_in* source) {
    auto* record = static_cast<StationRecord*>(std::calloc(1, sizeof(StationRecord)));
    if (record == nullptr) {
        return nullptr;
    }
    record->state = STATION_NEW;
    record->audioSocket = INVALID_SOCKET;
    record->controlSocket = INVALID_SOCKET;
    record->idleTicks = 0;
    record->keepAliveTicks = 0;
    record->source = *source;
    record->port = ntohs(source->sin_port);
    record->name = nullptr;
    uint32_t a = ntohl(source->sin_addr.s_addr);
    std::snprintf(record->addressText, sizeof record->addressText, "%u.%u.%u.%u",
                  static_cast<unsigned>(a >> 24), static_cast<unsigned>((a >> 16) & 0xFF),
                  static_cast<unsigned>((a >> 8) & 0xFF), static_cast<unsigned>(a & 0xFF));
    return record;
}

void releaseStationRecord(StationRecord* record) {
    if (record == nullptr) {
        return;
    }
    std::free(record->name);
    std::free(record);
}

uint16_t serverPortOf(SOCKET s) {
    if (s == audioPortSocket || s == controlPortSocket || s == INVALID_SOCKET) {
        return AUDIO_PORT;
    }
    return 0;
}

void sendToStation(StationRecord* record, const uint8_t* bytes, int length) {
    const char* data = reinterpret_cast<const char*>(bytes);
    if (connectedSend != 0) {
        ws::send(record->controlSocket, data, length, 0);
    } else {
        ws::sendto(record->controlSocket, data, length, 0,
                   reinterpret_cast<const sockaddr*>(&record->controlPeer),
                   sizeof record->controlPeer);
    }
}

bool stationStillThere(HWND window, const char* address) {
    if (IsWindow(window) == 0 || !isStationWindow(window)) {
        return false;
    }
    const StationRecord* record = stationRecordOf(window);
    return record != nullptr && record->state != STATION_CLOSING &&
           std::strcmp(record->addressText, address) == 0;
}
