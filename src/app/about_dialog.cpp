#include "app/about_dialog.h"

#include "base/app_state.h"
#include "frontend/terminal/terminal_window.h"
#include "platform/runtime.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "resources/resources.h"

#include <cstdio>

namespace {

// Brushes of one open about dialog, made when first asked for and deleted with it.
struct AboutBrushes {
    HWND dialog;
    HBRUSH field;  // edit fields and list boxes
    HBRUSH button; // buttons
};

// Enough for every about dialog an operator keeps open; a dialog beyond that is drawn in
// the default colours.
constexpr int ABOUT_DIALOGS_MAX = 64;
AboutBrushes aboutBrushes[ABOUT_DIALOGS_MAX];

// The brush slot of a dialog, taking a free slot when it has none yet; null when full.
AboutBrushes* brushesOf(HWND dialog) {
    AboutBrushes* free = nullptr;
    for (AboutBrushes& entry : aboutBrushes) {
        if (entry.dialog == dialog) {
            return &entry;
        }
        if (entry.dialog == nullptr && free == nullptr) {
            free = &entry;
        }
    }
    if (free != nullptr) {
        *free = AboutBrushes{dialog, nullptr, nullptr};
    }
    return free;
}

// Deletes the brushes a dialog made and frees its slot.
void releaseBrushes(HWND dialog) {
    for (AboutBrushes& entry : aboutBrushes) {
        if (entry.dialog == dialog) {
            if (entry.field != nullptr) {
                DeleteObject(entry.field);
            }
            if (entry.button != nullptr) {
                DeleteObject(entry.button);
            }
            entry = AboutBrushes{nullptr, nullptr, nullptr};
        }
    }
}

// Answers a colour request: sets the colours and returns the dialog's brush for them.
INT_PTR colourRequest(HWND dialog, HDC hdc, COLORREF text, COLORREF background, bool field) {
    AboutBrushes* brushes = brushesOf(dialog);
    if (brushes == nullptr) {
        return FALSE;
    }
    HBRUSH& brush = field ? brushes->field : brushes->button;
    if (brush == nullptr) {
        brush = CreateSolidBrush(background);
    }
    SetTextColor(hdc, text);
    SetBkColor(hdc, background);
    return reinterpret_cast<INT_PTR>(brush);
}

// The label of the dialog's key for command 2 in the terminal window: the directory
// server that the sign-off uses now, which the key advances.
size_t nextServerLabel(char* out, size_t size, void*) {
    int n = std::snprintf(out, size, "next directory server (now %d)",
                          static_cast<int>(directoryServerIndex));
    return n < 0 ? 0 : static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

} // namespace

void openAboutDialog(HWND owner) {
    CreateDialogParamA(appInstance, MAKEINTRESOURCEA(DIALOG_ABOUT), owner, aboutDialogProc, 0);
}

INT_PTR aboutDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        // No control issues command 2; in the terminal window F2 does, in sight of the index.
        platformSetDialogKey(dialog, 2, 2, nextServerLabel, nullptr);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        } else if (LOWORD(wParam) == IDCANCEL) {
            directoryServerIndex = directoryServerIndex % 4 + 1;
        }
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        releaseBrushes(dialog);
        return TRUE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return colourRequest(dialog, reinterpret_cast<HDC>(wParam), RGB(255, 255, 255),
                             RGB(0, 0, 200), true);
    case WM_CTLCOLORBTN:
        return colourRequest(dialog, reinterpret_cast<HDC>(wParam), RGB(195, 255, 140),
                             RGB(80, 70, 180), false);
    default:
        (void)lParam;
        return FALSE;
    }
}
