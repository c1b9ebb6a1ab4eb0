// The about dialog: a modeless dialog opened by menu command 122, one more each time.
#pragma once

#include "platform/types.h"

// Opens a new about dialog owned by owner; a failure is not reported.
void openAboutDialog(HWND owner);

// About dialog procedure (template 107): CLOSE closes it, command 2 advances the directory
// server index 1-2-3-4-1, colour requests give the dialog's own colours.
INT_PTR aboutDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
