#include "platform/profile/profile_io.h"

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

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded (it can report a failed write).
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Holds SIGINT, SIGTERM and SIGHUP back for as long as it exists; one that came in the
// meantime is delivered when it goes.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigaddset(&held, SIGHUP);
        ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

void setReason(std::string* reason, const std::string& text) {
    if (reason != nullptr) {
        *reason = text;
    }
}

// Why something that is not a regular file cannot be used as one.
std::string notRegular(mode_t mode) {
    const char* kind = "a special file";
    if (S_ISDIR(mode)) {
        kind = "a directory";
    } else if (S_ISFIFO(mode)) {
        kind = "a FIFO";
    } else if (S_ISCHR(mode)) {
        kind = "a character device";
    } else if (S_ISBLK(mode)) {
        kind = "a block device";
    } else if (S_ISSOCK(mode)) {
        kind = "a socket";
    }
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
            setReason(reason, "its symbolic link cannot be read");
            return false;
        }
        std::string next(link, static_cast<size_t>(n));
        current = next[0] == '/' ? next : directoryOf(current) + next;
    }
    setReason(reason, std::strerror(ELOOP));
    return false;
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
        setReason(reason, "cannot reach the directory " + directory + ": " + std::strerror(errno));
        return false;
    }
    size_t slash = directory.rfind('/');
    if (slash != std::string::npos && slash > 0 &&
        !makeDirectories(directory.substr(0, slash), reason)) {
        return false;
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        setReason(reason, "cannot create the directory " + directory + ": " + std::strerror(errno));
        return false;
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
        setReason(reason, std::strerror(errno));
        return ReadResult::Failed;
    }
    if (!S_ISREG(st->st_mode)) {
        setReason(reason, notRegular(st->st_mode));
        return ReadResult::Failed;
    }
    *fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (*fd < 0) {
        if (errno == ENOENT) {
            return ReadResult::Missing;
        }
        setReason(reason, std::strerror(errno));
        return ReadResult::Failed;
    }
    if (::fstat(*fd, st) != 0) {
        setReason(reason, std::strerror(errno));
    } else if (!S_ISREG(st->st_mode)) {
        setReason(reason, notRegular(st->st_mode));
    } else if (static_cast<unsigned long long>(st->st_size) > MAX_FILE_BYTES) {
        setReason(reason, "larger than 64 MiB");
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
    Descriptor file(fd);
    // The size is only a hint: the file may grow while it is read, so the limit is
    // checked against what is actually read.
    out.reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            setReason(reason, std::strerror(errno));
            out.clear();
            return ReadResult::Failed;
        }
        if (n == 0) {
            return ReadResult::Ok;
        }
        if (out.size() + static_cast<size_t>(n) > MAX_FILE_BYTES) {
            setReason(reason, "larger than 64 MiB");
            out.clear();
            return ReadResult::Failed;
        }
        out.append(chunk, static_cast<size_t>(n));
    }
}

bool replaceFile(const std::string& path, const std::string& content, std::string* reason) {
    if (path.empty() || path.back() == '/') {
        setReason(reason, "no file name");
        return false;
    }
    std::string target;
    if (!replacementTarget(path, &target, reason)) {
        return false;
    }
    size_t slash = target.rfind('/');
    std::string directory = directoryOf(target);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    mode_t mode = 0600;
    bool existing = false;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            setReason(reason, notRegular(st.st_mode));
            return false;
        }
        if (st.st_nlink > 1) {
            setReason(reason, "it has " + std::to_string(st.st_nlink) +
                                  " hard links, and replacing it would make them two files");
            return false;
        }
        mode = st.st_mode & 07777;
        existing = true;
    } else if (errno != ENOENT) {
        setReason(reason, std::strerror(errno));
        return false;
    } else if (!makeDirectories(directory, reason)) {
        return false;
    }

    SignalsHeld held;
    std::string temporary = directory + "." + base + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        setReason(reason, "cannot create a file in " + directory + ": " + std::strerror(errno));
        return false;
    }
    Descriptor file(fd);
    if (existing && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        // Who may not give the file away keeps at least its group where it can.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
        }
    }
    bool ok =
        ::fchmod(fd, mode) == 0 && writeAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
    ok = file.close() && ok;
    if (!ok) {
        setReason(reason, "cannot write a file in " + directory + ": " + std::strerror(errno));
    } else if (::rename(temporary.c_str(), target.c_str()) != 0) {
        setReason(reason, "cannot put the new file in place: " + std::string(std::strerror(errno)));
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncDirectory(directory);
    return true;
}

} // namespace platform::profile
