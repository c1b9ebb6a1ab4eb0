// ncurses for the terminal front end, without its function-like macros (such as move and
// erase), which would otherwise clash with the standard library.
#pragma once

#ifndef NCURSES_NOMACROS
#define NCURSES_NOMACROS
#endif
#include <curses.h>
