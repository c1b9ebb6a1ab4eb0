// Linked conferences in the real server with the manual clock: keep-alives to a link while
// its peer is not a station (at start, then every 20 ticks, nothing else), the peer
// admitted as a station on its first control packet (the link up), the link back to trying
// when the peer goes, refusals shown on the link, a full server that waits, links kept
// while unnamed, and the entries that cannot be links left out at start. Server on
// 127.210.0.x, peers and stations on 127.210.N.M.
#include "base/app_state.h"
#include "control/rtcp.h"
#include "links/links.h"
#include "monitor/event_log.h"
#include "monitor/monitor.h"
#include "monitor/monitor_panel.h"
#include "monitor/monitor_view.h"
#include "platform/runtime.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

using testutil::ServerHarness;
using testutil::TestStation;

namespace {

const std::string ACCOUNT = "[callsign]\nuser=*HERE*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n";

const std::vector<uint8_t>
    BUSY(reinterpret_cast<const uint8_t*>("oNDATA***SERVER BUSY - TRY LATER***\r\r"),
         reinterpret_cast<const uint8_t*>("oNDATA***SERVER BUSY - TRY LATER***\r\r") + 38);
const std::vector<uint8_t> BYE_TERM = {0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0,   0xE1, 0xCB,
                                       0x00, 0x04, 0,    0,    0, 0, 4, 'T', 'e',  'r',
                                       'm',  0,    0,    0,    0, 0, 0, 4};

std::vector<std::string> eventLines;
void onEventLine(const char* line, size_t length) {
    eventLines.emplace_back(line, length);
}
std::vector<std::string> operatorLines;
void onOperatorLine(const char* text) {
    operatorLines.emplace_back(text);
}

uint32_t addressOf(const std::string& dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return a.s_addr;
}

std::vector<uint8_t> keepAlive() {
    return std::vector<uint8_t>(keepAliveCompound, keepAliveCompound + keepAliveLength);
}

// A server whose [links] section is links (one "KEY=VALUE" a line).
struct LinkScenario {
    LinkScenario(const std::string& address, const std::string& links,
                 const std::string& extra = "")
        : server(address, ACCOUNT + extra + "[links]\n" + links) {
        eventLines.clear();
        operatorLines.clear();
        eventLogSetLineSink(onEventLine);
        platformSetOperatorLineHook(onOperatorLine);
    }
    ServerHarness server;
};

// The datagrams waiting at a peer's control port, each checked to be the keep-alive
// compound from the server's control port; returns how many.
int keepAlivesFromControlPort(TestStation& peer, const std::string& server) {
    int n = 0;
    std::vector<uint8_t> bytes;
    std::string from;
    uint16_t port = 0;
    while (peer.control.receive(bytes, 0, &from, &port)) {
        EXPECT_EQ(bytes, keepAlive());
        EXPECT_EQ(from, server);
        EXPECT_EQ(port, 5199);
        ++n;
    }
    return n;
}

bool hasEvent(const std::string& line) {
    for (const std::string& l : eventLines) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(Links, NothingListensThereGetsOneKeepAliveEveryTwentyTicksAndNothingElse) {
    LinkScenario s("127.210.0.1", "1=127.210.1.1\n");
    TestStation peer("127.210.1.1"); // counts what reaches the link's address
    ASSERT_TRUE(s.server.start());
    s.server.pump();
    EXPECT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1); // at start
    ASSERT_EQ(linksCount(), 1);
    EXPECT_EQ(linkAt(0)->state, LinkState::Linking);
    // Two stations of our own talk meanwhile: served as ever, nothing of it to the link.
    TestStation a("127.210.2.1");
    TestStation b("127.210.2.2");
    a.sendControl(s.server.address(), testutil::namePacket("G4AAA"));
    b.sendControl(s.server.address(), testutil::namePacket("G4BBB"));
    s.server.pump();
    int relayedToB = 0;
    for (int t = 1; t <= 60; ++t) {
        a.sendAudio(s.server.address(), std::vector<uint8_t>(144, static_cast<uint8_t>(t)));
        s.server.tick();
        for (const auto& d : b.audio.drain()) {
            relayedToB += d.size() == 144 ? 1 : 0;
        }
        EXPECT_EQ(keepAlivesFromControlPort(peer, s.server.address()), t % 20 == 0 ? 1 : 0)
            << "tick " << t;
    }
    EXPECT_EQ(relayedToB, 60);
    EXPECT_TRUE(peer.audio.drain().empty());
    EXPECT_EQ(stationCount, 2);
    EXPECT_EQ(linkAt(0)->state, LinkState::Linking);
}

TEST(Links, PeerAnsweringIsAStationAndTheLinkIsUpUntilItTimesOut) {
    LinkScenario s("127.210.0.2", "1=127.210.3.1\n");
    TestStation peer("127.210.3.1");
    TestStation local("127.210.4.1");
    ASSERT_TRUE(s.server.start());
    s.server.pump();
    ASSERT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
    // The peer admitted us and its first keep-alive comes: it is a station like any other.
    peer.sendControl(s.server.address(), testutil::namePacket("*PEER*"));
    local.sendControl(s.server.address(), testutil::namePacket("G4LOC"));
    s.server.pump();
    EXPECT_EQ(stationCount, 2);
    EXPECT_EQ(linkAt(0)->state, LinkState::Up);
    EXPECT_TRUE(hasEvent("event link-up 127.210.3.1"));
    // What the operator sees: the link and the station marked as one.
    std::string json;
    ASSERT_TRUE(monitorStatusJson(&json));
    EXPECT_NE(json.find(R"("links":[{"key":1,"host":"127.210.3.1","address":"127.210.3.1",)"
                        R"("link":true,"link_state":"up","since":")"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("name":"*PEER*","address":"127.210.3.1")"), std::string::npos);
    EXPECT_NE(json.find(R"("link":true,"link_host":"127.210.3.1"})"), std::string::npos);
    EXPECT_NE(json.find(R"("name":"G4LOC","address":"127.210.4.1")"), std::string::npos);
    EXPECT_NE(json.find(R"("link":false,"link_host":null})"), std::string::npos);
    // The terminal panel: the link's host after its station's line, then its own part.
    std::vector<std::string> panel;
    for (int i = 0; i < monitorPanelLineCount(); ++i) {
        char line[512];
        monitorPanelLine(i, line, sizeof line);
        panel.emplace_back(line);
    }
    ASSERT_EQ(panel.size(), 4u);
    EXPECT_EQ(panel[0].find(" link "), std::string::npos) << panel[0];
    EXPECT_TRUE(panel[1].starts_with("  *PEER*     127.210.3.1 ")) << panel[1];
    EXPECT_TRUE(panel[1].ends_with(" link 127.210.3.1")) << panel[1];
    EXPECT_EQ(panel[2], "Links");
    EXPECT_TRUE(std::regex_match(
        panel[3],
        std::regex(R"(  link 1 127\.210\.3\.1 +127\.210\.3\.1 +up +since \d\d:\d\d:\d\d)")))
        << panel[3];
    EXPECT_EQ(stationWindowAt(2), nullptr);
    std::string metrics;
    monitorMetricsText(&metrics);
    EXPECT_NE(metrics.find("\nconfserver_links 1\n"), std::string::npos);
    EXPECT_NE(metrics.find("\nconfserver_links_up 1\n"), std::string::npos);
    // Audio both ways, as between any two stations.
    local.sendAudio(s.server.address(), std::vector<uint8_t>(144, 1));
    s.server.pump();
    auto toPeer = peer.audio.drain();
    ASSERT_EQ(toPeer.size(), 1u);
    EXPECT_EQ(toPeer[0], std::vector<uint8_t>(144, 1));
    s.server.tick(3); // the talker lock is free again
    peer.sendAudio(s.server.address(), std::vector<uint8_t>(144, 2));
    s.server.pump();
    auto toLocal = local.audio.drain();
    ASSERT_FALSE(toLocal.empty());
    EXPECT_EQ(toLocal.back(), std::vector<uint8_t>(144, 2));
    // While up, only the station's own keep-alives go there (from its station socket).
    peer.control.drain();
    int fromControlPort = 0;
    for (int t = 0; t < 40; ++t) {
        local.sendControl(s.server.address(), testutil::emptyReceiverReport());
        s.server.tick();
        std::vector<uint8_t> bytes;
        uint16_t port = 0;
        while (peer.control.receive(bytes, 0, nullptr, &port)) {
            fromControlPort += port == 5199 ? 1 : 0;
        }
    }
    EXPECT_EQ(fromControlPort, 0);
    // Silent for 120 ticks: it times out, the link is down and tried again at the next tick.
    for (int t = 0; t < 130 && stationCount == 2; ++t) {
        s.server.tick();
    }
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(linkAt(0)->state, LinkState::Linking);
    EXPECT_TRUE(hasEvent("event link-down 127.210.3.1 timeout"));
    peer.control.drain();
    s.server.tick();
    EXPECT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
    s.server.tick(19);
    EXPECT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 0);
    s.server.tick();
    EXPECT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
}

TEST(Links, RefusingPeerShowsRefusedMakesNoStationAndIsTriedEveryTwentyTicks) {
    LinkScenario s("127.210.0.3", "1=127.210.5.1\n");
    TestStation peer("127.210.5.1");
    ASSERT_TRUE(s.server.start());
    s.server.pump();
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1) << attempt;
        // The full peer's answer: its busy text on our audio port, its BYE on our control port.
        peer.sendAudio(s.server.address(), BUSY);
        peer.sendControl(s.server.address(), BYE_TERM);
        s.server.pump();
        EXPECT_EQ(linkAt(0)->state, LinkState::Refused);
        EXPECT_EQ(stationCount, 0);
        EXPECT_EQ(closedHoldTicks, 0);
        s.server.tick(19);
        EXPECT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 0);
        EXPECT_EQ(linkAt(0)->state, LinkState::Refused);
        s.server.tick();
    }
    // An attempt that goes unanswered: linking again at the next one.
    ASSERT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
    s.server.tick(20);
    EXPECT_EQ(linkAt(0)->state, LinkState::Linking);
    EXPECT_EQ(monitorCounters().joins, 0u);
    EXPECT_TRUE(peer.audio.drain().empty());
}

TEST(Links, BusyTextAloneShowsTheRefusal) {
    LinkScenario s("127.210.0.8", "1=127.210.12.1\n");
    TestStation peer("127.210.12.1");
    ASSERT_TRUE(s.server.start());
    s.server.pump();
    ASSERT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
    peer.sendAudio(s.server.address(), BUSY);
    s.server.pump();
    EXPECT_EQ(linkAt(0)->state, LinkState::Refused);
    // Another text from the peer changes nothing.
    s.server.tick(20);
    ASSERT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
    peer.sendAudio(s.server.address(), testutil::bytesOf(std::string("oNDATACONF V3.67:\r\r", 20)));
    s.server.tick(20);
    EXPECT_EQ(linkAt(0)->state, LinkState::Linking);
}

TEST(Links, FullServerRefusesThePeerAndSendsNoKeepAliveUntilThereIsRoom) {
    LinkScenario s("127.210.0.4", "1=127.210.6.1\n", "maxusers=0\n");
    TestStation peer("127.210.6.1");
    TestStation local("127.210.7.1");
    ASSERT_TRUE(s.server.start());
    s.server.pump();
    ASSERT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
    local.sendControl(s.server.address(), testutil::namePacket("G4LOC")); // the one place
    s.server.pump();
    peer.sendControl(s.server.address(), testutil::namePacket("*PEER*"));
    s.server.pump();
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(linkAt(0)->state, LinkState::Refused);
    auto bye = peer.control.drain();
    ASSERT_EQ(bye.size(), 1u);
    EXPECT_EQ(bye[0], BYE_TERM);
    EXPECT_EQ(peer.audio.drain(), std::vector<std::vector<uint8_t>>{BUSY});
    s.server.tick(40);
    EXPECT_TRUE(peer.control.drain().empty()); // full: no keep-alive goes there
    EXPECT_EQ(linkAt(0)->state, LinkState::Refused);
    local.sendControl(s.server.address(), testutil::receiverReportWithBye());
    s.server.pump();
    ASSERT_EQ(stationCount, 0);
    s.server.tick(20);
    EXPECT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
    EXPECT_EQ(linkAt(0)->state, LinkState::Linking);
}

TEST(Links, UnnamedLinkStaysWhereTheUnnamedLimitAndCallsignAllowRulesCloseOthers) {
    LinkScenario s("127.210.0.5", "1=127.210.8.1\n",
                   "[limits]\nunnamed=5\n[access]\nfile=rules.access\n");
    testutil::writeFile(s.server.configPath().substr(0, s.server.configPath().rfind('/')) +
                            "/rules.access",
                        "allow G4*\n");
    TestStation peer("127.210.8.1");
    TestStation quiet("127.210.9.1");
    ASSERT_TRUE(s.server.start());
    peer.sendControl(s.server.address(), testutil::emptyReceiverReport());
    quiet.sendControl(s.server.address(), testutil::emptyReceiverReport());
    s.server.pump();
    ASSERT_EQ(stationCount, 2);
    for (int t = 0; t < 15; ++t) {
        peer.sendControl(s.server.address(), testutil::emptyReceiverReport());
        if (t < 3) {
            quiet.sendControl(s.server.address(), testutil::emptyReceiverReport());
        }
        s.server.tick();
        if (t == 6) {
            EXPECT_EQ(stationCount, 1) << "the unnamed limit closes the other one";
        }
    }
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(linkAt(0)->state, LinkState::Up);
}

TEST(Links, EntriesThatCannotBeLinksAreLeftOutWithOneLineEach) {
    LinkScenario s("127.210.0.6", "1=\n2=127.210.0.6\n3=nosuchhost.invalid\n4=127.210.10.1\n"
                                  "5=127.210.10.1\n9=127.210.10.2\n7=224.0.0.1\n");
    TestStation peer("127.210.10.1");
    TestStation tenth("127.210.10.2");
    ASSERT_TRUE(s.server.start());
    s.server.pump();
    ASSERT_EQ(linksCount(), 1);
    EXPECT_STREQ(linkAt(0)->host, "127.210.10.1");
    EXPECT_EQ(linkAt(0)->key, 4);
    EXPECT_EQ(linkAt(0)->address, addressOf("127.210.10.1"));
    ASSERT_EQ(operatorLines.size(), 6u);
    EXPECT_EQ(operatorLines[0], "[links] 1= is not linked: the value is empty");
    EXPECT_EQ(operatorLines[1],
              "[links] 2=127.210.0.6 is not linked: it is this server's own address");
    EXPECT_EQ(operatorLines[2],
              "[links] 3=nosuchhost.invalid is not linked: the host does not resolve");
    EXPECT_EQ(operatorLines[3], "[links] 5=127.210.10.1 is not linked: the same peer as [links] 4");
    EXPECT_EQ(operatorLines[4],
              "[links] 7=224.0.0.1 is not linked: it is this server's own address");
    EXPECT_EQ(operatorLines[5],
              "[links] 9=127.210.10.2 is not linked: only keys 1 to 8 name links");
    EXPECT_EQ(keepAlivesFromControlPort(peer, s.server.address()), 1);
    EXPECT_TRUE(tenth.control.drain().empty());
}

TEST(Links, DeniedAddressIsNotLinked) {
    LinkScenario s("127.210.0.7", "1=127.210.11.1\n2=127.210.11.2\n",
                   "[access]\nfile=rules.access\n");
    testutil::writeFile(s.server.configPath().substr(0, s.server.configPath().rfind('/')) +
                            "/rules.access",
                        "deny 127.210.11.2\n");
    TestStation allowed("127.210.11.1");
    TestStation denied("127.210.11.2");
    ASSERT_TRUE(s.server.start());
    s.server.pump();
    ASSERT_EQ(linksCount(), 1);
    ASSERT_EQ(operatorLines.size(), 1u);
    EXPECT_EQ(operatorLines[0],
              "[links] 2=127.210.11.2 is not linked: the access rules deny its address");
    EXPECT_EQ(keepAlivesFromControlPort(allowed, s.server.address()), 1);
    s.server.tick(25);
    EXPECT_TRUE(denied.control.drain().empty());
}
