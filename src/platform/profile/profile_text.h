// The text rules of private-profile files, on a file's bytes held in memory: finding a
// value, and the edits that a write makes. Nothing here touches the file system.
//
// A file is a sequence of lines ended by "\n" (a "\r" before it belongs to the ending).
// A line whose first non-blank byte is '[' and that has a ']' after it is a section
// header; the name lies between the '[' and the first ']'. A line whose first non-blank
// byte is ';' or '#' is a comment. Any other line with a '=' whose text before the first
// '=' is not blank is a key line. Every other line (blank lines, junk, keys before the
// first header) is kept but carries no meaning. A UTF-8 byte-order mark at the very start
// is not part of the first line: reads look past it and edits keep it. Names are trimmed of blanks,
// tabs and carriage returns and compared without regard to ASCII case; the first section of a name
// and, inside it, the first key of a name are the ones that count.
#pragma once

#include "platform/types.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::profile {

// The value of key in section as a read returns it: cut at its first NUL byte, trimmed,
// and stripped of one pair of surrounding double quotes. Nothing when the section or the
// key is missing.
std::optional<std::string_view> findValue(std::string_view text, std::string_view section,
                                          std::string_view key);

// The number at the start of a value: blanks skipped, an optional sign, then decimal
// digits accumulated modulo 2^32 (a value too large for 32 bits wraps, as a 32-bit
// register would); 0 when there are no digits.
UINT parseLeadingInt(std::string_view value);

// True when a write may store these names and this value without changing the meaning
// of other lines: no line breaks, no ']' in a section name, and a key name that is not
// blank, has no '=' and does not start like a header or a comment.
bool isWritableSection(std::string_view section);
bool isWritableKey(std::string_view key);
bool isWritableValue(std::string_view value);

// Sets key to value in section and returns the new text. The first key line of that
// name keeps its bytes up to the value (spelling, blanks, '=', and the blanks after '='
// unless the new value is empty) and its line ending; only its value is replaced. A
// missing key is added after the section's last key line (after its header when it has
// none), so comments and blank lines that lead to the next section stay with it. A
// missing section is added at the end of the file, after a line ending if the file
// lacks a final one and after one blank line if the last line is not blank. New lines
// take the line ending of the line they follow, else the first one of the file, else
// "\n". The names must be writable (see above).
std::string setValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value);

// Removes the first key line of that name in the first section of that name. The text
// comes back unchanged when there is none.
std::string deleteKey(std::string_view text, std::string_view section, std::string_view key);

// Removes the first section of that name: its header and every line up to the next
// section header or the end of the file.
std::string deleteSection(std::string_view text, std::string_view section);

// Blanks, tabs and carriage returns removed from both ends.
std::string_view trimBlanks(std::string_view s);

} // namespace platform::profile
