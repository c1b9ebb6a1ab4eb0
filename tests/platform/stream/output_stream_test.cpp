// The bounded queue of output lines (oldest dropped whole, one note where they were, never
// half a line) and the status stream on a pipe that nobody reads or that has no reader.
#include "platform/stream/output_stream.h"
#include "platform/window/dialog.h"
#include "support/testutil.h"
#include "support/window_recorder.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

using platform::LineQueue;
using Strings = std::vector<std::string>;
using recorder::linesOf;

namespace {

// An output that takes at most `room` bytes in all, then nothing until given more.
struct FakeOutput {
    std::string taken;
    size_t room = 0;
    bool gone = false;
};

ssize_t fakeWrite(const char* data, size_t n, void* context) {
    auto* out = static_cast<FakeOutput*>(context);
    if (out->gone) {
        return -1;
    }
    size_t k = n < out->room ? n : out->room;
    out->taken.append(data, k);
    out->room -= k;
    return static_cast<ssize_t>(k);
}

size_t fakeNote(unsigned long count, char* out, size_t size, void*) {
    int n = std::snprintf(out, size, "LOST %lu\n", count);
    return static_cast<size_t>(n);
}

// A line of exactly `size` bytes with its newline, numbered.
std::string numbered(int i, size_t size) {
    std::string s = "L" + std::to_string(i) + " ";
    s.resize(size - 1, '.');
    return s;
}

TEST(LineQueue, WaitsWhileTheOutputTakesNothingAndKeepsTheOrder) {
    static LineQueue q;
    q.clear();
    FakeOutput out;
    q.push("one", 3);
    q.push("two", 3);
    EXPECT_TRUE(q.flush(fakeWrite, fakeNote, &out));
    EXPECT_EQ(out.taken, "");
    EXPECT_FALSE(q.empty());
    out.room = 5; // "one\nt": stops inside the second line
    EXPECT_TRUE(q.flush(fakeWrite, fakeNote, &out));
    EXPECT_EQ(out.taken, "one\nt");
    out.room = 100;
    q.push("three", 5);
    EXPECT_TRUE(q.flush(fakeWrite, fakeNote, &out));
    EXPECT_EQ(out.taken, "one\ntwo\nthree\n");
    EXPECT_TRUE(q.empty());
}

TEST(LineQueue, FullQueueDropsTheOldestWholeLinesAndOneNoteStandsWhereTheyWere) {
    static LineQueue q;
    q.clear();
    FakeOutput out;
    const size_t size = 1024; // 64 lines fill the queue exactly
    out.room = 10;            // the first line begins to be written: it must stay whole
    q.push(numbered(0, size).c_str(), size - 1);
    ASSERT_TRUE(q.flush(fakeWrite, fakeNote, &out));
    for (int i = 1; i < 100; ++i) {
        std::string line = numbered(i, size);
        q.push(line.c_str(), line.size());
    }
    // 100 lines pushed, 64 fit with the one partly written: lines 1 to 36 are gone.
    out.room = 1 << 20;
    ASSERT_TRUE(q.flush(fakeWrite, fakeNote, &out));
    Strings lines = linesOf(out.taken);
    ASSERT_EQ(lines.size(), 1u + 1u + 63u);
    EXPECT_EQ(lines[0], numbered(0, size));
    EXPECT_EQ(lines[1], "LOST 36");
    for (int i = 37; i < 100; ++i) {
        EXPECT_EQ(lines[static_cast<size_t>(i - 35)], numbered(i, size)) << i;
    }
    EXPECT_TRUE(q.empty());
}

TEST(LineQueue, NoteWaitsForRoomLikeAnyLineAndLongLinesAreCut) {
    static LineQueue q;
    q.clear();
    FakeOutput out;
    std::string huge(LineQueue::kCapacity, 'x');
    for (int i = 0; i < 20; ++i) {
        q.push(huge.c_str(), huge.size()); // each cut to kLongestLine with its newline
    }
    // 16 cut lines fill the queue: 4 are lost.
    out.room = 3; // the note begins ...
    ASSERT_TRUE(q.flush(fakeWrite, fakeNote, &out));
    EXPECT_EQ(out.taken, "LOS");
    q.push("late", 4); // the oldest waiting line gives way: counted anew, after the note
    out.room = 1 << 20;
    ASSERT_TRUE(q.flush(fakeWrite, fakeNote, &out));
    Strings lines = linesOf(out.taken);
    ASSERT_EQ(lines.size(), 2u + 15u + 1u);
    EXPECT_EQ(lines[0], "LOST 4");
    EXPECT_EQ(lines[1], "LOST 1");
    for (size_t i = 2; i < 17; ++i) {
        EXPECT_EQ(lines[i], std::string(LineQueue::kLongestLine - 1, 'x')) << i;
    }
    EXPECT_EQ(lines[17], "late");
}

TEST(LineQueue, AnOutputThatIsGoneDropsEverything) {
    static LineQueue q;
    q.clear();
    FakeOutput out;
    out.gone = true;
    q.push("a", 1);
    EXPECT_FALSE(q.flush(fakeWrite, fakeNote, &out));
    EXPECT_TRUE(q.empty());
}

// The status stream written to a pipe put in place of standard output for the test.
class StatusStream : public recorder::WindowTest {
  protected:
    void SetUp() override {
        recorder::WindowTest::SetUp();
        testutil::useMinimisedFrontEnd(); // the status lines are the minimised front end's
        platformInstallSignalHandlers();  // SIGPIPE ignored, as in the program
        ASSERT_EQ(pipe2(fds_, O_CLOEXEC), 0);
        std::fflush(stdout);
        savedStdout_ = dup(STDOUT_FILENO);
        ASSERT_GE(savedStdout_, 0);
        ASSERT_EQ(dup2(fds_[1], STDOUT_FILENO), STDOUT_FILENO);
    }
    void TearDown() override {
        restoreStdout();
        for (int& fd : fds_) {
            if (fd >= 0) {
                close(fd);
            }
        }
        recorder::WindowTest::TearDown();
    }
    // Gives the test's own standard output back, so that what it reports is seen.
    void restoreStdout() {
        if (savedStdout_ >= 0) {
            dup2(savedStdout_, STDOUT_FILENO);
            close(savedStdout_);
            savedStdout_ = -1;
        }
    }
    // Reads what the pipe gets, dispatching so that waiting lines are written, until the
    // text ends with ending (or after rounds rounds), then gives standard output back.
    std::string readUntil(const std::string& ending, int rounds) {
        std::string text;
        for (int i = 0; i < rounds && !text.ends_with(ending); ++i) {
            platformDispatchPending(10);
            pollfd p{fds_[0], POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                continue;
            }
            char buf[65536];
            ssize_t n = read(fds_[0], buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            text.append(buf, static_cast<size_t>(n));
        }
        restoreStdout();
        return text;
    }
    int fds_[2] = {-1, -1};
    int savedStdout_ = -1;
};

constexpr DWORD kMainStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

TEST_F(StatusStream, APipeThatNobodyReadsNeverHoldsTheWriterUpAndTheLossIsTold) {
    HWND main = recorder::topLevel("cVARDE", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOWMINIMIZED);
    // 6000 changes of about 60 bytes: far more than the pipe and the queue hold. Were a
    // write to wait, this loop would never end.
    const int changes = 6000;
    for (int i = 0; i < changes; ++i) {
        std::string text = "STATUS " + std::to_string(i) + std::string(40, '-');
        SetWindowTextA(main, text.c_str());
    }
    const std::string last = "STATUS " + std::to_string(changes - 1) + std::string(40, '-');
    Strings lines = linesOf(readUntil(last + "\n", 2000));
    // Every line is whole and stamped; the texts in order, one note where lines were lost.
    int expected = -1; // "cVARDE" first
    int notes = 0;
    unsigned long lost = 0;
    for (const std::string& line : lines) {
        ASSERT_GT(line.size(), 24u) << line;
        std::string text = line.substr(24);
        if (text.rfind("... ", 0) == 0) {
            ++notes;
            lost = std::strtoul(text.c_str() + 4, nullptr, 10);
            EXPECT_EQ(text, "... " + std::to_string(lost) + " status lines lost");
            expected += static_cast<int>(lost);
            continue;
        }
        std::string want =
            expected < 0 ? "cVARDE" : "STATUS " + std::to_string(expected) + std::string(40, '-');
        ASSERT_EQ(text, want);
        ++expected;
    }
    EXPECT_EQ(notes, 1);
    EXPECT_GT(lost, 1000u);
    EXPECT_EQ(expected, changes); // the last change is there: nothing lost at the end
}

TEST_F(StatusStream, APipeWithoutReaderEndsTheStreamQuietly) {
    close(fds_[0]);
    fds_[0] = -1;
    HWND main = recorder::topLevel("cVARDE", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOWMINIMIZED); // EPIPE: neither a signal nor a wait
    SetWindowTextA(main, "FIREWALL");
    for (int i = 0; i < 100; ++i) {
        SetWindowTextA(main, i % 2 == 0 ? "A" : "B");
    }
    restoreStdout();
    EXPECT_TRUE(IsWindow(main));
}

TEST_F(StatusStream, ControlBytesOfANameMakeOneEscapedLine) {
    HWND main = recorder::topLevel("cVARDE", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOWMINIMIZED);
    SetWindowTextA(main, ">>A\x1b[2J\x07\r\nB\x7f\\\xc3\xa9<< Que=0");
    Strings lines = linesOf(readUntil("<< Que=0\n", 50));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(24), ">>A\\x1B[2J\\x07\\x0D\\x0AB\\x7F\\\\\xc3\xa9<< Que=0");
}

TEST_F(StatusStream, MessageBoxesOnStandardErrorAreEscapedAndQuestionsAnsweredNo) {
    restoreStdout(); // only standard error is looked at
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "line\none\x1b", "CAP\x07", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "no caption", "", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Close?", "Q", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Deny?", "Q", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CAP\\x07: line\\x0Aone\\x1B\nno caption\nQ: Close?\nQ: Deny?\n");
}

} // namespace
