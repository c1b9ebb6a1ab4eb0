// Lines to standard output and standard error that never hold the server up: each stream
// writes without waiting (a descriptor of its own in non-blocking mode where one can be
// had), keeps what the reader does not take yet in a bounded queue, and is flushed from the
// pump while something waits. A reader that is gone (EPIPE) ends the stream quietly.
#pragma once

#include <cstddef>

namespace platform {

enum class Stream { Status, Error };

// Queues one line (without its newline) and writes what the descriptor takes now.
void streamLine(Stream stream, const char* text, size_t length);
// Waits up to ms milliseconds, at most, for waiting lines to be taken (message boxes before
// a start-up failure ends the program; the end of the program).
void streamDrain(Stream stream, int ms);
// True while lines wait to be written.
bool streamWaiting(Stream stream);
// True once the reader of the stream has gone; its lines are dropped from then on.
bool streamGone(Stream stream);
// Writes the stream to fd from now on instead of standard output or error (tests); -1: the
// standard descriptor again. Forgets waiting lines and a reader that has gone.
void streamRedirect(Stream stream, int fd);
// "YYYY-MM-DD HH:MM:SS.mmm " (local time, one blank after it), as every status line begins;
// returns its length.
size_t formatStamp(char* out, size_t size);
// Forgets waiting lines and the state of both streams (platformReset).
void resetStreams();
// Forgets the operator-line hook and the lines kept for the end (platformReset).
void resetOperatorLines();

} // namespace platform
