// State of the terminal front end, shared by its files: which windows it shows, in which
// order, which one takes the keys, the menu bar, open message boxes and the keys that wait
// to be handled. Nothing outside the terminal front end includes this file.
#pragma once

#include "platform/runtime.h"
#include "frontend/terminal/terminal_layout.h"
#include "platform/types.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace platform::term {

// A key or a mouse press, as read from the terminal.
struct InputEvent {
    int key;   // an ncurses key code, a character, kAltKey + character, or kMousePress
    int x = 0; // mouse position (kMousePress)
    int y = 0;
};
constexpr int kAltKey = 0x10000;
constexpr int kMousePress = 0x20000;
constexpr int kEscape = 27;

// What a dialog shows beyond its window records.
struct DialogView {
    HWND focus = nullptr; // the control with the focus
    int cursor = 0;       // the text cursor in the focused edit field
    int originX = 0;      // placement in cells, before it is fitted to the screen
    int originY = 0;
};

struct BoxView {
    std::string caption;
    std::string text;
    UINT type = MB_OK;
    int focus = 0; // the button with the focus (0: OK or Yes)
    int answer = IDOK;
    bool done = false;
};

// A function key of a dialog (platformSetDialogKey).
struct DialogKey {
    int functionKey = 0;
    WORD command = 0;
    size_t (*label)(char* out, size_t size, void* context) = nullptr;
    void* context = nullptr;
};

// The panel below the main window (platformSetPanel) and what the operator does with it.
struct PanelView {
    bool shown = false;
    PlatformPanel panel{nullptr, nullptr, nullptr};
    void (*act)(int index, int key, void* context) = nullptr;
    void* actContext = nullptr;
    int selected = 0;
    int top = 0; // the first line shown
    bool actionPending = false;
    int pendingIndex = 0;
    int pendingKey = 0;
};

struct Terminal {
    bool chosen = false;  // the program uses the terminal front end
    bool started = false; // the screen is ours
    bool failed = false;  // the screen could not be set up: the minimised front end answers
    bool lost = false;    // the terminal hung up
    HWND mainWindow = nullptr;
    bool mainActive = true;   // keys go to the main window unless a dialog or box takes them
    bool panelActive = false; // keys go to the panel (F6), unless a modal window takes them
    PanelView panel;
    std::map<HWND, std::vector<DialogKey>> dialogKeys;
    bool menuActive = false;
    int menuIndex = 0;
    std::vector<HWND> dialogs; // shown dialogs, bottom to top
    std::map<HWND, DialogView> views;
    std::vector<BoxView*> boxes;     // open message boxes, bottom to top
    std::vector<std::string> boxLog; // every box shown, written to stderr at the end
    std::deque<InputEvent> input;    // read and not yet handled
    bool holdInput = false;          // the last key handed work to the message loop
    bool workHanded = false;         // ... and the screen is drawn again once it is done
    bool dirty = false;
    long draws = 0;
};

// The one terminal front end state (never destroyed: the exit handler uses it).
Terminal& terminal();

// Who takes the keys: the top message box, else the top modal dialog, else the main window
// when it is active (or no dialog is shown), else the top dialog.
enum class TargetKind { None, Main, Panel, Dialog, Box };
struct Target {
    TargetKind kind = TargetKind::None;
    HWND hwnd = nullptr;
    BoxView* box = nullptr;
};
Target keyTarget();
// True when the target is a message box or a modal dialog (the other windows take no input).
bool targetIsModal(const Target& target);
// A shown dialog window that still exists.
bool dialogVisible(HWND dialog);

// --- Redraw (terminal_redraw.cpp) ---
// Something on the screen changed: it is drawn when the message loop is idle, or at the
// latest after a short delay while messages keep coming.
void markDirty();
// Draws now when something changed.
void redrawIfDirty();
// Sets up the wake-up pipe, the redraw timer and the resize signal.
bool startRedrawSources();
// The message loop is idle: draw, and let waiting keys go on.
void terminalIdle();

// --- Input (terminal_input.cpp) ---
// Watches standard input. Keys are read as they come and handled in order; after a key
// that hands work to the message loop (a command, a closed box), the next keys wait until
// that work is done.
void startInput();
void handleWaitingInput();

// --- Main window (terminal_main_window.cpp) ---
CellRect mainWindowRect();
void drawMainWindow(bool active);
// Handles a key for the main window; true when it posted work to the message loop.
bool mainWindowKey(const InputEvent& event);
bool mainWindowClick(int x, int y);
// Opens the menu bar (F10, Alt); selects the item whose caption starts with letter, if any.
void openMenuBar(int letter);
// The menu bar is left without a choice.
void closeMenuBar();

// --- Dialogs (terminal_dialog.cpp) ---
// Chooses where a new dialog goes and which control has the focus.
void placeNewDialog(HWND dialog);
// The dialog's rectangle on the screen.
CellRect dialogRect(HWND dialog);
void drawDialog(HWND dialog, bool active);
bool dialogKey(HWND dialog, const InputEvent& event);
bool dialogClick(HWND dialog, int x, int y);

// --- Panel (terminal_panel.cpp) ---
bool panelShown();
// The panel's rectangle and scroll position on the screen now.
PanelLayout panelLayout();
void drawPanel(bool active);
// Handles a key for the panel; true when it handed work to the message loop (an action).
bool panelKey(const InputEvent& event);
bool panelClick(int x, int y);
// Runs an action that a key asked for (from the idle message loop).
void runPendingPanelAction();

// --- Dialog keys (terminal_dialog.cpp) ---
// The function key's command for the dialog, or false.
bool dialogFunctionKey(HWND dialog, int key);

// --- Message boxes (terminal_message_box.cpp) ---
int runMessageBox(const char* text, const char* caption, UINT type);
void drawMessageBox(BoxView* box);
bool messageBoxKey(BoxView* box, const InputEvent& event);
bool messageBoxClick(BoxView* box, int x, int y);

} // namespace platform::term
