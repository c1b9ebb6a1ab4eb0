// Escaping of outside texts: one status change stays one line, and no terminal control
// sequence from a station reaches the operator's screen or logs.
#include "platform/stream/escape.h"

#include <cstring>

size_t escapeBytes(const char* text, size_t length, char* out, size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    if (size == 0) {
        return 0;
    }
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char piece[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]}; // a control byte
        size_t len = 4;
        if (c == '\\') {
            piece[1] = '\\';
            len = 2;
        } else if (c >= 32 && c != 127) {
            piece[0] = static_cast<char>(c);
            len = 1;
        }
        if (n + len > size - 1) {
            break;
        }
        std::memcpy(out + n, piece, len);
        n += len;
    }
    out[n] = '\0';
    return n;
}

size_t escapeText(const char* text, char* out, size_t size) {
    return escapeBytes(text != nullptr ? text : "", text != nullptr ? std::strlen(text) : 0, out,
                       size);
}
