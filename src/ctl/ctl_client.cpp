// `confserver ctl`: sends one request to a running server's control socket and prints the
// answer. Every way it can fail ends with one line on standard error and exit code 1 (2 for
// a bad command line).
#include "ctl/ctl_internal.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int ANSWER_WAIT_MS = 5000;           // the server answers within a second
constexpr size_t LINE_MAX_BYTES = 1024 * 1024; // no line of an answer is near this

constexpr const char* USAGE =
    "usage: confserver ctl [--socket PATH] COMMAND [ARGUMENT]\n"
    "Controls the running server through its control socket (default: "
    "$XDG_RUNTIME_DIR/confserver/control,\nelse the service's /run/confserver/control; "
    "a template instance's is /run/confserver-NAME/control).\n"
    "Commands:\n"
    "  status           the server and one line per station\n"
    "  stations --json  the stations as the HTTP view's /api/status lists them\n"
    "  close STATION    closes the station (a callsign or an address) as its BYE would\n"
    "  deny STATION     adds \"deny CALLSIGN\" to the access file and closes the station\n"
    "  reload           reads the access file again now\n"
    "  events           prints the event log's records as they happen, until interrupted\n";

int usageError(const char* problem) {
    platformOperatorLinef("ctl: %s", problem);
    platformErrorLine(USAGE, std::strlen(USAGE) - 1); // the queue adds the last line end
    return 2;
}

// One line "confserver: ..." on standard error; returns exit code 1.
int failure(const char* format, ...) __attribute__((format(printf, 1, 2)));
int failure(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    platformOperatorLinef("%s", text);
    return 1;
}

// Reads one line (without its end) into line; false at the end of the stream, on an error,
// or when waitMs (-1: no limit) passed first (*timedOut set).
bool readLine(int fd, std::string* pending, std::string* line, int waitMs, bool* timedOut) {
    *timedOut = false;
    for (;;) {
        size_t end = pending->find('\n');
        if (end != std::string::npos) {
            line->assign(*pending, 0, end);
            pending->erase(0, end + 1);
            return true;
        }
        if (pending->size() > LINE_MAX_BYTES) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, waitMs);
        if (ready == 0) {
            *timedOut = true;
            return false;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        char chunk[4096];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return false;
        }
        pending->append(chunk, static_cast<size_t>(n));
    }
}

// Connects to the socket at path; -1 after the line that says why.
int connectTo(const char* path, const char* shownPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path) {
        failure("%s: the path is longer than 107 bytes", shownPath);
        return -1;
    }
    std::memcpy(address.sun_path, path, std::strlen(path) + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failure("%s: %s", shownPath, std::strerror(errno));
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    int error = errno;
    ::close(fd);
    if (error == ENOENT || error == ENOTDIR) {
        failure("no server is running: %s does not exist", shownPath);
    } else if (error == ECONNREFUSED) {
        failure("no server is listening on %s (a file left by a server that ended)", shownPath);
    } else if (error == EACCES || error == EPERM) {
        failure("%s: permission denied: the control socket is for root and the server's user "
                "and group",
                shownPath);
    } else {
        failure("%s: %s", shownPath, std::strerror(error));
    }
    return -1;
}

} // namespace

int ctlClientMain(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN); // a server that goes away is a failed write, told below
    std::string path;
    std::string request;
    for (int i = 0; i < argc; ++i) {
        std::string word = argv[i];
        if (request.empty() && word == "--socket") {
            if (i + 1 >= argc) {
                return usageError("--socket needs a PATH");
            }
            path = argv[++i];
        } else if (request.empty() && word.rfind("--socket=", 0) == 0) {
            path = word.substr(9);
        } else if (request.empty() && (word == "-h" || word == "--help")) {
            std::fputs(USAGE, stdout);
            return 0;
        } else {
            request += (request.empty() ? "" : " ") + word;
        }
    }
    if (request.empty()) {
        return usageError("a COMMAND is needed");
    }
    if (request.size() > CTL_REQUEST_MAX || request.find('\n') != std::string::npos) {
        return usageError("a request is one line of at most 512 bytes");
    }
    if (path.empty()) {
        char defaultPath[sizeof(sockaddr_un::sun_path) + 1];
        ctlDefaultClientPath(defaultPath, sizeof defaultPath);
        path = defaultPath;
    }
    char shownPath[escapedSize(sizeof(sockaddr_un::sun_path) + 1)];
    escapeText(path.c_str(), shownPath, sizeof shownPath);
    int fd = connectTo(path.c_str(), shownPath);
    if (fd < 0) {
        return 1;
    }
    request += '\n';
    // A server that refuses the client says why before it closes: that line is read even
    // when the request could not be sent.
    bool sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(request.size());
    int sendError = errno;
    std::string pending;
    std::string line;
    bool timedOut = false;
    if (!readLine(fd, &pending, &line, ANSWER_WAIT_MS, &timedOut)) {
        ::close(fd);
        if (!sent) {
            return failure("%s: the request could not be sent: %s", shownPath,
                           std::strerror(sendError));
        }
        return failure(timedOut ? "%s: no answer within 5 seconds"
                                : "%s: the server closed the connection without an answer",
                       shownPath);
    }
    if (line.rfind("error ", 0) == 0) {
        ::close(fd);
        platformOperatorLinef("%s", line.c_str() + 6);
        return 1;
    }
    if (line != "ok") {
        ::close(fd);
        return failure("%s: not an answer of the server", shownPath);
    }
    bool follow = request == "events\n";
    // The body, up to the empty line; the events then follow until the end of the stream.
    bool inBody = true;
    for (;;) {
        if (!readLine(fd, &pending, &line, inBody ? ANSWER_WAIT_MS : -1, &timedOut)) {
            ::close(fd);
            if (inBody) {
                return failure("%s: the answer ended early", shownPath);
            }
            return 0;
        }
        if (inBody && line.empty()) {
            if (!follow) {
                ::close(fd);
                return 0;
            }
            inBody = false;
            continue;
        }
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        if (follow) {
            std::fflush(stdout);
        }
    }
}
