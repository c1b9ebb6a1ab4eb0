// First-run set-up of the account: the check, the account dialog and the directory list
// update, run in that order by application initialisation.
#pragma once

#include "platform/types.h"

// The four default directory server entries, written by the account dialog and the
// directory list update.
extern const char* const defaultDirectoryServers[4];

// Writes [server] 1..4 with the default entries and maxusers = "8".
void writeDefaultDirectoryServers();

// Shows the account dialog when [callsign] desc reads exactly "none" (its default). Where
// no dialog can be shown (minimised), says which keys to set in which file and ends the
// process with exit code 2.
void firstRunCheck();

// Account dialog procedure (template 3200): O K checks and stores the fields; A B O R T
// ends the process with exit code 0.
INT_PTR accountDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// When [server] ver is missing ("NONE"): shows "Server Updated" and rewrites the default
// directory entries, maxusers and ver = "618". Any other value leaves the file alone.
void directoryListUpdate();
