// The built binary in a terminal window, driven through tmux (addresses 127.50.0.0/16):
// the title bar as the status line, the menu bar and its commands, about dialogs and their
// colours, the first-run account dialog, message boxes, the ways out, and the fall-back to
// minimised mode when the terminal cannot be used, and lines for the operator kept off the
// window until the terminal is given back.
#include "support/server_harness.h"
#include "support/server_process.h"
#include "support/tcp_sink.h"
#include "support/testutil.h"
#include "support/tmux_session.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using testutil::TempDir;
using testutil::TmuxSession;

namespace {

constexpr int kWait = 10000;
const char* const kMenu = "SERV 3.68 (Pse run minimised)";

const char* const ACCOUNT = "[callsign]\nuser=*TERM*\ndesc=TERMINAL TEST\nvalid=PW\n";

// A configuration with the account, the directory entries given and ver = 618.
std::string serverSection(const std::string& one, const std::string& two = "127.0.0.1") {
    return "[server]\n1=" + one + "\n2=" + two + "\n3=127.0.0.1\n4=127.0.0.1\nver=618\n";
}

std::vector<std::string> environment(const std::string& term, bool trueColour) {
    std::vector<std::string> env = {"-u", "COLORTERM", "TERM=" + term,
                                    "CONFSERVER_DESKTOP=e2e_terminal_test"};
    if (trueColour) {
        env.push_back("COLORTERM=truecolor");
    }
    return env;
}

std::vector<std::string> serverArgs(const std::string& config, const std::string& bind) {
    return {CONFSERVER_BINARY, "--config", config, "--bind", bind};
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

std::string row(TmuxSession& tmux, size_t index) {
    std::vector<std::string> rows = tmux.rows();
    return index < rows.size() ? rows[index] : std::string();
}

// A mouse press and release at a cell (0-based), as an xterm reports it (SGR mode), in
// one write: the program finds both waiting at once, as it does on a busy machine.
void click(TmuxSession& tmux, int x, int y) {
    std::string at = std::to_string(x + 1) + ";" + std::to_string(y + 1);
    tmux.type("\x1b[<0;" + at + "M\x1b[<0;" + at + "m");
}

// Makes a status text appear (cause) and waits until the title bar starts with it (clipped
// to 34 columns) and the terminal's title is the whole text. The standby step replaces a
// status every 1.5 seconds, so the cause is repeated a few times if need be.
bool showsStatus(TmuxSession& tmux, const std::string& text, const std::function<void()>& cause) {
    std::string bar = " " + text.substr(0, 34);
    for (int attempt = 0; attempt < 5; ++attempt) {
        cause();
        bool seen = tmux.waitFor(
            [&](const std::string& screen) {
                return screen.rfind(bar, 0) == 0 && tmux.title() == text;
            },
            3000);
        if (seen) {
            return true;
        }
    }
    return false;
}

class Terminal : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testutil::tmuxAvailable()) << "tmux is needed (scripts/install-deps)";
    }
};

TEST_F(Terminal, TitleBarShowsTheStatusLineAndTheMenuBarLeadsToExit) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    // x1 beyond 1500: the window is placed at (0, 0), and that is what closing writes back.
    testutil::writeFile(config, std::string(ACCOUNT) + serverSection("127.0.0.1") +
                                    "[window]\nx1=1600\ny1=10\n");
    TmuxSession tmux(environment("xterm-256color", false), serverArgs(config, "127.50.1.1"), 100,
                     30);
    ASSERT_TRUE(tmux.ok());
    // The first status text, before the standby step replaces it.
    std::string first;
    ASSERT_TRUE(tmux.waitFor(
        [&](const std::string& screen) {
            first = screen;
            return screen.rfind(" cVARDE ", 0) == 0 && tmux.title() == "cVARDE";
        },
        kWait))
        << tmux.screen();
    // Title bar (status clipped to 34 columns, close box), menu bar with EXIT at the
    // right-hand end of the 40-column box, the line of keys, the bottom border.
    EXPECT_EQ(first.substr(0, 39), " cVARDE                             [X]");
    std::string menu = row(tmux, 1);
    ASSERT_GE(menu.size(), 40u);
    EXPECT_EQ(menu.substr(1, 31), " SERV 3.68 (Pse run minimised) ");
    EXPECT_EQ(menu.substr(33, 6), " EXIT ");
    EXPECT_EQ(row(tmux, 2).substr(0, 40), "xF10:menu <->:move Enter Esc F6:next   x");

    // A control datagram of 4 bytes sets "CNTL PKT ERROR".
    testutil::UdpPeer peer("127.50.1.2", 0);
    EXPECT_TRUE(showsStatus(tmux, "CNTL PKT ERROR", [&] {
        peer.sendTo("127.50.1.1", 5199, std::string("abcd"));
    })) << tmux.screen();

    // A station names itself with a long name holding control characters: the status
    // line shows it escaped and clipped to 34 columns, the terminal's title escaped whole,
    // and no control character reaches the terminal.
    testutil::TestStation station("127.50.1.3");
    station.sendControl("127.50.1.1", testutil::namePacket("AB\x1b]2;PWNED\x07"
                                                           "CDEFGHIJKLMNOPQRSTUVWXYZ"));
    std::vector<uint8_t> got;
    ASSERT_TRUE(station.control.receive(got, kWait)); // admitted: first keep-alive
    // The first long datagram takes the talker lock, which builds the station list text.
    std::string listStatus = ">>AB\\x1B]2;PWNED\\x07CDEFGHIJKLMNOPQRSTUVWXYZ<< Que=0";
    int sent = 0;
    EXPECT_TRUE(showsStatus(tmux, listStatus, [&] {
        // After the lock's hold, a datagram takes it again and the list is built again.
        for (int i = 0; i < (sent == 0 ? 1 : 60); ++i) {
            station.sendAudio("127.50.1.1", std::vector<uint8_t>(144, 0x11));
        }
        ++sent;
    })) << tmux.screen();
    EXPECT_EQ(row(tmux, 0).substr(0, 39), " >>AB\\x1B]2;PWNED\\x07CDEFGHIJKLMNOP [X]");

    // F10 opens the menu bar on its first item; Right goes to EXIT; Enter chooses it. A
    // station is connected: Yes to the question closes.
    tmux.keys({"F10", "Right", "Enter"});
    ASSERT_TRUE(tmux.waitForText("1 station connected: close the conference?", kWait))
        << tmux.screen();
    tmux.keys({"y"});
    EXPECT_EQ(tmux.waitExit(kWait), 0) << tmux.screen();
    std::string saved = testutil::readFile(config);
    EXPECT_NE(saved.find("[window]\nx1=0\ny1=0\n"), std::string::npos) << saved;
}

TEST_F(Terminal, AboutDialogsOpenEachTimeCloseOnTheirOwnAndShowTheirColours) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    // Directory entry 2 is a sink: F2 on an about dialog (command 2) moves the sign-off
    // there.
    testutil::TcpSink second("127.50.2.9", 5200);
    ASSERT_TRUE(second.ok());
    testutil::writeFile(config, std::string(ACCOUNT) + serverSection("127.0.0.1", "127.50.2.9"));
    TmuxSession tmux(environment("xterm-256color", true), serverArgs(config, "127.50.2.1"), 100,
                     30);
    ASSERT_TRUE(tmux.waitForText(kMenu, kWait)) << tmux.screen();
    const std::string caption = "CONFERENCE SERVER FOR OMVAR";

    tmux.keys({"F10", "Enter"});
    ASSERT_TRUE(tmux.waitForText(caption, kWait)) << tmux.screen();
    EXPECT_TRUE(tmux.waitForText("[  CLOSE  ]", kWait));
    EXPECT_TRUE(tmux.waitForText("BUILD DATE 5", kWait));
    tmux.keys({"F10", "Enter"});
    ASSERT_TRUE(tmux.waitFor([&](const std::string& s) { return count(s, caption) == 2; }, kWait))
        << tmux.screen();

    // The CLOSE button in the colours the dialog gives: 195,255,140 on 80,70,180.
    std::string coloured = tmux.screenWithColours();
    EXPECT_NE(coloured.find("38;2;195;255;140"), std::string::npos) << coloured;
    EXPECT_NE(coloured.find("48;2;80;70;180"), std::string::npos) << coloured;

    // F2 is command 2, shown on the dialog with the directory server the sign-off uses
    // now: it advances to entry 2, and the dialog stays open.
    ASSERT_TRUE(tmux.waitForText("F2 next directory server (now 1)", kWait)) << tmux.screen();
    tmux.keys({"F2"});
    ASSERT_TRUE(tmux.waitForText("F2 next directory server (now 2)", kWait)) << tmux.screen();
    EXPECT_EQ(count(tmux.screen(), caption), 2);
    // Escape closes the top dialog, as its close box does, and moves nothing: the other
    // one still shows entry 2.
    tmux.keys({"Escape"});
    ASSERT_TRUE(tmux.waitFor([&](const std::string& s) { return count(s, caption) == 1; }, kWait))
        << tmux.screen();
    EXPECT_TRUE(tmux.waitForText("F2 next directory server (now 2)", kWait)) << tmux.screen();
    // A new dialog shows the same index (one index for all of them); Enter is its CLOSE.
    tmux.keys({"F10", "Enter"});
    ASSERT_TRUE(tmux.waitFor([&](const std::string& s) { return count(s, caption) == 2; }, kWait))
        << tmux.screen();
    tmux.keys({"Enter"}); // CLOSE on the top one
    ASSERT_TRUE(tmux.waitFor([&](const std::string& s) { return count(s, caption) == 1; }, kWait))
        << tmux.screen();
    // The remaining one closes from its close box, with the mouse.
    std::vector<std::string> rows = tmux.rows();
    int y = -1;
    int x = -1;
    for (size_t i = 0; i < rows.size() && y < 0; ++i) {
        size_t at = rows[i].find(caption);
        if (at != std::string::npos) {
            y = static_cast<int>(i);
            x = static_cast<int>(rows[i].find("[X]", at)) + 1;
        }
    }
    ASSERT_GT(x, 0);
    click(tmux, x, y);
    ASSERT_TRUE(tmux.waitForNoText(caption, kWait)) << tmux.screen();

    // EXIT with the mouse; the sign-off goes to directory entry 2.
    std::string menu = row(tmux, 1);
    click(tmux, static_cast<int>(menu.find(" EXIT ")) + 2, 1);
    EXPECT_EQ(tmux.waitExit(kWait), 0) << tmux.screen();
    EXPECT_EQ(second.waitForClose(kWait), "l*TERM*\xAC\xACPW\rOFF-V3.65C\rTERMINAL TEST\r");
}

TEST_F(Terminal, WithoutTrueColourTheNearestColoursAreUsed) {
    struct Case {
        const char* term;
        std::vector<std::string> sequences; // foreground, background
    };
    // 256 colours: 195,255,140 is cube colour 156 (175,255,135), 80,70,180 is 61
    // (95,95,175). 8 colours: white on blue.
    const Case cases[] = {{"xterm-256color", {"38;5;156", "48;5;61"}}, {"screen", {"37", "44"}}};
    int index = 0;
    for (const Case& c : cases) {
        TempDir dir;
        std::string config = dir.file("omvarc.ini");
        testutil::writeFile(config, std::string(ACCOUNT) + serverSection("127.0.0.1"));
        std::string bind = "127.50.3." + std::to_string(++index);
        TmuxSession tmux(environment(c.term, false), serverArgs(config, bind), 100, 30);
        ASSERT_TRUE(tmux.waitForText(kMenu, kWait)) << c.term << tmux.screen();
        tmux.keys({"F10", "Enter"});
        ASSERT_TRUE(tmux.waitForText("[  CLOSE  ]", kWait)) << c.term;
        std::string coloured = tmux.screenWithColours();
        size_t button = coloured.find("[  CLOSE  ]");
        ASSERT_NE(button, std::string::npos);
        // The last colour sequence before the button's text.
        size_t start = coloured.rfind("\x1b[", button);
        std::string before = coloured.substr(coloured.rfind('\n', button) + 1,
                                             button - coloured.rfind('\n', button) - 1);
        for (const std::string& sequence : c.sequences) {
            bool found = before.rfind("[" + sequence + "m") != std::string::npos ||
                         before.rfind(";" + sequence + "m") != std::string::npos ||
                         before.rfind("[" + sequence + ";") != std::string::npos ||
                         before.rfind(";" + sequence + ";") != std::string::npos;
            EXPECT_TRUE(found) << c.term << " " << sequence << " in " << before;
        }
        EXPECT_NE(start, std::string::npos);
        EXPECT_EQ(before.find("38;2;"), std::string::npos) << c.term;
        ::kill(tmux.programPid(kWait), SIGTERM);
        EXPECT_EQ(tmux.waitExit(kWait), 0) << c.term;
    }
}

TEST_F(Terminal, FirstRunShowsTheAccountDialogAndOkWritesTheKeysInOrder) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, "");
    TmuxSession tmux(environment("tmux-256color", false), serverArgs(config, "127.50.4.1"), 100,
                     30);
    ASSERT_TRUE(tmux.waitForText("*** PLEASE EMAIL OR CALL TO SET UP ACCOUNT FIRST ***", kWait))
        << tmux.screen();
    std::string shown = tmux.screen();
    for (const char* text : {"SERVER NAME (EG *KENT*)", "- MUST HAVE THE *'s",
                             "DESCRIPTION:", "PASSWORD:", "A B O R T", "[   O K    ]",
                             "Please enter the details", "*CALL* as advised."}) {
        EXPECT_NE(shown.find(text), std::string::npos) << text << "\n" << shown;
    }

    // A resize mid-dialog (to a terminal far too small, and back) and keys that mean
    // nothing here change nothing.
    tmux.resize(20, 6);
    tmux.keys({"F5", "F12", "PageUp", "Home", "F10", "F6", "IC"});
    tmux.resize(100, 30);
    ASSERT_TRUE(tmux.waitForText("DESCRIPTION:", kWait)) << tmux.screen();

    // Letters are upper-cased and each field takes only as many as its width shows (11,
    // 22 and 10 columns).
    tmux.type("*kent* extra long name");
    tmux.keys({"Tab"});
    tmux.type("my conference description here");
    tmux.keys({"Tab"});
    tmux.type("ab");
    ASSERT_TRUE(tmux.waitForText("MY CONFERENCE DESCRIPT", kWait)) << tmux.screen();
    EXPECT_TRUE(tmux.waitForText("*KENT* EXTR ", kWait)) << tmux.screen();
    EXPECT_EQ(tmux.screen().find("*KENT* EXTRA"), std::string::npos);

    // Two characters of password: the password message before any other check; the
    // default directory entries are written all the same, nothing of the account.
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.waitForText("YOU MUST ENTER A PWD ABOVE", kWait)) << tmux.screen();
    EXPECT_TRUE(tmux.waitForText("ERROR", kWait));
    EXPECT_EQ(testutil::readFile(config),
              "[server]\n1=localhost\n2=localhost\n3=localhost\n4=127.0.0.1\nmaxusers=8\n");
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.waitForNoText("YOU MUST ENTER A PWD ABOVE", kWait));

    // A third character makes the password valid; O K (Enter) stores the fields.
    tmux.type("c");
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.waitForText("Server Updated", kWait)) << tmux.screen();
    EXPECT_TRUE(tmux.waitForText("CONF SERVER 3.68 MESSAGE", kWait));
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.waitForText(kMenu, kWait)) << tmux.screen();
    EXPECT_EQ(testutil::readFile(config),
              "[server]\n1=localhost\n2=localhost\n3=localhost\n4=127.0.0.1\nmaxusers=8\n"
              "ver=618\n\n[callsign]\nuser=*KENT*\ndesc=MY CONFERENCE DESCRIPT\nvalid=ABC\n");

    // SIGHUP (the terminal closed) takes the close path: exit 0, the position saved.
    ::kill(tmux.programPid(kWait), SIGHUP);
    EXPECT_EQ(tmux.waitExit(kWait), 0);
    std::string saved = testutil::readFile(config);
    EXPECT_NE(saved.find("\n[window]\nx1=0\ny1=0\n"), std::string::npos) << saved;
}

TEST_F(Terminal, AbortEndsTheProcessWithExitZeroAndWritesNothing) {
    const std::string content = "; kept as it is\n[callsign]\ndesc=none\n";
    int index = 0;
    for (bool mouse : {false, true}) {
        TempDir dir;
        std::string config = dir.file("omvarc.ini");
        testutil::writeFile(config, content);
        std::string bind = "127.50.5." + std::to_string(++index);
        TmuxSession tmux(environment("xterm-256color", false), serverArgs(config, bind), 100, 30);
        ASSERT_TRUE(tmux.waitForText("A B O R T", kWait)) << tmux.screen();
        tmux.type("*AB*");
        if (mouse) {
            std::vector<std::string> rows = tmux.rows();
            for (size_t i = 0; i < rows.size(); ++i) {
                size_t at = rows[i].find("A B O R T");
                if (at != std::string::npos) {
                    click(tmux, static_cast<int>(at) + 2, static_cast<int>(i));
                    break;
                }
            }
        } else {
            tmux.keys({"Escape"});
        }
        EXPECT_EQ(tmux.waitExit(kWait), 0) << mouse;
        EXPECT_EQ(testutil::readFile(config), content) << mouse;
        // The terminal is given back: the screen that the program took over is gone.
        EXPECT_TRUE(tmux.waitForNoText("A B O R T", kWait)) << tmux.screen();
    }
}

TEST_F(Terminal, AnUnusableTerminalFallsBackToMinimisedWithOneLine) {
    struct Case {
        std::vector<std::string> env;
        const char* reason;
    };
    const Case cases[] = {
        {{"TERM=no-such-terminal"},
         "confserver: unknown terminal type \"no-such-terminal\"; "
         "running minimised"},
        {{"-u", "TERM"}, "confserver: TERM is not set; running minimised"},
    };
    int index = 0;
    for (const Case& c : cases) {
        TempDir dir;
        std::string config = dir.file("omvarc.ini");
        testutil::writeFile(config, std::string(ACCOUNT) + serverSection("127.0.0.1"));
        std::string bind = "127.50.6." + std::to_string(++index);
        std::vector<std::string> env = c.env;
        env.push_back("CONFSERVER_DESKTOP=e2e_terminal_test");
        TmuxSession tmux(env, serverArgs(config, bind), 100, 30);
        ASSERT_TRUE(tmux.waitForText(" cVARDE", kWait)) << tmux.screen();
        std::vector<std::string> rows = tmux.rows();
        ASSERT_GE(rows.size(), 2u);
        EXPECT_EQ(rows[0], c.reason);
        // Then only the event log's lines (standard error, after the local time) and the
        // status lines.
        size_t title = 1;
        while (title < rows.size() && rows[title].size() > 24 &&
               rows[title].compare(24, 6, "event ") == 0) {
            ++title;
        }
        ASSERT_LT(title, rows.size());
        EXPECT_EQ(rows[title].substr(rows[title].size() - 7), " cVARDE") << rows[title];
        ::kill(tmux.programPid(kWait), SIGTERM);
        EXPECT_EQ(tmux.waitExit(kWait), 0);
    }
}

// A line for the operator while the window is up (a bad line of the access file, read again on
// `ctl reload`) never lands on the window; it is written, whole, once the terminal is given
// back.
TEST_F(Terminal, OperatorLinesWaitUntilTheTerminalIsGivenBack) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, std::string(ACCOUNT) + serverSection("127.0.0.1"));
    std::string access = dir.file("rules");
    testutil::writeFile(access, "allow 127.0.0.0/8\n");
    std::string socket = dir.file("control");
    std::vector<std::string> args = serverArgs(config, "127.50.7.1");
    args.insert(args.end(), {"--access", access, "--control", socket});
    TmuxSession tmux(environment("xterm-256color", false), args, 100, 30);
    ASSERT_TRUE(tmux.waitFor([&](const std::string&) { return tmux.title() == "cVARDE"; }, kWait))
        << tmux.screen();
    testutil::writeFile(access, "allow 127.0.0.0/8\nfrobnicate\n");
    testutil::ServerProcess reload({"ctl", "--socket", socket, "reload"});
    ASSERT_EQ(reload.waitExit(kWait), 0) << reload.standardError();
    // Output after the line: once it shows, the line would have shown too.
    testutil::UdpPeer peer("127.50.7.2", 0);
    EXPECT_TRUE(showsStatus(tmux, "CNTL PKT ERROR", [&] {
        peer.sendTo("127.50.7.1", 5199, std::string("abcd"));
    })) << tmux.screen();
    const std::string line = "confserver: " + access + ":2: ";
    EXPECT_EQ(count(tmux.screen(), line), 0) << tmux.screen();
    ::kill(tmux.programPid(kWait), SIGTERM);
    EXPECT_EQ(tmux.waitExit(kWait), 0);
    // Once the program has ended, nothing more is written: the line is there (it may have
    // scrolled off the top), whole and once.
    std::string after;
    for (int i = 0; i < 200 && after.find("Pane is dead") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // tmux reads what is left
        after = tmux.screenAndHistory();
    }
    EXPECT_EQ(count(after, line), 1) << after;
    EXPECT_NE(after.find(line + "unknown word (allow or deny expected): frobnicate\n"),
              std::string::npos)
        << after;
}

} // namespace
