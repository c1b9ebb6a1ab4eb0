// The terminal front end's own interfaces: geometry and colours (pure functions), the
// screen on ncurses, and the state its files share.
#pragma once

#include "frontend/terminal/terminal_window.h"
#include "platform/runtime.h"
#include "platform/types.h"
#include "platform/window/dialog.h"

// ncurses without its function-like macros (move, erase), which clash with the library.
#ifndef NCURSES_NOMACROS
#define NCURSES_NOMACROS
#endif
#include <cstdint>
#include <curses.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace platform::term {

// --- Geometry (terminal_layout.cpp) ---
struct CellRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

inline bool contains(const CellRect& r, int x, int y) {
    return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

// The main window is at least this many columns wide (a 275-pixel window).
constexpr int kMainWindowColumns = 40;

// Text as cells show it: escaped (bytes below 32, 127 and the backslash as \xHH and \\), so
// no control sequence reaches the terminal; a byte from 128 up shows as '?'.
std::string cellText(const char* text);
// The escaped text for the terminal emulator's title (bytes from 128 up kept).
std::string titleText(const char* text);
// Text of an edit field: printable ASCII, every other byte '?' (one cell per byte).
std::string fieldText(const char* text);

// Clips the cells [x, x + length) to [0, limit): the leading cells that fall off (*skip)
// and how many remain (*visible). False when none remains.
bool clipSpan(int x, int length, int limit, int* skip, int* visible);

// Breaks text into lines of at most width cells at blanks (a longer word is cut); blanks at
// a break are dropped. At most maxLines lines (0: no limit).
std::vector<std::string> wrapText(const std::string& text, int width, int maxLines);

// One item of a menu bar: its command, first column (from the bar's left end) and width.
struct MenuSlot {
    int id;
    int x;
    int width;
    std::string label; // " CAPTION "
};
// Items from the left, one blank apart; right-justified items at the right-hand end.
std::vector<MenuSlot> layoutMenuBar(const MenuTemplate* menu, int barWidth);
// The width the main window needs for its menu bar, at least kMainWindowColumns.
int mainWindowWidth(const MenuTemplate* menu);

// Dialog units to cells (4 across, 8 down, rounded; a size is at least one cell).
CellRect dialogUnitsToCells(int x, int y, int w, int h);
// Moves a rectangle up and left until it fits the screen (never above or left of 0).
CellRect placeOnScreen(CellRect r, int cols, int rows);

// A run of cells drawn in true colour after the terminal library has drawn the screen.
struct ColourSpan {
    int y;
    int x;
    std::string text;
    COLORREF fg;
    COLORREF bg;
    bool emphasis; // bold and underlined (the focused control)
};
// Removes from the spans every cell that the rectangle covers (a window drawn on top).
void occludeSpans(std::vector<ColourSpan>& spans, const CellRect& cover);

// A message box: its rectangle, the wrapped text and its buttons (OK, or the first and
// second of Yes/No and OK/Cancel; secondButton.w == 0 with one button).
struct MessageBoxLayout {
    CellRect rect;
    std::vector<std::string> lines;
    CellRect okButton;
    CellRect secondButton;
};
// The labels of a box's buttons: "[ OK ]", or "[ Yes ]" "[ No ]", or "[ OK ]" "[ Cancel ]".
std::vector<std::string> messageBoxButtons(UINT type);
MessageBoxLayout layoutMessageBox(const std::string& caption, const std::string& text, int cols,
                                  int rows, UINT type = MB_OK);

// The panel's rectangle (title bar, lines, bottom border), first line shown and how many.
struct PanelLayout {
    CellRect rect;
    int top = 0;
    int visible = 0;
};
// Lays out count lines from row y to the bottom of a cols x rows screen, full width; keeps
// top where it can and scrolls just enough to show the selected line.
PanelLayout layoutPanel(int count, int selected, int top, int y, int cols, int rows);

// --- Colours (terminal_layout.cpp) ---
// True colour when COLORTERM (may be nullptr) is "truecolor" or "24bit", the terminfo flag
// RGB is set, or terminfo counts 2^24 colours.
bool isTrueColour(const char* colorterm, int terminfoColours, bool rgbFlag);
// The nearest of the 8 basic colours (xterm's values; the lower index wins a tie).
int nearestBasic8(COLORREF colour);
// The nearest colour of the 256-colour palette's 6x6x6 cube (16 to 231) and gray ramp (232
// to 255; only when strictly nearer); the first 16 colours can be redefined and are left out.
int nearestXterm256(COLORREF colour);
// ESC [ 38;2;r;g;b;48;2;r;g;b m: a true-colour foreground and background.
std::string trueColourSgr(COLORREF fg, COLORREF bg);

// --- Screen (terminal_screen.cpp) ---
// How cells look (the nearest terminal colours; exact ones in true colour where possible).
struct Paint {
    COLORREF fg = RGB(0, 0, 0);
    COLORREF bg = RGB(192, 192, 192);
    bool exact = false;
    bool bold = false;
    bool underline = false;
    bool reverseInMono = false; // without colours: reverse video
};

// The default look of windows, title bars (and a selected menu item), fields and buttons.
Paint facePaint();
Paint captionPaint(bool active);
Paint fieldPaint();
Paint buttonPaint(bool focused);

// Checks, without touching the screen, that TERM names a terminal that can place text and
// that standard input and output are terminals; false with a one-line reason otherwise.
bool screenUsable(std::string* why);
// Takes the terminal over (full-screen mode, keys without echo, mouse); false on failure.
bool screenStart(std::string* why);
// Gives the terminal back as it was (idempotent, safe from atexit).
void screenStop();
bool screenStarted();
int screenCols();
int screenRows();
// Reads the terminal's size again after a resize; the next frame repaints every cell.
void screenResize();
void screenForceRepaint();

// A frame: begin, draw (clipped to the screen), end.
void screenBeginFrame();
void screenPut(int y, int x, const std::string& text, const Paint& paint);
void screenFill(const CellRect& r, const Paint& paint);
// Where the text cursor shows at the end of the frame; (-1, -1) hides it.
void screenCursor(int y, int x);
// Sends the frame to the terminal, then the true-colour spans.
void screenEndFrame();
// Draws a window over r (hiding the true-colour spans under it): the fill, the title bar
// with the title cut to titleRoom cells, "[X]" with closeBox, the borders in face.
void screenWindow(const CellRect& r, const std::string& title, int titleRoom, bool closeBox,
                  bool active, const Paint& face, const Paint& fill);
// Sets the terminal emulator's title, when the terminal has a way to and the text changed.
void screenSetTitle(const std::string& text);

// --- State shared by the terminal's files ---
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
    int focus = 0;  // the button with the focus (0: OK or Yes)
    int answer = 0; // the button's answer once one is pressed
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
    uintptr_t (*identity)(int index, void* context) = nullptr; // platformSetPanelIdentity
    const char* noActionTitle = nullptr;
    void (*act)(int index, int key, void* context) = nullptr;
    void* actContext = nullptr;
    int selected = 0;
    uintptr_t selectedIdentity = 0; // what the selected line stands for (0: nothing)
    int top = 0;                    // the first line shown
    int pendingIndex = 0;
    int pendingKey = 0; // the key of an action that waits to run (0: none)
};

// The window that takes the keys when no modal window does (F6 moves among them).
enum class Active { Main, Panel, Dialog };

struct Terminal {
    bool chosen = false;  // the program uses the terminal front end
    bool started = false; // the screen is ours
    bool failed = false;  // the screen could not be set up: the minimised front end answers
    bool lost = false;    // the terminal hung up
    HWND mainWindow = nullptr;
    Active active = Active::Main; // takes the keys unless a modal window does
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
extern Terminal& ui;

// Who takes the keys: the top message box (ui.boxes.back()), else the top modal dialog, else
// the active panel, else the main window when active or no dialog shows, else the top dialog.
enum class TargetKind { None, Main, Panel, Dialog, Box };
struct Target {
    TargetKind kind = TargetKind::None;
    HWND hwnd = nullptr;
};
Target keyTarget();
// A window's text (cut at 4095 bytes) and style, read through the window operations.
std::string windowText(HWND hwnd);
DWORD windowStyle(HWND hwnd);

// --- Redraw (terminal_redraw.cpp) ---
// Something changed: drawn when the message loop is idle, or after a short delay.
void markDirty();
// The message loop is idle: draw, and let waiting keys go on.
void terminalIdle();

// --- Input (terminal_input.cpp) ---
// Watches standard input; after a key that hands work to the loop, the next keys wait.
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

// --- Message boxes (terminal_message_box.cpp) ---
int runMessageBox(const char* text, const char* caption, UINT type);
void drawMessageBox(BoxView* box);
bool messageBoxKey(BoxView* box, const InputEvent& event);
bool messageBoxClick(BoxView* box, int x, int y);

} // namespace platform::term
