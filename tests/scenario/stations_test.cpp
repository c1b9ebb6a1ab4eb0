// Stations join, stay and leave: admission, naming, keep-alive, inactivity, BYE and the
// hold on a closed address, refusal when full. Server on 127.20.0.x, stations 127.20.N.M.
#include "base/app_state.h"
#include "control/control_handler.h"
#include "control/rtcp.h"
#include "monitor/monitor.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

using testutil::recordAt;
using testutil::ServerHarness;
using testutil::stationWindows;
using testutil::TestStation;

namespace {

const char* const CONFIG = "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n";

// The keep-alive compound for NAME "*KENT*", byte for byte.
const std::vector<uint8_t> KEEPALIVE_KENT = {
    0xC0, 0xC9, 0x00, 0x01, 0,   0,   0,   0,   0xE1, 0xCA, 0x00, 0x0C, 0,   0,   0,
    0,    1,    8,    'C',  'A', 'L', 'L', 'S', 'I',  'G',  'N',  2,    6,   '*', 'K',
    'E',  'N',  'T',  '*',  3,   8,   'C', 'A', 'L',  'L',  'S',  'I',  'G', 'N', 4,
    5,    '0',  '8',  ':',  '3', '0', 0,   0,   0,    0,    0,    0,    0,   0,   0x04};

const std::vector<uint8_t> BYE_TERM = {0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0,   0xE1, 0xCB,
                                       0x00, 0x04, 0,    0,    0, 0, 4, 'T', 'e',  'r',
                                       'm',  0,    0,    0,    0, 0, 0, 4};

std::string nameAt(const std::string& address) {
    StationRecord* r = recordAt(address);
    if (r == nullptr) {
        return "<no station>";
    }
    return r->name ? std::string(r->name) : "<no name>";
}

} // namespace

TEST(Stations, ShortDatagramIsAnErrorAndFiveBytesAdmitWithKeepAlivesEveryTwentyTicks) {
    ServerHarness server("127.20.0.1", CONFIG);
    ASSERT_TRUE(server.start());
    TestStation a("127.20.1.1");
    a.sendControl(server.address(), {1, 2, 3, 4});
    server.pump();
    EXPECT_EQ(server.lastStatus(), "CNTL PKT ERROR");
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(recordAt(a.address()), nullptr);

    a.sendControl(server.address(), {1, 2, 3, 4, 5});
    server.pump();
    EXPECT_EQ(stationCount, 1);
    StationRecord* r = recordAt(a.address());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->state, STATION_ACTIVE);
    EXPECT_STREQ(r->addressText, "127.20.1.1");
    EXPECT_EQ(r->name, nullptr);
    EXPECT_TRUE(a.control.drain().empty()); // nothing is sent on admission

    std::vector<int> keepAliveTicks;
    for (int t = 1; t <= 45; ++t) {
        server.tick();
        for (const auto& d : a.control.drain()) {
            EXPECT_EQ(d, KEEPALIVE_KENT);
            keepAliveTicks.push_back(t);
        }
        a.sendControl(server.address(), testutil::emptyReceiverReport()); // stays alive
        server.pump();
    }
    EXPECT_EQ(keepAliveTicks, (std::vector<int>{1, 21, 41}));
    // Its audio port heard only standby beacons, which do not list a station without a name.
    auto heard = a.audio.drain();
    EXPECT_FALSE(heard.empty());
    for (const auto& d : heard) {
        EXPECT_EQ(std::string(d.begin(), d.end()),
                  std::string("oNDATACONF V3.67:    <SB>\r\r\0", 28));
    }
}

TEST(Stations, SilentStationLeavesOnThe121stTickAndMayComeBackAtOnce) {
    ServerHarness server("127.20.0.2", CONFIG);
    ASSERT_TRUE(server.start());
    TestStation a("127.20.2.1");
    a.sendControl(server.address(), testutil::emptyReceiverReport());
    server.pump();
    ASSERT_EQ(stationCount, 1);
    server.tick(120);
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(a.control.drain().size(), 6u); // ticks 1, 21, ..., 101
    server.tick();
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(stationWindows(), 0);
    EXPECT_EQ(server.lastStatus(), "***INACTIVITY TIMEOUT***");
    EXPECT_TRUE(a.control.drain().empty()); // no BYE to a timed-out station
    a.sendControl(server.address(), testutil::emptyReceiverReport());
    server.pump();
    EXPECT_EQ(stationCount, 1);
}

TEST(Stations, ByeClosesAndHoldsTheAddressOffForTenTicks) {
    ServerHarness server("127.20.0.3", CONFIG);
    ASSERT_TRUE(server.start());
    TestStation a("127.20.3.1");
    a.sendControl(server.address(), testutil::namePacket("A1"));
    server.pump();
    ASSERT_EQ(nameAt(a.address()), "A1");
    a.sendControl(server.address(), testutil::receiverReportWithBye());
    server.pump();
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(server.lastStatus(), "CLOSING...");
    EXPECT_EQ(closedHoldTicks, 10);
    for (int t = 1; t <= 9; ++t) {
        server.tick();
        a.sendControl(server.address(), testutil::emptyReceiverReport());
        server.pump();
        EXPECT_EQ(stationCount, 0) << "tick " << t;
    }
    server.tick();
    a.sendControl(server.address(), testutil::emptyReceiverReport());
    server.pump();
    EXPECT_EQ(stationCount, 1);

    // RR followed by BYE from a new address admits the station and closes it at once.
    TestStation b("127.20.3.2");
    b.sendControl(server.address(), testutil::receiverReportWithBye());
    server.pump();
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(recordAt(b.address()), nullptr);
}

TEST(Stations, FullConferenceRefusesWithBusyTextAndByeOncePerTenTicks) {
    ServerHarness server("127.20.0.4", CONFIG); // capacity 8
    ASSERT_TRUE(server.start());
    std::vector<std::unique_ptr<TestStation>> stations;
    for (int i = 1; i <= 10; ++i) {
        stations.push_back(std::make_unique<TestStation>("127.20.4." + std::to_string(i)));
        stations.back()->sendControl(server.address(), testutil::emptyReceiverReport());
        server.pump();
    }
    EXPECT_EQ(stationCount, 9);
    EXPECT_EQ(stationWindows(), 9);
    TestStation& tenth = *stations.back();
    EXPECT_EQ(recordAt(tenth.address()), nullptr);
    for (int round = 0; round < 3; ++round) {
        if (round > 0) {
            // Within ten ticks of its refusal it is told nothing; then it is told again.
            tenth.sendControl(server.address(), testutil::emptyReceiverReport());
            server.pump();
            EXPECT_TRUE(tenth.audio.drain().empty());
            EXPECT_TRUE(tenth.control.drain().empty());
            server.tick(10);
            stations[0]->control.drain();
            tenth.sendControl(server.address(), testutil::emptyReceiverReport());
            server.pump();
        }
        auto busy = tenth.audio.drain();
        ASSERT_EQ(busy.size(), 1u);
        std::string text(busy[0].begin(), busy[0].end());
        EXPECT_EQ(text, std::string("oNDATA***SERVER BUSY - TRY LATER***\r\r\0", 38));
        auto bye = tenth.control.drain();
        ASSERT_EQ(bye.size(), 1u);
        EXPECT_EQ(bye[0], BYE_TERM);
    }
    EXPECT_EQ(stationCount, 9);
    // The admitted ones heard nothing of it.
    for (const auto& d : stations[0]->audio.drain()) {
        EXPECT_EQ(std::string(d.begin(), d.begin() + 10), "oNDATACONF"); // beacons only
    }
}

TEST(Stations, CapacityLimitsAsReadAtStartUp) {
    struct Row {
        const char* maxusers;
        int admitted;
    } rows[] = {{"100", 26}, {"0", 1}};
    for (const Row& row : rows) {
        ServerHarness server("127.20.0.5", std::string(CONFIG) + "maxusers=" + row.maxusers + "\n");
        ASSERT_TRUE(server.start());
        std::vector<std::unique_ptr<TestStation>> stations;
        for (int i = 1; i <= row.admitted + 1; ++i) {
            stations.push_back(std::make_unique<TestStation>("127.20.5." + std::to_string(i)));
            stations.back()->sendControl(server.address(), testutil::emptyReceiverReport());
            server.pump();
        }
        EXPECT_EQ(stationCount, row.admitted) << row.maxusers;
        EXPECT_EQ(stations.back()->audio.drain().size(), 1u) << row.maxusers;
        server.close();
    }
}

TEST(Stations, NamingFromSourceDescriptionItems) {
    ServerHarness server("127.20.0.6", CONFIG);
    ASSERT_TRUE(server.start());
    TestStation a("127.20.6.1");
    auto send = [&](const std::vector<uint8_t>& p) {
        a.sendControl(server.address(), p);
        server.pump();
    };
    send(testutil::receiverReportWithSdes({{1, "CN"}}));
    EXPECT_EQ(nameAt(a.address()), "CN");
    send(testutil::receiverReportWithSdes({{1, "CN"}, {3, "EM"}}));
    EXPECT_EQ(nameAt(a.address()), "EM");
    send(testutil::receiverReportWithSdes({{6, "TOOL"}, {3, "EM"}, {2, "NM"}, {1, "CN"}}));
    EXPECT_EQ(nameAt(a.address()), "NM");
    send(testutil::receiverReportWithSdes({{2, "FIRST"}, {2, "SECOND"}}));
    EXPECT_EQ(nameAt(a.address()), "FIRST");

    // The same SDES again keeps the very same name text.
    const char* before = recordAt(a.address())->name;
    send(testutil::receiverReportWithSdes({{2, "FIRST"}}));
    EXPECT_EQ(recordAt(a.address())->name, before);

    // TOOL alone gives the empty name; PHONE alone changes nothing.
    send(testutil::receiverReportWithSdes({{6, "TOOL"}}));
    EXPECT_EQ(nameAt(a.address()), "");
    send(testutil::receiverReportWithSdes({{4, "PHONE"}}));
    EXPECT_EQ(nameAt(a.address()), "");

    // An APP packet named SFtc anywhere in the compound: no change.
    auto withApp = testutil::receiverReportWithSdes({{2, "APPNAME"}});
    std::vector<uint8_t> app = {0xC0, 0xCC, 0x00, 0x02, 0, 0, 0, 0, 'S', 'F', 't', 'c'};
    withApp.insert(withApp.end(), app.begin(), app.end());
    send(withApp);
    EXPECT_EQ(nameAt(a.address()), "");
    // Another APP name does not stop the naming.
    withApp[withApp.size() - 1] = 'x';
    send(withApp);
    EXPECT_EQ(nameAt(a.address()), "APPNAME");

    // Only the first chunk of the first SDES packet with chunks counts.
    std::vector<uint8_t> twoChunks = {
        0xC0, 0xC9, 0x00, 0x01, 0, 0, 0,   0,                               // RR
        0xC0, 0xCA, 0x00, 0x01, 0, 0, 0,   0,                               // SDES without chunks
        0xC2, 0xCA, 0x00, 0x06, 0, 0, 0,   1,   4, 2, 'P', 'H', 0, 0, 0, 0, // chunk 1: PHONE
        0,    0,    0,    2,    2, 2, 'N', '2', 0, 0, 0,   0};              // chunk 2: NAME
    send(twoChunks);
    EXPECT_EQ(nameAt(a.address()), "APPNAME");

    // Not version 3, or not a valid compound: kept alive, nothing else.
    recordAt(a.address())->idleTicks = 50;
    send({0x40, 0xC9, 0x00, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(recordAt(a.address())->idleTicks, 0);
    recordAt(a.address())->idleTicks = 50;
    send({0x10, 1, 2, 3, 4, 5});
    EXPECT_EQ(recordAt(a.address())->idleTicks, 0);
    auto broken = testutil::namePacket("BROKEN");
    broken.push_back(0);
    send(broken);
    EXPECT_EQ(nameAt(a.address()), "APPNAME");

    // A 255-character name is kept whole.
    std::string longName(255, 'L');
    send(testutil::namePacket(longName));
    EXPECT_EQ(nameAt(a.address()), longName);
}

TEST(Stations, OneAddressIsOneStationWhateverItsSourcePorts) {
    ServerHarness server("127.20.0.7", CONFIG);
    ASSERT_TRUE(server.start());
    TestStation a("127.20.7.1");
    testutil::UdpPeer other("127.20.7.1", 40000);
    a.sendControl(server.address(), testutil::namePacket("ONE"));
    other.sendTo(server.address(), 5199, testutil::namePacket("TWO"));
    server.pump();
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(nameAt(a.address()), "TWO");
    server.tick();
    // Replies go to ports 5198/5199 of the address, not to the source port used.
    EXPECT_EQ(a.control.drain().size(), 1u);
    EXPECT_TRUE(other.drain().empty());
}

TEST(Stations, UnconnectedModeStillReachesTheControlPort) {
    ServerHarness server("127.20.0.8", std::string(CONFIG) + "[help]\nc=1\n");
    ASSERT_TRUE(server.start());
    TestStation a("127.20.8.1");
    a.sendControl(server.address(), testutil::emptyReceiverReport());
    server.pump();
    ASSERT_EQ(stationCount, 1);
    server.tick();
    auto got = a.control.drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], KEEPALIVE_KENT);
}

TEST(Stations, ClosingTheServerReleasesEveryStationOnce) {
    ServerHarness server("127.20.0.9", CONFIG);
    ASSERT_TRUE(server.start());
    std::vector<std::unique_ptr<TestStation>> stations;
    for (int i = 1; i <= 3; ++i) {
        stations.push_back(std::make_unique<TestStation>("127.20.9." + std::to_string(i)));
        stations.back()->sendControl(server.address(),
                                     testutil::namePacket("S" + std::to_string(i)));
    }
    server.pump();
    ASSERT_EQ(stationCount, 3);
    server.close();
    EXPECT_EQ(stationCount, 0);
    EXPECT_TRUE(platformQuitPosted());
    for (auto& s : stations) {
        EXPECT_TRUE(s->control.drain().empty()); // nothing is sent by the teardown
    }
}

TEST(Stations, AnyDatagramSizeAndContentIsHandledSafely) {
    ServerHarness server("127.20.0.10", CONFIG);
    ASSERT_TRUE(server.start());
    testutil::UdpPeer peer("127.20.10.1", 5199);
    std::mt19937 random(1234);
    std::vector<size_t> sizes = {0, 1, 4, 5, 7, 8, 255, 3623, 3624, 3625, 8000, 65507};
    for (size_t n = 0; n < 64; ++n) {
        sizes.push_back(n);
    }
    for (size_t size : sizes) {
        std::vector<uint8_t> bytes(size);
        for (auto& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        if (size >= 1) {
            bytes[0] = static_cast<uint8_t>(0xC0 | (bytes[0] & 0x1F));
        }
        // A different text first, so that an equal status text still shows as a change.
        SetWindowTextA(mainWindow, "-");
        server.clearStatus();
        peer.sendTo(server.address(), 5199, bytes);
        server.pump();
        if (size < 5 || size > 3624) {
            EXPECT_EQ(server.lastStatus(), "CNTL PKT ERROR") << size;
        } else {
            EXPECT_EQ(server.lastStatus(), "") << size;
        }
    }
    EXPECT_EQ(stationCount, 1);
}

namespace {

// The station window for an address and port as a walk over the station windows in window
// order finds it: what findStation must answer.
HWND walkedStationWindow(const std::string& address, uint16_t port) {
    in_addr a{};
    inet_pton(AF_INET, address.c_str(), &a);
    for (HWND c : testutil::walkStationWindows(true)) {
        const StationRecord* r = stationRecordOf(c);
        if (r->source.sin_addr.s_addr == a.s_addr && r->port == port) {
            return c;
        }
    }
    return nullptr;
}

// The station set against the walk over the MDI client's children: the same windows in the
// same order, each entry's record the one its window holds, its packed address the record's;
// and the monitor's table, told of every change, holds the same stations at the same index
// (address, name, closing, idle count).
void expectSetIsTheWalk(const std::string& when) {
    std::vector<HWND> walked = testutil::walkStationWindows(true);
    std::vector<HWND> set(stationSet.windows, stationSet.windows + stationSet.count);
    ASSERT_EQ(set, walked) << when;
    ASSERT_EQ(monitorStationCount(), stationSet.count) << when;
    for (int i = 0; i < stationSet.count; ++i) {
        const StationRecord* record = stationSet.records[i];
        ASSERT_EQ(record, stationRecordOf(stationSet.windows[i])) << when;
        ASSERT_EQ(stationSet.addresses[i], record->source.sin_addr.s_addr) << when;
        const MonitorStation* shown = monitorStationAt(i);
        ASSERT_EQ(shown->address, record->source.sin_addr.s_addr) << when;
        ASSERT_EQ(shown->named, record->name != nullptr) << when;
        ASSERT_STREQ(shown->name, record->name != nullptr ? record->name : "") << when;
        ASSERT_EQ(shown->closing, record->state == STATION_CLOSING) << when;
        ASSERT_EQ(shown->idleTicks, record->idleTicks) << when;
    }
    ASSERT_EQ(stationSet.count, stationCount) << when;
}

// Every address of the block (joined or not) at ports 5198 and 5199: the lookup must give
// what the walk gives. Returns how many were found.
int checkLookups(const std::vector<std::string>& addresses) {
    int found = 0;
    for (const std::string& address : addresses) {
        for (uint16_t port : {uint16_t{5198}, uint16_t{5199}}) {
            sockaddr_in key{};
            key.sin_family = AF_INET;
            key.sin_port = htons(port);
            inet_pton(AF_INET, address.c_str(), &key.sin_addr);
            const int at = findStation(&key);
            HWND window = at >= 0 ? stationSet.windows[at] : nullptr;
            EXPECT_EQ(window, walkedStationWindow(address, port)) << address << ":" << port;
            if (window != nullptr) {
                EXPECT_STREQ(stationSet.records[at]->addressText, address.c_str());
                ++found;
            }
        }
    }
    return found;
}

// One test station per address, in the order given.
std::vector<std::unique_ptr<TestStation>> stationsAt(const std::vector<std::string>& addresses) {
    std::vector<std::unique_ptr<TestStation>> stations;
    for (const std::string& address : addresses) {
        stations.push_back(std::make_unique<TestStation>(address));
    }
    return stations;
}

} // namespace

TEST(Stations, LookupByAddressFollowsJoinsLeavesAndRejoins) {
    ServerHarness server("127.20.0.11", std::string(CONFIG) + "maxusers=25\n");
    ASSERT_TRUE(server.start());
    std::vector<std::string> addresses;
    for (int i = 1; i <= 26; ++i) {
        addresses.push_back("127.20.11." + std::to_string(i));
    }
    std::vector<std::unique_ptr<TestStation>> stations = stationsAt(addresses);
    addresses.push_back("127.20.11.200"); // never joins
    auto join = [&](int i) {
        stations[i]->sendControl(server.address(), testutil::namePacket("S" + std::to_string(i)));
        server.pump();
    };
    auto leave = [&](int i) {
        stations[i]->sendControl(server.address(), testutil::receiverReportWithBye());
        server.pump();
    };
    EXPECT_EQ(checkLookups(addresses), 0);
    for (int i = 0; i < 26; ++i) {
        join(i);
    }
    ASSERT_EQ(stationCount, 26);
    EXPECT_EQ(checkLookups(addresses), 26); // only at port 5198
    HWND firstWindow = walkedStationWindow(addresses[0], 5198);

    // Leaves in an order that empties slots inside probe runs, each checked at once.
    int present = 26;
    for (int i : {3, 0, 25, 12, 7, 13, 14, 1}) {
        leave(i);
        --present;
        ASSERT_EQ(stationCount, present);
        EXPECT_EQ(checkLookups(addresses), present) << "after station " << i << " left";
    }
    // The last one to leave is held off for ten ticks; the others come back at once, the
    // first of them from another source port (it is still one station, at port 5198).
    testutil::UdpPeer otherPort(addresses[0], 40001);
    otherPort.sendTo(server.address(), 5199, testutil::namePacket("AGAIN"));
    server.pump();
    for (int i : {3, 25, 12, 7, 13, 14}) {
        join(i);
    }
    present += 7;
    ASSERT_EQ(stationCount, present);
    EXPECT_EQ(checkLookups(addresses), present);
    HWND again = walkedStationWindow(addresses[0], 5198);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, firstWindow);
    EXPECT_EQ(nameAt(addresses[0]), "AGAIN");
    EXPECT_EQ(recordAt(addresses[1]), nullptr);
    server.tick(10);
    join(1);
    ++present;
    EXPECT_EQ(checkLookups(addresses), present);

    // Audio of a station that stayed and of one that rejoined reaches every other station
    // once: the relay finds its sender through the index.
    for (auto& s : stations) {
        s->audio.drain();
        s->control.drain();
    }
    stations[5]->sendAudio(server.address(), std::vector<uint8_t>(40, 5));
    server.pump();
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(stations[i]->audio.drain().size(), i == 5 ? 0u : 1u) << "station " << i;
    }
    stations[3]->sendAudio(server.address(), std::vector<uint8_t>(40, 3));
    server.pump();
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(stations[i]->audio.drain().size(), i == 3 ? 0u : 1u) << "station " << i;
    }
}

TEST(Stations, TheSetHoldsTwentySixAndRefusesTheTwentySeventh) {
    ServerHarness server("127.20.0.12", CONFIG);
    ASSERT_TRUE(server.start());
    capacity = 70; // above what start-up allows: the set's own bound decides
    std::vector<std::string> addresses;
    std::vector<std::unique_ptr<TestStation>> stations;
    for (int i = 1; i <= 27; ++i) {
        addresses.push_back("127.20.12." + std::to_string(i));
        stations.push_back(std::make_unique<TestStation>(addresses.back()));
        stations.back()->sendControl(server.address(), testutil::emptyReceiverReport());
        server.pump(3);
    }
    ASSERT_EQ(stationCount, STATIONS_MAX);
    expectSetIsTheWalk("full");
    EXPECT_EQ(checkLookups(addresses), STATIONS_MAX);
    auto busy = stations.back()->audio.drain();
    ASSERT_EQ(busy.size(), 1u);
    EXPECT_EQ(std::string(busy[0].begin(), busy[0].end()),
              std::string("oNDATA***SERVER BUSY - TRY LATER***\r\r\0", 38));
}

TEST(Stations, TheSetIsTheWalkAfterEveryJoinLeaveCloseAndRejoin) {
    ServerHarness server("127.20.0.13", std::string(CONFIG) + "maxusers=25\n");
    ASSERT_TRUE(server.start());
    // Forty addresses over two blocks; more than fit, so joins are refused at times too.
    std::vector<std::string> addresses;
    for (int i = 1; i <= 40; ++i) {
        addresses.push_back("127.20." + std::to_string(13 + i % 2) + "." + std::to_string(i));
    }
    std::vector<std::unique_ptr<TestStation>> stations = stationsAt(addresses);
    std::mt19937 random(1298);
    int closes = 0, leaves = 0, joins = 0;
    for (int step = 0; step < 300; ++step) {
        const int i = static_cast<int>(random() % 40);
        const int at = [&] {
            sockaddr_in key{};
            key.sin_family = AF_INET;
            key.sin_port = htons(5198);
            inet_pton(AF_INET, addresses[i].c_str(), &key.sin_addr);
            return findStation(&key);
        }();
        if (at < 0) {
            // A join (or a rejoin, or one refused while full or held off).
            stations[i]->sendControl(server.address(),
                                     testutil::namePacket("S" + std::to_string(i)));
            ++joins;
        } else if (random() % 2 == 0) {
            stations[i]->sendControl(server.address(), testutil::receiverReportWithBye());
            ++leaves;
        } else {
            controlCloseStation(stationSet.windows[at]); // the operator's close
            ++closes;
            expectSetIsTheWalk("closing at step " + std::to_string(step));
        }
        server.pump(3);
        if (step % 7 == 0) {
            server.tick();
        }
        expectSetIsTheWalk("step " + std::to_string(step));
        ASSERT_EQ(checkLookups(addresses), stationCount) << "step " << step;
    }
    EXPECT_GT(closes, 20);
    EXPECT_GT(leaves, 20);
    EXPECT_GT(joins, 100);
}
