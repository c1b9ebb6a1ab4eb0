// Dialogs made from the instance's templates, their default processing, and the
// lookup of resources.
#include "platform/window/dialog.h"
#include "platform/loop/loop.h"
#include "platform/window/frontend.h"
#include "platform/window/window_table.h"

#include <cstdlib>
#include <unordered_map>

using platform::findWindow;

namespace {

// Results of EndDialog by handle; kept after the dialog is gone (handles are not reused).
std::unordered_map<HWND, INT_PTR> endedDialogs;

// The number a resource name stands for: MAKEINTRESOURCEA(id) or "#id"; -1 otherwise.
int resourceId(const char* name) {
    if (name == nullptr) {
        return -1;
    }
    if (IS_INTRESOURCE(name)) {
        return static_cast<int>(reinterpret_cast<uintptr_t>(name));
    }
    if (name[0] == '#') {
        return std::atoi(name + 1);
    }
    return -1;
}

// The resource of that name in an instance's list (dialogs or menus), or nullptr.
template <typename Resource>
const Resource* findResource(const Resource* const* list, int count, const char* name) {
    const int id = resourceId(name);
    for (int i = 0; id >= 0 && i < count; ++i) {
        if (list[i] != nullptr && list[i]->id == id) {
            return list[i];
        }
    }
    return nullptr;
}

bool isColourRequest(UINT msg) {
    return msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX || msg == WM_CTLCOLORBTN ||
           msg == WM_CTLCOLORDLG || msg == WM_CTLCOLORSTATIC;
}

// The first control that takes the focus: the first with a tab stop, else the first.
HWND firstFocusControl(HWND dialog) {
    platform::Window* w = findWindow(dialog);
    if (w == nullptr || w->children.empty()) {
        return nullptr;
    }
    for (HWND c : w->children) {
        platform::Window* cw = findWindow(c);
        if (cw != nullptr && (cw->style & WS_TABSTOP) != 0) {
            return c;
        }
    }
    return w->children.front();
}

// Makes the dialog window and its controls and sends WM_INITDIALOG; nullptr when the
// template or the owner is missing or a window cannot be made.
HWND createDialog(HINSTANCE instance, const char* name, HWND owner, DLGPROC proc, LPARAM param,
                  bool modal) {
    const DialogTemplate* tmpl = platformFindDialog(instance, name);
    if (tmpl == nullptr || (owner != nullptr && !IsWindow(owner))) {
        return nullptr;
    }
    auto data = std::make_unique<platform::DialogData>();
    data->tmpl = tmpl;
    data->modal = modal;
    DWORD style = tmpl->style & ~(WS_CHILD | WS_VISIBLE);
    // Positions and sizes stay in dialog units; the front end maps them.
    HWND dialog = platform::createWindow(0, platform::kDialogClass, tmpl->caption, style, tmpl->x,
                                         tmpl->y, tmpl->w, tmpl->h, owner, nullptr, instance,
                                         nullptr, platform::Placement::Front, std::move(data));
    if (dialog == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < tmpl->controlCount; ++i) {
        const DialogControl& c = tmpl->controls[i];
        HWND control = platform::createWindow(
            0, platform::controlClassName(c.kind), c.text, WS_CHILD | WS_VISIBLE | c.style, c.x,
            c.y, c.w, c.h, dialog, reinterpret_cast<HMENU>(static_cast<uintptr_t>(c.id)), instance,
            nullptr, platform::Placement::Back, nullptr);
        if (control == nullptr) {
            DestroyWindow(dialog);
            return nullptr;
        }
    }
    if (platform::Window* w = findWindow(dialog)) {
        w->dialog->proc = proc;
    }
    HWND focusControl = firstFocusControl(dialog);
    if (SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(focusControl), param) != 0 &&
        focusControl != nullptr && IsWindow(focusControl)) {
        SetFocus(focusControl);
    }
    if (!IsWindow(dialog)) {
        return nullptr;
    }
    platform::frontEnd()->dialogCreated(dialog);
    if (IsWindow(dialog) && endedDialogs.count(dialog) == 0 &&
        (modal || (tmpl->style & WS_VISIBLE) != 0)) {
        ShowWindow(dialog, SW_SHOW);
    }
    return IsWindow(dialog) ? dialog : nullptr;
}

} // namespace

namespace platform {

// The dialog class: the dialog procedure first; what it leaves (FALSE) gets default
// dialog processing. Colour requests return the procedure's result as the brush.
LRESULT dialogWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = findWindow(hwnd);
    DLGPROC proc = (w != nullptr && w->dialog) ? w->dialog->proc : nullptr;
    INT_PTR handled = proc != nullptr ? proc(hwnd, msg, wParam, lParam) : 0;
    if (isColourRequest(msg) || handled != 0) {
        return handled;
    }
    switch (msg) {
    case WM_CLOSE:
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(IDCANCEL), 0),
                     reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
        return 0;
    case WM_SYSCOMMAND:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    default:
        return 0;
    }
}

void resetDialogs() {
    endedDialogs.clear();
}

} // namespace platform

const DialogTemplate* platformFindDialog(HINSTANCE instance, const char* name) {
    return instance != nullptr ? findResource(instance->dialogs, instance->dialogCount, name)
                               : nullptr;
}

const MenuTemplate* platformFindMenu(HINSTANCE instance, const char* name) {
    return instance != nullptr ? findResource(instance->menus, instance->menuCount, name) : nullptr;
}

const MenuTemplate* platformWindowMenu(HWND hwnd) {
    platform::Window* w = findWindow(hwnd);
    return w != nullptr ? w->menu : nullptr;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, const char* templateName, HWND owner, DLGPROC proc,
                        LPARAM param) {
    if (platformFindDialog(instance, templateName) == nullptr ||
        !platform::frontEnd()->canShowDialogs()) {
        return -1;
    }
    HWND dialog = createDialog(instance, templateName, owner, proc, param, true);
    if (dialog == nullptr) {
        return -1;
    }
    platform::runModalLoop(
        [dialog] { return !IsWindow(dialog) || endedDialogs.count(dialog) != 0; });
    INT_PTR result = -1;
    platformDialogEnded(dialog, &result);
    if (IsWindow(dialog)) {
        DestroyWindow(dialog);
    }
    return result;
}

HWND CreateDialogParamA(HINSTANCE instance, const char* templateName, HWND owner, DLGPROC proc,
                        LPARAM param) {
    return createDialog(instance, templateName, owner, proc, param, false);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    platform::Window* w = findWindow(dialog);
    if (w == nullptr || !w->dialog) {
        return FALSE;
    }
    endedDialogs[dialog] = result;
    ShowWindow(dialog, SW_HIDE);
    return TRUE;
}

bool platformDialogEnded(HWND dialog, INT_PTR* result) {
    auto it = endedDialogs.find(dialog);
    if (it == endedDialogs.end()) {
        return false;
    }
    if (result != nullptr) {
        *result = it->second;
    }
    return true;
}

HWND GetDlgItem(HWND dialog, int id) {
    platform::Window* w = findWindow(dialog);
    if (w == nullptr) {
        return nullptr;
    }
    for (HWND c : w->children) {
        platform::Window* cw = findWindow(c);
        if (cw != nullptr && cw->controlId == id) {
            return c;
        }
    }
    return nullptr;
}

UINT GetDlgItemTextA(HWND dialog, int id, char* buf, int max) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        if (buf != nullptr && max > 0) {
            buf[0] = '\0';
        }
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(control, buf, max));
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? SetWindowTextA(control, text) : FALSE;
}
