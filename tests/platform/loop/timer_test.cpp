// Timers on the manual clock: one WM_TIMER waiting per timer at most, missed periods
// skipped, the time scale, order with other messages, and the end of a window's timers.
#include "platform/loop/loop.h"
#include "support/window_recorder.h"

using recorder::events;
using recorder::topLevel;
using Strings = std::vector<std::string>;

namespace {

class Timers : public recorder::WindowTest {
  protected:
    void SetUp() override {
        recorder::WindowTest::SetUp();
        platformUseManualClock(1000);
    }
    // WM_TIMER messages waiting for a window, counted without removing them.
    static int waitingTimers(HWND hwnd, UINT_PTR id) {
        int n = 0;
        MSG m{};
        std::vector<MSG> taken;
        while (PeekMessageA(&m, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE)) {
            taken.push_back(m);
        }
        for (const MSG& t : taken) {
            n += t.wParam == id ? 1 : 0;
        }
        return n;
    }
};

TEST_F(Timers, ManualClockDrivesTickCount) {
    EXPECT_TRUE(platformClockIsManual());
    EXPECT_EQ(GetTickCount(), 1000u);
    platformAdvanceClock(250);
    EXPECT_EQ(GetTickCount(), 1250u);
    platformReset();
    EXPECT_FALSE(platformClockIsManual());
}

TEST_F(Timers, DueTimerPostsOneTickCarryingItsId) {
    HWND w = topLevel("main");
    ASSERT_EQ(SetTimer(w, 1, 1000, nullptr), 1u);
    platformAdvanceClock(999);
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    platformAdvanceClock(1);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.hwnd, w);
    EXPECT_EQ(m.message, WM_TIMER);
    EXPECT_EQ(m.wParam, 1u);
    EXPECT_EQ(m.lParam, 0);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(Timers, NeverTwoWaitingAndMissedPeriodsCoalesce) {
    HWND w = topLevel("main");
    SetTimer(w, 1, 1000, nullptr);
    platformAdvanceClock(1000);
    platformDispatchPending(0); // looks at the clock, dispatches nothing
    platformAdvanceClock(3500); // 3.5 more periods pass while the first tick waits
    MSG m{};
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(waitingTimers(w, 1), 1);
    // The tick was taken out: the next one comes at the next whole period (t = 6000),
    // not at once for the periods missed.
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    platformAdvanceClock(499);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    platformAdvanceClock(1);
    EXPECT_EQ(waitingTimers(w, 1), 1);
}

TEST_F(Timers, TicksCountedOverTenSecondsWithTwoTimers) {
    HWND w = topLevel("main");
    SetTimer(w, 1, 1000, nullptr);
    SetTimer(w, 800, 1500, nullptr);
    int ticks = 0, beacons = 0;
    recorder::reaction() = [&](HWND, UINT msg, WPARAM id, LPARAM, LRESULT*) {
        if (msg == WM_TIMER) {
            ticks += id == 1 ? 1 : 0;
            beacons += id == 800 ? 1 : 0;
        }
        return false;
    };
    for (int i = 0; i < 100; ++i) {
        platformAdvanceClock(100);
        platformDispatchPending(100);
    }
    EXPECT_EQ(ticks, 10);  // due at 2000, 3000, ... 11000
    EXPECT_EQ(beacons, 6); // due at 2500, 4000, ... 10000
    // Both due when the clock is next looked at: the earlier due time comes first.
    platformAdvanceClock(3000);
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.wParam, 800u); // due at 11500
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.wParam, 1u); // due at 12000
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Timers, TimerTicksKeepQueueOrderWithPostedMessages) {
    HWND w = topLevel("main");
    SetTimer(w, 1, 1000, nullptr);
    PostMessageA(w, 1124, 0, 0);
    platformAdvanceClock(1000);
    MSG m{};
    PeekMessageA(&m, nullptr, 1124, 1124, PM_NOREMOVE); // the tick is queued here
    PostMessageA(w, 1127, 0, 0);
    events().clear();
    platformDispatchPending(10);
    EXPECT_EQ(events(), (Strings{"main:1124", "main:TIMER", "main:1127"}));
}

TEST_F(Timers, TimeScaleDividesPeriodsButNotTheTickCount) {
    platformSetTimeScale(10);
    EXPECT_EQ(platformTimeScale(), 10);
    HWND w = topLevel("main");
    SetTimer(w, 1, 1000, nullptr);
    SetTimer(w, 800, 1500, nullptr);
    DWORD start = GetTickCount();
    int ticks = 0, beacons = 0;
    for (int i = 0; i < 300; ++i) { // 3 s of the clock: 30 s of timer time
        platformAdvanceClock(10);
        MSG m{};
        while (PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
            ticks += m.wParam == 1 ? 1 : 0;
            beacons += m.wParam == 800 ? 1 : 0;
        }
    }
    EXPECT_EQ(GetTickCount() - start, 3000u);
    EXPECT_EQ(ticks, 30);
    EXPECT_EQ(beacons, 20);

    platformSetTimeScale(5000); // clamped to 1000: 1 ms and 1.5 ms
    EXPECT_EQ(platformTimeScale(), 1000);
    ticks = beacons = 0;
    for (int i = 0; i < 30; ++i) {
        platformAdvanceClock(1);
        MSG m{};
        while (PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
            ticks += m.wParam == 1 ? 1 : 0;
            beacons += m.wParam == 800 ? 1 : 0;
        }
    }
    EXPECT_EQ(ticks, 30);
    EXPECT_EQ(beacons, 20);
    platformSetTimeScale(0);
    EXPECT_EQ(platformTimeScale(), 1);
}

TEST_F(Timers, KillTimerStopsItAndTakesItsWaitingTick) {
    HWND w = topLevel("main");
    SetTimer(w, 1, 1000, nullptr);
    SetTimer(w, 2, 1000, nullptr);
    platformAdvanceClock(1000);
    MSG m{};
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_TRUE(KillTimer(w, 1));
    EXPECT_FALSE(KillTimer(w, 1));
    EXPECT_EQ(waitingTimers(w, 1), 0);
    platformAdvanceClock(5000);
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(waitingTimers(w, 1), 0);
}

TEST_F(Timers, RestartingATimerMovesItsDueTime) {
    HWND w = topLevel("main");
    SetTimer(w, 1, 1000, nullptr);
    platformAdvanceClock(900);
    SetTimer(w, 1, 1000, nullptr);
    platformAdvanceClock(900);
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    platformAdvanceClock(100);
    EXPECT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(Timers, DestroyedWindowsTimersStopAndPostedTimerMessagesAreNotTheTimers) {
    HWND main = topLevel("main");
    HWND station = recorder::child("station", main);
    SetTimer(main, 1, 1000, nullptr);
    HWND gone = topLevel("gone");
    DestroyWindow(gone);
    EXPECT_EQ(SetTimer(gone, 1, 1000, nullptr), 0u);
    // A WM_TIMER posted by a procedure (as the main window does for its stations) does
    // not stand for the timer: the timer's own tick still comes.
    PostMessageA(main, WM_TIMER, 1, 0);
    platformAdvanceClock(1000);
    MSG m{};
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(waitingTimers(main, 1), 2);
    PostMessageA(station, WM_TIMER, 1, 0);
    DestroyWindow(main);
    EXPECT_EQ(KillTimer(main, 1), FALSE);
    events().clear();
    platformAdvanceClock(5000);
    EXPECT_EQ(platformDispatchPending(10), 1); // the posted one, dropped at dispatch
    EXPECT_TRUE(events().empty());
}

std::vector<std::string> calls;
void callA() {
    calls.push_back("A");
}
void callAgain() {
    calls.push_back("again");
    platform::callAfter(callAgain, 0);
}

TEST_F(Timers, CallTimerRunsOnceAtItsTimeAndPostsNothing) {
    calls.clear();
    platform::callAfter(callA, 40);
    platformAdvanceClock(39);
    EXPECT_EQ(platformDispatchPending(10), 0);
    EXPECT_TRUE(calls.empty());
    platformAdvanceClock(1);
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)); // runs, posts no message
    EXPECT_EQ(calls, (Strings{"A"}));
    platformAdvanceClock(1000);
    platformDispatchPending(10);
    EXPECT_EQ(calls, (Strings{"A"})); // once
    // Setting it again moves its time; a cancelled one never runs.
    platform::callAfter(callA, 40);
    platformAdvanceClock(30);
    platform::callAfter(callA, 40);
    platformAdvanceClock(30);
    platformDispatchPending(10);
    EXPECT_EQ(calls, (Strings{"A"}));
    platformAdvanceClock(10);
    platformDispatchPending(10);
    EXPECT_EQ(calls, (Strings{"A", "A"}));
    platform::callAfter(callA, 40);
    platform::cancelCall(callA);
    platformAdvanceClock(100);
    platformDispatchPending(10);
    EXPECT_EQ(calls, (Strings{"A", "A"}));
}

TEST_F(Timers, CallTimerSetAgainFromItselfRunsAtTheNextLookAndIgnoresTheScale) {
    calls.clear();
    platformSetTimeScale(1000);
    platform::callAfter(callA, 40);
    platformAdvanceClock(39); // a window timer of 40 ms would be due after 1 ms here
    platformDispatchPending(10);
    EXPECT_TRUE(calls.empty());
    platform::cancelCall(callA);
    platform::callAfter(callAgain, 0);
    platformDispatchPending(10);
    EXPECT_EQ(calls, (Strings{"again"})); // not again within the same look
    platformDispatchPending(10);
    EXPECT_EQ(calls, (Strings{"again", "again"}));
    platform::cancelCall(callAgain);
    platformDispatchPending(10);
    EXPECT_EQ(calls.size(), 2u);
}

} // namespace
