// Default window processing and the built-in classes MDICLIENT and the dialog controls.
#include "platform/window/system_command.h"
#include "platform/window/window_table.h"

using platform::findWindow;

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_RESTORE) {
            ShowWindow(hwnd, SW_RESTORE);
        } else if ((wParam & 0xFFF0) == SC_CLOSE) {
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
        }
        return 0;
    default:
        return 0;
    }
}

LRESULT DefFrameProcA(HWND hwnd, HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT DefMDIChildProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) {
        platform::Window* w = findWindow(hwnd);
        HWND client = w != nullptr ? w->parent : nullptr;
        platform::Window* c = findWindow(client);
        if (c != nullptr && c->proc == platform::mdiClientProc) {
            SendMessageA(client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(hwnd), 0);
        } else {
            DestroyWindow(hwnd);
        }
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

namespace platform {

// The MDI client: WM_MDICREATE makes a child in front of the others and returns it (0 on
// failure); WM_MDIDESTROY destroys the child given in wParam.
LRESULT mdiClientProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_MDICREATE: {
        const auto* mcs = reinterpret_cast<const MDICREATESTRUCTA*>(lParam);
        if (mcs == nullptr) {
            return 0;
        }
        // The child's CREATESTRUCTA carries the MDICREATESTRUCTA as its creation data.
        HWND child = createWindow(0, mcs->szClass, mcs->szTitle, mcs->style | WS_CHILD, mcs->x,
                                  mcs->y, mcs->cx, mcs->cy, hwnd, nullptr, mcs->hOwner,
                                  const_cast<MDICREATESTRUCTA*>(mcs), Placement::Front, nullptr);
        return reinterpret_cast<LRESULT>(child);
    }
    case WM_MDIDESTROY: {
        HWND child = reinterpret_cast<HWND>(wParam);
        Window* w = findWindow(child);
        if (w != nullptr && w->parent == hwnd) {
            DestroyWindow(child);
        }
        return 0;
    }
    case WM_CLOSE:
        return 0; // the client goes with its frame, never on its own
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

// Dialog controls draw nothing here; the front end draws them from their records.
LRESULT controlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) {
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace platform
