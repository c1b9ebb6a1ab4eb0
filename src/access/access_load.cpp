#include "access/access_load.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t READ_CHUNK = 32768;
constexpr uint32_t SETTLE_SLOTS = 1u << 16; // table slots moved by one settling step

char readBuffer[READ_CHUNK];

void setWhy(char* why, size_t size, const char* text) {
    if (why != nullptr && size > 0) {
        std::snprintf(why, size, "%s", text);
    }
}

bool sameContent(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

} // namespace

AccessReadResult accessLoadBegin(AccessLoad* load, const char* path, AccessRuleSet* set,
                                 AccessBadLine report, void* context, char* why, size_t whySize) {
    accessLoadClose(load);
    accessClearRules(set);
    struct stat st {};
    if (::stat(path, &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return AccessReadResult::Missing;
        }
        setWhy(why, whySize, std::strerror(errno));
        return AccessReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        return AccessReadResult::NotRegular;
    }
    // Non-blocking and without a controlling terminal: should the path turn into a FIFO or
    // a device between the look and the open, nothing waits and fstat catches it.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) {
            return AccessReadResult::Missing;
        }
        setWhy(why, whySize, std::strerror(errno));
        return AccessReadResult::Failed;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return AccessReadResult::NotRegular;
    }
    load->fd = fd;
    load->opened = st;
    load->total = 0;
    load->tooLarge = false;
    load->settling = false;
    accessParseBegin(&load->parser, set, report, context);
    return AccessReadResult::Ok;
}

AccessLoadStep accessLoadStep(AccessLoad* load, size_t budget, char* why, size_t whySize) {
    if (load->settling) {
        return accessSettleRules(load->parser.set, SETTLE_SLOTS) ? AccessLoadStep::Done
                                                                 : AccessLoadStep::More;
    }
    size_t done = 0;
    do {
        size_t left = ACCESS_FILE_MAX_BYTES - load->total;
        size_t want = left < READ_CHUNK ? left : READ_CHUNK;
        if (want == 0) {
            // At the limit: one byte more makes the file too large.
            char probe;
            ssize_t n = ::read(load->fd, &probe, 1);
            load->tooLarge = n == 1;
            break;
        }
        ssize_t n = ::read(load->fd, readBuffer, want);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            setWhy(why, whySize, std::strerror(errno));
            accessLoadClose(load);
            return AccessLoadStep::Failed;
        }
        if (n == 0) {
            break;
        }
        accessParseFeed(&load->parser, readBuffer, static_cast<size_t>(n));
        load->total += static_cast<size_t>(n);
        done += static_cast<size_t>(n);
        if (load->parser.set->failed) {
            setWhy(why, whySize, "not enough memory for its rules");
            accessLoadClose(load);
            return AccessLoadStep::Failed;
        }
        if (done >= budget) {
            return AccessLoadStep::More;
        }
    } while (true);
    // The end of the file (or of what is read of it).
    struct stat now {};
    bool changed = ::fstat(load->fd, &now) != 0 || !sameContent(now, load->opened);
    accessLoadClose(load);
    if (changed) {
        return AccessLoadStep::Changed;
    }
    accessParseEnd(&load->parser);
    if (load->parser.set->failed) {
        setWhy(why, whySize, "not enough memory for its rules");
        return AccessLoadStep::Failed;
    }
    load->settling = true;
    return accessSettleRules(load->parser.set, SETTLE_SLOTS) ? AccessLoadStep::Done
                                                             : AccessLoadStep::More;
}

void accessLoadClose(AccessLoad* load) {
    if (load->fd >= 0) {
        ::close(load->fd);
        load->fd = -1;
    }
}
