// What the monitor counts while the real server runs a conference: counters, station
// figures, talk spells in ticks and the event log's lines, placed at the server's steps.
// Server on 127.111.0.x, stations on 127.111.N.M.
#include "base/app_state.h"
#include "monitor/event_log.h"
#include "monitor/monitor.h"
#include "monitor/monitor_panel.h"
#include "monitor/monitor_view.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using testutil::recordAt;
using testutil::ServerHarness;
using testutil::TestStation;
using Bytes = std::vector<uint8_t>;

namespace {

// 2026-12-09T12:00:00Z
constexpr int64_t WALL_START_MS = 1796817600000;
int64_t fixedWallClock() {
    return WALL_START_MS;
}

std::vector<std::string> eventLines;
void captureLine(const char* line, size_t length) {
    eventLines.emplace_back(line, length);
}

std::string config(int maxusers) {
    return "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\nmaxusers=" +
           std::to_string(maxusers) + "\n";
}

uint32_t addressOf(const std::string& dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return a.s_addr;
}

// The audio datagrams among what a station received (the station list texts left out).
size_t audioCount(TestStation& station) {
    size_t n = 0;
    for (const Bytes& d : station.audio.drain()) {
        n += d.size() == 144 && d[4] == 0x55 ? 1 : 0;
    }
    return n;
}

class MonitorScenario : public ::testing::Test {
  protected:
    void startServer(const std::string& address, int maxusers) {
        server = std::make_unique<ServerHarness>(address, config(maxusers));
        monitorSetWallClock(fixedWallClock);
        eventLines.clear();
        eventLogSetLineSink(captureLine);
        ASSERT_TRUE(server->start());
    }
    // A station joins and names itself.
    TestStation& join(const std::string& address, const std::string& name) {
        stations.push_back(std::make_unique<TestStation>(address));
        stations.back()->sendControl(server->address(), testutil::namePacket(name));
        server->pump();
        return *stations.back();
    }
    // Sends one audio datagram that no other of the test equals (the loop guard would drop
    // a repeat): a count in its first four bytes, 0x55 after.
    void talk(TestStation& station, size_t size) {
        Bytes datagram(size, 0x55);
        ++sent;
        for (size_t i = 0; i < 4 && i < size; ++i) {
            datagram[i] = static_cast<uint8_t>(sent >> (8 * i));
        }
        station.sendAudio(server->address(), datagram);
        server->pump();
    }
    uint32_t sent = 0;
    void TearDown() override {
        monitorSetWallClock(nullptr);
        eventLogSetLineSink(nullptr);
    }
    std::unique_ptr<ServerHarness> server;
    std::vector<std::unique_ptr<TestStation>> stations;
};

} // namespace

TEST_F(MonitorScenario, CountersAndStationFiguresFollowWhatTheConferenceDid) {
    startServer("127.111.0.1", 2); // stationCount above 2 refuses: three get in
    TestStation& a = join("127.111.1.1", "ALPHA");
    TestStation& b = join("127.111.1.2", "BRAVO");
    TestStation& c = join("127.111.1.3", "CHARLIE");
    TestStation& d = join("127.111.1.4", "DELTA");
    EXPECT_EQ(stationCount, 3);
    EXPECT_EQ(monitorCounters().joins, 3u);
    EXPECT_EQ(monitorCounters().refusals, 1u);
    EXPECT_EQ(recordAt(d.address()), nullptr);
    for (auto& s : stations) {
        s->audio.drain();
        s->control.drain();
    }

    for (int i = 0; i < 40; ++i) {
        talk(a, 144);
    }
    EXPECT_EQ(monitorCounters().relayed, 40u);
    EXPECT_EQ(monitorCounters().copiesSent, 80u);
    EXPECT_EQ(audioCount(b), 40u);
    EXPECT_EQ(audioCount(c), 40u);
    EXPECT_EQ(audioCount(a), 0u);

    // ALPHA holds the lock: BRAVO's long datagram is firewalled and reaches nobody.
    talk(b, 144);
    EXPECT_EQ(monitorCounters().firewalled, 1u);
    EXPECT_EQ(monitorCounters().relayed, 40u);
    EXPECT_EQ(audioCount(a), 0u);
    EXPECT_EQ(audioCount(c), 0u);
    const MonitorStation* fa = testutil::monitorStationOf(a.address());
    const MonitorStation* fb = testutil::monitorStationOf(b.address());
    ASSERT_NE(fa, nullptr);
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(fa->relayed, 40u);
    EXPECT_EQ(fa->firewalled, 0u);
    EXPECT_TRUE(fa->talking);
    EXPECT_EQ(fb->relayed, 0u);
    EXPECT_EQ(fb->firewalled, 1u);
    EXPECT_FALSE(fb->talking);
    EXPECT_EQ(fa->joinedAtMs, WALL_START_MS);

    // Unregistered and text datagrams, and a control packet too short to read.
    TestStation stranger("127.111.1.9");
    stranger.sendAudio(server->address(), Bytes(144, 1));
    server->pump();
    Bytes textDatagram = testutil::bytesOf("oNDATA\rhello");
    c.sendAudio(server->address(), textDatagram);
    server->pump();
    stranger.sendControl(server->address(), Bytes{0xC0, 0xC9});
    server->pump();
    EXPECT_EQ(monitorCounters().unregistered, 1u);
    EXPECT_EQ(monitorCounters().textDatagrams, 1u);
    EXPECT_EQ(monitorCounters().controlErrors, 1u);
    EXPECT_EQ(monitorCounters().relayed, 40u);

    c.sendControl(server->address(), testutil::receiverReportWithBye());
    server->pump();
    EXPECT_EQ(monitorCounters().byes, 1u);
    EXPECT_EQ(stationCount, 2);

    // ALPHA and BRAVO were last heard now: both time out on the 121st tick, not before.
    server->tick(120);
    EXPECT_EQ(monitorCounters().timeouts, 0u);
    EXPECT_EQ(stationCount, 2);
    EXPECT_EQ(monitorCounters().keepalives, 12u); // every 20 ticks, two stations
    server->tick(1);
    EXPECT_EQ(monitorCounters().timeouts, 2u);
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(stationSet.count, 0);
    EXPECT_GT(monitorCounters().beacons, 0u);

    std::vector<std::string> expected = {
        "event start",
        "event join - 127.111.1.1",
        "event name ALPHA 127.111.1.1",
        "event join - 127.111.1.2",
        "event name BRAVO 127.111.1.2",
        "event join - 127.111.1.3",
        "event name CHARLIE 127.111.1.3",
        "event refuse - 127.111.1.4",
        "event bye CHARLIE 127.111.1.3",
        "event talk ALPHA 127.111.1.1 0.0s",
        "event timeout BRAVO 127.111.1.2", // window order: the newer station first
        "event timeout ALPHA 127.111.1.1",
    };
    EXPECT_EQ(eventLines, expected);
}

TEST_F(MonitorScenario, ATalkSpellRunsFromTheFirstToTheLastRelayedDatagram) {
    startServer("127.111.0.2", 8);
    TestStation& a = join("127.111.2.1", "ALPHA");
    TestStation& b = join("127.111.2.2", "BR\x01VO");
    server->tick(3);
    int64_t t0 = WALL_START_MS + 3000;

    // A 3-second over: a datagram every 250 ms from 0 to 3.0 s. The lock's hang time after
    // the last one (until the tick that frees it) is no part of the spell.
    for (int quarter = 0; quarter <= 12; ++quarter) {
        talk(b, 144);
        ASSERT_EQ(monitorSpellCount(), 1);
        EXPECT_TRUE(monitorSpell(0)->open);
        EXPECT_EQ(monitorSpell(0)->durationMs, quarter * 250);
        if (quarter < 12) {
            server->advance(250);
        }
    }
    talk(a, 144); // firewalled: ALPHA's datagrams are no part of BRAVO's spell
    server->tick();
    EXPECT_TRUE(monitorSpell(0)->open);
    EXPECT_EQ(monitorSpell(0)->durationMs, 3000);
    EXPECT_TRUE(testutil::monitorStationOf(b.address())->talking);
    server->tick(2);
    const MonitorSpell* spell = monitorSpell(0);
    EXPECT_FALSE(spell->open);
    EXPECT_EQ(spell->startedAtMs, t0);
    EXPECT_EQ(spell->durationMs, 3000);
    EXPECT_STREQ(spell->name, "BR\x01VO");
    EXPECT_EQ(spell->address, addressOf(b.address()));
    EXPECT_FALSE(testutil::monitorStationOf(b.address())->talking);
    EXPECT_EQ(eventLines.back(), "event talk BR\\x01VO 127.111.2.2 3.0s");

    // The next spell is ALPHA's, newest first; a short datagram takes no lock.
    talk(a, 50);
    EXPECT_EQ(monitorSpellCount(), 1);
    talk(a, 144);
    ASSERT_EQ(monitorSpellCount(), 2);
    EXPECT_EQ(monitorSpell(0)->address, addressOf(a.address()));
    EXPECT_EQ(monitorSpell(0)->startedAtMs, t0 + 6000);
    EXPECT_EQ(monitorSpell(1)->address, addressOf(b.address()));
    EXPECT_EQ(monitorSpell(2), nullptr);
}

TEST_F(MonitorScenario, TheRingKeepsTheLastFiftySpells) {
    startServer("127.111.0.3", 8);
    TestStation& a = join("127.111.3.1", "ALPHA");
    for (int i = 0; i < 53; ++i) {
        talk(a, 144);
        if (i % 2 == 1) { // spells of one datagram and of two a tick apart, in turn
            server->tick();
            talk(a, 144);
        }
        server->tick(2);
    }
    ASSERT_EQ(monitorSpellCount(), MONITOR_MAX_SPELLS);
    // Newest first: the 53rd spell (i = 52, one datagram) is index 0, the 4th (i = 3) is
    // last.
    EXPECT_EQ(monitorSpell(0)->durationMs, 0);
    EXPECT_EQ(monitorSpell(1)->durationMs, 1000);
    int64_t started = WALL_START_MS;
    for (int i = 0; i < 3; ++i) {
        started += (2 + i % 2) * 1000;
    }
    EXPECT_EQ(monitorSpell(49)->startedAtMs, started);
    EXPECT_EQ(monitorSpell(49)->durationMs, 1000);
    EXPECT_EQ(monitorSpell(50), nullptr);
}

// A known state: ALPHA (a name with a byte that is escaped) talks three datagrams to an
// unnamed station, then one tick passes (its spell so far: 0.0 s, all three at once).
class MonitorDocuments : public MonitorScenario {
  protected:
    void SetUp() override {
        startServer("127.111.0.4", 8);
        TestStation& a = join("127.111.4.1", "AL\x7FPHA");
        stations.push_back(std::make_unique<TestStation>("127.111.4.2"));
        stations.back()->sendControl(server->address(), testutil::emptyReceiverReport());
        server->pump();
        for (int i = 0; i < 3; ++i) {
            talk(a, 144);
        }
        server->tick();
    }
};

TEST_F(MonitorDocuments, StatusJsonIsExactlyTheState) {
    std::string json;
    ASSERT_TRUE(monitorStatusJson(&json));
    const std::string t0 = "\"2026-12-09T12:00:00.000Z\"";
    std::string expected =
        "{\"server\":{\"node\":\"*KENT*\",\"description\":\"TEST\",\"version\":\"" +
        std::string(CONFSERVER_VERSION) + "\",\"bind\":\"127.111.0.4\",\"started_at\":" + t0 +
        ",\"uptime_s\":1,\"capacity\":9,\"station_count\":2,\"talker\":\"127.111.4.1\","
        "\"directory_index\":1},"
        "\"stations\":[{\"name\":null,\"address\":\"127.111.4.2\",\"state\":\"active\","
        "\"joined_at\":" +
        t0 + ",\"last_heard_at\":" + t0 +
        ",\"idle_s\":1,\"talking\":false,\"relayed\":0,\"firewalled\":0,\"muted\":0,"
        "\"rate_limited\":0,\"link\":false,\"link_host\":null},"
        "{\"name\":\"AL\\\\x7FPHA\",\"address\":\"127.111.4.1\",\"state\":\"active\","
        "\"joined_at\":" +
        t0 + ",\"last_heard_at\":" + t0 +
        ",\"idle_s\":1,\"talking\":true,\"relayed\":3,\"firewalled\":0,\"muted\":0,"
        "\"rate_limited\":0,\"link\":false,\"link_host\":null}],\"links\":[],"
        "\"counters\":{\"relayed\":3,\"copies_sent\":3,\"firewalled\":0,\"unregistered\":0,"
        "\"text_datagrams\":0,\"queue_clears\":0,\"drained\":0,\"control_errors\":0,"
        "\"joins\":2,\"refusals\":0,\"denials\":0,\"timeouts\":0,\"byes\":0,\"beacons\":0,"
        "\"keepalives\":2,\"loops\":0,\"muted\":0,\"rate_limited\":0,"
        "\"refusals_suppressed\":0},"
        "\"talk_spells\":[{\"name\":\"AL\\\\x7FPHA\",\"address\":\"127.111.4.1\","
        "\"started_at\":" +
        t0 + ",\"duration_s\":0.0,\"open\":true}]}";
    EXPECT_EQ(json, expected);
}

TEST_F(MonitorDocuments, MetricsAreExactlyTheState) {
    std::string text;
    monitorMetricsText(&text);
    auto gauge = [](const std::string& name, const std::string& help, int value) {
        return "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n" + name + " " +
               std::to_string(value) + "\n";
    };
    auto counter = [](const std::string& name, const std::string& help, int value) {
        return "# HELP confserver_" + name + "_total " + help + "\n# TYPE confserver_" + name +
               "_total counter\nconfserver_" + name + "_total " + std::to_string(value) + "\n";
    };
    std::string expected =
        gauge("confserver_stations", "Stations in the conference.", 2) +
        gauge("confserver_capacity", "Most stations admitted at once.", 9) +
        gauge("confserver_talking", "1 while a station holds the talker lock.", 1) +
        gauge("confserver_up_seconds", "Seconds since the server started.", 1) +
        gauge("confserver_links", "Links to other conference servers configured.", 0) +
        gauge("confserver_links_up", "Links whose peer is a station now.", 0) +
        counter("relayed", "Audio datagrams relayed.", 3) +
        counter("copies_sent", "Copies of relayed datagrams sent.", 3) +
        counter("firewalled", "Datagrams dropped by the talker lock.", 0) +
        counter("unregistered", "Audio datagrams from addresses that are no station.", 0) +
        counter("text_datagrams", "Text datagrams from stations (not relayed).", 0) +
        counter("queue_clears", "Times the flood guard threw the waiting audio away.", 0) +
        counter("drained", "Datagrams thrown away by the flood guard.", 0) +
        counter("control_errors", "Control packets too short to read.", 0) +
        counter("joins", "Stations admitted.", 2) +
        counter("refusals", "Stations refused because the conference was full.", 0) +
        counter("denials", "Stations denied by the access rules.", 0) +
        counter("timeouts", "Stations closed by the inactivity timeout.", 0) +
        counter("byes", "Stations closed by their BYE.", 0) +
        counter("beacons", "Standby beacons sent.", 0) +
        counter("keepalives", "Keep-alive packets sent.", 2) +
        counter("loops", "Datagrams not relayed: identical to one relayed in the last two ticks.",
                0) +
        counter("muted", "Datagrams not relayed: their station was over the talk limit.", 0) +
        counter("rate_limited", "Datagrams not relayed: beyond their station's rate.", 0) +
        counter("refusals_suppressed",
                "Refused control packets that got no reply (held or over 20 a tick).", 0);
    EXPECT_EQ(text, expected);
}

TEST_F(MonitorDocuments, PanelListsStationsWithTheTalkerMarkedThenTheSpells) {
    setenv("TZ", "UTC", 1);
    tzset();
    std::vector<std::string> lines;
    for (int i = 0; i < monitorPanelLineCount(); ++i) {
        char line[120];
        size_t n = monitorPanelLine(i, line, sizeof line);
        EXPECT_EQ(n, std::strlen(line));
        lines.emplace_back(line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "  -          127.111.4.2     idle   1s relayed 0",
                         "* AL\\x7FPHA  127.111.4.1     idle   1s relayed 3",
                         "Last talk spells",
                         "  12:00:00 AL\\x7FPHA  127.111.4.1     0.0s talking",
                     }));
    char line[120] = "untouched";
    EXPECT_EQ(monitorPanelLine(4, line, sizeof line), 0u);
    EXPECT_STREQ(line, "");
    char small[8];
    EXPECT_EQ(monitorPanelLine(1, small, sizeof small), 7u);
    EXPECT_STREQ(small, "* AL\\x7");

    // An event-stream message carries the same escaped name; a status message its text.
    MonitorEvent event{};
    event.kind = MonitorEventKind::Talk;
    event.atMs = WALL_START_MS + 2500;
    event.hasStation = true;
    event.named = true;
    std::snprintf(event.name, sizeof event.name, "AL\\x7FPHA");
    event.address = addressOf("127.111.4.1");
    event.durationMs = 12500;
    std::string message;
    ASSERT_TRUE(monitorEventMessage(event, &message));
    EXPECT_EQ(message, "data: {\"event\":\"talk\",\"at\":\"2026-12-09T12:00:02.500Z\",\"name\":"
                       "\"AL\\\\x7FPHA\",\"address\":\"127.111.4.1\",\"duration_s\":12.5}\n\n");
    ASSERT_TRUE(monitorStatusMessage("A\nB", WALL_START_MS, &message));
    EXPECT_EQ(message, "data: {\"event\":\"status\",\"at\":\"2026-12-09T12:00:00.000Z\","
                       "\"text\":\"A\\\\x0AB\"}\n\n");
}
