// The main window: creation of the listening sockets, MDI client and timers, the message
// table, the ticks, the close and the teardown.
#pragma once

#include "platform/types.h"

// Window procedure of class Omvar_CS.
LRESULT mainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// WM_CREATE steps; 0 on success, -1 when a step failed (after its message box).
LRESULT onMainWindowCreate(HWND hwnd);
// WM_DESTROY steps: stations torn down, timer stopped, sockets closed, quit posted.
void onMainWindowDestroy(HWND hwnd);
// The operator's close (EXIT, the close box, Ctrl-C in the terminal window): while
// stations are connected, asks "N stations connected: close the conference?" first and
// closes only on Yes; with none, closes at once. Signals post WM_CLOSE and never ask.
void askToCloseConference(HWND hwnd);
// WM_CLOSE steps: sign-off, position save unless minimised, destroy.
void onMainWindowClose(HWND hwnd);
// WM_TIMER steps for one tick of either timer.
void onMainWindowTimer(HWND hwnd, UINT_PTR id);
