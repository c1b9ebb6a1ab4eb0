// Window relations, extra slots, titles, showing, focus and the search by class.
#include "platform/desktop/desktop.h"
#include "platform/loop/loop.h"
#include "platform/window/frontend.h"
#include "platform/window/window_table.h"

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <utility>

using platform::findWindow;
using platform::Window;

namespace {

HWND focus = nullptr;

bool isTopLevel(const Window* w) {
    return w->parent == nullptr && !w->remote;
}

} // namespace

HWND GetWindow(HWND hwnd, UINT relation) {
    Window* w = findWindow(hwnd);
    if (w == nullptr) {
        return nullptr;
    }
    if (w->remote) {
        return nullptr;
    }
    switch (relation) {
    case GW_HWNDNEXT: {
        Window* parent = findWindow(w->parent);
        const std::vector<HWND> siblings =
            parent != nullptr ? parent->children : platform::topLevelWindows();
        auto it = std::find(siblings.begin(), siblings.end(), hwnd);
        return it != siblings.end() && it + 1 != siblings.end() ? *(it + 1) : nullptr;
    }
    case GW_CHILD:
        return w->children.empty() ? nullptr : w->children.front();
    case GW_OWNER:
        return w->owner;
    default:
        return nullptr;
    }
}

// A window of another program has no procedure and no extra bytes, so it reads as 0.
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    Window* w = findWindow(hwnd);
    if (w == nullptr) {
        return 0;
    }
    if (index >= 0) {
        const size_t offset = static_cast<size_t>(index);
        if (w->extra.size() < offset + sizeof(LONG_PTR)) {
            return 0;
        }
        LONG_PTR value;
        std::memcpy(&value, w->extra.data() + offset, sizeof(value));
        return value;
    }
    switch (index) {
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_STYLE:
        return static_cast<LONG_PTR>(w->style);
    case GWL_ID:
        return w->controlId;
    default:
        return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    Window* w = findWindow(hwnd);
    if (w == nullptr || w->remote) {
        return 0;
    }
    if (index == GWLP_WNDPROC) {
        LONG_PTR old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(value);
        return old;
    }
    if (index < 0 || w->extra.size() < static_cast<size_t>(index) + sizeof(LONG_PTR)) {
        return 0;
    }
    LONG_PTR old = 0;
    std::memcpy(&old, w->extra.data() + index, sizeof(old));
    std::memcpy(w->extra.data() + index, &value, sizeof(value));
    return old;
}

BOOL SetWindowTextA(HWND hwnd, const char* text) {
    Window* w = findWindow(hwnd);
    if (w == nullptr || w->remote) {
        return FALSE;
    }
    // The relay sets the same status text over and over: an equal text is found without
    // building a copy, and a new one reuses the title's storage once it is large enough.
    const char* next = text != nullptr ? text : "";
    if (std::strcmp(next, w->title.c_str()) == 0) {
        return TRUE;
    }
    w->title.assign(next);
    if (isTopLevel(w) && w->everShown) {
        platform::frontEnd()->titleChanged(hwnd, w->title.c_str());
    } else if (!isTopLevel(w)) {
        platform::frontEnd()->windowChanged(hwnd);
    }
    return TRUE;
}

int GetWindowTextA(HWND hwnd, char* buf, int size) {
    if (buf == nullptr || size <= 0) {
        return 0;
    }
    buf[0] = '\0';
    Window* w = findWindow(hwnd);
    if (w == nullptr || w->remote) {
        return 0;
    }
    size_t n = std::min(w->title.size(), static_cast<size_t>(size - 1));
    std::memcpy(buf, w->title.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

BOOL ShowWindow(HWND hwnd, int command) {
    Window* w = findWindow(hwnd);
    if (w == nullptr || w->remote) {
        return FALSE;
    }
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    switch (command) {
    case SW_HIDE:
        w->visible = false;
        if (wasVisible) {
            platform::frontEnd()->windowChanged(hwnd);
        }
        return wasVisible;
    case SW_SHOWMINIMIZED:
        w->iconic = true;
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
        w->iconic = false;
        break;
    default:
        break;
    }
    w->visible = true;
    if (isTopLevel(w)) {
        w->everShown = true;
        platform::frontEnd()->windowShown(hwnd);
        platform::deliverPendingSignal();
    }
    return wasVisible;
}

BOOL UpdateWindow(HWND hwnd) {
    return IsWindow(hwnd);
}

BOOL IsIconic(HWND hwnd) {
    Window* w = findWindow(hwnd);
    if (w == nullptr) {
        return FALSE;
    }
    if (w->remote) {
        return platform::desktopIsIconic(hwnd) ? TRUE : FALSE;
    }
    return w->iconic || (isTopLevel(w) && platform::frontEnd()->windowsAreIconic()) ? TRUE : FALSE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
    Window* w = findWindow(hwnd);
    if (w == nullptr || w->remote || rect == nullptr) {
        return FALSE;
    }
    *rect = w->rect;
    return TRUE;
}

HWND SetFocus(HWND hwnd) {
    Window* w = findWindow(hwnd);
    if (hwnd != nullptr && w == nullptr) {
        return nullptr;
    }
    if (w != nullptr && w->remote) {
        platform::desktopFocus(hwnd);
        return focus;
    }
    return std::exchange(focus, hwnd);
}

HWND GetFocus() {
    return focus;
}

HWND GetParent(HWND hwnd) {
    Window* w = findWindow(hwnd);
    return w != nullptr ? w->parent : nullptr;
}

BOOL IsWindowVisible(HWND hwnd) {
    Window* w = findWindow(hwnd);
    return w != nullptr && w->visible && !w->destroying ? TRUE : FALSE;
}

int GetClassNameA(HWND hwnd, char* buf, int size) {
    Window* w = findWindow(hwnd);
    if (w == nullptr || buf == nullptr || size <= 0) {
        return 0;
    }
    size_t n = std::min(w->className.size(), static_cast<size_t>(size - 1));
    std::memcpy(buf, w->className.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

namespace platform {

DialogMode dialogMode(HWND hwnd) {
    Window* w = findWindow(hwnd);
    if (w == nullptr || w->dialog == nullptr) {
        return DialogMode::None;
    }
    return w->dialog->modal ? DialogMode::Modal : DialogMode::Modeless;
}

} // namespace platform

HWND FindWindowA(const char* className, const char* title) {
    if (className == nullptr) {
        return nullptr;
    }
    for (HWND h : platform::topLevelWindows()) {
        Window* w = findWindow(h);
        if (w == nullptr || w->destroying || strcasecmp(w->className.c_str(), className) != 0) {
            continue;
        }
        if (title == nullptr || w->title == title) {
            return h;
        }
    }
    return platform::desktopFind(className);
}

HICON LoadIconA(HINSTANCE, const char*) {
    static char icon;
    return reinterpret_cast<HICON>(&icon);
}

HCURSOR LoadCursorA(HINSTANCE, const char*) {
    static char cursor;
    return reinterpret_cast<HCURSOR>(&cursor);
}
