// The panel of the terminal window, driven through tmux with a small program that shows a
// main window and 30 panel lines: layout and scrolling in a small terminal, the keys of
// the panel, the selection, the operator's action with its Yes/No confirmation, and keys
// that must not reach the panel when it does not have them.
#include "support/testutil.h"
#include "support/tmux_session.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sstream>

using testutil::TempDir;
using testutil::TmuxSession;

namespace {

constexpr int kWait = 10000;
const std::string kProgram = CONFSERVER_TEST_HELPERS_DIR "/panel_program";

std::vector<std::string> logLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(testutil::fileExists(path) ? testutil::readFile(path) : "");
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Waits until the log has n lines; the lines.
std::vector<std::string> waitForLog(TmuxSession& tmux, const std::string& path, size_t n) {
    tmux.waitFor([&](const std::string&) { return logLines(path).size() >= n; }, kWait);
    return logLines(path);
}

std::string row(TmuxSession& tmux, size_t index) {
    std::vector<std::string> rows = tmux.rows();
    return index < rows.size() ? rows[index] : std::string();
}

TEST(TerminalPanel, ScrollsInASmallTerminalAndActsOnTheSelectedLineAfterYes) {
    ASSERT_TRUE(testutil::tmuxAvailable()) << "tmux is needed (scripts/install-deps)";
    TempDir dir;
    std::string log = dir.file("actions.log");
    TmuxSession tmux({"TERM=xterm-256color", "CONFSERVER_DESKTOP=e2e_terminal_panel_test"},
                     {kProgram, log, "30"}, 60, 12);
    ASSERT_TRUE(tmux.ok());
    // Rows 0 to 3: the main window; from row 4 the panel: its title bar with the lines
    // that show (6 of 30 fit), the lines, the bottom border on the last row.
    ASSERT_TRUE(tmux.waitForText(" LINES 1-6/30", kWait)) << tmux.screen();
    EXPECT_EQ(row(tmux, 4), " LINES 1-6/30");
    EXPECT_EQ(row(tmux, 5).substr(0, 9), "xLINE 01 ");
    EXPECT_EQ(row(tmux, 10).substr(0, 9), "xLINE 06 ");
    EXPECT_EQ(row(tmux, 11).substr(0, 2), "mq");
    EXPECT_EQ(tmux.screen().find("LINE 07"), std::string::npos);

    // F6 gives the panel the keys. Down 7 times: line 8 selected, just enough scrolled.
    tmux.keys({"F6", "Down", "Down", "Down", "Down", "Down", "Down", "Down"});
    ASSERT_TRUE(tmux.waitForText(" LINES 3-8/30", kWait)) << tmux.screen();
    EXPECT_EQ(row(tmux, 5).substr(0, 8), "xLINE 03");
    EXPECT_EQ(row(tmux, 10).substr(0, 8), "xLINE 08");
    // A page down, then End, then Home.
    tmux.keys({"NPage"});
    ASSERT_TRUE(tmux.waitForText(" LINES 9-14/30", kWait)) << tmux.screen();
    tmux.keys({"End"});
    ASSERT_TRUE(tmux.waitForText(" LINES 25-30/30", kWait)) << tmux.screen();

    // d on line 30 asks first; Escape answers No and nothing is done.
    tmux.keys({"d"});
    ASSERT_TRUE(tmux.waitForText("d LINE 30?", kWait)) << tmux.screen();
    EXPECT_TRUE(tmux.waitForText("[ Yes ]  [ No ]", kWait)) << tmux.screen();
    tmux.keys({"Escape"});
    EXPECT_EQ(waitForLog(tmux, log, 1), (std::vector<std::string>{"no 29 d"}));
    ASSERT_TRUE(tmux.waitForNoText("d LINE 30?", kWait)) << tmux.screen();

    // Home, Enter: Yes has the focus at first; the line is marked done and redrawn.
    tmux.keys({"Home", "Enter"});
    ASSERT_TRUE(tmux.waitForText("E LINE 01?", kWait)) << tmux.screen();
    tmux.keys({"Enter"});
    EXPECT_EQ(waitForLog(tmux, log, 2).back(), "yes 0 E");
    ASSERT_TRUE(tmux.waitForText("LINE 01 (done E)", kWait)) << tmux.screen();

    // Del on line 3, Right to No, Enter: no.
    tmux.keys({"Down", "Down", "DC"});
    ASSERT_TRUE(tmux.waitForText("X LINE 03?", kWait)) << tmux.screen();
    tmux.keys({"Right", "Enter"});
    EXPECT_EQ(waitForLog(tmux, log, 3).back(), "no 2 X");

    // Back to the main window (F6 twice: the panel, then round): c does nothing there. F6
    // to the panel again and c asks for line 3, the selection kept.
    tmux.keys({"F6", "c", "F6", "c"});
    ASSERT_TRUE(tmux.waitForText("c LINE 03?", kWait)) << tmux.screen();
    tmux.keys({"y"});
    EXPECT_EQ(waitForLog(tmux, log, 4),
              (std::vector<std::string>{"no 29 d", "yes 0 E", "no 2 X", "yes 2 c"}));
    ASSERT_TRUE(tmux.waitForText("LINE 03 (done c)", kWait)) << tmux.screen();

    // A terminal tall enough for every line: no range in the title bar.
    tmux.resize(60, 40);
    ASSERT_TRUE(tmux.waitForText("LINE 30", kWait)) << tmux.screen();
    EXPECT_TRUE(tmux.waitForText("LINE 01 (done E)", kWait));
    EXPECT_EQ(row(tmux, 4), " LINES");
    EXPECT_EQ(tmux.screen().find("/30"), std::string::npos);

    ::kill(tmux.programPid(kWait), SIGTERM);
    EXPECT_EQ(tmux.waitExit(kWait), 0);
}

} // namespace
