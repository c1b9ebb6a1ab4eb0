// Reading a private-profile file whole and replacing it atomically.
#pragma once

#include <cstddef>
#include <string>

namespace platform::profile {

// Larger files are not read (a read gives the default, a write fails): the server's file
// holds a few hundred bytes, and a huge one is damage rather than configuration.
constexpr size_t MAX_FILE_BYTES = 64u << 20;

enum class ReadResult {
    Ok,      // out holds every byte of the file
    Missing, // there is no such file (or a directory on its path is missing)
    Failed,  // it exists but could not be read whole: no permission, not a file, too large
};

// Reads the whole file at path into out.
ReadResult readWholeFile(const std::string& path, std::string& out);

// Replaces the file at path by content so that a reader sees either the old or the new
// file, never a mix: a temporary file in the same directory is written, flushed to disk
// and renamed over the path. An existing file keeps its permission bits (ownership
// becomes the writer's); a new file gets mode 0600. A path that is a symbolic link
// replaces the file the link points to, and the link stays. The directory is never
// created. False on any failure, and then no temporary file is left behind.
bool replaceFile(const std::string& path, const std::string& content);

} // namespace platform::profile
