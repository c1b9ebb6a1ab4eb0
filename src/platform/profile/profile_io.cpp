// Reading a private-profile file whole and replacing it atomically.
#include "platform/profile/profile_internal.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::profile {

namespace {

// Symbolic links followed one after the other before a path counts as a loop (the
// kernel's own limit).
constexpr int MAX_LINK_HOPS = 40;

// Blocks SIGINT, SIGTERM and SIGHUP and returns the previous mask; one that comes in
// meanwhile is delivered when that mask is restored.
sigset_t holdSignals() {
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &held, &previous);
    return previous;
}

// Gives text as the reason (when one is asked for) and returns false.
bool fail(std::string* reason, const std::string& text) {
    if (reason != nullptr) {
        *reason = text;
    }
    return false;
}

// The same for a read that failed.
ReadResult readFailed(std::string* reason, const std::string& text) {
    fail(reason, text);
    return ReadResult::Failed;
}

// Why something that is not a regular file cannot be used as one.
std::string notRegular(mode_t mode) {
    const char* kind = S_ISDIR(mode)    ? "a directory"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "a special file";
    return std::string(kind) + ", not a regular file";
}

// Writes every byte, retrying after interruptions and short writes.
bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The directory part of a path with its trailing '/' ("./" for a bare name).
std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// The file that a write must replace: the path itself, or where its chain of symbolic
// links ends (which need not exist yet). False, with why, for a loop or an unreadable
// link.
bool replacementTarget(const std::string& path, std::string* target, std::string* reason) {
    std::string current = path;
    for (int hop = 0; hop <= MAX_LINK_HOPS; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *target = current;
            return true;
        }
        char link[4096];
        ssize_t n = ::readlink(current.c_str(), link, sizeof link);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof link) {
            return fail(reason, "its symbolic link cannot be read");
        }
        std::string next(link, static_cast<size_t>(n));
        current = next[0] == '/' ? next : directoryOf(current) + next;
    }
    return fail(reason, std::strerror(ELOOP));
}

// Creates the directory (and those missing above it) with mode 0700. True when it
// exists as a directory afterwards.
bool makeDirectories(std::string directory, std::string* reason) {
    while (directory.size() > 1 && directory.back() == '/') {
        directory.pop_back();
    }
    struct stat st {};
    if (directory.empty() || directory == "." || ::stat(directory.c_str(), &st) == 0) {
        return true; // an existing non-directory is reported by the file's creation
    }
    if (errno != ENOENT) {
        return fail(reason,
                    "cannot reach the directory " + directory + ": " + std::strerror(errno));
    }
    size_t slash = directory.rfind('/');
    if (slash != std::string::npos && slash > 0 &&
        !makeDirectories(directory.substr(0, slash), reason)) {
        return false;
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return fail(reason,
                    "cannot create the directory " + directory + ": " + std::strerror(errno));
    }
    ::chmod(directory.c_str(), 0700); // whatever the umask took away
    return true;
}

// Flushes the directory entry of a rename; a failure here cannot undo the rename and is
// not reported.
void syncDirectory(const std::string& directory) {
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Opens path for reading when it is a regular file of a sensible size: Ok with an open
// descriptor in *fd, else why. What is not a regular file (a FIFO, a device, a directory)
// is named from its status and never opened, so opening has no side effect and never
// blocks; the open itself does not wait either, should the path change in between. A path
// through something that is not a directory counts as missing when notDirectoryIsMissing.
ReadResult openRegular(const std::string& path, int* fd, struct stat* st, std::string* reason,
                       bool notDirectoryIsMissing) {
    *fd = -1;
    if (::stat(path.c_str(), st) != 0) {
        if (errno == ENOENT || (errno == ENOTDIR && notDirectoryIsMissing)) {
            return ReadResult::Missing;
        }
        return readFailed(reason, std::strerror(errno));
    }
    if (!S_ISREG(st->st_mode)) {
        return readFailed(reason, notRegular(st->st_mode));
    }
    *fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (*fd < 0) {
        if (errno == ENOENT) {
            return ReadResult::Missing;
        }
        return readFailed(reason, std::strerror(errno));
    }
    if (::fstat(*fd, st) != 0) {
        fail(reason, std::strerror(errno));
    } else if (!S_ISREG(st->st_mode)) {
        fail(reason, notRegular(st->st_mode));
    } else if (static_cast<unsigned long long>(st->st_size) > MAX_FILE_BYTES) {
        fail(reason, "larger than 64 MiB");
    } else {
        return ReadResult::Ok;
    }
    ::close(*fd);
    *fd = -1;
    return ReadResult::Failed;
}

} // namespace

ReadResult inspectFile(const std::string& path, mode_t* mode, std::string* reason) {
    int fd = -1;
    struct stat st {};
    ReadResult result = openRegular(path, &fd, &st, reason, false);
    if (result == ReadResult::Ok) {
        ::close(fd);
        if (mode != nullptr) {
            *mode = st.st_mode & 07777;
        }
    }
    return result;
}

ReadResult readWholeFile(const std::string& path, std::string& out, std::string* reason) {
    out.clear();
    int fd = -1;
    struct stat st {};
    ReadResult opened = openRegular(path, &fd, &st, reason, true);
    if (opened != ReadResult::Ok) {
        return opened;
    }
    // The size is only a hint: the file may grow while it is read, so the limit is
    // checked against what is actually read.
    out.reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    ReadResult result = ReadResult::Ok;
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || out.size() + static_cast<size_t>(n) > MAX_FILE_BYTES) {
            if (n != 0) {
                fail(reason, n < 0 ? std::strerror(errno) : "larger than 64 MiB");
                out.clear();
                result = ReadResult::Failed;
            }
            break;
        }
        out.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return result;
}

bool replaceFile(const std::string& path, const std::string& content, std::string* reason) {
    if (path.empty() || path.back() == '/') {
        return fail(reason, "no file name");
    }
    std::string target;
    if (!replacementTarget(path, &target, reason)) {
        return false;
    }
    std::string directory = directoryOf(target);
    std::string base = target.substr(target.rfind('/') + 1); // all of it without a '/'

    mode_t mode = 0600;
    bool existing = false;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            return fail(reason, notRegular(st.st_mode));
        }
        if (st.st_nlink > 1) {
            return fail(reason, "it has " + std::to_string(st.st_nlink) +
                                    " hard links, and replacing it would make them two files");
        }
        mode = st.st_mode & 07777;
        existing = true;
    } else if (errno != ENOENT) {
        return fail(reason, std::strerror(errno));
    } else if (!makeDirectories(directory, reason)) {
        return false;
    }

    const sigset_t previous = holdSignals();
    std::string temporary = directory + "." + base + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    bool ok = fd >= 0;
    if (!ok) {
        fail(reason, "cannot create a file in " + directory + ": " + std::strerror(errno));
    } else {
        if (existing && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
            // Who may not give the file away keeps at least its group where it can.
            // The second try's result changes nothing either way (fortified builds insist
            // that it is looked at).
            if (::fchown(fd, st.st_uid, st.st_gid) != 0 &&
                ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
                errno = 0;
            }
        }
        ok = ::fchmod(fd, mode) == 0 && writeAll(fd, content.data(), content.size()) &&
             ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok; // the close can report a failed write
        if (!ok) {
            fail(reason, "cannot write a file in " + directory + ": " + std::strerror(errno));
        } else if (::rename(temporary.c_str(), target.c_str()) != 0) {
            ok = fail(reason,
                      "cannot put the new file in place: " + std::string(std::strerror(errno)));
        }
        if (!ok) {
            ::unlink(temporary.c_str());
        } else {
            syncDirectory(directory);
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

} // namespace platform::profile
