#include "base/app_state.h"
#include "base/control_packets.h"
#include "base/status_text.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/window/window.h"
#include "stations/station.h"

#include <cstdlib>

namespace {

// One second of a station: the inactivity count, then the keep-alive.
void stationTick(HWND hwnd) {
    StationRecord* record = stationRecordOf(hwnd);
    if (record == nullptr || record->state == STATION_CLOSING) {
        return;
    }
    int32_t old = record->idleTicks;
    record->idleTicks = old + 1;
    const int index = stationIndexOf(record);
    monitorIdleTick(index);
    if (old >= INACTIVITY_LIMIT_TICKS) {
        setStatusText("***INACTIVITY TIMEOUT***");
        monitorTimedOut(index);
        record->state = STATION_CLOSING;
        monitorClosing(index);
        SendMessageA(mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(hwnd), 0);
        return;
    }
    if (--record->keepAliveTicks <= 0) {
        record->keepAliveTicks = KEEPALIVE_PERIOD_TICKS;
        if (keepAliveCompound != nullptr) {
            sendToStation(record, keepAliveCompound, keepAliveLength);
            monitorKeepAliveSent();
        }
    }
}

// The station asked to leave: hold its address off for a while, then destroy the window.
void stationClose(HWND hwnd) {
    StationRecord* record = stationRecordOf(hwnd);
    if (record != nullptr) {
        closedAddress = record->source.sin_addr.s_addr;
        closedHoldTicks = CLOSED_HOLD_TICKS;
        setStatusText("CLOSING...");
    }
    DestroyWindow(hwnd);
}

// Releases the record and its sockets; a window without a record does nothing, so a second
// teardown never counts the station twice.
void stationTeardown(HWND hwnd) {
    StationRecord* record = stationRecordOf(hwnd);
    if (record == nullptr) {
        return;
    }
    if (record->audioSocket != INVALID_SOCKET) {
        ws::closesocket(record->audioSocket);
    }
    if (record->controlSocket != INVALID_SOCKET) {
        ws::closesocket(record->controlSocket);
    }
    // The inactivity step raises the count past its limit before it closes the window; a
    // BYE, the operator and the access rules close it as closing.
    linksStationGone(record->source.sin_addr.s_addr, record->idleTicks > INACTIVITY_LIMIT_TICKS
                                                         ? "timeout"
                                                     : record->state == STATION_CLOSING ? "bye"
                                                                                        : "closed");
    stationSetRemove(record);
    SetWindowLongPtrA(hwnd, 0, 0);
    if (record->name != nullptr) {
        --namedStationCount;
    }
    std::free(record->name);
    std::free(record);
    --stationCount;
}

} // namespace

void stationRequestClose(HWND window, StationRecord* record) {
    record->state = STATION_CLOSING;
    monitorClosing(stationIndexOf(record));
    PostMessageA(window, WM_CLOSE, 0, 0);
}

LRESULT stationWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_TIMER:
        if (wParam == TIMER_TICK) {
            stationTick(hwnd);
        }
        return 0;
    case WM_CLOSE:
        stationClose(hwnd);
        return 0;
    case WM_DESTROY:
        SendMessageA(hwnd, MSG_STATION_TEARDOWN, 0, 0);
        return 0;
    case MSG_STATION_TEARDOWN:
        stationTeardown(hwnd);
        return 0;
    case WM_PAINT:
        return 0;
    default:
        return DefMDIChildProcA(hwnd, msg, wParam, lParam);
    }
}
