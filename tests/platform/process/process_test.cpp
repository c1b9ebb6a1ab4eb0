// Starting a program without waiting, and the floating-point exception masks.
#include "platform/process/process.h"
#include "support/testutil.h"

#include <cfenv>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Waits (at most 5 s) until the file exists; false when it never came.
bool waitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        if (testutil::fileExists(path)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Runs body in a child process and returns how it ended (the waitpid status).
template <typename Body> int inChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

} // namespace

TEST(WinExec, StartsThroughPathWithWordsAsArguments) {
    EXPECT_EQ(WinExec("/bin/true", 1), 33u);
    EXPECT_EQ(WinExec("true", 1), 33u);
    EXPECT_EQ(WinExec("confserver-no-such-program-77", 1), 2u);
    EXPECT_EQ(WinExec("/nonexistent/dir/prog", 1), 2u);
    EXPECT_EQ(WinExec("", 1), 2u);
    EXPECT_EQ(WinExec("   ", 1), 2u);

    // The started program gets the other words as arguments, its standard input, output
    // and error from /dev/null and a process group of its own; it is not waited for.
    testutil::TempDir dir;
    const std::string script = dir.file("probe.sh");
    testutil::writeFile(script, "#!/bin/sh\n"
                                "o1=$(readlink /proc/$$/fd/1); o2=$(readlink /proc/$$/fd/2)\n"
                                "{ echo \"$#:$1:$2\"; readlink /proc/self/fd/0;\n"
                                "  echo \"$o1 $o2\";\n"
                                "  pid=$$; pgid=$(cut -d' ' -f5 /proc/$pid/stat);\n"
                                "  [ \"$pid\" = \"$pgid\" ] && echo own-group; } > \"$3.tmp\"\n"
                                "mv \"$3.tmp\" \"$3\"\n");
    ASSERT_EQ(chmod(script.c_str(), 0700), 0);
    const std::string out = dir.file("out");
    const std::string line = script + "  alpha\tbeta  " + out + " ";
    ASSERT_EQ(WinExec(line.c_str(), 1), 33u);
    ASSERT_TRUE(waitForFile(out));
    EXPECT_EQ(testutil::readFile(out), "3:alpha:beta\n/dev/null\n/dev/null /dev/null\nown-group\n");
}

TEST(WinExec, PathLookupNeverUsesTheCurrentDirectory) {
    // A program of the looked-for name in the current directory and in a relative
    // directory below it, each leaving a mark in the current directory when run.
    testutil::TempDir cwd;
    testutil::TempDir elsewhere;
    const std::string name = "cs-probe-" + std::to_string(getpid());
    const auto program = [&](const std::string& path, const std::string& mark) {
        testutil::writeFile(path, "#!/bin/sh\necho ran > " + mark + "\n");
        return chmod(path.c_str(), 0755) == 0;
    };
    ASSERT_EQ(mkdir(cwd.file("rel").c_str(), 0755), 0);
    ASSERT_TRUE(program(cwd.file(name), cwd.file("from-cwd")));
    ASSERT_TRUE(program(cwd.file("rel/" + name), cwd.file("from-rel")));
    ASSERT_TRUE(program(elsewhere.file(name), cwd.file("from-path")));

    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    const char* oldPath = getenv("PATH");
    const std::string savedPath = oldPath != nullptr ? oldPath : "";
    ASSERT_EQ(chdir(cwd.path().c_str()), 0);

    // Empty entries (leading, inner, trailing), "." and a relative entry are skipped.
    for (const char* path : {"", ":", ".", "::", "rel", ".:rel:", ":/nonexistent:"}) {
        ASSERT_EQ(setenv("PATH", path, 1), 0);
        EXPECT_EQ(WinExec(name.c_str(), 1), 2u) << '"' << path << '"';
    }
    // The first absolute directory that holds it is the one used, after skipped entries.
    ASSERT_EQ(setenv("PATH", (":.:rel:" + elsewhere.path() + ":").c_str(), 1), 0);
    EXPECT_EQ(WinExec(name.c_str(), 1), 33u);
    const bool ranFromPath = waitForFile(cwd.file("from-path"));

    ASSERT_EQ(setenv("PATH", savedPath.c_str(), 1), 0);
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_TRUE(ranFromPath);
    EXPECT_FALSE(testutil::fileExists(cwd.file("from-cwd")));
    EXPECT_FALSE(testutil::fileExists(cwd.file("from-rel")));

    // A directory or a file without the execute bit of that name is passed over.
    testutil::TempDir odd;
    ASSERT_EQ(mkdir(odd.file(name).c_str(), 0755), 0);
    testutil::TempDir plain;
    testutil::writeFile(plain.file(name), "#!/bin/sh\n");
    ASSERT_EQ(setenv("PATH", (odd.path() + ":" + plain.path()).c_str(), 1), 0);
    EXPECT_EQ(WinExec(name.c_str(), 1), 2u);
    ASSERT_EQ(setenv("PATH", savedPath.c_str(), 1), 0);
}

TEST(Control87, SetsAndReportsTheSixMasks) {
    EXPECT_EQ(_control87(0, 0), 0x3Fu); // a Linux process starts with all masked
    EXPECT_EQ(_control87(0x3F, 0x3F), 0x3Fu);

    EXPECT_EQ(_control87(0, 0x04), 0x3Bu); // divide by zero unmasked
    EXPECT_NE(fegetexcept() & FE_DIVBYZERO, 0);
    EXPECT_EQ(_control87(0x00, 0x11), 0x2Au); // invalid and underflow too
    EXPECT_EQ(fegetexcept(), FE_DIVBYZERO | FE_INVALID | FE_UNDERFLOW);
    EXPECT_EQ(_control87(0x3F, 0x3F), 0x3Fu);
    EXPECT_EQ(fegetexcept(), 0);

    EXPECT_EQ(_control87(0, 0x02), 0x3Du); // denormal operand
    EXPECT_EQ(_control87(0xFFFF, 0x02), 0x3Fu);
    EXPECT_EQ(_control87(0xFFFF, 0xFFC0), 0x3Fu); // bits outside the six are ignored
}

TEST(Control87, MaskDecidesWhetherDivisionByZeroTraps) {
    // The child ends with 0 only when the division completed. (A sanitizer reports the
    // trap itself and aborts instead of dying of SIGFPE; its report goes to /dev/null.)
    const auto divideByZero = [] {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 2);
        volatile double zero = 0.0;
        volatile double result = 1.0 / zero;
        _exit(result > 1e308 ? 0 : 1);
    };
    const int unmasked = inChild([&] {
        _control87(0x3B, 0x3F);
        divideByZero();
    });
    EXPECT_FALSE(WIFEXITED(unmasked) && WEXITSTATUS(unmasked) == 0);
    const int masked = inChild([&] {
        _control87(0x3B, 0x3F);
        _control87(0x3F, 0x3F);
        divideByZero();
    });
    EXPECT_TRUE(WIFEXITED(masked) && WEXITSTATUS(masked) == 0);
}

TEST(Control87, AFlagRaisedWhileMaskedDoesNotTrapWhenUnmasked) {
    // Division by zero raised (masked) in both units, then unmasked: the stale flags are
    // cleared first, so the next harmless operation of either unit completes.
    const int status = inChild([] {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 2);
        volatile long double x87Zero = 0.0L;
        volatile long double x87Result = 1.0L / x87Zero;
        volatile double sseZero = 0.0;
        volatile double sseResult = 1.0 / sseZero;
        if (fetestexcept(FE_DIVBYZERO) == 0) {
            _exit(2);
        }
        _control87(0x3B, 0x3F);
        volatile long double x87Next = x87Result > 0 ? 2.0L * 3.0L : 0.0L;
        volatile double sseNext = sseResult > 0 ? 2.0 * 3.0 : 0.0;
        _exit(x87Next == 6.0L && sseNext == 6.0 && fetestexcept(FE_DIVBYZERO) == 0 ? 0 : 1);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
