// The main window in the terminal: a box at the top left of the screen. Its title bar
// shows the status line (the window's title, clipped to the box) and a close box; below
// it the menu bar with the window's menu, then the line of keys, then the bottom border.
#include "frontend/terminal/terminal.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

#include <algorithm>
#include <cctype>

namespace platform::term {
namespace {

const MenuTemplate* mainMenu() {
    return platformWindowMenu(terminal().mainWindow);
}

std::vector<MenuSlot> menuSlots() {
    return layoutMenuBar(mainMenu(), mainWindowRect().w - 2);
}

// The item whose caption starts with the letter (in either case), or -1.
int slotWithLetter(const std::vector<MenuSlot>& slots, int letter) {
    for (size_t i = 0; letter != 0 && i < slots.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(slots[i].label[1])) == std::toupper(letter)) {
            return static_cast<int>(i);
        }
    }
    return -1;
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
    // Rows: title bar, menu bar, the key line, the bottom border.
    return CellRect{0, 0, mainWindowWidth(mainMenu()), 4};
}

void drawMainWindow(bool active) {
    Terminal& t = terminal();
    Window* w = findWindow(t.mainWindow);
    if (w == nullptr) {
        return;
    }
    CellRect r = mainWindowRect();
    screenWindow(r, cellText(w->title.c_str()), r.w - 6, true, active, facePaint(), facePaint());
    std::vector<MenuSlot> slots = menuSlots();
    for (size_t i = 0; i < slots.size(); ++i) {
        bool selected = active && t.menuActive && static_cast<int>(i) == t.menuIndex;
        screenPut(r.y + 1, r.x + 1 + slots[i].x, slots[i].label,
                  selected ? captionPaint(true) : facePaint());
    }
    std::string keys = "F10:menu <->:move Enter Esc F6:next";
    screenPut(r.y + 2, r.x + 1, keys.substr(0, static_cast<size_t>(r.w - 2)), facePaint());
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
    t.menuIndex = std::max(slotWithLetter(slots, letter), 0);
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
        t.menuActive = false;
        return false;
    default:
        break;
    }
    int letter = event.key > 0x20 && event.key < 0x7F ? slotWithLetter(menuSlots(), event.key) : -1;
    return letter >= 0 && choose(letter);
}

bool mainWindowClick(int x, int y) {
    Terminal& t = terminal();
    CellRect r = mainWindowRect();
    if (contains(CellRect{r.x + r.w - 4, r.y, 3, 1}, x, y)) { // the close box
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
