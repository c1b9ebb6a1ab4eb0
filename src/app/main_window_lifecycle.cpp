#include "access/access.h"
#include "app/main_window.h"
#include "app/station_panel.h"
#include "audio/limits.h"
#include "audio/loop_guard.h"
#include "audio/station_list.h"
#include "base/address_guard.h"
#include "base/app_state.h"
#include "base/socket_ops.h"
#include "config/config.h"
#include "config/directory.h"
#include "control/rtcp.h"
#include "ctl/ctl.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/profile/profile.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "stations/refusal_hold.h"
#include "stations/station.h"

#include <cstdio>

namespace {

constexpr UINT MDI_FIRST_CHILD_ID = 2104;

// A start-up failure message: no owner, empty caption, OK only.
void startupError(const char* text) {
    MessageBoxA(nullptr, text, "", MB_OK);
}

} // namespace

LRESULT onMainWindowCreate(HWND hwnd) {
    resetListText();
    // The access rules are in force before a port is open; a configured file that cannot
    // be used stops the start.
    if (!accessStart()) {
        startupError(accessStartError());
        return -1;
    }
    WSADATA data{};
    if (WSAStartup(0x0101, &data) != 0) {
        startupError("WSA STARTUP ERROR");
        return -1;
    }
    int error = openUdpSocket(&audioPortSocket, SOCK_DGRAM, bindAddress, htons(AUDIO_PORT));
    if (error != 0) {
        startupError("Socket create error - Port A");
        reportOpenFailure(bindAddress, htons(AUDIO_PORT), error);
        return -1;
    }
    error = openUdpSocket(&controlPortSocket, SOCK_DGRAM, bindAddress, htons(CONTROL_PORT));
    if (error != 0) {
        startupError("Socket create error - Port B");
        reportOpenFailure(bindAddress, htons(CONTROL_PORT), error);
        return -1;
    }
    CLIENTCREATESTRUCT client{nullptr, MDI_FIRST_CHILD_ID};
    mdiClient = CreateWindowExA(0, mdiClientClassName, nullptr, WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0,
                                0, hwnd, nullptr, appInstance, &client);
    if (mdiClient == nullptr) {
        return -1;
    }
    int unconnected = static_cast<int>(GetPrivateProfileIntA("help", "c", 0, CONFIG_FILE));
    bindOnPortZero = unconnected == 1 ? 0 : 1;
    connectedSend = unconnected == 1 ? 0 : 1;
    if (SetTimer(hwnd, TIMER_TICK, TIMER_TICK_MS, nullptr) == 0) {
        startupError("Timer create failed.");
        return -1;
    }
    SetTimer(hwnd, TIMER_BEACON, TIMER_BEACON_MS, nullptr);
    prepareControlPackets();
    limitsStart();
    loopGuardReset();
    refusalHoldReset();
    addressGuardStart();
    if (WSAAsyncSelect(audioPortSocket, hwnd, MSG_AUDIO_SOCKET, FD_READ) != 0) {
        startupError("ERROR");
    }
    WSAAsyncSelect(controlPortSocket, hwnd, MSG_CONTROL_SOCKET, FD_READ);
    if (!monitorStarted()) {
        startupError(monitorStartError());
        return -1;
    }
    char controlError[480];
    if (!ctlStart(controlError, sizeof controlError)) {
        startupError(controlError);
        return -1;
    }
    linksStart();
    startCompanionProgram();
    return 0;
}

void onMainWindowDestroy(HWND hwnd) {
    stationPanelStop();
    monitorStopping();
    ctlStop();
    linksStop(); // the server closes: its links go without a link-down each
    forEachStation(
        [](StationRecord*, HWND window) { SendMessageA(window, MSG_STATION_TEARDOWN, 0, 0); });
    KillTimer(hwnd, TIMER_TICK);
    closeSocketHard(audioPortSocket);
    audioPortSocket = INVALID_SOCKET;
    closeSocketHard(controlPortSocket);
    controlPortSocket = INVALID_SOCKET;
    WSACleanup();
    releaseControlPackets();
    accessStop();
    PostQuitMessage(0);
}

void onMainWindowClose(HWND hwnd) {
    directorySignOff();
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    if (!IsIconic(hwnd)) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", static_cast<int>(rect.left));
        writeConfigValue("window", "x1", text);
        std::snprintf(text, sizeof text, "%d", static_cast<int>(rect.top));
        writeConfigValue("window", "y1", text);
    }
    DestroyWindow(hwnd);
}
