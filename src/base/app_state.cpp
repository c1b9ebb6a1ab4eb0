#include "base/app_state.h"

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
const char* frameTitle = nullptr;
const char* frameClassName = nullptr;
const char* mdiClientClassName = nullptr;
const char* stationClassName = nullptr;
int32_t directoryServerIndex = 1;
int32_t capacity = 8;
int32_t showCommand = SW_SHOWNORMAL;

SOCKET audioPortSocket = INVALID_SOCKET;
SOCKET controlPortSocket = INVALID_SOCKET;
HWND mdiClient = nullptr;
int32_t bindOnPortZero = 0;
int32_t connectedSend = 0;

uint32_t bindAddress = 0; // INADDR_ANY
uint32_t serverTicks = 0;
uint32_t beaconTicks = 0;

void appStateReset() {
    appInstance = nullptr;
    mainWindow = nullptr;
    directoryServerIndex = 1;
    capacity = 8;
    showCommand = SW_SHOWNORMAL;
    audioPortSocket = INVALID_SOCKET;
    controlPortSocket = INVALID_SOCKET;
    mdiClient = nullptr;
    bindOnPortZero = 0;
    connectedSend = 0;
    bindAddress = 0;
    serverTicks = 0;
    beaconTicks = 0;
}
