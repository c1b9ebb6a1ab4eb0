// The access file at work in the real server with the manual clock: denied senders get
// nothing on either port and no station, allow lists close a kind, denied names are closed
// as a BYE closes them (with the hold), a changed file closes within one tick, and the
// stations the file lets in see capacity, refusal and hold as before. Server on
// 127.112.0.x, stations on 127.112.N.M.
#include "access/access.h"
#include "base/app_state.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using testutil::recordAt;
using testutil::ServerHarness;
using testutil::TestStation;

namespace {

struct Denial {
    std::string name;
    std::string address;
    int line;
};
std::vector<Denial> denials;

void onDenial(const char* name, uint32_t address, int line) {
    in_addr a{};
    a.s_addr = address;
    char text[16];
    inet_ntop(AF_INET, &a, text, sizeof text);
    denials.push_back({name != nullptr ? name : "<none>", text, line});
}

const std::vector<uint8_t> BYE_TERM = {0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0,   0xE1, 0xCB,
                                       0x00, 0x04, 0,    0,    0, 0, 4, 'T', 'e',  'r',
                                       'm',  0,    0,    0,    0, 0, 0, 4};

// A server whose configuration names an access file with the given rules.
class AccessScenario {
  public:
    AccessScenario(const std::string& address, const std::string& rules,
                   const std::string& extra = "")
        : server(address, "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n" +
                              extra + "[access]\nfile=rules.access\n") {
        rulesPath = server.configPath().substr(0, server.configPath().rfind('/')) + "/rules.access";
        testutil::writeFile(rulesPath, rules);
        denials.clear();
        accessSetDenialListener(onDenial);
    }
    ServerHarness server;
    std::string rulesPath;
};

std::vector<uint8_t> audio144() {
    return std::vector<uint8_t>(144, 0x55);
}

} // namespace

TEST(Access, DeniedAddressGetsNothingOnEitherPortAndNoStation) {
    AccessScenario s("127.112.0.1", "# far away\ndeny 127.112.1.0/24\n");
    ASSERT_TRUE(s.server.start());
    TestStation denied("127.112.1.1");
    TestStation allowed("127.112.2.1");
    allowed.sendControl(s.server.address(), testutil::namePacket("G4OK"));
    denied.sendControl(s.server.address(), testutil::emptyReceiverReport());
    denied.sendControl(s.server.address(), testutil::namePacket("N0BAD"));
    s.server.pump();
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(recordAt(denied.address()), nullptr);
    ASSERT_NE(recordAt(allowed.address()), nullptr);
    for (int t = 0; t < 25; ++t) {
        denied.sendAudio(s.server.address(), audio144());
        denied.sendControl(s.server.address(), testutil::emptyReceiverReport());
        allowed.sendControl(s.server.address(), testutil::emptyReceiverReport());
        s.server.tick();
    }
    EXPECT_TRUE(denied.audio.drain().empty());
    EXPECT_TRUE(denied.control.drain().empty());
    EXPECT_EQ(allowed.control.drain().size(), 2u); // keep-alives on ticks 1 and 21
    // The denied one's audio went nowhere: the allowed station heard beacons only.
    for (const auto& d : allowed.audio.drain()) {
        EXPECT_EQ(std::string(d.begin(), d.begin() + 6), "oNDATA");
    }
    ASSERT_EQ(denials.size(), 27u); // every control datagram of it
    EXPECT_EQ(denials[0].name, "<none>");
    EXPECT_EQ(denials[0].address, "127.112.1.1");
    EXPECT_EQ(denials[0].line, 2);
}

TEST(Access, TenThousandDatagramsFromADeniedAddressGetNothingBack) {
    AccessScenario s("127.112.0.2", "deny 127.112.3.7\n");
    ASSERT_TRUE(s.server.start());
    TestStation denied("127.112.3.7");
    std::vector<uint8_t> packet = testutil::namePacket("FLOOD");
    int sent = 0;
    for (int round = 0; round < 100; ++round) {
        for (int i = 0; i < 100; ++i) {
            sent += denied.control.sendTo(s.server.address(), 5199, packet) ? 1 : 0;
        }
        s.server.pump(2);
    }
    s.server.tick(3);
    EXPECT_EQ(sent, 10000);
    EXPECT_EQ(stationCount, 0);
    EXPECT_TRUE(denied.audio.drain().empty());
    EXPECT_TRUE(denied.control.drain().empty());
    // Every datagram that reached the server was judged, none got further (the socket may
    // drop some of a burst, never admit one).
    EXPECT_GT(denials.size(), 5000u);
    EXPECT_LE(denials.size(), 10000u);
}

TEST(Access, AllowOnlyAddressListAdmitsOnlyWhatItMatches) {
    AccessScenario s("127.112.0.3", "allow 127.112.4.0/25\n");
    ASSERT_TRUE(s.server.start());
    TestStation inside("127.112.4.1");
    TestStation edge("127.112.4.127");
    TestStation outside("127.112.4.128");
    for (TestStation* st : {&inside, &edge, &outside}) {
        st->sendControl(s.server.address(), testutil::emptyReceiverReport());
    }
    s.server.pump();
    EXPECT_EQ(stationCount, 2);
    EXPECT_NE(recordAt(inside.address()), nullptr);
    EXPECT_NE(recordAt(edge.address()), nullptr);
    EXPECT_EQ(recordAt(outside.address()), nullptr);
    s.server.tick();
    EXPECT_EQ(inside.control.drain().size(), 1u);
    EXPECT_TRUE(outside.control.drain().empty());
    EXPECT_TRUE(outside.audio.drain().empty());
    ASSERT_EQ(denials.size(), 1u);
    EXPECT_EQ(denials[0].address, "127.112.4.128");
    EXPECT_EQ(denials[0].line, ACCESS_NO_RULE_LINE);
}

TEST(Access, DeniedCallsignIsClosedLikeAByeAndItsAddressHeldOffSixHundredTicks) {
    AccessScenario s("127.112.0.4", "deny N0C*\n");
    ASSERT_TRUE(s.server.start());
    TestStation a("127.112.5.1");
    a.sendControl(s.server.address(), testutil::namePacket("G4ABC"));
    s.server.pump();
    ASSERT_EQ(stationCount, 1);
    // A name change to a denied one closes it.
    a.sendControl(s.server.address(), testutil::namePacket("n0call"));
    s.server.pump();
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(recordAt(a.address()), nullptr);
    EXPECT_EQ(s.server.lastStatus(), "CLOSING...");
    EXPECT_EQ(closedHoldTicks, 10);
    ASSERT_EQ(denials.size(), 1u);
    EXPECT_EQ(denials[0].name, "n0call");
    EXPECT_EQ(denials[0].address, "127.112.5.1");
    EXPECT_EQ(denials[0].line, 1);
    a.audio.drain();
    a.control.drain();
    // Its address is held off for 600 ticks: no station, no reply, no further denial.
    for (int t = 1; t < 600; ++t) {
        s.server.tick();
        if (t == 1 || t == 10 || t == 11 || t == 599) {
            a.sendControl(s.server.address(), testutil::emptyReceiverReport());
            a.sendControl(s.server.address(), testutil::namePacket("N0CALL"));
            s.server.pump();
            EXPECT_EQ(stationCount, 0) << "tick " << t;
        }
    }
    EXPECT_TRUE(a.audio.drain().empty());
    EXPECT_TRUE(a.control.drain().empty());
    EXPECT_EQ(denials.size(), 1u);
    s.server.tick();
    a.sendControl(s.server.address(), testutil::emptyReceiverReport());
    s.server.pump();
    EXPECT_EQ(stationCount, 1); // the hold is over: admitted again, until it names itself
    a.sendControl(s.server.address(), testutil::namePacket("N0CALL"));
    s.server.pump();
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(denials.size(), 2u);
}

TEST(Access, ClosedCallsignListClosesTheUnnamedAfterTenTicksAndOthersAtNaming) {
    AccessScenario s("127.112.0.5", "allow G4*\n");
    ASSERT_TRUE(s.server.start());
    TestStation quiet("127.112.6.1");
    TestStation member("127.112.6.2");
    TestStation stranger("127.112.6.3");
    quiet.sendControl(s.server.address(), testutil::emptyReceiverReport());
    member.sendControl(s.server.address(), testutil::namePacket("g4abc"));
    s.server.pump();
    ASSERT_EQ(stationCount, 2);
    stranger.sendControl(s.server.address(), testutil::namePacket("M0XYZ"));
    s.server.pump();
    EXPECT_EQ(stationCount, 2);
    EXPECT_EQ(recordAt(stranger.address()), nullptr);
    for (int t = 1; t <= 9; ++t) {
        s.server.tick();
        quiet.sendControl(s.server.address(), testutil::emptyReceiverReport());
        s.server.pump();
        ASSERT_NE(recordAt(quiet.address()), nullptr) << "tick " << t;
    }
    s.server.tick();
    EXPECT_EQ(recordAt(quiet.address()), nullptr);
    EXPECT_NE(recordAt(member.address()), nullptr);
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(closedAddress, inet_addr("127.112.6.1"));
    ASSERT_EQ(denials.size(), 2u);
    EXPECT_EQ(denials[0].name, "M0XYZ");
    EXPECT_EQ(denials[1].name, "<none>");
    EXPECT_EQ(denials[1].address, "127.112.6.1");
}

TEST(Access, ChangedFileClosesADeniedStationWithinOneTick) {
    AccessScenario s("127.112.0.6", "deny 192.0.2.1\n");
    ASSERT_TRUE(s.server.start());
    TestStation a("127.112.7.1");
    TestStation b("127.112.7.2");
    a.sendControl(s.server.address(), testutil::namePacket("G4ABC"));
    b.sendControl(s.server.address(), testutil::namePacket("G4XYZ"));
    s.server.pump();
    s.server.tick(2);
    ASSERT_EQ(stationCount, 2);
    testutil::writeFile(s.rulesPath, "deny 192.0.2.1\ndeny g4abc\n");
    s.server.tick();
    EXPECT_EQ(recordAt(a.address()), nullptr);
    EXPECT_NE(recordAt(b.address()), nullptr);
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(s.server.lastStatus(), "CLOSING...");
    ASSERT_EQ(denials.size(), 1u);
    EXPECT_EQ(denials[0].line, 2);
    // An address rule closes a connected station the same way.
    testutil::writeFile(s.rulesPath, "deny 127.112.7.2\n# and nothing else\n");
    s.server.tick();
    EXPECT_EQ(stationCount, 0);
    // The operator's deny applies at once, without waiting for a tick.
    TestStation c("127.112.7.3");
    c.sendControl(s.server.address(), testutil::namePacket("M0OPS"));
    s.server.pump();
    ASSERT_EQ(stationCount, 1);
    ASSERT_TRUE(accessAppendDeny("M0OPS"));
    s.server.pump();
    EXPECT_EQ(stationCount, 0);
    s.server.tick(11); // past the hold of a BYE, not past the hold of a denial
    c.sendControl(s.server.address(), testutil::emptyReceiverReport());
    s.server.pump();
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(testutil::readFile(s.rulesPath),
              "deny 127.112.7.2\n# and nothing else\ndeny M0OPS\n");
}

TEST(Access, CapacityRefusalAndHoldAreUnchangedForStationsLetIn) {
    AccessScenario s("127.112.0.7", "allow 127.112.8.0/24\ndeny BAD*\n", "maxusers=2\n");
    ASSERT_TRUE(s.server.start());
    std::vector<std::unique_ptr<TestStation>> stations;
    for (int i = 1; i <= 4; ++i) {
        stations.push_back(std::make_unique<TestStation>("127.112.8." + std::to_string(i)));
        stations.back()->sendControl(s.server.address(), testutil::emptyReceiverReport());
        s.server.pump();
    }
    EXPECT_EQ(stationCount, 3); // capacity 2 admits three
    TestStation& fourth = *stations[3];
    auto busy = fourth.audio.drain();
    ASSERT_EQ(busy.size(), 1u);
    EXPECT_EQ(std::string(busy[0].begin(), busy[0].end()),
              std::string("oNDATA***SERVER BUSY - TRY LATER***\r\r\0", 38));
    auto bye = fourth.control.drain();
    ASSERT_EQ(bye.size(), 1u);
    EXPECT_EQ(bye[0], BYE_TERM);
    EXPECT_TRUE(denials.empty()); // a refusal is no denial

    // A BYE still holds its address off for ten ticks.
    stations[0]->sendControl(s.server.address(), testutil::receiverReportWithBye());
    s.server.pump();
    EXPECT_EQ(stationCount, 2);
    EXPECT_EQ(closedHoldTicks, 10);
    s.server.tick(9);
    stations[0]->sendControl(s.server.address(), testutil::emptyReceiverReport());
    s.server.pump();
    EXPECT_EQ(stationCount, 2);
    s.server.tick();
    stations[0]->sendControl(s.server.address(), testutil::emptyReceiverReport());
    s.server.pump();
    EXPECT_EQ(stationCount, 3);
}
