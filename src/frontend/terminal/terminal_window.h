// The terminal front end's own calls: switching to it, and what the terminal window shows
// besides the windows (a panel of text lines below the main window, function keys of a
// dialog). main and the subsystems above the front ends call them; the platform knows none.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>

// Draws windows, dialogs and message boxes in the terminal (ncurses) from now on; false,
// with a one-line reason in whyNot, when the terminal cannot be used (minimised mode stays).
bool platformUseTerminalFrontEnd(char* whyNot, size_t size);

// --- Terminal window: a panel of text lines below the main window ----------------------
// The lines come from a provider: count(context) lines, line(index, out, size, context)
// writes line index as zero-terminated printable text (outside names already escaped) and
// returns its length. The front end still shows any byte outside printable ASCII as '?'.
// title, when given, is shown in the panel's title bar. The minimised front end ignores
// panels.
struct PlatformPanel {
    int (*count)(void* context);
    size_t (*line)(int index, char* out, size_t size, void* context);
    void* context;
    const char* title = nullptr;
};
// Shows the panel (copied) from now on; nullptr: no panel.
void platformSetPanel(const PlatformPanel* panel);
// The lines changed: drawn again with the next coalesced redraw.
void platformPanelChanged();
// Keys given to a panel action: Enter, Del, and the letters c and d (either case).
constexpr int PLATFORM_PANEL_ENTER = '\r';
constexpr int PLATFORM_PANEL_DELETE = 127;
// act(index, key, context) runs for Enter, Del, 'c' or 'd' on the selected line (index as
// drawn when the key was pressed), when the message loop is next idle, so it may show a
// message box (MB_YESNO, MB_OKCANCEL) to confirm. nullptr: no action.
void platformSetPanelAction(void (*act)(int index, int key, void* context), void* context);

// Terminal window: on this dialog, function key F<functionKey> (1 to 12) issues WM_COMMAND
// command, and the dialog's bottom border shows "F<n> " followed by what label(out, size,
// context) writes, asked again at each redraw (so it can show a value that the command
// changes). Forgotten when the dialog is destroyed; the minimised front end ignores it.
void platformSetDialogKey(HWND dialog, int functionKey, WORD command,
                          size_t (*label)(char* out, size_t size, void* context), void* context);

// identity(index, context) tells what line index stands for, the same while the line moves
// (a station's window), or 0 for a line that takes no action; context is the panel's. The
// selection follows its line when lines move, and while it rests on a line that takes no
// action the title bar shows noActionTitle and the action keys do nothing. Set after
// platformSetPanel; a new platformSetPanel forgets it. nullptr: lines are plain positions.
void platformSetPanelIdentity(uintptr_t (*identity)(int index, void* context),
                              const char* noActionTitle);
