#include "app/startup.h"

#include "app/main_window.h"
#include "app/minimise_switch.h"
#include "app/station_panel.h"
#include "base/app_state.h"
#include "config/account.h"
#include "config/config.h"
#include "platform/process/process.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "resources/resources.h"
#include "stations/station.h"

namespace {

constexpr int MAIN_WINDOW_WIDTH = 275;
constexpr int MAIN_WINDOW_HEIGHT = 57;
constexpr int CAPACITY_MAX = 25;

} // namespace

int winMain(HINSTANCE instance, const char* commandLine, int showCmd) {
    HWND other = FindWindowA("Omvar_v", nullptr);
    if (other != nullptr) {
        if (IsIconic(other)) {
            PostMessageA(other, WM_SYSCOMMAND, SC_RESTORE, 0);
        } else {
            SetFocus(other);
        }
        return 0;
    }
    _control87(0x3F, 0x3F);
    showCommand = showCmd;
    if (minimiseSwitchGiven(commandLine)) {
        showCommand = SW_SHOWMINIMIZED;
    }
    if (!initApplication(instance)) {
        return 1;
    }
    if (!createMainWindow(instance, showCommand)) {
        return 1;
    }
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

bool initApplication(HINSTANCE instance) {
    appInstance = instance;
    if (!checkConfigurationFile()) {
        return false;
    }
    firstRunCheck();
    frameTitle = "cVARDE";
    frameClassName = "Omvar_CS";
    mdiClientClassName = "MDICLIENT";
    stationClassName = "IServeClient";

    WNDCLASSA frame{};
    frame.style = 0;
    frame.lpfnWndProc = mainWindowProc;
    frame.hInstance = instance;
    frame.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(ICON_MAIN));
    frame.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    frame.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    frame.lpszMenuName = MAKEINTRESOURCEA(MENU_MAIN);
    frame.lpszClassName = frameClassName;
    if (RegisterClassA(&frame) == 0) {
        return false;
    }

    WNDCLASSA station{};
    station.style = 0;
    station.lpfnWndProc = stationWindowProc;
    station.cbWndExtra = sizeof(StationRecord*);
    station.hInstance = instance;
    station.lpszClassName = stationClassName;
    if (RegisterClassA(&station) == 0) {
        return false;
    }

    directoryServerIndex = 1;
    capacity = static_cast<int32_t>(GetPrivateProfileIntA("server", "maxusers", 8, CONFIG_FILE));
    if (capacity > CAPACITY_MAX) {
        capacity = CAPACITY_MAX;
    }
    directoryListUpdate();
    return true;
}

void mainWindowPosition(int* x, int* y) {
    *x = static_cast<int>(GetPrivateProfileIntA("window", "x1", 0, CONFIG_FILE));
    *y = static_cast<int>(GetPrivateProfileIntA("window", "y1", 0, CONFIG_FILE));
    if (*x > 1500 || *y > 1000) {
        *x = 0;
        *y = 0;
    }
}

bool createMainWindow(HINSTANCE instance, int showCmd) {
    int x = 0;
    int y = 0;
    mainWindowPosition(&x, &y);
    HWND hwnd = CreateWindowExA(
        0, frameClassName, frameTitle, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, x, y,
        MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT, nullptr, nullptr, instance, nullptr);
    mainWindow = hwnd;
    if (hwnd == nullptr) {
        return false;
    }
    // From here a signal takes the close path (sign-off, position save) of the main window.
    platformSetSignalAction(SIGNALS_CLOSE_WINDOWS);
    stationPanelStart();
    ShowWindow(hwnd, showCmd);
    UpdateWindow(hwnd);
    return true;
}
