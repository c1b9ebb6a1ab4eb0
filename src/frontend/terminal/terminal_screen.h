// The screen of the terminal window: starting and restoring the terminal, colours, clipped
// drawing into a frame, true-colour spans, the cursor and the terminal emulator's title.
// Built on ncurses; every draw is clipped to the screen, so a small terminal never fails.
#pragma once

#include "frontend/terminal/terminal_colour.h"
#include "frontend/terminal/terminal_layout.h"

#include <string>

namespace platform::term {

// How cells look. Colours are red-green-blue values; the screen maps them to the nearest
// colours the terminal has. Exact colours (those a dialog gave for a control) are drawn in
// true colour where the terminal has it.
struct Paint {
    COLORREF fg = RGB(0, 0, 0);
    COLORREF bg = RGB(192, 192, 192);
    bool exact = false;
    bool bold = false;
    bool underline = false;
    bool reverseInMono = false; // without colours: reverse video
};

// The default look of windows, menus and controls.
Paint facePaint();
Paint captionPaint(bool active);
Paint menuItemPaint(bool selected);
Paint fieldPaint();
Paint buttonPaint(bool focused);

// Checks that the terminal named by TERM can be driven (without touching the screen): a
// known terminal type that can move the cursor, with standard input and output terminals.
// False with a one-line reason otherwise.
bool screenUsable(std::string* why);

// Takes the terminal over (full-screen mode, keys without echo, mouse). False when the
// terminal cannot be set up.
bool screenStart(std::string* why);
// Gives the terminal back as it was (idempotent, safe from atexit).
void screenStop();
bool screenStarted();
int screenCols();
int screenRows();
ColourDepth screenDepth();

// Reads the terminal's size again after a resize and redraws everything on the next frame.
void screenResize();
// The next frame repaints every cell (after a resize, or when asked).
void screenForceRepaint();

// A frame: begin, draw, end. Drawing is clipped to the screen.
void screenBeginFrame();
// A window is drawn over r: true-colour spans drawn before under it are dropped.
void screenCover(const CellRect& r);
void screenPut(int y, int x, const std::string& text, const Paint& paint);
void screenFill(const CellRect& r, const Paint& paint);
// The side and bottom borders of a window whose top row is its title bar.
void screenFrame(const CellRect& r, const Paint& paint);
// Where the text cursor shows at the end of the frame; (-1, -1) hides it.
void screenCursor(int y, int x);
// Sends the frame to the terminal, then the true-colour spans.
void screenEndFrame();

// Sets the terminal emulator's title when the terminal has a way to (xterm-like terminals,
// tmux, screen with a status line); does nothing otherwise (for example on the Linux
// console). Only a changed text is sent.
void screenSetTitle(const std::string& text);

} // namespace platform::term
