// The server under forged packets, floods and stuck transmitters, in the real main window
// with the manual clock: texts are never relayed, nothing is relayed twice within two
// ticks, no station is made of the server itself, refusals are bounded, and the [limits]
// talk, rate and unnamed hold. Server on 127.181.0.x, stations on 127.181.N.M.
#include "audio/relay.h"
#include "audio/station_list.h"
#include "base/address_guard.h"
#include "base/app_state.h"
#include "monitor/event_log.h"
#include "monitor/monitor.h"
#include "stations/station.h"
#include "stations/station_set.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using testutil::ServerHarness;
using testutil::TestStation;
using testutil::UdpPeer;
using Bytes = std::vector<uint8_t>;

namespace {

std::string config(const std::string& extra = "") {
    return "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n" + extra;
}

uint32_t addressOf(const std::string& dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return a.s_addr;
}

// A datagram of size bytes that no other datagram of the test equals: n in its first bytes.
Bytes datagram(size_t size, uint32_t n) {
    Bytes d(size, 0x55);
    for (size_t i = 0; i < 4 && i < size; ++i) {
        d[i] = static_cast<uint8_t>(n >> (8 * i));
    }
    return d;
}

bool isText(const Bytes& d) {
    return d.size() >= 6 && std::string(d.begin(), d.begin() + 6) == "oNDATA";
}

// The datagrams of a drain that are not texts.
std::vector<Bytes> audioOf(const std::vector<Bytes>& got) {
    std::vector<Bytes> out;
    for (const Bytes& d : got) {
        if (!isText(d)) {
            out.push_back(d);
        }
    }
    return out;
}

std::vector<std::string> eventLines;
void captureLine(const char* line, size_t length) {
    eventLines.emplace_back(line, length);
}

// A server with named stations on prefix.1, prefix.2, ... (window order: last first).
struct Conference {
    Conference(const std::string& serverAddress, const std::string& extra,
               const std::string& prefix, int count)
        : server(serverAddress, config(extra)) {
        EXPECT_TRUE(server.start());
        for (int i = 1; i <= count; ++i) {
            stations.push_back(std::make_unique<TestStation>(prefix + std::to_string(i)));
            stations.back()->sendControl(server.address(),
                                         testutil::namePacket("ST" + std::to_string(i)));
            server.pump();
        }
        drain();
        eventLines.clear();
        eventLogSetLineSink(captureLine);
    }
    ~Conference() { eventLogSetLineSink(nullptr); }
    void drain() {
        for (auto& s : stations) {
            s->audio.drain();
            s->control.drain();
        }
    }
    TestStation& operator[](size_t i) { return *stations[i]; }
    ServerHarness server;
    std::vector<std::unique_ptr<TestStation>> stations;
};

size_t countLines(const std::string& prefix) {
    size_t n = 0;
    for (const std::string& line : eventLines) {
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

} // namespace

TEST(Abuse, EveryDatagramBeginningWithTheTextPrefixIsTextAndNeverRelayed) {
    Conference c("127.181.0.1", "", "127.181.1.", 2);
    for (const std::string& t : {std::string("oNDATACONF V3.67:\r\rA\r", 21), std::string("oNDATA"),
                                 std::string("oNDATA\r\0", 8)}) {
        standbyCountdown = 1;
        c[0].sendAudio(c.server.address(), testutil::bytesOf(t));
        c.server.pump();
        EXPECT_EQ(standbyCountdown, 3) << t;
        EXPECT_TRUE(c[1].audio.drain().empty()) << t;
    }
    EXPECT_EQ(monitorCounters().textDatagrams, 3u);
    EXPECT_EQ(monitorCounters().relayed, 0u);
    c[0].sendAudio(c.server.address(), testutil::bytesOf("oNDAT"));
    c.server.pump();
    EXPECT_EQ(c[1].audio.drain(), std::vector<Bytes>{testutil::bytesOf("oNDAT")});
}

TEST(Abuse, ADatagramRelayedInTheLastTwoTicksIsNotRelayedAgainWhoeverSendsIt) {
    Conference c("127.181.0.2", "", "127.181.2.", 3);
    const Bytes d = datagram(60, 7);
    c[0].sendAudio(c.server.address(), d);
    c.server.pump();
    EXPECT_EQ(c[2].audio.drain(), std::vector<Bytes>{d});
    // Back from the station that heard it, from the sender again, two ticks later: dropped.
    c[1].sendAudio(c.server.address(), d);
    c.server.pump();
    c.server.tick(2);
    c[0].sendAudio(c.server.address(), d);
    c.server.pump();
    EXPECT_TRUE(audioOf(c[2].audio.drain()).empty());
    EXPECT_TRUE(audioOf(c[0].audio.drain()).empty());
    EXPECT_EQ(monitorCounters().loops, 2u);
    // One byte more, or one byte other, is another datagram.
    Bytes longer = d;
    longer.push_back(0x55);
    Bytes other = d;
    other[59] ^= 1;
    c[0].sendAudio(c.server.address(), longer);
    c[0].sendAudio(c.server.address(), other);
    c.server.pump();
    EXPECT_EQ(audioOf(c[2].audio.drain()), (std::vector<Bytes>{longer, other}));
    // Relayed three ticks ago: relayed again. A long datagram dropped by the talker lock was
    // never relayed, so it is no loop once the lock is free.
    c.server.tick();
    c[1].sendAudio(c.server.address(), d);
    c.server.pump();
    EXPECT_EQ(audioOf(c[2].audio.drain()), std::vector<Bytes>{d});
    const Bytes talk = datagram(144, 8);
    const Bytes blocked = datagram(144, 9);
    c[0].sendAudio(c.server.address(), talk);
    c.server.pump();
    c[1].sendAudio(c.server.address(), blocked);
    c.server.pump();
    EXPECT_EQ(audioOf(c[2].audio.drain()), std::vector<Bytes>{talk});
    c.server.tick(2);
    c[1].sendAudio(c.server.address(), blocked);
    c.server.pump();
    EXPECT_EQ(audioOf(c[2].audio.drain()), std::vector<Bytes>{blocked});
    EXPECT_EQ(monitorCounters().loops, 2u);
}

TEST(Abuse, ForgedJoinFromTheServersOwnAddressMakesNoStation) {
    ServerHarness server("127.181.0.3", config());
    ASSERT_TRUE(server.start());
    UdpPeer self("127.181.0.3", 0);
    ASSERT_TRUE(self.ok());
    self.sendTo(server.address(), 5199, testutil::emptyReceiverReport());
    self.sendTo(server.address(), 5199, testutil::namePacket("SELF"));
    server.pump();
    server.tick(2);
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(monitorCounters().joins, 0u);
    EXPECT_TRUE(self.drain().empty());
    // Nobody, everybody and groups are refused too; another address is not.
    for (const char* a : {"0.0.0.0", "255.255.255.255", "224.0.0.1", "239.255.255.250"}) {
        EXPECT_TRUE(addressGuardRefuses(addressOf(a))) << a;
    }
    EXPECT_FALSE(addressGuardRefuses(addressOf("127.181.0.4")));
    // With no --bind every loopback address is the server's own.
    bindAddress = 0;
    addressGuardStart();
    EXPECT_TRUE(addressGuardRefuses(addressOf("127.0.0.1")));
    EXPECT_TRUE(addressGuardRefuses(addressOf("127.181.0.4")));
    bindAddress = addressOf(server.address());
}

TEST(Abuse, AForgedUnnamedStationGetsOnlyKeepAlivesForTenTicksThenNothing) {
    Conference c("127.181.0.4", "[limits]\nunnamed=10\n", "127.181.4.", 2);
    TestStation forged("127.181.4.99");
    forged.control.sendTo(c.server.address(), 5199, Bytes{0, 0, 0, 0, 0});
    c.server.pump();
    ASSERT_EQ(stationCount, 3);
    std::vector<Bytes> control;
    uint32_t n = 0;
    for (int t = 1; t <= 30; ++t) {
        for (int i = 0; i < 4; ++i) {
            c[0].sendAudio(c.server.address(), datagram(144, ++n));
            c.server.advance(250);
        }
        EXPECT_EQ(audioOf(c[1].audio.drain()).size(), 4u) << "tick " << t;
        EXPECT_TRUE(forged.audio.drain().empty()) << "tick " << t;
        for (const Bytes& d : forged.control.drain()) {
            control.push_back(d);
        }
        EXPECT_EQ(stationCount, t < 10 ? 3 : 2) << "tick " << t;
    }
    ASSERT_EQ(control.size(), 1u); // the keep-alive of its first tick, and then nothing
    EXPECT_EQ(control[0][1], 0xC9);
    EXPECT_EQ(closedAddress, addressOf(forged.address()));
    EXPECT_EQ(countLines("event unnamed - 127.181.4.99"), 1u);
}

TEST(Abuse, AFullConferenceRefusesOneAddressOncePerTenTicksAndTwentyAddressesATick) {
    Conference c("127.181.0.5", "maxusers=0\n", "127.181.5.", 1);
    TestStation forged("127.181.5.99");
    for (int batch = 0; batch < 10; ++batch) { // 1000 joins in one tick, in batches
        for (int i = 0; i < 100; ++i) {
            forged.control.sendTo(c.server.address(), 5199, testutil::emptyReceiverReport());
        }
        c.server.pump();
    }
    EXPECT_EQ(forged.audio.drain().size(), 1u);
    EXPECT_EQ(forged.control.drain().size(), 1u);
    EXPECT_EQ(monitorCounters().refusals, 1000u);
    EXPECT_EQ(monitorCounters().refusalsSuppressed, 999u);
    c.server.tick();
    EXPECT_EQ(eventLines, (std::vector<std::string>{"event refuse - 127.181.5.99",
                                                    "event refuse-suppressed 999"}));
    // Ten ticks after its refusal it is told again.
    c.server.tick(8);
    forged.control.sendTo(c.server.address(), 5199, testutil::emptyReceiverReport());
    c.server.pump();
    EXPECT_TRUE(forged.audio.drain().empty());
    c.server.tick();
    forged.control.sendTo(c.server.address(), 5199, testutil::emptyReceiverReport());
    c.server.pump();
    EXPECT_EQ(forged.audio.drain().size(), 1u);

    // 100 addresses, each joining once a tick: 20 refusals a tick, each address once.
    c.server.tick();
    std::vector<std::unique_ptr<UdpPeer>> many;
    for (int i = 1; i <= 100; ++i) {
        many.push_back(std::make_unique<UdpPeer>("127.181.6." + std::to_string(i), 5199));
    }
    std::vector<int> told(100, 0);
    for (int t = 0; t < 6; ++t) {
        for (auto& p : many) {
            p->sendTo(c.server.address(), 5199, testutil::emptyReceiverReport());
        }
        c.server.pump();
        int thisTick = 0;
        for (size_t i = 0; i < many.size(); ++i) {
            size_t got = many[i]->drain().size();
            told[i] += static_cast<int>(got);
            thisTick += static_cast<int>(got);
        }
        EXPECT_EQ(thisTick, t < 5 ? 20 : 0) << "tick " << t;
        c.server.tick();
    }
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(told[i], 1) << i;
    }
}

TEST(Abuse, AStuckTalkerIsMutedAfterTheTalkLimitAndAnotherTalksAtOnce) {
    Conference c("127.181.0.7", "[limits]\ntalk=5\n", "127.181.7.", 3);
    uint32_t n = 0;
    // The stuck one sends twice a tick; five ticks after it took the lock it is muted.
    c[0].sendAudio(c.server.address(), datagram(144, ++n));
    c.server.pump();
    ASSERT_GT(talkerHold, 0);
    const uint32_t took = serverTicks;
    size_t sent = 1;
    while (talkerHold > 0 && sent < 20) {
        c.server.advance(500);
        if (talkerHold > 0) {
            c[0].sendAudio(c.server.address(), datagram(144, ++n));
            c.server.pump();
            ++sent;
        }
    }
    EXPECT_EQ(serverTicks - took, 5u);
    EXPECT_EQ(audioOf(c[2].audio.drain()).size(), sent);
    EXPECT_EQ(c.server.lastStatus(), "TALK LIMIT");
    EXPECT_EQ(countLines("event talk-limit ST1 127.181.7.1"), 1u);
    c[0].sendAudio(c.server.address(), datagram(144, ++n));
    c.server.pump();
    const Bytes other = datagram(144, ++n);
    c[1].sendAudio(c.server.address(), other);
    c.server.pump();
    EXPECT_EQ(audioOf(c[2].audio.drain()), std::vector<Bytes>{other});
    EXPECT_EQ(monitorCounters().muted, 1u);
    EXPECT_EQ(testutil::monitorStationOf(c[0].address())->muted, 1u);
    // It stays muted while it keeps sending; after a pause of a beacon tick it is heard.
    for (int half = 0; half < 6; ++half) {
        c[0].sendAudio(c.server.address(), datagram(50, ++n));
        c.server.advance(500);
    }
    EXPECT_TRUE(audioOf(c[2].audio.drain()).empty());
    c.server.advance(3000);
    const Bytes back = datagram(144, ++n);
    c[0].sendAudio(c.server.address(), back);
    c.server.pump();
    EXPECT_EQ(audioOf(c[2].audio.drain()), std::vector<Bytes>{back});
}

TEST(Abuse, AFloodingMemberIsCutToItsRateAndTheTalkerLosesNothing) {
    Conference c("127.181.0.8", "[limits]\nrate=60\n", "127.181.8.", 3);
    uint32_t n = 0;
    size_t talker = 0;
    size_t flood = 0;
    for (int t = 0; t < 3; ++t) {
        for (int step = 0; step < 10; ++step) { // per tick: 50 from the talker, 200 flooded
            for (int i = 0; i < 5; ++i) {
                c[0].sendAudio(c.server.address(), datagram(144, ++n));
            }
            for (int i = 0; i < 20; ++i) {
                c[1].sendAudio(c.server.address(), datagram(100, 0x40000000u + ++n));
            }
            c.server.pump();
            for (const Bytes& d : audioOf(c[2].audio.drain())) {
                (d.size() == 144 ? talker : flood) += 1;
            }
        }
        c.server.tick();
    }
    EXPECT_EQ(talker, 150u);
    EXPECT_EQ(flood, 180u);
    EXPECT_EQ(monitorCounters().rateLimited, 420u);
}
