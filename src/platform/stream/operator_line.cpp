// Lines for the operator on standard error ("confserver: cannot bind 127.0.0.1:5198: Address
// already in use"): what failed, where, and why, beside the message boxes and status lines.
#include "platform/runtime.h"
#include "platform/stream/escape.h"
#include "platform/stream/output_stream.h"
#include "platform/window/frontend.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr size_t lineSize = 600;
constexpr int deferredMax = 8;
constexpr int writeWaitMs = 100;

// Lines kept while the terminal window is up, written once the terminal is given back.
char deferred[deferredMax][lineSize];
int deferredCount = 0;
void (*lineHook)(const char* line) = nullptr; // tests

// Writes one whole line to standard error, waiting at most 100 ms for room: a reader that
// does not read loses the line rather than holding the server up.
void writeLine(const char* line) {
    const size_t length = std::strlen(line);
    size_t done = 0;
    for (int tries = 0; done < length && tries < 4; ++tries) {
        pollfd p{STDERR_FILENO, POLLOUT, 0};
        if (::poll(&p, 1, writeWaitMs) != 1 || (p.revents & POLLOUT) == 0) {
            return;
        }
        const ssize_t n = ::write(STDERR_FILENO, line + done, length - done);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

void writeDeferred() {
    for (int i = 0; i < deferredCount; ++i) {
        writeLine(deferred[i]);
    }
    deferredCount = 0;
}

// Registered before main, so that it runs after the terminal front end's own exit handler
// (registered later, run earlier) has given the terminal back.
const bool flushAtExit = std::atexit(writeDeferred) == 0;

} // namespace

// The line, prefix and newline included, is cut to lineSize (600) bytes.
void platformOperatorLine(const char* text) {
    (void)flushAtExit;
    char escaped[lineSize - 16];
    escapeText(text, escaped, sizeof escaped);
    if (lineHook != nullptr) {
        lineHook(escaped);
        return;
    }
    char line[lineSize];
    std::snprintf(line, sizeof line, "confserver: %s\n", escaped);
    if (platform::frontEnd()->canShowDialogs()) {
        if (deferredCount < deferredMax) {
            std::memcpy(deferred[deferredCount++], line, sizeof line);
        }
        return;
    }
    // Through the same queue as the message boxes, so it comes after the box it explains.
    std::fflush(stderr);
    platform::streamLine(platform::Stream::Error, line, std::strlen(line) - 1);
    platform::streamDrain(platform::Stream::Error, writeWaitMs);
}

void platformSetOperatorLineHook(void (*hook)(const char* line)) {
    lineHook = hook;
}

void platformErrorLine(const char* line, size_t length) {
    platform::streamLine(platform::Stream::Error, line, length);
}

namespace platform {

void resetOperatorLines() {
    deferredCount = 0;
    lineHook = nullptr;
}

} // namespace platform
