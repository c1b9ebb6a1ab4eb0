// System commands of WM_SYSCOMMAND beyond those of platform/types.h.
#pragma once

#include "platform/types.h"

// The close box of a window's title bar (and Ctrl-C in the terminal window): the window's
// procedure may ask before it closes; the default processing sends WM_CLOSE.
constexpr WPARAM SC_CLOSE = 0xF060;
