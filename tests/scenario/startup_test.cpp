// Start-up, the main window's message table, its ticks and its close, in one process with
// the real main window on loopback sockets (addresses 127.10.0.0/16 and 127.102.0.0/16), and
// what a signal does before and after the main window exists.
#include "app/main_window.h"
#include "app/startup.h"
#include "audio/relay.h"
#include "base/app_state.h"
#include "control/rtcp.h"
#include "frontend/minimised/minimised.h"
#include "platform/runtime.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "support/screen_front_end.h"
#include "support/server_harness.h"
#include "support/tcp_sink.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

using testutil::ServerHarness;

namespace {

const char* const ACCOUNT = "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n";

// Names every directory server, so the file is exactly what the test wrote.
std::string config(const std::string& extra) {
    return std::string(ACCOUNT) +
           "[server]\nver=618\n1=127.10.9.1\n2=127.10.9.1\n3=127.10.9.1\n4=127.10.9.1\n" + extra;
}

} // namespace

TEST(Startup, TitleFirstThenBothPortsOpenAndKeepAliveBuilt) {
    ServerHarness server("127.10.0.1", config(""));
    ASSERT_TRUE(server.start());
    ASSERT_FALSE(server.statusLines().empty());
    EXPECT_EQ(server.statusLines().front(), "cVARDE");
    // Both ports are taken on the server's address.
    testutil::UdpPeer audio("127.10.0.1", 5198);
    testutil::UdpPeer control("127.10.0.1", 5199);
    EXPECT_FALSE(audio.ok());
    EXPECT_FALSE(control.ok());
    EXPECT_NE(mdiClient, nullptr);
    EXPECT_EQ(bindOnPortZero, 1);
    EXPECT_EQ(connectedSend, 1);
    // NAME "*KENT*" has six characters: the 60-byte compound with padding.
    EXPECT_EQ(keepAliveLength, 60);
    ASSERT_NE(keepAliveCompound, nullptr);
    EXPECT_EQ(keepAliveCompound[8], 0xE1);
    server.close();
    EXPECT_EQ(keepAliveCompound, nullptr);
    EXPECT_EQ(keepAliveLength, 0);
    EXPECT_TRUE(platformQuitPosted());
    // The ports are free again.
    testutil::UdpPeer again("127.10.0.1", 5198);
    EXPECT_TRUE(again.ok());
}

TEST(Startup, PortInUseFailsWithItsMessageAndReleasesWhatWasOpened) {
    {
        testutil::UdpPeer busy("127.10.0.2", 5198);
        ASSERT_TRUE(busy.ok());
        ServerHarness server("127.10.0.2", config(""));
        EXPECT_FALSE(server.start());
        ASSERT_EQ(server.boxes().size(), 1u);
        EXPECT_EQ(server.boxes()[0], "|Socket create error - Port A");
        EXPECT_EQ(mainWindow, nullptr);
        EXPECT_EQ(audioPortSocket, INVALID_SOCKET);
    }
    {
        testutil::UdpPeer busy("127.10.0.3", 5199);
        ASSERT_TRUE(busy.ok());
        ServerHarness server("127.10.0.3", config(""));
        EXPECT_FALSE(server.start());
        ASSERT_EQ(server.boxes().size(), 1u);
        EXPECT_EQ(server.boxes()[0], "|Socket create error - Port B");
        // The audio-port socket was closed by the teardown of the half-made window.
        testutil::UdpPeer audio("127.10.0.3", 5198);
        EXPECT_TRUE(audio.ok());
    }
}

TEST(Startup, UnconnectedModeOnlyForCEqualToOne) {
    struct Row {
        const char* help;
        int32_t expected;
    } rows[] = {{"[help]\nc=1\n", 0}, {"[help]\nc=2\n", 1}, {"", 1}, {"[help]\nc=x\n", 1}};
    for (const Row& row : rows) {
        ServerHarness server("127.10.0.4", config(row.help));
        ASSERT_TRUE(server.start());
        EXPECT_EQ(bindOnPortZero, row.expected) << row.help;
        EXPECT_EQ(connectedSend, row.expected) << row.help;
        server.close();
    }
}

TEST(Startup, PositionRuleAndSaveOnCloseUnlessMinimised) {
    struct Row {
        const char* window;
        int x;
        int y;
    } rows[] = {{"[window]\nx1=1501\ny1=200\n", 0, 0},
                {"[window]\nx1=1500\ny1=1000\n", 1500, 1000},
                {"[window]\nx1=1600\ny1=10\n", 0, 0},
                {"[window]\nx1=-40\ny1=7\n", -40, 7}};
    for (const Row& row : rows) {
        ServerHarness server("127.10.0.5", config(row.window));
        ASSERT_TRUE(server.start());
        RECT rect{};
        GetWindowRect(mainWindow, &rect);
        EXPECT_EQ(rect.left, row.x) << row.window;
        EXPECT_EQ(rect.top, row.y) << row.window;
        EXPECT_EQ(rect.right - rect.left, 275);
        EXPECT_EQ(rect.bottom - rect.top, 57);
        // Minimised: the file keeps its position.
        std::string before = testutil::readFile(server.configPath());
        server.close();
        EXPECT_EQ(testutil::readFile(server.configPath()), before);
    }

    testutil::ScreenFrontEnd shown;
    ServerHarness server("127.10.0.5", config("[window]\nx1=-040\ny1 = 0999\n; after\n"));
    platform::setFrontEnd(&shown);
    ASSERT_TRUE(server.start());
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    server.close();
    platform::setFrontEnd(minimisedFrontEnd());
    EXPECT_EQ(testutil::readFile(server.configPath()),
              config("[window]\nx1=-40\ny1 = 999\n; after\n"));
}

TEST(Startup, TicksAgeTheCountersAndBeaconTicksDoNot) {
    ServerHarness server("127.10.0.6", config(""));
    ASSERT_TRUE(server.start());
    talkerHold = 2;
    closedHoldTicks = 2;
    SendMessageA(mainWindow, WM_TIMER, TIMER_BEACON, 0);
    EXPECT_EQ(talkerHold, 2);
    EXPECT_EQ(closedHoldTicks, 2);
    SendMessageA(mainWindow, WM_TIMER, TIMER_TICK, 0);
    EXPECT_EQ(talkerHold, 1);
    EXPECT_EQ(closedHoldTicks, 1);
    server.tick(3);
    EXPECT_EQ(talkerHold, 0);
    EXPECT_EQ(closedHoldTicks, 0);
    // Message 1224 does nothing; 1125 and 1126 get default processing.
    EXPECT_EQ(SendMessageA(mainWindow, MSG_SPARE, 1, 2), 0);
    EXPECT_EQ(SendMessageA(mainWindow, WM_USER + 101, 1, 2), 0);
    EXPECT_EQ(SendMessageA(mainWindow, WM_USER + 102, 1, 2), 0);
    EXPECT_TRUE(IsWindow(mainWindow));
}

TEST(Startup, CloseSignsOffFromTheSelectedDirectoryServer) {
    testutil::TcpSink directory("127.10.1.3", 5200);
    ASSERT_TRUE(directory.ok());
    ServerHarness server("127.10.0.7", std::string("[callsign]\nuser=") + std::string(38, 'U') +
                                           "X\ndesc=MY DESC\nvalid=" + std::string(38, 'P') +
                                           "\n[server]\nver=618\n1=127.10.1.1\n3=127.10.1.3\n");
    ASSERT_TRUE(server.start());
    for (int i = 0; i < 2; ++i) {
        directoryServerIndex = directoryServerIndex % 4 + 1;
    }
    EXPECT_EQ(directoryServerIndex, 3);
    server.close();
    std::string expected =
        "l" + std::string(38, 'U') + "\xAC\xAC" + std::string(38, 'P') + "\rOFF-V3.65C\rMY DESC\r";
    EXPECT_EQ(directory.waitForClose(5000), expected);
    EXPECT_TRUE(platformQuitPosted());
}

TEST(Startup, SignOffWithMissingKeysSendsTheDefaults) {
    testutil::TcpSink directory("127.10.2.1", 5200);
    ASSERT_TRUE(directory.ok());
    ServerHarness server("127.10.0.8", "[callsign]\ndesc=SET\n[server]\nver=618\n1=127.10.2.1\n");
    ASSERT_TRUE(server.start());
    // Keys removed while running are read again at the sign-off.
    testutil::writeFile(server.configPath(), "[server]\nver=618\n1=127.10.2.1\n");
    server.close();
    EXPECT_EQ(directory.waitForClose(5000),
              std::string("lerror\xAC\xACvbnoz5\rOFF-V3.65C\rNONE\r"));
}

TEST(Startup, UnreachableDirectoryStillCloses) {
    ServerHarness server("127.10.0.9", config("1=127.10.3.1\n"));
    ASSERT_TRUE(server.start());
    server.close();
    EXPECT_TRUE(platformQuitPosted());
    EXPECT_EQ(audioPortSocket, INVALID_SOCKET);
}

TEST(Startup, ASignalEndsStartUpUntilTheMainWindowExistsThenClosesIt) {
    testutil::TcpSink directory("127.102.2.1", 5200);
    ASSERT_TRUE(directory.ok());
    // Before the main window exists, a signal ends the process from the pump.
    EXPECT_EXIT(
        {
            ServerHarness early("127.102.0.20", config(""));
            // The child ends through exit(), never reaching the harness's destructor: its
            // configuration directory goes at exit instead of staying behind in /tmp.
            static std::string earlyDir;
            earlyDir = std::filesystem::path(early.configPath()).parent_path().string();
            std::atexit([] {
                std::error_code ignored;
                std::filesystem::remove_all(earlyDir, ignored);
            });
            platformInstallSignalHandlers();
            platformSetSignalAction(SIGNALS_END_PROCESS);
            raise(SIGTERM);
            platformDispatchPending(10);
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "ended by a signal during start-up");

    // As the program runs it: start-up ends on a signal until the main window is made; from
    // then on a signal closes it, with the sign-off, and the process goes on.
    ServerHarness server("127.102.0.20",
                         std::string(ACCOUNT) + "[server]\nver=618\n1=127.102.2.1\n");
    platformInstallSignalHandlers();
    platformSetSignalAction(SIGNALS_END_PROCESS);
    ASSERT_TRUE(server.start());
    raise(SIGTERM);
    server.pump(5);
    EXPECT_TRUE(platformQuitPosted());
    EXPECT_EQ(directory.waitForClose(5000), std::string("l*KENT*\xAC\xACPW\rOFF-V3.65C\rTEST\r"));
}
