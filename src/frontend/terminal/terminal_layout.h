// Geometry of the terminal window, in character cells: the main window with its title bar
// and menu bar, dialogs mapped from dialog units, message boxes, text wrapping and clipping,
// and the parts of true-colour spans that a window drawn on top leaves visible. Pure
// functions, so that they are tested without a terminal.
#pragma once

#include "platform/window/dialog.h"
#include "platform/types.h"

#include <string>
#include <vector>

namespace platform::term {

struct CellRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

inline bool contains(const CellRect& r, int x, int y) {
    return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

// The main window is at least this many columns wide (a 275-pixel window), and its title
// bar shows the first kStatusColumns characters of the status line; the box is widened when
// the menu bar needs more room, never the menu captions cut.
constexpr int kMainWindowColumns = 40;
constexpr int kStatusColumns = kMainWindowColumns - 6;
// Rows: title bar, menu bar, the key line, the bottom border.
constexpr int kMainWindowRows = 4;
// The key line at the bottom of the main window.
inline constexpr const char* kMainKeyLine = "F10:menu <->:move Enter Esc F6:next";

// Text as cells show it: escaped as every outside text is (bytes below 32, 127 and the
// backslash as \xHH and \\), so a status text carrying a station's name shows what the
// station sent and no control sequence ever reaches the terminal; a byte from 128 up shows
// as '?' (one cell each: the window does not decode character sets).
std::string cellText(const char* text);
// The escaped text for the terminal emulator's title (bytes from 128 up kept).
std::string titleText(const char* text);
// Text typed into an edit field as cells show it: printable ASCII, every other byte '?'
// (not escaped, so that the cursor stays on the character it is on).
std::string fieldText(const char* text);

// Clips the cells [x, x + length) to the columns [0, limit): the number of leading cells
// that fall off (*skip) and how many remain (*visible). False when none remains.
bool clipSpan(int x, int length, int limit, int* skip, int* visible);

// Breaks text into lines of at most width cells at blanks (a word longer than the width is
// cut across lines); blanks inside a line are kept, blanks at a break are dropped. At most
// maxLines lines (0: no limit).
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
// The width the main window needs for its menu bar (borders included), at least
// kMainWindowColumns.
int mainWindowWidth(const MenuTemplate* menu);

// Dialog units to cells: 4 horizontal units and 8 vertical units per cell, rounded to the
// nearest cell; a size is at least one cell.
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

// A message box: its rectangle, the wrapped text and where its buttons are (OK, or the
// first and second of Yes/No and OK/Cancel).
struct MessageBoxLayout {
    CellRect rect;
    std::vector<std::string> lines;
    CellRect okButton;     // the first button
    CellRect secondButton; // w == 0 when the box has one button
};
// The labels of a box's buttons: "[ OK ]", or "[ Yes ]" "[ No ]", or "[ OK ]" "[ Cancel ]".
std::vector<std::string> messageBoxButtons(UINT type);
MessageBoxLayout layoutMessageBox(const std::string& caption, const std::string& text, int cols,
                                  int rows, UINT type = MB_OK);

// The panel below the main window: its rectangle (title bar, lines, bottom border), the
// first line shown and how many lines show.
struct PanelLayout {
    CellRect rect;
    int top = 0;
    int visible = 0;
};
// Lays out count lines from row y down to the bottom of a cols x rows screen, as many as
// fit (at least one row for lines when the screen has room for it), full width. top is the
// first line shown before; the result keeps it where it can and scrolls just enough to show
// the selected line, never past the last line.
PanelLayout layoutPanel(int count, int selected, int top, int y, int cols, int rows);

} // namespace platform::term
