#include "app/main_window.h"

#include "app/about_dialog.h"
#include "audio/relay.h"
#include "base/app_state.h"
#include "control/control_handler.h"
#include "platform/window/system_command.h"
#include "platform/window/window.h"
#include "resources/resources.h"

LRESULT mainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        return onMainWindowCreate(hwnd);
    case WM_DESTROY:
        onMainWindowDestroy(hwnd);
        return 0;
    case WM_CLOSE:
        onMainWindowClose(hwnd);
        return 0;
    case WM_NCDESTROY:
        mdiClient = nullptr;
        return DefFrameProcA(hwnd, mdiClient, msg, wParam, lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case CMD_ABOUT:
            openAboutDialog(hwnd);
            break;
        case CMD_EXIT:
            askToCloseConference(hwnd);
            break;
        default:
            DefFrameProcA(hwnd, mdiClient, msg, wParam, lParam);
            break;
        }
        return 0;
    case WM_TIMER:
        onMainWindowTimer(hwnd, wParam);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            askToCloseConference(hwnd);
            return 0;
        }
        return DefFrameProcA(hwnd, mdiClient, msg, wParam, lParam);
    case WM_INITMENU:
        return 0;
    case MSG_AUDIO_SOCKET:
        onAudioSocket(static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam),
                      WSAGETSELECTERROR(lParam));
        return 0;
    case MSG_CONTROL_SOCKET:
        onControlSocket(static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam),
                        WSAGETSELECTERROR(lParam));
        return 0;
    case MSG_SPARE:
        return 0;
    default:
        return DefFrameProcA(hwnd, mdiClient, msg, wParam, lParam);
    }
}
