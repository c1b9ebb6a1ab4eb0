// Lines to standard output and standard error that never hold the server up: each stream
// writes without waiting (a descriptor of its own in non-blocking mode where one can be
// had), keeps what the reader does not take yet in a bounded queue, and is flushed from the
// pump while something waits. A reader that is gone (EPIPE) ends the stream quietly.
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace platform {

enum class Stream { Status, Error };

// Queues one line (without its newline) and writes what the descriptor takes now.
void streamLine(Stream stream, const char* text, size_t length);
// Waits up to ms milliseconds, at most, for waiting lines to be taken (message boxes before
// a start-up failure ends the program; the end of the program).
void streamDrain(Stream stream, int ms);
// "YYYY-MM-DD HH:MM:SS.mmm " (local time, one blank after it), as every status line begins;
// returns its length.
size_t formatStamp(char* out, size_t size);
// True when journalStream ("DEVICE:INODE", as systemd sets JOURNAL_STREAM) names the
// file that descriptor fd is open on: its lines go to the journal.
bool streamIsJournal(const char* journalStream, int fd);
// What a line on fd begins with to be filed at a journal priority ("<7>" debug, "<6>"
// info): the prefix when fd is the journal's stream (JOURNAL_STREAM, looked at once per
// stream until resetStreams), else "".
const char* journalPrefix(int fd, const char* prefix);
// Forgets waiting lines and the state of both streams (platformReset).
void resetStreams();
// Forgets the operator-line hook and the lines kept for the end (platformReset).
void resetOperatorLines();
// One whole line (without its newline) for the operator on standard error: kept while the
// terminal window is up and written once the terminal is given back, else queued and given
// up to 100 ms to be taken.
void operatorErrorLine(const char* line, size_t length);

// The bounded queue of one stream's lines. Fixed storage; when a new line does not fit, the
// oldest waiting lines are dropped whole and counted, and the next write tells how many
// with one line of its own at the place where they would have been. A line whose first
// bytes have been written is never dropped, so the output never holds half a line.
class LineQueue {
  public:
    static constexpr size_t kCapacity = 64 * 1024;
    // A line longer than this is cut to it (its newline kept).
    static constexpr size_t kLongestLine = 4096;

    // Writes up to n bytes; returns how many were taken, 0 when none can be taken now, or
    // -1 when the output is gone for good.
    using WriteFn = ssize_t (*)(const char* data, size_t n, void* context);
    // Formats the note that tells of count lost lines into out (size bytes, newline
    // included); returns its length.
    using NoteFn = size_t (*)(unsigned long count, char* out, size_t size, void* context);

    // Queues one line (text without its newline; the newline is added).
    void push(const char* text, size_t length);
    // Writes what waits, in order, until the output takes no more. Returns false when the
    // output is gone (everything waiting is then dropped).
    bool flush(WriteFn write, NoteFn note, void* context);
    // True when nothing waits (the lost-lines note included).
    bool empty() const { return start_ == end_ && lost_ == 0 && noteLength_ == 0; }
    void clear();

  private:
    void dropOldest();
    void compact();

    char data_[kCapacity];
    size_t start_ = 0;  // the first byte not yet written
    size_t locked_ = 0; // the end of a line partly written (== start_ when none is)
    size_t end_ = 0;
    unsigned long lost_ = 0;
    char note_[96];
    size_t noteLength_ = 0; // a note being written
    size_t noteDone_ = 0;
};

} // namespace platform
