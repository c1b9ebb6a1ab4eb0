// Window classes, the window table, window creation and destruction.
//
// Every procedure call can re-enter the table (create, destroy, walk), so no record
// pointer is kept across a call: the handle is looked up again afterwards.
#include "platform/desktop/desktop.h"
#include "platform/loop/loop.h"
#include "platform/window/frontend.h"
#include "platform/window/window_table.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <strings.h>
#include <utility>

namespace platform {
namespace {

struct WindowClass {
    std::string name;
    WNDPROC proc = nullptr;
    int wndExtra = 0;
    HINSTANCE instance = nullptr;
    std::string menuName; // "#id" for a menu given by number; empty for none
    bool builtIn = false;
};

// Orders class names without regard to case, as they compare.
struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

std::map<std::string, WindowClass, CaseLess> registeredClasses;

// The built-in classes: the MDI client, the dialog class and the dialog controls.
const WindowClass* builtInClass(const char* name) {
    static const WindowClass builtIns[] = {
        {"MDICLIENT", mdiClientProc, 0, nullptr, "", true},
        {kDialogClass, dialogWindowProc, 0, nullptr, "", true},
        {"STATIC", controlProc, 0, nullptr, "", true},
        {"EDIT", controlProc, 0, nullptr, "", true},
        {"BUTTON", controlProc, 0, nullptr, "", true},
        {"LISTBOX", controlProc, 0, nullptr, "", true},
    };
    for (const WindowClass& c : builtIns) {
        if (strcasecmp(c.name.c_str(), name) == 0) {
            return &c;
        }
    }
    return nullptr;
}

const WindowClass* findClass(const char* name) {
    if (name == nullptr || IS_INTRESOURCE(name)) {
        return nullptr;
    }
    if (const WindowClass* c = builtInClass(name)) {
        return c;
    }
    auto it = registeredClasses.find(name);
    return it == registeredClasses.end() ? nullptr : &it->second;
}

// Local top-level windows, front-most first.
std::vector<HWND> topLevels;

// Serial number of the next handle; handles of later windows compare greater.
uintptr_t nextSerial = 1;

uintptr_t keyOf(HWND hwnd) {
    return reinterpret_cast<uintptr_t>(hwnd);
}

// A new record with a handle never given before.
Window* insertRecord() {
    const uintptr_t key = nextSerial++;
    Window* raw = (windowTable[key] = std::make_unique<Window>()).get();
    raw->handle = reinterpret_cast<HWND>(key);
    return raw;
}

// Deletes a live record; its handle is never found again.
void eraseRecord(HWND hwnd) {
    windowTable.erase(keyOf(hwnd));
    lastFoundKey = 0;
    lastFound = nullptr;
}

void eraseFrom(std::vector<HWND>& list, HWND hwnd) {
    list.erase(std::remove(list.begin(), list.end(), hwnd), list.end());
}

// Rounds the extra bytes up to whole pointer slots, so that a class that asks for 4
// bytes still has the pointer-sized slot 0.
size_t extraSize(int wndExtra) {
    size_t slot = sizeof(LONG_PTR);
    size_t bytes = wndExtra > 0 ? static_cast<size_t>(wndExtra) : 0;
    return (bytes + slot - 1) / slot * slot;
}

HWND topLevelOf(HWND hwnd) {
    Window* w = findWindow(hwnd);
    while (w != nullptr && w->parent != nullptr) {
        w = findWindow(w->parent);
    }
    return w != nullptr ? w->handle : nullptr;
}

std::vector<HWND> childrenOf(HWND hwnd) {
    Window* w = findWindow(hwnd);
    return w != nullptr ? w->children : std::vector<HWND>{};
}

std::vector<HWND> ownedBy(HWND hwnd) {
    std::vector<HWND> owned;
    for (HWND h : allWindows()) {
        Window* w = findWindow(h);
        if (w != nullptr && w->owner == hwnd) {
            owned.push_back(h);
        }
    }
    return owned;
}

void markSubtree(HWND hwnd) {
    for (HWND c : childrenOf(hwnd)) {
        if (Window* w = findWindow(c)) {
            w->destroying = true;
            markSubtree(c);
        }
    }
}

// WM_DESTROY to the window, then to its children, depth first; each window once.
void sendDestroyTree(HWND hwnd) {
    Window* w = findWindow(hwnd);
    if (w == nullptr) {
        return;
    }
    w->destroying = true;
    if (!w->destroySent) {
        w->destroySent = true;
        SendMessageA(hwnd, WM_DESTROY, 0, 0);
    }
    for (HWND c : childrenOf(hwnd)) {
        sendDestroyTree(c);
    }
}

// Takes a window out of the table and out of every list. Children that are still
// there (made during destruction) go with it without further messages.
void removeRecord(HWND hwnd) {
    Window* w = findWindow(hwnd);
    if (w == nullptr) {
        return;
    }
    for (HWND c : std::vector<HWND>(w->children)) {
        removeRecord(c);
    }
    w = findWindow(hwnd);
    if (w == nullptr) {
        return;
    }
    if (w->parent != nullptr) {
        if (Window* p = findWindow(w->parent)) {
            eraseFrom(p->children, hwnd);
        }
    } else {
        eraseFrom(topLevels, hwnd);
    }
    for (auto& [key, other] : windowTable) {
        if (other->owner == hwnd) {
            other->owner = nullptr;
        }
    }
    killWindowTimers(hwnd);
    if (std::exchange(w->announced, false)) {
        desktopWithdraw(hwnd);
    }
    frontEnd()->windowDestroyed(hwnd);
    if (GetFocus() == hwnd) {
        SetFocus(nullptr);
    }
    eraseRecord(hwnd);
}

// WM_NCDESTROY to the children (depth first), then to the window; each is then removed.
void ncDestroyTree(HWND hwnd) {
    for (HWND c : childrenOf(hwnd)) {
        ncDestroyTree(c);
    }
    Window* w = findWindow(hwnd);
    if (w == nullptr || w->ncDestroySent) {
        return;
    }
    w->ncDestroySent = true;
    SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
    removeRecord(hwnd);
}

} // namespace

std::map<uintptr_t, std::unique_ptr<Window>> windowTable;
uintptr_t lastFoundKey = 0;
Window* lastFound = nullptr;

std::vector<HWND> topLevelWindows() {
    return topLevels;
}

std::vector<HWND> allWindows() {
    std::vector<HWND> all;
    all.reserve(windowTable.size());
    for (const auto& [key, w] : windowTable) {
        all.push_back(w->handle);
    }
    return all;
}

LRESULT callWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = findWindow(hwnd);
    if (w == nullptr || w->remote || w->proc == nullptr) {
        return 0;
    }
    WNDPROC proc = w->proc;
    return proc(hwnd, msg, wParam, lParam);
}

const char* controlClassName(ControlKind kind) {
    switch (kind) {
    case ControlKind::Static:
        return "STATIC";
    case ControlKind::Edit:
        return "EDIT";
    case ControlKind::Button:
        return "BUTTON";
    case ControlKind::ListBox:
        return "LISTBOX";
    }
    return "STATIC";
}

HWND createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                  int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                  void* param, Placement placement, std::unique_ptr<DialogData> dialog) {
    const WindowClass* cls = findClass(className);
    if (cls == nullptr) {
        return nullptr;
    }
    bool child = (style & WS_CHILD) != 0;
    HWND owner = nullptr;
    if (child) {
        Window* p = findWindow(parent);
        if (p == nullptr || p->remote) {
            return nullptr;
        }
    } else if (parent != nullptr) {
        owner = topLevelOf(parent);
        if (owner == nullptr || findWindow(owner)->remote) {
            return nullptr;
        }
    }
    if (x == CW_USEDEFAULT) {
        x = 0;
        y = 0;
    }
    if (width == CW_USEDEFAULT) {
        width = 0;
        height = 0;
    }

    Window* w = insertRecord();
    HWND handle = w->handle;
    w->className = cls->name;
    w->proc = cls->proc;
    w->extra.assign(extraSize(cls->wndExtra), 0);
    w->title = title ? title : "";
    w->style = style;
    w->exStyle = exStyle;
    w->rect = RECT{x, y, x + width, y + height};
    w->instance = instance;
    w->dialog = std::move(dialog);
    if (child) {
        w->parent = parent;
        w->controlId = static_cast<int>(reinterpret_cast<uintptr_t>(menu));
        std::vector<HWND>& siblings = findWindow(parent)->children;
        if (placement == Placement::Front) {
            siblings.insert(siblings.begin(), handle);
        } else {
            siblings.push_back(handle);
        }
    } else {
        w->owner = owner;
        if (!cls->menuName.empty()) {
            w->menu = platformFindMenu(cls->instance, cls->menuName.c_str());
        }
        topLevels.insert(topLevels.begin(), handle);
    }

    CREATESTRUCTA cs{
        param, instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        title, className, exStyle};
    // A window procedure that must refuse creation does so in WM_CREATE (the result of
    // WM_NCCREATE is not looked at: the default procedures return 0 for it).
    SendMessageA(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs));
    if (findWindow(handle) == nullptr) {
        return nullptr;
    }
    if (SendMessageA(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    w = findWindow(handle);
    if (w == nullptr || w->destroying) {
        return nullptr;
    }
    if (!child && !cls->builtIn) {
        w->announced = true;
        desktopAnnounce(handle, cls->name.c_str());
    }
    if ((style & WS_VISIBLE) != 0) {
        ShowWindow(handle, SW_SHOW);
    }
    return findWindow(handle) != nullptr ? handle : nullptr;
}

HWND newRemoteWindow(const char* className) {
    Window* w = insertRecord();
    HWND handle = w->handle;
    w->className = className ? className : "";
    w->remote = true;
    return handle;
}

bool isRemoteWindow(HWND hwnd) {
    Window* w = findWindow(hwnd);
    return w != nullptr && w->remote;
}

void resetWindows() {
    // Destroying a window can create or destroy others; every round removes at least
    // the windows it starts with, and the bound keeps a misbehaving procedure finite.
    for (int round = 0; round < 16 && !windowTable.empty(); ++round) {
        for (HWND h : topLevelWindows()) {
            DestroyWindow(h);
        }
        for (HWND h : allWindows()) {
            Window* w = findWindow(h);
            if (w != nullptr && (w->remote || w->parent == nullptr)) {
                DestroyWindow(h);
            }
        }
    }
    windowTable.clear();
    lastFoundKey = 0;
    lastFound = nullptr;
    topLevels.clear();
    registeredClasses.clear();
}

} // namespace platform

using platform::findWindow;
using platform::Window;

ATOM RegisterClassA(const WNDCLASSA* wc) {
    if (wc == nullptr || wc->lpszClassName == nullptr || IS_INTRESOURCE(wc->lpszClassName) ||
        wc->lpszClassName[0] == '\0' || wc->lpfnWndProc == nullptr || wc->cbWndExtra < 0 ||
        wc->cbClsExtra < 0) {
        return 0;
    }
    auto& classes = platform::registeredClasses;
    if (platform::findClass(wc->lpszClassName) != nullptr) {
        return 0;
    }
    platform::WindowClass c;
    c.name = wc->lpszClassName;
    c.proc = wc->lpfnWndProc;
    c.wndExtra = wc->cbWndExtra;
    c.instance = wc->hInstance;
    if (wc->lpszMenuName != nullptr && IS_INTRESOURCE(wc->lpszMenuName)) {
        char number[24];
        std::snprintf(number, sizeof number, "#%ju",
                      static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(wc->lpszMenuName)));
        c.menuName = number;
    } else if (wc->lpszMenuName != nullptr) {
        c.menuName = wc->lpszMenuName;
    }
    classes[c.name] = c;
    // Atoms only need to be nonzero and distinct while the class exists.
    return static_cast<ATOM>(0xC000 + classes.size());
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param) {
    return platform::createWindow(exStyle, className, title, style, x, y, width, height, parent,
                                  menu, instance, param, platform::Placement::Front, nullptr);
}

BOOL DestroyWindow(HWND hwnd) {
    Window* w = findWindow(hwnd);
    if (w == nullptr) {
        return FALSE;
    }
    if (w->remote) {
        platform::eraseRecord(hwnd);
        return TRUE;
    }
    if (w->destroying) {
        return FALSE; // already on its way out: no second round of messages
    }
    w->destroying = true;
    for (HWND owned : platform::ownedBy(hwnd)) {
        DestroyWindow(owned);
    }
    platform::markSubtree(hwnd);
    platform::sendDestroyTree(hwnd);
    platform::ncDestroyTree(hwnd);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    return findWindow(hwnd) != nullptr ? TRUE : FALSE;
}
