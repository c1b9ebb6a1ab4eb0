// Colours of the terminal window: how many colours the terminal can show, and the mapping
// of a colour (red, green, blue) to the nearest colour that it has. Pure functions.
#pragma once

#include "platform/types.h"

#include <string>

namespace platform::term {

enum class ColourDepth { Mono, Basic8, Palette256, TrueColour };

// The depth to draw with. COLORTERM "truecolor" or "24bit", the terminfo flag RGB, or a
// terminfo colour count of 2^24 mean true colour; otherwise 256 colours when terminfo has
// them, 8 when it has at least 8, else none. colorterm may be nullptr.
ColourDepth chooseColourDepth(const char* colorterm, bool hasColours, int terminfoColours,
                              bool rgbFlag);

// The nearest of the 8 basic colours (0 black, 1 red, 2 green, 3 yellow, 4 blue, 5 magenta,
// 6 cyan, 7 white), by squared distance to xterm's default values of those colours; the
// lower index wins a tie.
int nearestBasic8(COLORREF colour);

// The nearest colour of the 256-colour palette among its fixed part: the 6x6x6 cube (16 to
// 231, levels 0, 95, 135, 175, 215, 255) and the gray ramp (232 to 255, 8 + 10 i). Each
// cube component takes the nearest level (the lower on a tie); the gray ramp wins only
// when it is strictly nearer. The first 16 colours are left out: terminals let the user
// redefine them.
int nearestXterm256(COLORREF colour);

// The select-graphic-rendition sequence that sets a true-colour foreground and background:
// ESC [ 38;2;r;g;b;48;2;r;g;b m.
std::string trueColourSgr(COLORREF fg, COLORREF bg);

} // namespace platform::term
