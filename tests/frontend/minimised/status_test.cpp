// The minimised front end's status line (format, the hook, which windows, equal texts)
// and signals delivered as WM_CLOSE.
#include "platform/loop/loop.h"
#include "support/testutil.h"
#include "support/window_recorder.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using recorder::events;
using recorder::topLevel;
using Strings = std::vector<std::string>;
using recorder::linesOf;

namespace {

constexpr DWORD kMainStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

Strings gHooked;
void statusHook(const char* text) {
    gHooked.push_back(text);
}

class StatusLine : public recorder::WindowTest {
  protected:
    void SetUp() override {
        recorder::WindowTest::SetUp();
        testutil::useMinimisedFrontEnd();
        gHooked.clear();
    }
};

// The text of a line "YYYY-MM-DD HH:MM:SS.mmm TEXT"; fails the test when the stamp is
// not of that form.
std::string textAfterStamp(const std::string& line) {
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
    EXPECT_GE(line.size(), shape.size()) << line;
    for (size_t i = 0; i < shape.size() && i < line.size(); ++i) {
        bool ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                  : line[i] == shape[i];
        EXPECT_TRUE(ok) << "position " << i << " of " << line;
    }
    return line.size() >= shape.size() ? line.substr(shape.size()) : "";
}

TEST_F(StatusLine, ShownTitleAndEachChangeAreWrittenWithATimestamp) {
    testing::internal::CaptureStdout();
    HWND main = topLevel("cVARDE", nullptr, kMainStyle);
    SetWindowTextA(main, "before shown"); // not yet the status line
    SetWindowTextA(main, "cVARDE");
    ShowWindow(main, SW_SHOWMINIMIZED);
    SetWindowTextA(main, "            >>STANDBY<<");
    SetWindowTextA(main, "FIREWALL");
    Strings lines = linesOf(testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), 3u);
    Strings texts;
    for (const std::string& line : lines) {
        texts.push_back(textAfterStamp(line));
    }
    EXPECT_EQ(texts, (Strings{"cVARDE", "            >>STANDBY<<", "FIREWALL"}));
}

TEST_F(StatusLine, HookReceivesTheTextsInsteadAndEqualTextsAreNotRepeated) {
    platformSetStatusHook(statusHook);
    testing::internal::CaptureStdout();
    HWND main = topLevel("cVARDE", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOW);
    ShowWindow(main, SW_SHOWMINIMIZED); // shown again: nothing new to say
    SetWindowTextA(main, "FIREWALL");
    SetWindowTextA(main, "FIREWALL");
    SetWindowTextA(main, "UNREGISTERED DATA");
    SetWindowTextA(main, "FIREWALL");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(gHooked, (Strings{"cVARDE", "FIREWALL", "UNREGISTERED DATA", "FIREWALL"}));
}

TEST_F(StatusLine, OnlyShownUnownedTopLevelWindowsWithACaptionAreTheStatusLine) {
    platformSetStatusHook(statusHook);
    HWND plain = topLevel("no caption", nullptr, WS_POPUP);
    ShowWindow(plain, SW_SHOW);
    SetWindowTextA(plain, "changed");
    HWND main = topLevel("main", nullptr, kMainStyle);
    HWND owned = topLevel("owned", main, kMainStyle);
    ShowWindow(owned, SW_SHOW);
    SetWindowTextA(owned, "owned changed");
    HWND kid = recorder::child("kid", main);
    ShowWindow(kid, SW_SHOW);
    SetWindowTextA(kid, "kid changed");
    EXPECT_TRUE(gHooked.empty());
    ShowWindow(main, SW_SHOWNORMAL);
    EXPECT_EQ(gHooked, Strings{"main"});
}

TEST_F(StatusLine, ResetForgetsTheLastTextAndTheHook) {
    platformSetStatusHook(statusHook);
    HWND main = topLevel("cVARDE", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOW);
    testutil::resetPlatform();
    ASSERT_NE(recorder::registerClass("Rec"), 0);
    testing::internal::CaptureStdout();
    main = topLevel("cVARDE", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOW);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(gHooked, Strings{"cVARDE"});
    EXPECT_NE(out.find(" cVARDE\n"), std::string::npos) << out;
}

// Under systemd (JOURNAL_STREAM names standard output) each status line begins with the
// journal's debug priority, so that a view at info leaves the status toggles out; any other
// standard output gets none.
TEST_F(StatusLine, UnderTheJournalStatusLinesAreDebugPriority) {
    for (bool journal : {true, false}) {
        testing::internal::CaptureStdout();
        struct stat st {};
        ASSERT_EQ(fstat(STDOUT_FILENO, &st), 0);
        std::string stream =
            std::to_string(st.st_dev) + ":" + std::to_string(journal ? st.st_ino : st.st_ino + 1);
        setenv("JOURNAL_STREAM", stream.c_str(), 1);
        testutil::resetPlatform(); // the streams look at JOURNAL_STREAM again
        ASSERT_NE(recorder::registerClass("Rec"), 0);
        HWND main = topLevel("cVARDE", nullptr, kMainStyle);
        ShowWindow(main, SW_SHOW);
        SetWindowTextA(main, "<<STANDBY>> U=2");
        Strings lines = linesOf(testing::internal::GetCapturedStdout());
        unsetenv("JOURNAL_STREAM");
        ASSERT_EQ(lines.size(), 2u);
        for (const std::string& line : lines) {
            EXPECT_EQ(line.rfind("<7>", 0) == 0, journal) << line;
        }
        EXPECT_EQ(textAfterStamp(lines[1].substr(journal ? 3 : 0)), "<<STANDBY>> U=2");
    }
    testutil::resetPlatform();
}

class Signals : public recorder::WindowTest {
  protected:
    void SetUp() override {
        recorder::WindowTest::SetUp();
        platformInstallSignalHandlers();
    }
    static int closesOf(const std::string& title) {
        int n = 0;
        for (const std::string& e : events()) {
            n += e == title + ":CLOSE" ? 1 : 0;
        }
        return n;
    }
};

TEST_F(Signals, TermBecomesOneCloseToEachShownTopLevelWindow) {
    HWND main = topLevel("main", nullptr, kMainStyle);
    HWND other = topLevel("other", nullptr, WS_POPUP);
    HWND hidden = topLevel("hidden", nullptr, kMainStyle);
    HWND owned = topLevel("owned", main, kMainStyle);
    ShowWindow(main, SW_SHOWMINIMIZED);
    ShowWindow(other, SW_SHOW);
    ShowWindow(owned, SW_SHOW);
    recorder::reaction() = [](HWND, UINT msg, WPARAM, LPARAM, LRESULT*) {
        return msg == WM_CLOSE; // keep the windows: a second signal must not close again
    };
    events().clear();
    ASSERT_EQ(raise(SIGTERM), 0);
    ASSERT_EQ(raise(SIGINT), 0);
    platformDispatchPending(100);
    EXPECT_EQ(closesOf("main"), 1);
    EXPECT_EQ(closesOf("other"), 1);
    EXPECT_EQ(closesOf("hidden"), 0);
    EXPECT_EQ(closesOf("owned"), 0); // it goes with its owner
    ASSERT_EQ(raise(SIGHUP), 0);
    platformDispatchPending(100);
    EXPECT_EQ(closesOf("main"), 1);
    EXPECT_TRUE(IsWindow(hidden));
}

int resizes = 0;
void countResize() {
    ++resizes;
}

TEST_F(Signals, ResizeRunsItsHandlerFromThePumpAndClosesNothing) {
    resizes = 0;
    ASSERT_TRUE(platform::watchResizeSignal(countResize));
    HWND main = topLevel("main", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOW);
    events().clear();
    ASSERT_EQ(raise(SIGWINCH), 0);
    ASSERT_EQ(raise(SIGWINCH), 0);
    EXPECT_EQ(resizes, 0); // the handler runs from the pump, never from the signal
    EXPECT_EQ(platformDispatchPending(100), 0);
    EXPECT_EQ(resizes, 1); // two signals before one look are one resize
    EXPECT_EQ(closesOf("main"), 0);
    // A close signal and a resize through the same pipe: each is acted on once.
    ASSERT_EQ(raise(SIGTERM), 0);
    ASSERT_EQ(raise(SIGWINCH), 0);
    platformDispatchPending(100);
    EXPECT_EQ(resizes, 2);
    EXPECT_EQ(events(), (Strings{"main:CLOSE", "main:DESTROY", "main:NCDESTROY"}));
    testutil::resetPlatform(); // forgets the handler
    ASSERT_EQ(raise(SIGWINCH), 0);
    platformInstallSignalHandlers();
    platformDispatchPending(100);
    EXPECT_EQ(resizes, 2);
}

TEST_F(Signals, SignalBeforeAnyWindowWaitsUntilOneIsShown) {
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(platformDispatchPending(100), 0);
    HWND main = topLevel("main", nullptr, kMainStyle);
    EXPECT_EQ(platformDispatchPending(100), 0); // created, not shown yet
    events().clear();
    ShowWindow(main, SW_SHOW);
    platformDispatchPending(100);
    EXPECT_EQ(events(), (Strings{"main:CLOSE", "main:DESTROY", "main:NCDESTROY"}));
    EXPECT_FALSE(IsWindow(main));
}

TEST_F(Signals, GetMessageWakesForASignal) {
    HWND main = topLevel("main", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOW);
    ASSERT_EQ(raise(SIGTERM), 0);
    MSG m{};
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.hwnd, main);
    EXPECT_EQ(m.message, WM_CLOSE);
}

TEST_F(Signals, ResetForgetsAPendingSignal) {
    ASSERT_EQ(raise(SIGTERM), 0);
    platformDispatchPending(10); // read from the pipe: pending, no window
    testutil::resetPlatform();
    ASSERT_NE(recorder::registerClass("Rec"), 0);
    HWND main = topLevel("main", nullptr, kMainStyle);
    ShowWindow(main, SW_SHOW);
    EXPECT_EQ(platformDispatchPending(100), 0);
    EXPECT_TRUE(IsWindow(main));
}

} // namespace
