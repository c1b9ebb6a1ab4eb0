// The conference: fan-out, talker lock, station list text, standby beacon and the flood
// guard. Server on 127.30.0.x, stations on 127.30.N.M.
#include "audio/relay.h"
#include "audio/station_list.h"
#include "base/app_state.h"
#include "monitor/monitor.h"
#include "platform/net/batch_send.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using testutil::ServerHarness;
using testutil::TestStation;
using Bytes = std::vector<uint8_t>;

namespace {

const char* const CONFIG = "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n";

Bytes audio(size_t size, uint8_t fill) {
    return Bytes(size, fill);
}

Bytes text(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

// A conference of named stations; the last one joined is first in window order.
class Conference {
  public:
    Conference(ServerHarness& server, const std::string& prefix,
               const std::vector<std::string>& names)
        : server_(server) {
        for (size_t i = 0; i < names.size(); ++i) {
            stations.push_back(std::make_unique<TestStation>(prefix + std::to_string(i + 1)));
            stations.back()->sendControl(server.address(), testutil::namePacket(names[i]));
            server.pump();
        }
        drainAll();
    }
    TestStation& operator[](size_t i) { return *stations[i]; }
    void drainAll() {
        for (auto& s : stations) {
            s->audio.drain();
            s->control.drain();
        }
    }
    // Sends one audio datagram from station i and lets the server handle it.
    void talk(size_t i, const Bytes& bytes) {
        stations[i]->sendAudio(server_.address(), bytes);
        server_.pump();
    }
    std::vector<std::unique_ptr<TestStation>> stations;

  private:
    ServerHarness& server_;
};

} // namespace

TEST(Relay, EveryOtherActiveStationGetsTheDatagramUnchangedAndTheSenderNothing) {
    ServerHarness server("127.30.0.1", CONFIG);
    ASSERT_TRUE(server.start());
    // This file runs twice: with the fan-out in one batch, and with the sends one by one.
    const char* off = std::getenv("CONFSERVER_NO_IO_URING");
    if (off != nullptr && std::string(off) == "1") {
        EXPECT_FALSE(sendBatchRinged());
    }
    Conference c(server, "127.30.1.", {"A", "B", "C"});
    // Short datagrams do not touch the lock or the list cycle's build.
    for (size_t size : {1, 7, 50, 102}) {
        Bytes d = audio(size, static_cast<uint8_t>(size));
        c.talk(0, d);
        EXPECT_TRUE(c[0].audio.drain().empty());
        for (size_t other : {1, 2}) {
            auto got = c[other].audio.drain();
            ASSERT_EQ(got.size(), 1u) << size;
            EXPECT_EQ(got[0], d);
        }
    }
    EXPECT_EQ(talkerHold, 0);
    // The largest datagram handled is relayed whole; one byte more is dropped.
    c.talk(1, audio(3624, 0x5A));
    EXPECT_EQ(c[0].audio.drain().at(0).size(), 3624u);
    c[2].audio.drain();
    c.talk(1, audio(3625, 0x5A));
    EXPECT_TRUE(c[0].audio.drain().empty());
    EXPECT_TRUE(c[2].audio.drain().empty());
}

TEST(Relay, ListTextGoesWithTheDatagramAfterTheLockIsTakenAndEverySixtyAfter) {
    ServerHarness server("127.30.0.2", CONFIG);
    ASSERT_TRUE(server.start());
    // (C3) joins first, then B2, then A1: window order A1, B2, (C3).
    Conference c(server, "127.30.2.", {"(C3)", "B2", "A1"});
    const size_t C3 = 0, B2 = 1, A1 = 2;
    const Bytes list = text("oNDATACONF V3.67:\r\rA1\rB2 <\r");
    ASSERT_EQ(list.size(), 28u);

    c.talk(B2, audio(144, 1)); // takes the lock, builds the list
    EXPECT_EQ(server.lastStatus(), ">>B2<< Que=0");
    EXPECT_EQ(c[A1].audio.drain(), (std::vector<Bytes>{audio(144, 1)}));
    EXPECT_EQ(c[C3].audio.drain(), (std::vector<Bytes>{audio(144, 1)}));
    EXPECT_TRUE(c[B2].audio.drain().empty());

    c.talk(B2, audio(144, 2)); // carries it: audio then text to each, text alone to B2
    EXPECT_EQ(c[A1].audio.drain(), (std::vector<Bytes>{audio(144, 2), list}));
    EXPECT_EQ(c[C3].audio.drain(), (std::vector<Bytes>{audio(144, 2), list}));
    EXPECT_EQ(c[B2].audio.drain(), (std::vector<Bytes>{list}));

    // Datagrams 3..61 carry no text; datagram 62 carries it again.
    for (int n = 3; n <= 62; ++n) {
        c.talk(B2, audio(144, static_cast<uint8_t>(n)));
        auto got = c[B2].audio.drain();
        if (n == 62) {
            EXPECT_EQ(got, (std::vector<Bytes>{list})) << n;
        } else {
            EXPECT_TRUE(got.empty()) << n;
        }
        c[A1].audio.drain();
        c[C3].audio.drain();
    }
}

TEST(Relay, TalkerLockDropsOthersUntilTheSecondTickAfterTheTalkersLastDatagram) {
    ServerHarness server("127.30.0.3", CONFIG);
    ASSERT_TRUE(server.start());
    Conference c(server, "127.30.3.", {"A", "B", "C"});
    const size_t A = 0, B = 1, C = 2;
    c.talk(A, audio(160, 0xA0));
    c.drainAll();
    server.clearStatus();
    c.talk(B, audio(160, 0xB0));
    EXPECT_EQ(server.lastStatus(), "FIREWALL");
    EXPECT_TRUE(c[A].audio.drain().empty());
    EXPECT_TRUE(c[C].audio.drain().empty());
    // 102 bytes pass during the lock without taking it; 103 do not.
    // It is also the next relayed datagram after the lock was taken, so the list text that
    // A's first datagram built goes with it.
    c.talk(B, audio(102, 0xB1));
    auto got = c[A].audio.drain();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], audio(102, 0xB1));
    EXPECT_EQ(got[1], text("oNDATACONF V3.67:\r\rC\rB\rA <\r"));
    c[C].audio.drain();
    c.talk(B, audio(103, 0xB2));
    EXPECT_TRUE(c[A].audio.drain().empty());
    EXPECT_STREQ(talkerAddress, "127.30.3.1");

    // A's last long datagram; one tick later B is still dropped, after the second it passes.
    c.talk(A, audio(160, 0xA1));
    c.drainAll();
    server.tick();
    c.talk(B, audio(160, 0xB3));
    EXPECT_TRUE(c[C].audio.drain().empty());
    server.tick();
    c.talk(B, audio(160, 0xB4));
    EXPECT_EQ(c[C].audio.drain().at(0), audio(160, 0xB4));
    EXPECT_STREQ(talkerAddress, "127.30.3.2");
    // A's idle count was not reset by its dropped datagrams.
    server.tick();
    StationRecord* a = nullptr;
    for (HWND w = GetWindow(mdiClient, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        StationRecord* r = stationRecordOf(w);
        if (r && std::string(r->addressText) == "127.30.3.1") {
            a = r;
        }
    }
    ASSERT_NE(a, nullptr);
    c.talk(A, audio(160, 0xA2));
    EXPECT_GT(a->idleTicks, 0);
}

TEST(Relay, UnknownSendersTextDatagramsAndClosingStationsAreNotRelayed) {
    ServerHarness server("127.30.0.4", CONFIG);
    ASSERT_TRUE(server.start());
    Conference c(server, "127.30.4.", {"A", "B"});
    testutil::UdpPeer stranger("127.30.4.99", 5198);
    standbyCountdown = 0;
    stranger.sendTo(server.address(), 5198, audio(144, 9));
    server.pump();
    EXPECT_EQ(server.lastStatus(), "UNREGISTERED DATA");
    EXPECT_EQ(standbyCountdown, 3);
    EXPECT_EQ(talkerHold, 0);
    EXPECT_TRUE(c[0].audio.drain().empty());

    server.clearStatus();
    c.talk(0, text("oNDATA\rHELLO"));
    EXPECT_TRUE(c[1].audio.drain().empty());
    EXPECT_EQ(server.lastStatus(), "");
    // Six bytes of the prefix alone are a text (every "oNDATA" datagram is); five are audio.
    c.talk(0, Bytes{'o', 'N', 'D', 'A', 'T', 'A'});
    EXPECT_TRUE(c[1].audio.drain().empty());
    c.talk(0, Bytes{'o', 'N', 'D', 'A', 'T'});
    EXPECT_EQ(c[1].audio.drain().size(), 1u);

    // A station in state '-' neither sends nor receives.
    for (HWND w = GetWindow(mdiClient, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (StationRecord* r = stationRecordOf(w);
            r && std::string(r->addressText) == "127.30.4.2") {
            r->state = STATION_CLOSING;
        }
    }
    c.talk(0, audio(20, 1));
    c.talk(1, audio(20, 2));
    EXPECT_TRUE(c[1].audio.drain().empty());
    EXPECT_TRUE(c[0].audio.drain().empty());
}

TEST(Relay, StandbyBeaconAfterSevenBeaconTicksThenThreeAfterTheAudioStops) {
    ServerHarness server("127.30.0.5", CONFIG);
    ASSERT_TRUE(server.start());
    Conference c(server, "127.30.5.", {"A1", "(HID)"});
    const Bytes beacon = text("oNDATACONF V3.67:    <SB>\r\rA1\r");
    // Beacon ticks come every 1500 ms from the start; the 7th (10500 ms) sends the first.
    server.advance(9000); // six beacon ticks: the text is built
    EXPECT_EQ(server.lastStatus(), "<<STANDBY>> U=2");
    EXPECT_TRUE(c[0].audio.drain().empty());
    server.advance(1500);
    EXPECT_EQ(c[0].audio.drain(), (std::vector<Bytes>{beacon}));
    EXPECT_EQ(c[1].audio.drain(), (std::vector<Bytes>{beacon}));
    EXPECT_EQ(server.lastStatus(), "            >>STANDBY<<");
    server.advance(4500);
    EXPECT_EQ(c[0].audio.drain().size(), 1u);

    // Audio at 15 s + 200 ms: the next beacon follows the third beacon tick after it.
    server.advance(200);
    c.talk(0, audio(20, 1));
    c.drainAll();
    server.advance(1300 + 1500 + 1500 - 100); // just before the third beacon tick
    EXPECT_TRUE(c[0].audio.drain().empty());
    server.advance(100);
    EXPECT_EQ(c[0].audio.drain().size(), 1u);

    // A datagram from an unknown address postpones it the same way.
    testutil::UdpPeer stranger("127.30.5.99", 5198);
    server.advance(1500 + 1500);
    stranger.sendTo(server.address(), 5198, audio(5, 5));
    server.pump();
    server.advance(1500);
    EXPECT_TRUE(c[0].audio.drain().empty());
    server.advance(3000);
    EXPECT_EQ(c[0].audio.drain().size(), 1u);
}

TEST(Relay, FullConferenceOfLongNamesNeverSendsMoreThanTheBuffer) {
    ServerHarness server("127.30.0.6", std::string(CONFIG) + "maxusers=25\n");
    ASSERT_TRUE(server.start());
    std::vector<std::string> names;
    for (int i = 0; i < 26; ++i) {
        names.push_back(std::string(255, static_cast<char>('A' + i)) + (i == 3 ? "-" : ""));
    }
    names[3] = std::string(254, 'D') + "-";
    Conference c(server, "127.30.6.", names);
    ASSERT_EQ(stationCount, 26);
    c.talk(0, audio(144, 1));
    c.talk(0, audio(144, 2));
    auto got = c[0].audio.drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_LE(got[0].size(), 516u);
    EXPECT_EQ(got[0].back(), 0);
    EXPECT_EQ(std::string(got[0].begin(), got[0].begin() + 19), "oNDATACONF V3.67:\r\r");
    server.advance(6000);
    got = c[5].audio.drain();
    ASSERT_FALSE(got.empty());
    for (const Bytes& b : got) {
        EXPECT_LE(b.size(), 516u);
    }
}

TEST(Relay, QueueIsClearedWhenNotificationsPileUp) {
    ServerHarness server("127.30.0.7", CONFIG);
    ASSERT_TRUE(server.start());
    Conference c(server, "127.30.7.", {"A", "B"});
    // 200 datagrams wait in the socket before the server looks. The first receipt takes the
    // queue turn, which relays the next ones nested inside it; each of those receipts finds a
    // further notification waiting, so the 26th in a row drains the rest, and the first
    // datagram is relayed last, with nothing waiting any more.
    for (int i = 0; i < 200; ++i) {
        c[0].sendAudio(server.address(), audio(20, static_cast<uint8_t>(i)));
    }
    server.pump();
    auto statuses = server.statusLines();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "MSG QUEUE CLEARED"), 1);
    std::vector<Bytes> got;
    for (const Bytes& d : c[1].audio.drain()) {
        if (d.size() == 20) { // the list text of the tenth goes too
            got.push_back(d);
        }
    }
    ASSERT_EQ(got.size(), 27u);
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(got[i], audio(20, static_cast<uint8_t>(i + 1))) << i;
    }
    EXPECT_EQ(got[26], audio(20, 0));
    EXPECT_EQ(monitorCounters().queueClears, 1u);
    EXPECT_EQ(monitorCounters().drained, 173u);
    EXPECT_EQ(queueCount, 0);
    // Afterwards the relay works as before.
    c.talk(0, audio(30, 7));
    EXPECT_EQ(c[1].audio.drain().size(), 1u);
}

TEST(Relay, FloodGuardDrainIsBoundedAndTheControlPortIsServedDuringAFlood) {
    ServerHarness server("127.30.0.8", CONFIG);
    ASSERT_TRUE(server.start());
    Conference c(server, "127.30.8.", {"A", "B"});
    // A flood from another thread, for at most 5 s, until the control packet was served.
    std::atomic<bool> stop{false};
    std::atomic<long> sent{0};
    std::atomic<bool> floodOver{false};
    std::thread flood([&] {
        testutil::UdpPeer talker("127.30.8.1", 5198);
        Bytes d = audio(20, 1);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (uint32_t n = 0; !stop && std::chrono::steady_clock::now() < end; ++n) {
            std::memcpy(d.data(), &n, sizeof n); // each its own: a repeat is a loop
            talker.sendTo(server.address(), 5198, d);
            ++sent;
        }
        floodOver = true;
    });
    while (sent < 2000) {
        std::this_thread::yield();
    }
    c[1].sendControl(server.address(), testutil::namePacket("LIVE"));
    bool named = false;
    for (int round = 0; round < 20000 && !named; ++round) {
        platformDispatchPending(64);
        const StationRecord* b = testutil::recordAt(c[1].address());
        named = b != nullptr && b->name != nullptr && std::string(b->name) == "LIVE";
    }
    const bool floodWentOn = !floodOver;
    stop = true;
    flood.join();
    EXPECT_TRUE(named);
    EXPECT_TRUE(floodWentOn); // served while the flood went on, not after it
    const MonitorCounters& counters = monitorCounters();
    ASSERT_GE(counters.queueClears, 1u);
    EXPECT_LE(counters.drained, counters.queueClears * 1024u); // each drain reads at most 1024
}
