#include "app/app_state.h"
#include "platform/window/window.h"
#include "stations/station.h"

StationRecord* stationRecordOf(HWND window) {
    return reinterpret_cast<StationRecord*>(GetWindowLongPtrA(window, 0));
}

bool isStationWindow(HWND window) {
    return GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(stationWindowProc);
}

HWND findStationWindow(const sockaddr_in* address) {
    if (mdiClient == nullptr) {
        return nullptr;
    }
    uint16_t port = ntohs(address->sin_port);
    for (HWND child = GetWindow(mdiClient, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!isStationWindow(child)) {
            continue;
        }
        const StationRecord* record = stationRecordOf(child);
        if (record != nullptr && record->source.sin_addr.s_addr == address->sin_addr.s_addr &&
            record->port == port) {
            return child;
        }
    }
    return nullptr;
}
