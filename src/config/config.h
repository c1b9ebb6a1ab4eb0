// The configuration file: its name as the private-profile functions take it, the check of
// its path at start, and writes whose failure the operator is told about.
#pragma once

#include <cstddef>

// Resolved by the platform to the file given with --config (default: the configuration
// directory of the user).
constexpr const char* CONFIG_FILE = "omvarc.ini";

// Looks at the configuration path before anything reads it, without blocking. A file that
// exists but cannot be read (no permission, a FIFO, a device, a directory) is a message box
// saying why, and false: start-up then fails with nothing written. A missing file is
// fine (the first run). A readable file that holds a password ([callsign] valid) and is
// open to other users (any of the mode bits 077) gives one warning line on standard error.
bool checkConfigurationFile();

// Writes one key of the configuration file. False when the write failed; the first failure
// of the run is told on standard error as one line, "confserver: cannot write PATH:
// REASON", later ones are not repeated.
bool writeConfigValue(const char* section, const char* key, const char* value);

// Set once a failed write has been told (tests clear it to start a new run).
extern bool configWriteFailureTold;

// Why the last failed write failed, "PATH: REASON", cut to size - 1 characters.
void configWriteError(char* buf, size_t size);
