// What the lines of the panel (platformSetPanel) stand for, so that the selection can
// follow its line when lines move.
#pragma once

#include <cstdint>

// identity(index, context) tells what line index stands for, the same while the line moves
// (a station's window), or 0 for a line that takes no action; context is the panel's. The
// selection follows its line when lines move, and while it rests on a line that takes no
// action the title bar shows noActionTitle and the action keys do nothing. Set after
// platformSetPanel; a new platformSetPanel forgets it. nullptr: lines are plain positions.
void platformSetPanelIdentity(uintptr_t (*identity)(int index, void* context),
                              const char* noActionTitle);
