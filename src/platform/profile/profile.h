// Private-profile (ini) files with the rules the server relies on.
//
// Reads: section and key names compared without regard to case; the value trimmed of
// blanks; the first of two equal keys wins; a missing file, section or key gives the
// default; a UTF-8 byte-order mark at the start is read past. Writes change the one line
// of their key (or add it, and its section, at the end of the section or file) and leave
// every other byte of the file as it was; the file is replaced atomically and keeps its
// mode, owner and group (a file that the write creates gets mode 0600, and its directory
// mode 0700 when it is missing). A symbolic link is followed and its target replaced; a
// file with several hard links is not written. Opening never blocks: a FIFO, a device or
// a directory at the path is never read.
//
// A file name without a '/' is looked up in the configuration directory (see
// platformSetProfileFile in platform/runtime.h).
#pragma once

#include "platform/types.h"

#include <cstddef>

// Copies the value (or the default) into buf, cut to size - 1 characters and terminated;
// returns the number of characters copied. A null key lists the section's key names
// instead, each ended by a NUL and the list by a second NUL (cut to fit: size - 2).
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buf, DWORD size, const char* fileName);
// The decimal number at the start of the value (0 when it has none), or the default when
// the key is missing.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName);
// Creates or replaces the key; FALSE when the file could not be written (then
// platformProfileWriteError says why).
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

// Why the last WritePrivateProfileStringA that returned FALSE failed, as "PATH: REASON"
// (for example "/home/op/.config/omvarc.ini: cannot create a file in /home/op/.config/:
// Permission denied"), cut to size - 1 characters; empty when none has failed.
void platformProfileWriteError(char* buf, size_t size);

// What is at the path that fileName resolves to, looked at without blocking.
enum ProfileFileState {
    PROFILE_FILE_READABLE,   // a regular file that can be read; *mode holds its permission bits
    PROFILE_FILE_MISSING,    // nothing there (a dangling symbolic link included)
    PROFILE_FILE_UNREADABLE, // something that cannot be read as the file; why says what
};
// Returns a ProfileFileState. why (size bytes, may be null) receives the reason for
// PROFILE_FILE_UNREADABLE ("Permission denied", "a FIFO, not a regular file") and is
// empty otherwise; mode (may be null) receives the permission bits of a readable file.
int platformProfileFileState(const char* fileName, unsigned* mode, char* why, size_t size);
