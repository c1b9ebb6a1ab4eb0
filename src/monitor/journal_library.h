// The journal's client library, loaded when the event log first goes to the journal (the
// server runs under the service manager) rather than at program start: elsewhere it is
// neither mapped nor what it pulls in (compression, crypto). The signature is the library's
// own header's; only the function is found at run time.
#pragma once

#include <cstddef>
#include <systemd/sd-journal.h>

// The file name of the library as Debian installs it (package libsystemd0).
constexpr const char JOURNAL_LIBRARY_FILE[] = "libsystemd.so.0";

// The library's functions that the event log calls. The header makes sd_journal_sendv a
// macro only when called; its address is the plain function's, which adds no code location.
struct JournalLibrary {
    decltype(&sd_journal_sendv) sendv;
};

// Opens file and fills out. False, with out untouched and a one-line reason in why (the file
// and the loader's error, or the missing function), when that cannot be done.
bool journalLibraryResolve(const char* file, JournalLibrary* out, char* why, size_t size);
