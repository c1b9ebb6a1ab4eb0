// A link as the operator sees it in the terminal window, driven through tmux: the panel's
// Links part shows the link trying, then up with the peer's station line marked with the
// link's host once the peer answers; `confserver ctl status` says the same. Server on 127.212.1.1,
// the peer played by a test station on 127.212.2.1.
#include "support/server_harness.h"
#include "support/server_process.h"
#include "support/testutil.h"
#include "support/tmux_session.h"

#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <regex>

using testutil::TempDir;
using testutil::TestStation;
using testutil::TmuxSession;

namespace {

constexpr int kWait = 10000;

bool hasRowWith(const std::string& screen, const std::string& a, const std::string& b) {
    size_t at = 0;
    while ((at = screen.find(a, at)) != std::string::npos) {
        size_t end = screen.find('\n', at);
        if (screen.substr(at, end - at).find(b) != std::string::npos) {
            return true;
        }
        ++at;
    }
    return false;
}

} // namespace

TEST(LinksPanel, ShowsTheLinkTryingThenUpWithThePeersStationMarked) {
    ASSERT_TRUE(testutil::tmuxAvailable()) << "tmux is needed (scripts/install-deps)";
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, "[callsign]\nuser=*PANEL*\ndesc=LINK PANEL\nvalid=PW\n"
                                "[server]\n1=127.0.0.1\n2=127.0.0.1\n3=127.0.0.1\n"
                                "4=127.0.0.1\nver=618\n[links]\n1=127.212.2.1\n");
    TestStation peer("127.212.2.1");
    const std::string server = "127.212.1.1";
    std::string socket = dir.file("run/control");
    TmuxSession tmux({"TERM=xterm-256color", "CONFSERVER_DESKTOP=e2e_links_panel"},
                     {CONFSERVER_BINARY, "--config", config, "--bind", server, "--control", socket},
                     100, 30);
    ASSERT_TRUE(tmux.ok());
    ASSERT_TRUE(tmux.waitFor(
        [](const std::string& s) { return hasRowWith(s, "link 1 127.212.2.1", "linking"); }, kWait))
        << tmux.screen();
    EXPECT_NE(tmux.screen().find("xLinks"), std::string::npos) << tmux.screen();
    std::vector<uint8_t> keepAlive;
    ASSERT_TRUE(peer.control.receive(keepAlive, kWait)); // the link's first attempt
    peer.sendControl(server, testutil::namePacket("*PEER*"));
    ASSERT_TRUE(tmux.waitFor(
        [](const std::string& s) {
            return hasRowWith(s, "link 1 127.212.2.1", " up ") &&
                   hasRowWith(s, "*PEER*", "link 127.212.2.1");
        },
        kWait))
        << tmux.screen();
    testutil::ServerProcess ctl({"ctl", "--socket", socket, "status"});
    EXPECT_EQ(ctl.waitExit(kWait), 0) << ctl.standardError();
    std::vector<std::string> lines = ctl.lines();
    ASSERT_EQ(lines.size(), 3u) << ctl.standardError();
    EXPECT_TRUE(lines[1].starts_with("  *PEER*     127.212.2.1 ")) << lines[1];
    EXPECT_TRUE(lines[1].ends_with(" link 127.212.2.1")) << lines[1];
    EXPECT_TRUE(std::regex_match(
        lines[2],
        std::regex(R"(link 1 127\.212\.2\.1 127\.212\.2\.1 up since \d{4}-\d\d-\d\dT[0-9:.]+Z)")))
        << lines[2];
    ::kill(tmux.programPid(kWait), SIGTERM);
    EXPECT_EQ(tmux.waitExit(kWait), 0);
}
