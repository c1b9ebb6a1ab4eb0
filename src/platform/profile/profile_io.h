// Reading a private-profile file whole and replacing it atomically.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace platform::profile {

// Larger files are not read (a read gives the default, a write fails): the server's file
// holds a few hundred bytes, and a huge one is damage rather than configuration.
constexpr size_t MAX_FILE_BYTES = 64u << 20;

enum class ReadResult {
    Ok,      // out holds every byte of the file
    Missing, // there is no such file (or a directory on its path is missing)
    Failed,  // it exists but could not be read whole: no permission, not a file, too large
};

// What is at a path, found without blocking: a FIFO, a device, a socket or a directory is
// never opened, only named. mode holds the permission bits of a file found (Ok).
ReadResult inspectFile(const std::string& path, mode_t* mode, std::string* reason);

// Reads the whole file at path into out. Only a regular file is opened (without blocking);
// anything else is named, never opened. When the read
// fails and reason is given, it receives why ("Permission denied", "a FIFO, not a regular
// file").
ReadResult readWholeFile(const std::string& path, std::string& out, std::string* reason = nullptr);

// Replaces the file at path by content so that a reader sees either the old or the new
// file, never a mix: a temporary file in the same directory is written, flushed to disk
// and renamed over the path. The file keeps what its owner set: its permission bits, and
// its owner and group as far as this process may give them (a new file gets mode 0600 and
// the writer's ownership). A symbolic link is followed (through any chain of links, a
// dangling one included) and the file it points to is replaced; the link stays. A file
// with more than one hard link is refused, since replacing it would split the names into
// two files. Missing directories on the way to the file are created with mode 0700.
// SIGINT, SIGTERM and SIGHUP wait while the temporary file exists, so that no signal
// leaves one behind. False on any failure, with why in reason when it is given; no
// temporary file is left behind then.
bool replaceFile(const std::string& path, const std::string& content,
                 std::string* reason = nullptr);

} // namespace platform::profile
