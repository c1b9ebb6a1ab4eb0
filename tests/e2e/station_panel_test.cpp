// The station panel of the built binary in a terminal window, driven through tmux with
// stations played by UDP sockets (addresses 127.120.1.0/24 and 127.120.2.0/24): the named
// stations listed, the talker marked while it talks and no longer after, closing a
// selected station after a Yes (no more keep-alives, its line gone) and nothing after a
// No, and denying its callsign into the access file.
#include "support/server_harness.h"
#include "support/testutil.h"
#include "support/tmux_session.h"

#include <csignal>
#include <gtest/gtest.h>
#include <memory>

using testutil::TempDir;
using testutil::TestStation;
using testutil::TmuxSession;

namespace {

constexpr int kWait = 10000;
const char* const ACCOUNT = "[callsign]\nuser=*PANEL*\ndesc=PANEL TEST\nvalid=PW\n"
                            "[server]\n1=127.0.0.1\n2=127.0.0.1\n3=127.0.0.1\n4=127.0.0.1\n"
                            "ver=618\n";
const char* const TITLE = " STATIONS  c/Del:close  d:deny  Enter:keys";

// The panel row of a station as drawn: the frame, the talker mark, name and address.
std::string stationRow(const std::string& name, const std::string& address, bool talking) {
    std::string row = std::string("x") + (talking ? "* " : "  ") + name;
    row.resize(13, ' ');
    row += " " + address;
    row.resize(29, ' ');
    return row + " idle ";
}

// The row number whose text starts with prefix, or -1.
int rowOf(TmuxSession& tmux, const std::string& prefix) {
    std::vector<std::string> rows = tmux.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].rfind(prefix, 0) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool hasRow(const std::string& screen, const std::string& prefix) {
    return screen.find("\n" + prefix) != std::string::npos;
}

// The server in a 100 x 30 terminal at twice the speed (a keep-alive every 10 seconds).
std::unique_ptr<TmuxSession> startServer(const std::string& config, const std::string& bind,
                                         const std::string& access = "") {
    std::vector<std::string> argv = {CONFSERVER_BINARY, "--config", config, "--bind", bind,
                                     "--time-scale",    "2"};
    if (!access.empty()) {
        argv.insert(argv.end(), {"--access", access});
    }
    return std::make_unique<TmuxSession>(
        std::vector<std::string>{"TERM=xterm-256color", "CONFSERVER_DESKTOP=e2e_station_panel"},
        argv, 100, 30);
}

// F6 to the panel (when not there yet), Home, then Down to the row of the station.
void selectRow(TmuxSession& tmux, int row, bool toPanel) {
    int first = rowOf(tmux, TITLE) + 1;
    if (toPanel) {
        tmux.keys({"F6"});
    }
    tmux.keys({"Home"});
    for (int i = first; i < row; ++i) {
        tmux.keys({"Down"});
    }
}

TEST(StationPanelWindow, ListsStationsMarksTheTalkerAndClosesOnlyAfterYes) {
    ASSERT_TRUE(testutil::tmuxAvailable()) << "tmux is needed (scripts/install-deps)";
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, ACCOUNT);
    const std::string server = "127.120.1.1";
    auto tmux = startServer(config, server);
    ASSERT_TRUE(tmux->ok());
    ASSERT_TRUE(tmux->waitForText(TITLE, kWait)) << tmux->screen();

    TestStation alpha("127.120.1.2");
    TestStation bravo("127.120.1.3");
    TestStation charlie("127.120.1.4");
    alpha.sendControl(server, testutil::namePacket("ALPHA"));
    bravo.sendControl(server, testutil::namePacket("BRAVO"));
    charlie.sendControl(server, testutil::namePacket("CHARLIE"));
    ASSERT_TRUE(tmux->waitFor(
        [&](const std::string& s) {
            return hasRow(s, stationRow("ALPHA", alpha.address(), false)) &&
                   hasRow(s, stationRow("BRAVO", bravo.address(), false)) &&
                   hasRow(s, stationRow("CHARLIE", charlie.address(), false));
        },
        kWait))
        << tmux->screen();
    std::vector<uint8_t> keepAlive;
    ASSERT_TRUE(bravo.control.receive(keepAlive, kWait)); // the first keep-alive
    alpha.control.drain();

    // BRAVO talks: marked while it does, the others not; the listeners get its datagram.
    const std::vector<uint8_t> voice(144, 0x5A);
    ASSERT_TRUE(tmux->waitFor(
        [&](const std::string& s) {
            bravo.sendAudio(server, voice);
            return hasRow(s, stationRow("BRAVO", bravo.address(), true)) &&
                   hasRow(s, stationRow("ALPHA", alpha.address(), false)) &&
                   hasRow(s, stationRow("CHARLIE", charlie.address(), false));
        },
        kWait))
        << tmux->screen();
    std::vector<uint8_t> heard;
    ASSERT_TRUE(charlie.audio.receive(heard, kWait));
    EXPECT_EQ(heard, voice);
    EXPECT_TRUE(tmux->waitForText("Last talk spells", kWait)) << tmux->screen();
    // It stops: the mark goes.
    ASSERT_TRUE(tmux->waitFor(
        [&](const std::string& s) {
            return hasRow(s, stationRow("BRAVO", bravo.address(), false)) &&
                   s.find("\nx* ") == std::string::npos;
        },
        kWait))
        << tmux->screen();

    // c on BRAVO asks; No (Escape) leaves it: its line stays, its keep-alives go on.
    selectRow(*tmux, rowOf(*tmux, stationRow("BRAVO", bravo.address(), false)), true);
    tmux->keys({"c"});
    ASSERT_TRUE(tmux->waitForText("Close station BRAVO (127.120.1.3)?", kWait)) << tmux->screen();
    EXPECT_TRUE(tmux->waitForText("[ Yes ]  [ No ]", kWait)) << tmux->screen();
    tmux->keys({"Escape"});
    ASSERT_TRUE(tmux->waitForNoText("Close station", kWait)) << tmux->screen();
    bravo.control.drain();
    std::vector<uint8_t> again;
    ASSERT_TRUE(bravo.control.receive(again, 12000)) << "keep-alive after No";
    EXPECT_EQ(again, keepAlive);
    EXPECT_TRUE(hasRow(tmux->screen(), stationRow("BRAVO", bravo.address(), false)));

    // c again, Yes: CLOSING..., its line gone, the others stay, and no keep-alive for it
    // while ALPHA gets one.
    tmux->keys({"c"});
    ASSERT_TRUE(tmux->waitForText("Close station BRAVO (127.120.1.3)?", kWait)) << tmux->screen();
    tmux->keys({"y"});
    EXPECT_TRUE(
        tmux->waitFor([&](const std::string& s) { return s.rfind(" CLOSING...", 0) == 0; }, kWait))
        << tmux->screen();
    ASSERT_TRUE(tmux->waitFor(
        [&](const std::string& s) {
            return !hasRow(s, stationRow("BRAVO", bravo.address(), false)) &&
                   !hasRow(s, stationRow("BRAVO", bravo.address(), true)) &&
                   hasRow(s, stationRow("ALPHA", alpha.address(), false)) &&
                   hasRow(s, stationRow("CHARLIE", charlie.address(), false));
        },
        kWait))
        << tmux->screen();
    bravo.control.drain();
    alpha.control.drain();
    std::vector<uint8_t> alphaKeepAlive;
    ASSERT_TRUE(alpha.control.receive(alphaKeepAlive, 12000));
    EXPECT_EQ(alphaKeepAlive, keepAlive);
    EXPECT_TRUE(bravo.control.drain().empty()) << "BRAVO was sent something after its close";

    ::kill(tmux->programPid(kWait), SIGTERM);
    EXPECT_EQ(tmux->waitExit(kWait), 0);
}

TEST(StationPanelWindow, DenyAddsOneLineToTheAccessFileAndClosesTheStation) {
    ASSERT_TRUE(testutil::tmuxAvailable()) << "tmux is needed (scripts/install-deps)";
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, ACCOUNT);
    std::string access = dir.file("club.access");
    const std::string before = "allow 127.120.2.0/24\n# members only\ndeny X1*";
    testutil::writeFile(access, before);
    const std::string server = "127.120.2.1";
    auto tmux = startServer(config, server, access);
    ASSERT_TRUE(tmux->ok());
    ASSERT_TRUE(tmux->waitForText(TITLE, kWait)) << tmux->screen();

    TestStation alpha("127.120.2.2");
    TestStation bravo("127.120.2.3");
    alpha.sendControl(server, testutil::namePacket("ALPHA"));
    bravo.sendControl(server, testutil::namePacket("BRAVO"));
    ASSERT_TRUE(tmux->waitFor(
        [&](const std::string& s) {
            return hasRow(s, stationRow("ALPHA", alpha.address(), false)) &&
                   hasRow(s, stationRow("BRAVO", bravo.address(), false));
        },
        kWait))
        << tmux->screen();

    selectRow(*tmux, rowOf(*tmux, stationRow("BRAVO", bravo.address(), false)), true);
    tmux->keys({"d"});
    ASSERT_TRUE(tmux->waitForText("Deny callsign BRAVO (127.120.2.3)?", kWait)) << tmux->screen();
    // No first: the file is untouched.
    tmux->keys({"n"});
    ASSERT_TRUE(tmux->waitForNoText("Deny callsign", kWait)) << tmux->screen();
    EXPECT_EQ(testutil::readFile(access), before);
    tmux->keys({"d"});
    ASSERT_TRUE(tmux->waitForText("Deny callsign BRAVO (127.120.2.3)?", kWait)) << tmux->screen();
    tmux->keys({"y"});
    const std::string after = before + "\ndeny BRAVO\n";
    ASSERT_TRUE(tmux->waitFor(
        [&](const std::string&) { return testutil::readFile(access) == after; }, kWait))
        << testutil::readFile(access);
    ASSERT_TRUE(tmux->waitFor(
        [&](const std::string& s) {
            return !hasRow(s, stationRow("BRAVO", bravo.address(), false)) &&
                   !hasRow(s, stationRow("BRAVO", bravo.address(), true)) &&
                   hasRow(s, stationRow("ALPHA", alpha.address(), false));
        },
        kWait))
        << tmux->screen();
    bravo.control.drain();
    std::vector<uint8_t> got;
    ASSERT_TRUE(alpha.control.receive(got, 12000)); // a keep-alive for the one let in
    EXPECT_TRUE(bravo.control.drain().empty()) << "BRAVO was sent something after its denial";

    ::kill(tmux->programPid(kWait), SIGTERM);
    EXPECT_EQ(tmux->waitExit(kWait), 0);
}

} // namespace
