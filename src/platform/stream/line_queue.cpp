// The bounded queue of output lines: fixed storage, the oldest whole lines dropped first,
// one note for what was dropped, never half a line.
#include "platform/stream/output_stream.h"

#include <cstring>

namespace platform {

void LineQueue::clear() {
    start_ = locked_ = end_ = 0;
    lost_ = 0;
    noteLength_ = noteDone_ = 0;
}

void LineQueue::compact() {
    if (start_ == 0) {
        return;
    }
    std::memmove(data_, data_ + start_, end_ - start_);
    locked_ -= start_;
    end_ -= start_;
    start_ = 0;
}

// Drops the oldest line that has not begun to be written.
void LineQueue::dropOldest() {
    size_t from = locked_ > start_ ? locked_ : start_;
    const void* nl = std::memchr(data_ + from, '\n', end_ - from);
    if (nl == nullptr) {
        return;
    }
    size_t to = static_cast<size_t>(static_cast<const char*>(nl) - data_) + 1;
    std::memmove(data_ + from, data_ + to, end_ - to);
    end_ -= to - from;
    ++lost_;
}

void LineQueue::push(const char* text, size_t length) {
    if (length > kLongestLine - 1) {
        length = kLongestLine - 1;
    }
    size_t need = length + 1;
    // Every waiting line but a partly written one can go, and that one is at most
    // kLongestLine long, so there is always room in the end.
    while (end_ - start_ + need > kCapacity) {
        size_t before = end_;
        dropOldest();
        if (end_ == before) {
            return; // cannot happen with the bounds above; never write past the buffer
        }
    }
    if (end_ + need > kCapacity) {
        compact();
    }
    std::memcpy(data_ + end_, text, length);
    data_[end_ + length] = '\n';
    end_ += need;
    if (locked_ < start_) {
        locked_ = start_;
    }
}

bool LineQueue::flush(WriteFn write, NoteFn note, void* context) {
    // Writes from..from+length once; the bytes taken are added to *done. -1: the reader is
    // gone (everything is dropped), 0: it takes nothing now, 1: it took some.
    auto step = [this, write, context](const char* from, size_t length, size_t* done) {
        ssize_t n = write(from, length, context);
        if (n < 0) {
            clear();
            return -1;
        }
        *done += static_cast<size_t>(n);
        return n == 0 ? 0 : 1;
    };
    for (;;) {
        int moved = 0;
        if (start_ < locked_) {
            moved = step(data_ + start_, locked_ - start_, &start_);
        } else {
            if (noteLength_ == 0 && lost_ > 0) {
                noteLength_ = note(lost_, note_, sizeof note_, context);
                noteDone_ = 0;
                lost_ = 0;
            }
            if (noteDone_ < noteLength_) {
                moved = step(note_ + noteDone_, noteLength_ - noteDone_, &noteDone_);
                if (noteDone_ >= noteLength_) {
                    noteLength_ = noteDone_ = 0;
                }
            } else if (start_ == end_) {
                start_ = locked_ = end_ = 0;
                return true;
            } else {
                moved = step(data_ + start_, end_ - start_, &start_);
                locked_ = start_;
                if (moved > 0 && start_ < end_ && data_[start_ - 1] != '\n') {
                    // Stopped inside a line: that line is written to its end before anything
                    // else.
                    const void* nl = std::memchr(data_ + start_, '\n', end_ - start_);
                    locked_ = static_cast<size_t>(static_cast<const char*>(nl) - data_) + 1;
                }
            }
        }
        if (moved <= 0) {
            return moved == 0;
        }
    }
}

} // namespace platform
