// Lines for the operator on standard error ("confserver: cannot bind 127.0.0.1:5198: Address
// already in use"): what failed, where, and why, beside the message boxes and status lines.
#include "platform/runtime.h"
#include "platform/stream/escape.h"
#include "platform/stream/output_stream.h"
#include "platform/window/frontend.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr size_t lineSize = 600;
constexpr int writeWaitMs = 100;

// Lines kept while the terminal window is up, written once the terminal is given back
// (bounded: the oldest go first, and one line says how many).
platform::LineQueue held;
void (*lineHook)(const char* line) = nullptr; // tests

// Writes what standard error takes, waiting at most 100 ms for room: a reader that does not
// read loses the lines rather than holding the end of the program up.
ssize_t writeWaiting(const char* data, size_t n, void*) {
    pollfd p{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&p, 1, writeWaitMs) != 1 || (p.revents & POLLOUT) == 0) {
        return -1;
    }
    const ssize_t done = ::write(STDERR_FILENO, data, n);
    return done >= 0 ? done : (errno == EINTR || errno == EAGAIN) ? 0 : -1;
}

size_t noteLost(unsigned long count, char* out, size_t size, void*) {
    const int n =
        std::snprintf(out, size, "confserver: ... %lu line%s lost\n", count, count == 1 ? "" : "s");
    return n < 0 ? 0 : static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

void writeHeld() {
    for (int tries = 0; tries < 16 && !held.empty(); ++tries) {
        held.flush(writeWaiting, noteLost, nullptr);
    }
    held.clear();
}

// Registered before main, so that it runs after the terminal front end's own exit handler
// (registered later, run earlier) has given the terminal back.
const bool flushAtExit = std::atexit(writeHeld) == 0;

// Writes "confserver: " and escaped (the line, prefix and newline included, is cut to
// lineSize, 600 bytes), as platform::operatorErrorLine does.
void operatorLine(const char* escaped) {
    if (lineHook != nullptr) {
        lineHook(escaped);
        return;
    }
    char line[lineSize];
    const int n = std::snprintf(line, sizeof line, "confserver: %s", escaped);
    platform::operatorErrorLine(line,
                                n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof line - 2));
}

} // namespace

namespace platform {

void operatorErrorLine(const char* line, size_t length) {
    (void)flushAtExit;
    if (frontEnd()->canShowDialogs()) {
        held.push(line, length);
        return;
    }
    // Through the same queue as the message boxes, so it comes after the box it explains.
    std::fflush(stderr);
    streamLine(Stream::Error, line, length);
    streamDrain(Stream::Error, writeWaitMs);
}

} // namespace platform

void platformOperatorLine(const char* text) {
    char escaped[lineSize - 16];
    escapeText(text, escaped, sizeof escaped);
    operatorLine(escaped);
}

void platformOperatorLinef(const char* format, ...) {
    char text[lineSize - 16];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    operatorLine(text);
}

void platformSetOperatorLineHook(void (*hook)(const char* line)) {
    lineHook = hook;
}

void platformErrorLine(const char* line, size_t length) {
    platform::streamLine(platform::Stream::Error, line, length);
}

namespace platform {

void resetOperatorLines() {
    held.clear();
    lineHook = nullptr;
}

} // namespace platform
