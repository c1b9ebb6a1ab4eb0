// The main window: a box at the top left with the status line as its title, then the menu
// bar and the line of keys.
#include "frontend/terminal/terminal.h"
#include "platform/window/system_command.h"
#include "platform/window/window.h"

#include <algorithm>
#include <cctype>

namespace platform::term {
namespace {

std::vector<MenuSlot> menuSlots() {
    return layoutMenuBar(platformWindowMenu(ui.mainWindow), mainWindowRect().w - 2);
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
    std::vector<MenuSlot> slots = menuSlots();
    ui.menuActive = false;
    if (index < 0 || index >= static_cast<int>(slots.size())) {
        return false;
    }
    PostMessageA(ui.mainWindow, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(slots[index].id), 0), 0);
    return true;
}

} // namespace

CellRect mainWindowRect() {
    // Rows: title bar, menu bar, the key line, the bottom border.
    return CellRect{0, 0, mainWindowWidth(platformWindowMenu(ui.mainWindow)), 4};
}

void drawMainWindow(bool active) {
    if (!IsWindow(ui.mainWindow)) {
        return;
    }
    CellRect r = mainWindowRect();
    screenWindow(r, cellText(windowText(ui.mainWindow).c_str()), r.w - 6, true, active, facePaint(),
                 facePaint());
    std::vector<MenuSlot> slots = menuSlots();
    for (size_t i = 0; i < slots.size(); ++i) {
        bool selected = active && ui.menuActive && static_cast<int>(i) == ui.menuIndex;
        screenPut(r.y + 1, r.x + 1 + slots[i].x, slots[i].label,
                  selected ? captionPaint(true) : facePaint());
    }
    std::string keys = "F10:menu <->:move Enter Esc F6:next";
    screenPut(r.y + 2, r.x + 1, keys.substr(0, static_cast<size_t>(r.w - 2)), facePaint());
}

void openMenuBar(int letter) {
    std::vector<MenuSlot> slots = menuSlots();
    if (slots.empty()) {
        return;
    }
    if (!ui.menuActive) {
        SendMessageA(ui.mainWindow, WM_INITMENU, 0, 0);
    }
    ui.menuActive = true;
    ui.menuIndex = std::max(slotWithLetter(slots, letter), 0);
}

bool mainWindowKey(const InputEvent& event) {
    int count = static_cast<int>(menuSlots().size());
    if (count == 0) {
        return false;
    }
    if (!ui.menuActive) {
        if (event.key == KEY_LEFT || event.key == KEY_RIGHT) {
            openMenuBar(0);
        }
        return false;
    }
    switch (event.key) {
    case KEY_LEFT:
        ui.menuIndex = (ui.menuIndex + count - 1) % count;
        return false;
    case KEY_RIGHT:
        ui.menuIndex = (ui.menuIndex + 1) % count;
        return false;
    case '\r':
    case '\n':
    case KEY_ENTER:
    case KEY_DOWN:
    case ' ':
        return choose(ui.menuIndex);
    case kEscape:
        ui.menuActive = false;
        return false;
    default:
        break;
    }
    int letter = event.key > 0x20 && event.key < 0x7F ? slotWithLetter(menuSlots(), event.key) : -1;
    return letter >= 0 && choose(letter);
}

bool mainWindowClick(int x, int y) {
    CellRect r = mainWindowRect();
    if (contains(CellRect{r.x + r.w - 4, r.y, 3, 1}, x, y)) { // the close box
        ui.menuActive = false;
        PostMessageA(ui.mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
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
    ui.menuActive = false;
    return false;
}

} // namespace platform::term
