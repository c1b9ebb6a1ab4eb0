// Keys and mouse presses, handed to the window that takes them (F10 and Alt: the menu bar,
// F6: the next window, Ctrl-L: repaint). A key that needs the program posts a message, and
// the keys after it wait until it is handled, so they go to the window on top by then.
#include "frontend/terminal/terminal.h"
#include "platform/runtime.h"
#include "platform/window/frontend.h"
#include "platform/window/system_command.h"
#include "platform/window/window.h"

#include <algorithm>
#include <csignal>
#include <iterator>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform::term {
namespace {

constexpr int kCtrlC = 3;
constexpr int kCtrlL = 12;
constexpr int kMaxKeysPerRead = 4096;
constexpr int kMaxMouseEvents = 16; // more than ncurses keeps waiting

void raiseDialog(HWND dialog) {
    std::vector<HWND>& dialogs = ui.dialogs;
    dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), dialog), dialogs.end());
    dialogs.push_back(dialog);
    DialogView& view = ui.views[dialog];
    if (view.focus != nullptr && IsWindow(view.focus)) {
        SetFocus(view.focus);
    }
}

// F6: the main window, the panel, then each shown dialog in the order they were opened.
void nextWindow() {
    std::vector<HWND> order;
    std::copy_if(ui.dialogs.begin(), ui.dialogs.end(), std::back_inserter(order), IsWindowVisible);
    std::sort(order.begin(), order.end());
    // The panel is no window: it takes the place of a null handle in the order.
    if (panelShown()) {
        order.insert(order.begin(), nullptr);
    }
    if (IsWindowVisible(ui.mainWindow)) {
        order.insert(order.begin(), ui.mainWindow);
    }
    if (order.empty()) {
        return;
    }
    Target target = keyTarget();
    auto at = target.kind == TargetKind::None ? order.end()
                                              : std::find(order.begin(), order.end(), target.hwnd);
    size_t next =
        at == order.end() ? 0 : static_cast<size_t>(at - order.begin() + 1) % order.size();
    ui.menuActive = false;
    if (order[next] == nullptr) {
        ui.active = Active::Panel;
    } else if (order[next] == ui.mainWindow) {
        ui.active = Active::Main;
    } else {
        ui.active = Active::Dialog;
        raiseDialog(order[next]);
    }
}

// A mouse press: the top-most window under it takes it (only the modal one, when there is
// one). True when work was posted.
bool handleClick(int x, int y, const Target& target, bool modal) {
    if (modal) {
        if (target.kind == TargetKind::Box) {
            return messageBoxClick(ui.boxes.back(), x, y);
        }
        return target.kind == TargetKind::Dialog && contains(dialogRect(target.hwnd), x, y) &&
               dialogClick(target.hwnd, x, y);
    }
    std::vector<HWND> dialogs = ui.dialogs;
    for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it) {
        if (IsWindowVisible(*it) && contains(dialogRect(*it), x, y)) {
            ui.menuActive = false;
            ui.active = Active::Dialog;
            raiseDialog(*it);
            return dialogClick(*it, x, y);
        }
    }
    if (panelShown() && contains(panelLayout().rect, x, y)) {
        ui.menuActive = false;
        return panelClick(x, y);
    }
    if (IsWindowVisible(ui.mainWindow) && contains(mainWindowRect(), x, y)) {
        ui.active = Active::Main;
        return mainWindowClick(x, y);
    }
    return false;
}

// One key or press. True when it handed work to the message loop.
bool handleEvent(const InputEvent& event) {
    if (event.key == KEY_RESIZE) {
        screenResize();
        return false;
    }
    if (event.key == kCtrlL) {
        screenForceRepaint();
        return false;
    }
    if (event.key == kCtrlC) {
        // The close box's request, whatever window has the keys; before the main window
        // exists there is nothing to ask about, and Ctrl-C ends the start as SIGINT does.
        if (ui.mainWindow != nullptr && IsWindow(ui.mainWindow)) {
            PostMessageA(ui.mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        }
        kill(getpid(), SIGINT);
        return false;
    }
    Target target = keyTarget();
    // A message box or a modal dialog: the other windows take no input.
    bool modal = target.kind == TargetKind::Box ||
                 (target.kind == TargetKind::Dialog &&
                  platform::dialogMode(target.hwnd) == platform::DialogMode::Modal);
    if (event.key == kMousePress) {
        return handleClick(event.x, event.y, target, modal);
    }
    if (event.key >= kAltKey && modal) {
        // Escape typed just before a key: the modal window sees both.
        ui.input.push_front(InputEvent{event.key - kAltKey});
        return handleEvent(InputEvent{kEscape});
    }
    if (!modal && IsWindowVisible(ui.mainWindow) &&
        (event.key == KEY_F(10) || event.key >= kAltKey)) {
        if (event.key == KEY_F(10) && target.kind == TargetKind::Main && ui.menuActive) {
            ui.menuActive = false;
        } else {
            ui.active = Active::Main;
            openMenuBar(event.key >= kAltKey ? event.key - kAltKey : 0);
        }
        return false;
    }
    if (!modal && event.key == KEY_F(6)) {
        nextWindow();
        return false;
    }
    switch (target.kind) {
    case TargetKind::Main:
        return mainWindowKey(event);
    case TargetKind::Panel:
        return panelKey(event);
    case TargetKind::Dialog:
        return dialogKey(target.hwnd, event);
    case TargetKind::Box:
        return messageBoxKey(ui.boxes.back(), event);
    case TargetKind::None:
        break;
    }
    return false;
}

// A readable standard input that gives no key has hung up (the terminal was closed). The
// program then closes as on SIGHUP, which the platform turns into the close path.
void checkHangup() {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int available = 0;
    if (poll(&p, 1, 0) < 0) {
        return;
    }
    bool gone = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ||
                ((p.revents & POLLIN) != 0 && ioctl(STDIN_FILENO, FIONREAD, &available) == 0 &&
                 available == 0);
    if (gone) {
        ui.lost = true;
        platformUnwatchDescriptor(STDIN_FILENO);
        kill(getpid(), SIGHUP);
    }
}

void readKeys(int, short, void*) {
    int count = 0;
    int pending = ERR;
    while (count < kMaxKeysPerRead) {
        int c = pending != ERR ? pending : getch();
        pending = ERR;
        if (c == ERR) {
            break;
        }
        ++count;
        if (c == KEY_MOUSE) {
            // One KEY_MOUSE may stand for several waiting events, newest first: all are
            // taken and the presses queued oldest first, so no press is lost.
            MEVENT events[kMaxMouseEvents];
            int n = 0;
            while (n < kMaxMouseEvents && getmouse(&events[n]) == OK) {
                ++n;
            }
            for (int i = n - 1; i >= 0; --i) {
                if ((events[i].bstate & BUTTON1_PRESSED) != 0) {
                    ui.input.push_back(InputEvent{kMousePress, events[i].x, events[i].y});
                }
            }
            continue;
        }
        if (c == kEscape) {
            // Terminals send Alt+key as Escape and the key together.
            int next = getch();
            if (next >= 0x20 && next < 0x7F) {
                ui.input.push_back(InputEvent{kAltKey + next});
                continue;
            }
            pending = next;
        }
        ui.input.push_back(InputEvent{c});
    }
    if (count == 0) {
        checkHangup();
    }
    handleWaitingInput();
}

} // namespace

Target keyTarget() {
    if (!ui.boxes.empty()) {
        return Target{TargetKind::Box, nullptr};
    }
    for (auto it = ui.dialogs.rbegin(); it != ui.dialogs.rend(); ++it) {
        if (IsWindowVisible(*it) && platform::dialogMode(*it) == platform::DialogMode::Modal) {
            return Target{TargetKind::Dialog, *it};
        }
    }
    if (ui.active == Active::Panel && panelShown()) {
        return Target{TargetKind::Panel, nullptr};
    }
    auto top = std::find_if(ui.dialogs.rbegin(), ui.dialogs.rend(), IsWindowVisible);
    HWND dialog = top == ui.dialogs.rend() ? nullptr : *top;
    if (IsWindowVisible(ui.mainWindow) && (ui.active == Active::Main || dialog == nullptr)) {
        return Target{TargetKind::Main, ui.mainWindow};
    }
    if (dialog != nullptr) {
        return Target{TargetKind::Dialog, dialog};
    }
    return Target{};
}

void startInput() {
    platformWatchDescriptor(STDIN_FILENO, POLLIN, readKeys, nullptr);
}

void handleWaitingInput() {
    int budget = kMaxKeysPerRead;
    while (!ui.holdInput && !ui.input.empty() && budget-- > 0) {
        InputEvent event = ui.input.front();
        ui.input.pop_front();
        if (handleEvent(event)) {
            ui.holdInput = true;
            ui.workHanded = true;
        }
        markDirty();
    }
}

} // namespace platform::term
