// Escaping of outside texts: control bytes, DEL and the backslash as escapes, high bytes
// kept, and a bounded output that never cuts an escape.
#include "platform/stream/escape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string escaped(const std::string& in, size_t size = 256) {
    char out[256];
    size_t n = escapeBytes(in.data(), in.size(), out, size);
    EXPECT_EQ(n, std::string(out).size());
    return out;
}

TEST(Escape, ControlBytesDelAndBackslashBecomeEscapes) {
    EXPECT_EQ(escaped("*KENT*"), "*KENT*");
    EXPECT_EQ(escaped(std::string("A\x1b[2J\a\r\n\x7f\\B", 11)),
              "A\\x1B[2J\\x07\\x0D\\x0A\\x7F\\\\B");
    EXPECT_EQ(escaped(std::string("\0\x1f ", 3)), "\\x00\\x1F ");
    EXPECT_EQ(escaped("caf\xc3\xa9 \xff"), "caf\xc3\xa9 \xff"); // from 128 up: as they are
}

TEST(Escape, OutputIsBoundedAndNeverEndsInsideAnEscape) {
    EXPECT_EQ(escaped("ab\ncd", 5), "ab"); // "\x0A" needs 4 more bytes than fit
    EXPECT_EQ(escaped("ab\ncd", 7), "ab\\x0A");
    EXPECT_EQ(escaped("a\\b", 3), "a");
    EXPECT_EQ(escaped("abc", 1), "");
    char out[1] = {'x'};
    EXPECT_EQ(escapeText(nullptr, out, sizeof(out)), 0u);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(escapeText("abc", out, 0), 0u);
}

TEST(Escape, WorstCaseFitsTheAdvertisedSize) {
    std::string all(255, '\n');
    std::string out(escapedSize(all.size()), 'x');
    EXPECT_EQ(escapeBytes(all.data(), all.size(), out.data(), out.size()), 255u * 4);
}

} // namespace
