// Whole reads and atomic replacement of a file: the platform calls that every reader and
// writer of an operator's file (the configuration, the access file) goes through.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace platform::profile {

// Larger files are not read (a read gives the default, a write fails): the server's file
// holds a few hundred bytes, and a huge one is damage rather than configuration.
constexpr size_t MAX_FILE_BYTES = 64u << 20;

enum class ReadResult {
    Ok,      // the file was found (and read whole)
    Missing, // there is no such file (or a directory on its path is missing)
    Failed,  // it exists but could not be read whole: no permission, not a file, too large
};

// What is at a path, found without blocking: only a regular file is opened, a FIFO, a
// device, a socket or a directory is only named. mode gets the permission bits of a file
// found (Ok); reason, when given, why it failed ("a FIFO, not a regular file").
ReadResult inspectFile(const std::string& path, mode_t* mode, std::string* reason);
// Reads the whole file at path into out, opened as inspectFile says.
ReadResult readWholeFile(const std::string& path, std::string& out, std::string* reason = nullptr);

// Replaces the file at path by content so that a reader sees either the old or the new
// file: a temporary file in the same directory is written, flushed and renamed over it.
// The file keeps its mode, and its owner and group as far as this process may give them
// (a new one gets mode 0600, missing directories mode 0700). A chain of symbolic links is
// followed and its target replaced; a file with several hard links is refused. SIGINT,
// SIGTERM and SIGHUP wait while the temporary file exists. False, with why in reason, on
// any failure; no temporary file is left behind then.
bool replaceFile(const std::string& path, const std::string& content,
                 std::string* reason = nullptr);

} // namespace platform::profile
