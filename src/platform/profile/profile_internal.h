// The parts of the private-profile functions: where a file name points, reading a file
// whole and replacing it atomically, and the text rules applied to its bytes in memory.
//
// A file is a sequence of lines ended by "\n" (a "\r" before it belongs to the ending).
// A line whose first non-blank byte is '[' and that has a ']' after it is a section
// header; the name lies between the '[' and the first ']'. A line whose first non-blank
// byte is ';' or '#' is a comment. Any other line with a '=' whose text before the first
// '=' is not blank is a key line. Every other line is kept but carries no meaning. A UTF-8
// byte-order mark at the very start is not part of the first line: reads look past it and
// writes keep it. Names are trimmed of blanks, tabs and carriage returns and compared
// without regard to ASCII case; the first section of a name and, inside it, the first key
// of a name are the ones that count.
#pragma once

#include "platform/profile/atomic_file.h"
#include "platform/types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform::profile {

// A name with a '/' is a path as given; a bare name set with platformSetProfileFile maps
// to its path; any other bare name lies in $XDG_CONFIG_HOME (when set to an absolute
// path), else in $HOME/.config. Empty for a null or empty name.
std::string resolvePath(const char* fileName);

// The value of key in section as a read returns it: cut at its first NUL byte, trimmed,
// and stripped of one pair of surrounding double quotes. Nothing when either is missing.
std::optional<std::string_view> findValue(std::string_view text, std::string_view section,
                                          std::string_view key);

// Calls visit(section, key, line, context) for each section header (key empty) and each
// key line (section: the name of the header above it, empty before any) of the text, in
// order; line counts from 1. Names are trimmed, as reads compare them.
void forEachName(std::string_view text,
                 void (*visit)(std::string_view section, std::string_view key, int line,
                               void* context),
                 void* context);

// The names of the key lines of the first section named section, in file order, each
// followed by a NUL byte (the first of two equal names only); empty when there is none.
std::string keyNames(std::string_view text, std::string_view section);

// The number at the start of a value: blanks skipped, an optional sign, then decimal
// digits accumulated modulo 2^32 (as a 32-bit register would); 0 when there are none.
UINT parseLeadingInt(std::string_view value);

// True when a write may store these names and this value without changing the meaning
// of other lines: no line breaks, no ']' in a section name, and a key name that is not
// blank, has no '=' and does not start like a header or a comment.
bool isWritableSection(std::string_view section);
bool isWritableKey(std::string_view key);
bool isWritableValue(std::string_view value);

// Sets key to value in section and returns the new text. The first key line of that
// name keeps its bytes up to the value (the blanks after '=' too, unless the new value is
// empty) and its line ending. A missing key is added after the section's last key line
// (after its header when it has none); a missing section at the end of the file, after a
// line ending if the file lacks one and after a blank line if the last line is not blank.
// New lines take the ending of the line they follow, else the file's first, else "\n".
std::string setValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value);

} // namespace platform::profile
