// Starting another program without waiting for it, and the floating-point exception masks.
#include "platform/process/process.h"

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <fpu_control.h>
#include <xmmintrin.h>
#endif

extern char** environ;

namespace {

constexpr UINT execStarted = 33;
constexpr UINT execFileNotFound = 2;

// The blank-separated (blanks and tabs) words of a command line.
std::vector<std::string> wordsOf(std::string_view rest) {
    std::vector<std::string> words;
    for (size_t begin = rest.find_first_not_of(" \t"); begin != std::string_view::npos;
         begin = rest.find_first_not_of(" \t")) {
        rest.remove_prefix(begin);
        const size_t end = std::min(rest.find_first_of(" \t"), rest.size());
        words.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    return words;
}

// The program a command word names: the word itself when it holds a '/', else the first
// regular, executable file of that name in a directory of PATH ("/bin:/usr/bin" when PATH is
// unset). Only absolute PATH entries are searched: an empty entry, "." and other relative
// entries stand for the current directory, where anyone may have left a program of that
// name. Empty when there is none.
std::string findProgram(const std::string& word) {
    if (word.find('/') != std::string::npos) {
        return word;
    }
    const char* path = std::getenv("PATH");
    const std::string_view entries = path != nullptr ? path : "/bin:/usr/bin";
    for (size_t start = 0; start <= entries.size();) {
        const size_t end = std::min(entries.find(':', start), entries.size());
        const std::string_view directory = entries.substr(start, end - start);
        start = end + 1;
        if (directory.empty() || directory[0] != '/') {
            continue;
        }
        const std::string candidate = std::string(directory) + "/" + word;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

// The control word's exception-mask bits, in the x87 layout (see _control87): a set bit
// masks (ignores) the exception.
constexpr unsigned maskDenormal = 0x02;
constexpr unsigned allMasks = 0x3F;

struct FenvBit {
    unsigned mask;
    int except;
};
constexpr FenvBit fenvBits[] = {{0x01, FE_INVALID},
                                {0x04, FE_DIVBYZERO},
                                {0x08, FE_OVERFLOW},
                                {0x10, FE_UNDERFLOW},
                                {0x20, FE_INEXACT}};

#if defined(__x86_64__) || defined(__i386__)
// The denormal-operand exception has no fenv name; it is set in the x87 control word and
// in MXCSR directly.
constexpr unsigned mxcsrDenormalMask = 0x0100;
constexpr unsigned mxcsrDenormalFlag = 0x0002;

bool denormalMasked() {
    fpu_control_t word;
    _FPU_GETCW(word);
    return (word & _FPU_MASK_DM) != 0;
}

void setDenormalMasked(bool masked) {
    if (!masked) {
        // A denormal flag already raised would trap at once when unmasked.
        __asm__ __volatile__("fnclex");
    }
    fpu_control_t word;
    _FPU_GETCW(word);
    word = masked ? (word | _FPU_MASK_DM) : (word & ~static_cast<fpu_control_t>(_FPU_MASK_DM));
    _FPU_SETCW(word);
    const unsigned csr = _mm_getcsr();
    _mm_setcsr(masked ? (csr | mxcsrDenormalMask)
                      : (csr & ~(mxcsrDenormalMask | mxcsrDenormalFlag)));
}
#else
bool denormalMasked() {
    return true;
}
void setDenormalMasked(bool) {}

#endif

unsigned currentMasks() {
    const int enabled = fegetexcept();
    unsigned word = denormalMasked() ? maskDenormal : 0;
    for (const FenvBit& b : fenvBits) {
        if ((enabled & b.except) == 0) {
            word |= b.mask;
        }
    }
    return word;
}

} // namespace

// The child's standard descriptors are /dev/null so that it never competes with the
// terminal front end for keys nor prints into the status lines; its own process group keeps
// a Ctrl-C at the terminal the server's. showCommand has no meaning here.
UINT WinExec(const char* commandLine, UINT /*showCommand*/) {
    std::vector<std::string> words = wordsOf(commandLine != nullptr ? commandLine : "");
    const std::string program = words.empty() ? std::string() : findProgram(words[0]);
    if (program.empty()) {
        return execFileNotFound;
    }
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return execFileNotFound;
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return execFileNotFound;
    }
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD}) {
        sigaddset(&defaults, signal);
    }
    bool ready = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0;
    ready = ready && posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0;
    ready = ready && posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
    ready = ready &&
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                      POSIX_SPAWN_SETSIGDEF) == 0;
    ready = ready && posix_spawnattr_setpgroup(&attributes, 0) == 0;
    ready = ready && posix_spawnattr_setsigmask(&attributes, &none) == 0;
    ready = ready && posix_spawnattr_setsigdefault(&attributes, &defaults) == 0;
    pid_t child = 0;
    const bool started = ready && posix_spawn(&child, program.c_str(), &actions, &attributes,
                                              argv.data(), environ) == 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return started ? execStarted : execFileNotFound;
}

// Both the x87 and the SSE unit are set.
unsigned int _control87(unsigned int value, unsigned int mask) {
    mask &= allMasks;
    const unsigned wanted = (currentMasks() & ~mask) | (value & mask);
    int enable = 0;
    int disable = 0;
    for (const FenvBit& b : fenvBits) {
        if ((mask & b.mask) != 0) {
            if ((wanted & b.mask) != 0) {
                disable |= b.except;
            } else {
                enable |= b.except;
            }
        }
    }
    if (disable != 0) {
        fedisableexcept(disable);
    }
    if (enable != 0) {
        // An exception flag already raised would trap at once when unmasked.
        feclearexcept(enable);
        feenableexcept(enable);
    }
    if ((mask & maskDenormal) != 0) {
        setDenormalMasked((wanted & maskDenormal) != 0);
    }
    return currentMasks();
}
