#include "stations/admission.h"

#include "base/app_state.h"
#include "base/control_packets.h"
#include "base/socket_ops.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "stations/refusal_hold.h"

namespace {

// The text a refused station receives on its audio port, with its terminating zero byte.
constexpr char BUSY_TEXT[] = "oNDATA***SERVER BUSY - TRY LATER***\r\r";
static_assert(sizeof BUSY_TEXT == 38, "the busy text is 37 characters and a zero byte");

// Fills a peer address: the station's IPv4 address at the given host-order port.
void fillPeer(sockaddr_in* peer, const StationRecord* record, uint16_t port) {
    *peer = sockaddr_in{};
    peer->sin_family = AF_INET;
    peer->sin_port = htons(port);
    peer->sin_addr = record->source.sin_addr;
}

// Connects a station socket to its peer; false when that fails.
bool connectTo(SOCKET s, const sockaddr_in* peer) {
    return ws::connect(s, reinterpret_cast<const sockaddr*>(peer), sizeof *peer) != SOCKET_ERROR;
}

// Undoes an admission that failed after its window was made: the window gives the record
// back (its teardown will find none, so stationCount is untouched), the sockets opened so
// far are closed, the box (if any) is shown, and the window goes.
HWND abandonAdmission(HWND window, StationRecord* record, const char* text, const char* caption,
                      bool ownedBox) {
    stationSetRemove(record);
    SetWindowLongPtrA(window, 0, 0);
    closeSocketHard(record->audioSocket);
    record->audioSocket = INVALID_SOCKET;
    closeSocketHard(record->controlSocket);
    record->controlSocket = INVALID_SOCKET;
    if (text != nullptr) {
        MessageBoxA(ownedBox ? window : nullptr, text, caption, MB_OK);
    }
    if (IsWindow(window)) {
        SendMessageA(mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(window), 0);
    }
    return nullptr;
}

// Tells a station that the conference is full: the busy text on its port 5198 and the BYE
// compound "Term" on its port 5199. Always returns null.
HWND refuseStation(StationRecord* record) {
    openUdpSocket(&record->audioSocket, SOCK_DGRAM, bindAddress, 0);
    fillPeer(&record->audioPeer, record, record->port);
    connectTo(record->audioSocket, &record->audioPeer);
    if (openUdpSocket(&record->controlSocket, SOCK_DGRAM, bindAddress, 0) != 0) {
        MessageBoxA(nullptr, "Host error", "ERR", MB_OK);
        closeSocketHard(record->audioSocket);
        record->audioSocket = INVALID_SOCKET;
        return nullptr;
    }
    fillPeer(&record->controlPeer, record, static_cast<uint16_t>(record->port + 1));
    connectTo(record->controlSocket, &record->controlPeer);

    ws::send(record->audioSocket, BUSY_TEXT, sizeof BUSY_TEXT, 0);
    sendToStation(record, termByeCompound, termByeLength);

    closeSocketHard(record->audioSocket);
    record->audioSocket = INVALID_SOCKET;
    if (record->controlSocket != INVALID_SOCKET) {
        LINGER linger{1, 1};
        ws::setsockopt(record->controlSocket, SOL_SOCKET, SO_LINGER,
                       reinterpret_cast<const char*>(&linger), sizeof linger);
        ws::closesocket(record->controlSocket);
        record->controlSocket = INVALID_SOCKET;
    }
    return nullptr;
}

} // namespace

HWND admitStation(StationRecord* record) {
    if (stationCount > capacity || stationSet.count >= STATIONS_MAX) {
        if (!refusalMaySend(record->source.sin_addr.s_addr)) {
            monitorRefusalSuppressed();
            return nullptr;
        }
        monitorRefused(record->source.sin_addr.s_addr);
        linksRefusedHere(record->source.sin_addr.s_addr);
        return refuseStation(record);
    }
    record->idleTicks = 0;
    MDICREATESTRUCTA create{
        stationClassName, "CONNECTED ", appInstance, CW_USEDEFAULT, CW_USEDEFAULT, 50, 50, 0, 0};
    HWND window = reinterpret_cast<HWND>(
        SendMessageA(mdiClient, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&create)));
    if (window == nullptr) {
        return nullptr;
    }
    record->state = STATION_ACTIVE;
    SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(record));
    stationSetInsert(window, record);

    if (openUdpSocket(&record->audioSocket, SOCK_DGRAM, bindAddress, 0) != 0) {
        return abandonAdmission(window, record, "Socket", "", false);
    }
    fillPeer(&record->audioPeer, record, record->port);
    if (!connectTo(record->audioSocket, &record->audioPeer)) {
        return abandonAdmission(window, record, "Host error", "ERR", true);
    }
    if (openUdpSocket(&record->controlSocket, SOCK_DGRAM, bindAddress, 0) != 0) {
        return abandonAdmission(window, record, "Socket", "", false);
    }
    fillPeer(&record->controlPeer, record, static_cast<uint16_t>(record->port + 1));
    if (!connectTo(record->controlSocket, &record->controlPeer)) {
        return abandonAdmission(window, record, nullptr, nullptr, false);
    }
    ++stationCount;
    monitorJoined(stationIndexOf(record));
    linksStationAdmitted(record->source.sin_addr.s_addr);
    return window;
}
