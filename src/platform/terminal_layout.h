// Geometry of the terminal window, in character cells: the main window with its title bar
// and menu bar, dialogs mapped from dialog units, message boxes, text wrapping and clipping,
// and the parts of true-colour spans that a window drawn on top leaves visible. Pure
// functions, so that they are tested without a terminal.
#pragma once

#include "platform/dialog.h"
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

// Text as cells can show it: printable ASCII stays, every other byte becomes '?' (status
// texts carry names that stations chose, so no control sequence ever reaches the terminal).
std::string cellText(const char* text);

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

// A message box: its rectangle, the wrapped text and where the OK button is.
struct MessageBoxLayout {
    CellRect rect;
    std::vector<std::string> lines;
    CellRect okButton;
};
MessageBoxLayout layoutMessageBox(const std::string& caption, const std::string& text, int cols,
                                  int rows);

} // namespace platform::term
