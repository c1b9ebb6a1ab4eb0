// Non-blocking output streams for the status lines (standard output) and the message
// boxes of the minimised mode (standard error).
//
// Standard output may be shared with other processes (a shell pipeline, a journal
// stream), so its file status flags are left alone where possible: a pipe or a terminal is
// opened again through /proc/self/fd, which gives a description of its own that can be
// non-blocking; a socket is written with send(MSG_DONTWAIT); a regular file never blocks
// and is written as it is. Only when /proc cannot be used is O_NONBLOCK set on the shared
// description itself.
#include "platform/stream/output_stream.h"

#include "platform/runtime.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

struct OutputStream {
    explicit OutputStream(int standardFd) : standard(standardFd) {}
    int standard;       // standard output or standard error
    int fd = -1;        // the descriptor written to
    bool ownFd = false; // fd was opened here
    bool socket = false;
    bool prepared = false;
    bool gone = false;
    bool watched = false;
    LineQueue queue;
};

OutputStream streams[2] = {OutputStream(STDOUT_FILENO), OutputStream(STDERR_FILENO)};

OutputStream& streamOf(Stream s) {
    return streams[s == Stream::Status ? 0 : 1];
}

// How long the end of the program waits, at most, for a slow reader to take what waits.
constexpr int kExitWaitMs = 250;

void drainAtExit() {
    streamDrain(Stream::Status, kExitWaitMs);
    streamDrain(Stream::Error, kExitWaitMs);
}

// Chooses how to write the descriptor without waiting (see the file comment).
void prepare(OutputStream& out) {
    static bool exitHandler = std::atexit(drainAtExit) == 0;
    (void)exitHandler;
    out.prepared = true;
    out.fd = out.standard;
    struct stat st {};
    if (fstat(out.standard, &st) != 0) {
        out.gone = true; // closed: nothing to write to
        return;
    }
    if (S_ISSOCK(st.st_mode)) {
        out.socket = true;
        return;
    }
    if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
        return;
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", out.standard);
    int own = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own >= 0) {
        out.fd = own;
        out.ownFd = true;
        return;
    }
    if (errno == ENXIO && S_ISFIFO(st.st_mode)) {
        out.gone = true; // a pipe with no reader left
        return;
    }
    int flags = fcntl(out.standard, F_GETFL);
    if (flags >= 0) {
        fcntl(out.standard, F_SETFL, flags | O_NONBLOCK);
    }
}

ssize_t writeSome(const char* data, size_t n, void* context) {
    auto* out = static_cast<OutputStream*>(context);
    ssize_t done =
        out->socket ? send(out->fd, data, n, MSG_DONTWAIT | MSG_NOSIGNAL) : write(out->fd, data, n);
    if (done >= 0) {
        return done;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return 0;
    }
    return -1; // EPIPE and every other failure: the reader is gone
}

// Whether standard output and standard error are the journal's: -1 not looked at yet.
int journalStreams[2] = {-1, -1};

size_t note(unsigned long count, char* out, size_t size, void* context) {
    auto* stream = static_cast<OutputStream*>(context);
    size_t n = 0;
    if (stream->standard == STDOUT_FILENO) {
        n = static_cast<size_t>(
            std::snprintf(out, size, "%s", journalPrefix(STDOUT_FILENO, "<7>")));
        n = n < size ? n : 0;
        n += formatStamp(out + n, size - n);
    }
    int more = std::snprintf(out + n, size - n, "... %lu status line%s lost\n", count,
                             count == 1 ? "" : "s");
    size_t total = n + (more < 0 ? 0 : static_cast<size_t>(more));
    return total < size ? total : size - 1;
}

void onWritable(int fd, short revents, void* data);

// Writes what the descriptor takes; watches it for writing only while lines wait.
void flush(OutputStream& out) {
    if (out.gone) {
        return;
    }
    if (!out.queue.flush(writeSome, note, &out)) {
        out.gone = true;
    }
    const bool wanted = !out.gone && !out.queue.empty();
    if (wanted && !out.watched) {
        platformWatchDescriptor(out.fd, POLLOUT, onWritable, &out);
    } else if (!wanted && out.watched) {
        platformUnwatchDescriptor(out.fd);
    }
    out.watched = wanted;
}

void onWritable(int, short revents, void* data) {
    OutputStream& out = *static_cast<OutputStream*>(data);
    if ((revents & (POLLERR | POLLHUP)) != 0 && (revents & POLLOUT) == 0) {
        out.queue.clear();
        out.gone = true;
    }
    flush(out);
}

} // namespace

size_t formatStamp(char* out, size_t size) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char day[32];
    if (strftime(day, sizeof day, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        day[0] = '\0';
    }
    int n = std::snprintf(out, size, "%s.%03ld ", day, ts.tv_nsec / 1000000L);
    return n < 0 ? 0 : static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

bool streamIsJournal(const char* journalStream, int fd) {
    if (journalStream == nullptr || journalStream[0] == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long device = std::strtoull(journalStream, &end, 10);
    if (errno != 0 || end == journalStream || *end != ':') {
        return false;
    }
    const char* inodeText = end + 1;
    unsigned long long inode = std::strtoull(inodeText, &end, 10);
    if (errno != 0 || end == inodeText || *end != '\0') {
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return false;
    }
    return static_cast<unsigned long long>(st.st_dev) == device &&
           static_cast<unsigned long long>(st.st_ino) == inode;
}

const char* journalPrefix(int fd, const char* prefix) {
    if (fd != STDOUT_FILENO && fd != STDERR_FILENO) {
        return "";
    }
    int& known = journalStreams[fd == STDOUT_FILENO ? 0 : 1];
    if (known < 0) {
        known = streamIsJournal(std::getenv("JOURNAL_STREAM"), fd) ? 1 : 0;
    }
    return known == 1 ? prefix : "";
}

void streamLine(Stream stream, const char* text, size_t length) {
    OutputStream& out = streamOf(stream);
    if (!out.prepared) {
        prepare(out);
    }
    if (out.gone) {
        return;
    }
    out.queue.push(text, length);
    flush(out);
}

void streamDrain(Stream stream, int ms) {
    OutputStream& out = streamOf(stream);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.prepared && !out.gone && !out.queue.empty()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            return;
        }
        pollfd p{out.fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left)) > 0) {
            flush(out);
        }
    }
}

void resetStreams() {
    journalStreams[0] = journalStreams[1] = -1;
    // The pump's watches are already cleared by the reset; only the state goes here.
    for (OutputStream& out : streams) {
        if (out.ownFd) {
            close(out.fd);
        }
        out.queue.clear();
        out.fd = -1;
        out.ownFd = out.socket = out.prepared = out.gone = out.watched = false;
    }
}

} // namespace platform
