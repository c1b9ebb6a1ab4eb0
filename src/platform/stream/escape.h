// Escaping of texts that came from outside (station names inside status texts) before they
// leave the process: standard output, standard error, the journal, a terminal, its title.
#pragma once

#include <cstddef>

// Writes text to out (size bytes, always zero-terminated when size > 0) with every byte
// below 32, the byte 127 and the backslash escaped: "\xHH" (two upper-case hex digits), the
// backslash as "\\"; bytes from 128 up are kept. An escape that does not fit is left out
// whole, never cut. Returns the length written (without the zero byte).
size_t escapeText(const char* text, char* out, size_t size);

// The same for the first length bytes of text (which may hold zero bytes, escaped as \x00).
size_t escapeBytes(const char* text, size_t length, char* out, size_t size);

// The size a buffer needs to hold the escaped form of length bytes, with its zero byte.
constexpr size_t escapedSize(size_t length) {
    return length * 4 + 1;
}
