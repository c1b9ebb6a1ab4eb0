// Closing the conference from the terminal window, driven through tmux with stations played
// by UDP sockets (addresses 127.122.0.0/16): EXIT, Alt+E, Ctrl-C and the close box ask while
// stations are connected and No keeps serving; Yes closes; SIGTERM never asks. And the
// station panel's selection: it stays on its station when a new one pushes the lines down,
// and End on a talk spell line says that the line takes no action.
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
const char* const ACCOUNT = "[callsign]\nuser=*CLOSE*\ndesc=CLOSE TEST\nvalid=PW\n"
                            "[server]\n1=127.122.0.250\n2=127.122.0.250\n3=127.122.0.250\n"
                            "4=127.122.0.250\nver=618\n";
const char* const TITLE = " STATIONS  c/Del:close  d:deny  Enter:keys";
const char* const NO_ACTION = " STATIONS  no action on this line (Home: first station)";

std::unique_ptr<TmuxSession> startServer(const TempDir& dir, const std::string& bind) {
    testutil::writeFile(dir.file("omvarc.ini"), ACCOUNT);
    return std::make_unique<TmuxSession>(
        std::vector<std::string>{"TERM=xterm-256color", "CONFSERVER_DESKTOP=e2e_terminal_close"},
        std::vector<std::string>{CONFSERVER_BINARY, "--config", dir.file("omvarc.ini"), "--bind",
                                 bind, "--time-scale", "2"},
        100, 30);
}

// The row number whose text contains text, or -1.
int rowWith(TmuxSession& tmux, const std::string& text) {
    std::vector<std::string> rows = tmux.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].find(text) != std::string::npos) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Each station names itself and the panel shows it.
bool join(TmuxSession& tmux, const std::string& server, TestStation& station,
          const std::string& name) {
    station.sendControl(server, testutil::namePacket(name));
    return tmux.waitFor(
        [&](const std::string& s) { return s.find(name + " ") != std::string::npos; }, kWait);
}

// The question is asked, answered No, and gone; the server still serves.
void answerNo(TmuxSession& tmux, const std::string& question) {
    ASSERT_TRUE(tmux.waitForText(question, kWait)) << tmux.screen();
    tmux.keys({"n"});
    ASSERT_TRUE(tmux.waitForNoText(question, kWait)) << tmux.screen();
}

} // namespace

TEST(TerminalClose, EveryCloseOfTheOperatorAsksWhileStationsAreConnectedAndSignalsNever) {
    ASSERT_TRUE(testutil::tmuxAvailable()) << "tmux is needed (scripts/install-deps)";
    TempDir dir;
    const std::string server = "127.122.1.1";
    auto tmux = startServer(dir, server);
    ASSERT_TRUE(tmux->ok());
    ASSERT_TRUE(tmux->waitForText(TITLE, kWait)) << tmux->screen();
    TestStation alpha("127.122.1.2");
    TestStation bravo("127.122.1.3");
    TestStation charlie("127.122.1.4");
    ASSERT_TRUE(join(*tmux, server, alpha, "ALPHA")) << tmux->screen();
    ASSERT_TRUE(join(*tmux, server, bravo, "BRAVO")) << tmux->screen();

    // ALPHA selected (the second line: BRAVO came in above it); CHARLIE pushes the lines
    // down and the selection goes with ALPHA.
    tmux->keys({"F6", "Home", "Down"});
    ASSERT_TRUE(join(*tmux, server, charlie, "CHARLIE")) << tmux->screen();
    ASSERT_LT(rowWith(*tmux, "CHARLIE "), rowWith(*tmux, "ALPHA ")) << tmux->screen();
    tmux->keys({"c"});
    answerNo(*tmux, "Close station ALPHA (127.122.1.2)?");

    // A talk spell: End lands on its line, and the title says that it takes no action.
    const std::vector<uint8_t> voice(144, 0x5A);
    bravo.sendAudio(server, voice);
    ASSERT_TRUE(tmux->waitForText("Last talk spells", kWait)) << tmux->screen();
    tmux->keys({"End"});
    ASSERT_TRUE(tmux->waitForText(NO_ACTION, kWait)) << tmux->screen();
    tmux->keys({"c"});
    tmux->keys({"Home"});
    ASSERT_TRUE(tmux->waitForText(TITLE, kWait)) << tmux->screen();
    EXPECT_EQ(tmux->screen().find("Close station"), std::string::npos) << tmux->screen();

    // EXIT (F10, Right, Enter), Alt+E and Enter, Ctrl-C and the close box: each asks; No keeps
    // serving.
    const std::string question = "3 stations connected: close the conference?";
    tmux->keys({"Escape", "F10", "Right", "Enter"});
    answerNo(*tmux, question);
    tmux->keys({"M-e", "Enter"}); // Alt+E opens the menu bar on EXIT
    answerNo(*tmux, question);
    tmux->keys({"C-c"});
    answerNo(*tmux, question);
    std::string top = tmux->rows().at(0);
    std::string at = std::to_string(static_cast<int>(top.find("[X]")) + 2) + ";1";
    tmux->type("\x1b[<0;" + at + "M\x1b[<0;" + at + "m");
    answerNo(*tmux, question);
    alpha.control.drain();
    std::vector<uint8_t> keepAlive;
    ASSERT_TRUE(alpha.control.receive(keepAlive, 12000)) << "still serving after No";

    // SIGTERM closes at once, with no question.
    ::kill(tmux->programPid(kWait), SIGTERM);
    EXPECT_EQ(tmux->waitExit(kWait), 0) << tmux->screen();
}

TEST(TerminalClose, YesClosesAndOneStationIsSaidInTheSingular) {
    ASSERT_TRUE(testutil::tmuxAvailable()) << "tmux is needed (scripts/install-deps)";
    TempDir dir;
    const std::string server = "127.122.2.1";
    auto tmux = startServer(dir, server);
    ASSERT_TRUE(tmux->ok());
    ASSERT_TRUE(tmux->waitForText(TITLE, kWait)) << tmux->screen();
    TestStation alpha("127.122.2.2");
    ASSERT_TRUE(join(*tmux, server, alpha, "ALPHA")) << tmux->screen();
    tmux->keys({"C-c"});
    ASSERT_TRUE(tmux->waitForText("1 station connected: close the conference?", kWait))
        << tmux->screen();
    tmux->keys({"y"});
    EXPECT_EQ(tmux->waitExit(kWait), 0) << tmux->screen();
}
