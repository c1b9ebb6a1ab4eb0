// Private-profile (ini) files with the rules the server relies on.
//
// Reads: section and key names compared without regard to case; the value trimmed of
// blanks; the first of two equal keys wins; a missing file, section or key gives the
// default. Writes change the one line of their key (or add it, and its section, at the
// end of the section or file) and leave every other byte of the file as it was; the file
// is replaced atomically, and a file that the write creates gets mode 0600.
//
// A file name without a '/' is looked up in the configuration directory (see
// platformSetProfileFile in platform/runtime.h).
#pragma once

#include "platform/types.h"

// Copies the value (or the default) into buf, cut to size - 1 characters and terminated;
// returns the number of characters copied.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buf, DWORD size, const char* fileName);
// The decimal number at the start of the value (0 when it has none), or the default when
// the key is missing.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName);
// Creates or replaces the key; FALSE when the file could not be written.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);
