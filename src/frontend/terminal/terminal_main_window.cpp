// The main window in the terminal: a box at the top left of the screen. Its title bar
// shows the status line (the window's title, clipped to the box) and a close box; below
// it the menu bar with the window's menu, then the line of keys, then the bottom border.
#include "platform/window/dialog.h"
#include "frontend/terminal/terminal_curses.h"
#include "frontend/terminal/terminal_screen.h"
#include "frontend/terminal/terminal_state.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

#include <cctype>

namespace platform::term {
namespace {

const MenuTemplate* mainMenu() {
    return platformWindowMenu(terminal().mainWindow);
}

std::vector<MenuSlot> menuSlots() {
    return layoutMenuBar(mainMenu(), mainWindowRect().w - 2);
}

// The close box "[X]" at the right-hand end of the title bar.
CellRect closeBox() {
    CellRect r = mainWindowRect();
    return CellRect{r.x + r.w - 4, r.y, 3, 1};
}

bool choose(int index) {
    Terminal& t = terminal();
    std::vector<MenuSlot> slots = menuSlots();
    t.menuActive = false;
    if (index < 0 || index >= static_cast<int>(slots.size())) {
        return false;
    }
    PostMessageA(t.mainWindow, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(slots[index].id), 0), 0);
    return true;
}

} // namespace

CellRect mainWindowRect() {
    return CellRect{0, 0, mainWindowWidth(mainMenu()), kMainWindowRows};
}

void drawMainWindow(bool active) {
    Terminal& t = terminal();
    Window* w = findWindow(t.mainWindow);
    if (w == nullptr) {
        return;
    }
    CellRect r = mainWindowRect();
    screenCover(r);
    screenFill(r, facePaint());
    Paint caption = captionPaint(active);
    screenFill(CellRect{r.x, r.y, r.w, 1}, caption);
    std::string status = cellText(w->title.c_str());
    int statusWidth = r.w - 6;
    if (static_cast<int>(status.size()) > statusWidth) {
        status.resize(static_cast<size_t>(statusWidth));
    }
    screenPut(r.y, r.x + 1, status, caption);
    CellRect close = closeBox();
    screenPut(close.y, close.x, "[X]", caption);

    std::vector<MenuSlot> slots = menuSlots();
    for (size_t i = 0; i < slots.size(); ++i) {
        bool selected = active && t.menuActive && static_cast<int>(i) == t.menuIndex;
        screenPut(r.y + 1, r.x + 1 + slots[i].x, slots[i].label, menuItemPaint(selected));
    }
    std::string keys = kMainKeyLine;
    if (static_cast<int>(keys.size()) > r.w - 2) {
        keys.resize(static_cast<size_t>(r.w - 2));
    }
    screenPut(r.y + 2, r.x + 1, keys, facePaint());
    screenFrame(r, facePaint());
}

void openMenuBar(int letter) {
    Terminal& t = terminal();
    std::vector<MenuSlot> slots = menuSlots();
    if (slots.empty()) {
        return;
    }
    if (!t.menuActive) {
        SendMessageA(t.mainWindow, WM_INITMENU, 0, 0);
    }
    t.menuActive = true;
    t.menuIndex = 0;
    for (size_t i = 0; letter != 0 && i < slots.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(slots[i].label[1])) == std::toupper(letter)) {
            t.menuIndex = static_cast<int>(i);
            break;
        }
    }
}

void closeMenuBar() {
    terminal().menuActive = false;
}

bool mainWindowKey(const InputEvent& event) {
    Terminal& t = terminal();
    int count = static_cast<int>(menuSlots().size());
    if (count == 0) {
        return false;
    }
    if (!t.menuActive) {
        if (event.key == KEY_LEFT || event.key == KEY_RIGHT) {
            openMenuBar(0);
        }
        return false;
    }
    switch (event.key) {
    case KEY_LEFT:
        t.menuIndex = (t.menuIndex + count - 1) % count;
        return false;
    case KEY_RIGHT:
        t.menuIndex = (t.menuIndex + 1) % count;
        return false;
    case '\r':
    case '\n':
    case KEY_ENTER:
    case KEY_DOWN:
    case ' ':
        return choose(t.menuIndex);
    case kEscape:
        closeMenuBar();
        return false;
    default:
        break;
    }
    if (event.key > 0x20 && event.key < 0x7F) {
        std::vector<MenuSlot> slots = menuSlots();
        for (size_t i = 0; i < slots.size(); ++i) {
            if (std::toupper(static_cast<unsigned char>(slots[i].label[1])) ==
                std::toupper(event.key)) {
                return choose(static_cast<int>(i));
            }
        }
    }
    return false;
}

bool mainWindowClick(int x, int y) {
    Terminal& t = terminal();
    CellRect r = mainWindowRect();
    if (contains(closeBox(), x, y)) {
        t.menuActive = false;
        PostMessageA(t.mainWindow, WM_CLOSE, 0, 0);
        return true;
    }
    if (y == r.y + 1) {
        std::vector<MenuSlot> slots = menuSlots();
        for (size_t i = 0; i < slots.size(); ++i) {
            if (x >= r.x + 1 + slots[i].x && x < r.x + 1 + slots[i].x + slots[i].width) {
                return choose(static_cast<int>(i));
            }
        }
    }
    t.menuActive = false;
    return false;
}

} // namespace platform::term
