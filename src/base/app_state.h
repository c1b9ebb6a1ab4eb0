// Process-wide state of the application shell: what start-up sets and the main window
// owns. Plain variables, one instance each.
#pragma once

#include "platform/net/winsock.h"
#include "platform/types.h"

#include <cstdint>

// Private window messages and timers of the program.
constexpr UINT MSG_AUDIO_SOCKET = WM_USER + 100;     // 1124
constexpr UINT MSG_CONTROL_SOCKET = WM_USER + 103;   // 1127
constexpr UINT MSG_STATION_TEARDOWN = WM_USER + 104; // 1128
constexpr UINT MSG_SPARE = WM_USER + 200;            // 1224
constexpr UINT_PTR TIMER_TICK = 1;
constexpr UINT TIMER_TICK_MS = 1000;
constexpr UINT_PTR TIMER_BEACON = 800;
constexpr UINT TIMER_BEACON_MS = 1500;

constexpr uint16_t AUDIO_PORT = 5198;
constexpr uint16_t CONTROL_PORT = 5199;

// Start-up state.
extern HINSTANCE appInstance;
extern HWND mainWindow; // empty until the creation call has returned
extern const char* frameTitle;
extern const char* frameClassName;
extern const char* mdiClientClassName;
extern const char* stationClassName;
extern int32_t directoryServerIndex; // 1..4
extern int32_t capacity;
extern int32_t showCommand;

// Main window state.
extern SOCKET audioPortSocket;
extern SOCKET controlPortSocket;
extern HWND mdiClient;
extern int32_t bindOnPortZero;
extern int32_t connectedSend;

// Local IPv4 address (network order) of the listening and station sockets; any address
// unless --bind names one.
extern uint32_t bindAddress;

// TIMER_TICKs since start (raised first thing on each one), and TIMER_BEACON ticks: the
// clock of the holds and limits that count ticks, read without a system call.
extern uint32_t serverTicks;
extern uint32_t beaconTicks;

// Puts the state above back to its values at program start (the class names and title
// that start-up sets stay). For tests.
void appStateReset();
