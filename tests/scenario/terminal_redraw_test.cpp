// The terminal front end on a pseudo-terminal, in this process: status changes are drawn
// when the message loop is idle, so a burst of them is drawn once; while messages keep
// coming, the redraw timer still draws them.
#include "frontend/terminal/terminal.h"
#include "frontend/terminal/terminal_window.h"
#include "platform/loop/loop.h"
#include "platform/runtime.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"
#include "support/testutil.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

LRESULT plainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Everything the front end has written to the terminal since the last call.
std::string drain(int master) {
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) {
            return out;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

TEST(TerminalRedraw, ABurstOfStatusTextsIsDrawnOnceAndABusyLoopStillDraws) {
    int master = -1;
    int slave = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::fflush(stdout);
    int savedIn = dup(STDIN_FILENO);
    int savedOut = dup(STDOUT_FILENO);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    setenv("TERM", "xterm-256color", 1);

    char why[160] = "";
    bool usable = platformUseTerminalFrontEnd(why, sizeof why);
    WNDCLASSA wc{};
    wc.lpfnWndProc = plainProc;
    wc.lpszClassName = "RedrawTestMain";
    RegisterClassA(&wc);
    HWND main = CreateWindowExA(0, "RedrawTestMain", "FIRST TEXT", WS_POPUP | WS_CAPTION, 0, 0, 275,
                                57, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(main, SW_SHOWNORMAL);
    platform::runBeforeSleep();
    std::string first = drain(master);
    long drawsBefore = platform::term::ui.draws;

    // A burst: a hundred texts set while messages are handled, then the loop is idle.
    for (int i = 1; i <= 100; ++i) {
        SetWindowTextA(main, ("STATUS " + std::to_string(i) + " OF THE BURST").c_str());
    }
    platformDispatchPending(100);
    long drawsDuringBurst = platform::term::ui.draws;
    platform::runBeforeSleep();
    long drawsAfterIdle = platform::term::ui.draws;
    std::string burst = drain(master);

    // Busy: the loop never gets idle, the timer draws within its delay.
    SetWindowTextA(main, "BUSY TEXT");
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (platform::term::ui.draws == drawsAfterIdle && std::chrono::steady_clock::now() < end) {
        platformDispatchPending(100);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    long drawsWhileBusy = platform::term::ui.draws;
    std::string busy = drain(master);

    DestroyWindow(main);
    platform::term::screenStop();
    drain(master);
    dup2(savedIn, STDIN_FILENO);
    dup2(savedOut, STDOUT_FILENO);
    close(savedIn);
    close(savedOut);
    close(slave);
    close(master);
    testutil::resetPlatform();

    ASSERT_TRUE(usable) << why;
    EXPECT_NE(first.find("FIRST TEXT"), std::string::npos);
    EXPECT_EQ(drawsDuringBurst, drawsBefore);
    EXPECT_EQ(drawsAfterIdle, drawsBefore + 1);
    EXPECT_NE(burst.find("STATUS 100 OF THE BURST"), std::string::npos);
    for (int i : {1, 2, 50, 99}) {
        EXPECT_EQ(burst.find("STATUS " + std::to_string(i) + " OF"), std::string::npos) << i;
    }
    EXPECT_EQ(drawsWhileBusy, drawsAfterIdle + 1);
    EXPECT_NE(busy.find("BUSY TEXT"), std::string::npos);
}

} // namespace
