// First-run set-up of the account: the check, the account dialog and the directory list
// update, run in that order by application initialisation.
#pragma once

#include "platform/types.h"

// The four default directory server entries, written by the account dialog and the
// directory list update.
extern const char* const defaultDirectoryServers[4];

// Writes [server] 1..4 with the default entries and maxusers = "8". False when a write
// failed (every one is still tried).
bool writeDefaultDirectoryServers();

// Shows the account dialog when [callsign] desc reads exactly "none" (its default). Where
// no dialog can be shown (minimised), says that the file does not exist or that the account
// is not set up, which keys to set in which file, and ends the process with exit code 2.
void firstRunCheck();

// Account dialog procedure (template 3200): O K checks and stores the fields (a write that
// fails is a message box naming the file and why, and the dialog stays open); A B O R T
// ends the process with exit code 0.
INT_PTR accountDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// When [server] ver is missing ("NONE"): rewrites the default directory entries, maxusers
// and ver = "618", then says "Server Updated", or, when a write failed, that the server was
// not updated and why. Any other value leaves the file alone.
void directoryListUpdate();
