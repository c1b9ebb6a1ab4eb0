// The load benchmark's own pieces, so that its figures can be trusted: the join compound that
// the server must accept and name stations by, the bare relay's fan-out (every other known
// station gets the bytes, the sender and unknown stations none), a whole load phase against
// the bare relay, the figures of a phase, the medians and the /proc readers.
// Addresses: 127.60.250.0/24 and up, apart from the benchmark's own.
#include "control/rtcp.h"
#include "load_report.h"
#include "load_stations.h"
#include "load_target.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

in_addr_t ip(const char* text) {
    return inet_addr(text);
}

// Every datagram that arrives on the socket within waitMs of the last one (the first within
// 1 s), in order.
std::vector<std::vector<uint8_t>> receiveAll(int s, int waitMs) {
    std::vector<std::vector<uint8_t>> got;
    for (int i = 0; i < 64; ++i) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, got.empty() ? 1000 : waitMs) <= 0) {
            break;
        }
        uint8_t buffer[4096];
        ssize_t n = recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            got.emplace_back(buffer, buffer + n);
        }
    }
    return got;
}

void sendFrom(int s, in_addr_t to, const std::vector<uint8_t>& bytes) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(5198);
    a.sin_addr.s_addr = to;
    ASSERT_EQ(
        sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a),
        static_cast<ssize_t>(bytes.size()));
}

} // namespace

TEST(JoinPacket, IsAValidCompoundThatNamesTheStation) {
    const struct {
        int station;
        const char* name;
    } cases[] = {{0, "BENCH01"}, {9, "BENCH10"}, {25, "BENCH26"}};
    for (const auto& c : cases) {
        uint8_t packet[load::JOIN_PACKET_SIZE];
        load::joinPacket(c.station, packet);
        const int length = static_cast<int>(sizeof packet);
        EXPECT_EQ(packet[0], 0xC0); // empty receiver report first
        EXPECT_EQ(packet[1], RTCP_RR);
        EXPECT_EQ(packet[7], c.station + 1);
        EXPECT_TRUE(rtcpCheckCompound(packet, length)) << c.name;
        EXPECT_FALSE(rtcpHasBye(packet, length));
        SdesItemTable table = namingItemTable();
        ASSERT_TRUE(rtcpGetSdesItems(packet, length, &table));
        ASSERT_NE(table.entries[1].item, nullptr);
        EXPECT_EQ(table.entries[0].item, nullptr);
        char name[256] = "";
        sdesItemText(table.entries[1].item, name);
        EXPECT_STREQ(name, c.name);
    }
}

TEST(BareRelay, SendsEachDatagramToEveryOtherKnownStationOnly) {
    load::Stations stations;
    ASSERT_TRUE(load::openStations(stations, ip("127.60.251.1"), 1 << 20));
    load::TargetProcess relay;
    ASSERT_TRUE(load::startTarget(relay,
                                  {BARE_RELAY_BINARY, "--bind", "127.60.250.1", "--first-station",
                                   "127.60.251.1", "--stations", "3"},
                                  {}, "READY", 5000));
    const std::vector<uint8_t> a(144, 0xA1);
    const std::vector<uint8_t> b(60, 0xB2);
    sendFrom(stations.audio[0], ip("127.60.250.1"), a);
    sendFrom(stations.audio[1], ip("127.60.250.1"), b);

    EXPECT_EQ(receiveAll(stations.audio[0], 200), (std::vector<std::vector<uint8_t>>{b}));
    EXPECT_EQ(receiveAll(stations.audio[1], 200), (std::vector<std::vector<uint8_t>>{a}));
    EXPECT_EQ(receiveAll(stations.audio[2], 200), (std::vector<std::vector<uint8_t>>{a, b}));
    uint8_t buffer[256];
    EXPECT_LT(recv(stations.audio[3], buffer, sizeof buffer, MSG_DONTWAIT), 0); // not known
    EXPECT_EQ(load::stopTarget(relay, 5000), 128 + SIGTERM);
    load::closeStations(stations);
}

TEST(BareRelay, WholePhaseReachesEveryListenerWithLatencies) {
    load::Stations stations;
    ASSERT_TRUE(load::openStations(stations, ip("127.60.253.1"), 1 << 20));
    load::TargetProcess relay;
    ASSERT_TRUE(load::startTarget(relay,
                                  {BARE_RELAY_BINARY, "--bind", "127.60.252.1", "--first-station",
                                   "127.60.253.1", "--stations", "26"},
                                  {}, "READY", 5000));
    std::vector<load::PhaseResult> r =
        load::runPhases({{&stations, ip("127.60.252.1"), &relay, 7}}, 200, 0.5, true);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].sent, 100u);
    EXPECT_EQ(r[0].received[load::TALKER], 0u); // the sender never gets its own back
    for (int i = 1; i < load::STATIONS; ++i) {
        EXPECT_EQ(r[0].received[i], 100u) << "listener " << i;
    }
    EXPECT_EQ(r[0].worstShare(), 1.0);
    EXPECT_EQ(r[0].latencyNs.size(), 2500u);
    EXPECT_GT(r[0].latencyUs(0.0), 0.0);
    EXPECT_LT(r[0].latencyUs(0.5), 1e6);
    EXPECT_GE(r[0].targetCpuTicks, 0);
    EXPECT_GE(load::udpSocketDrops(ip("127.60.252.1"), 5198), 0);
    EXPECT_GT(load::residentKiB(relay.pid), 0);
    load::stopTarget(relay, 5000);
    load::closeStations(stations);
}

TEST(PhaseFigures, WorstShareLeavesTheTalkerOutAndSlicesAddUp) {
    load::PhaseResult a;
    a.sent = 1000;
    for (int i = 0; i < load::STATIONS; ++i) {
        a.received[i] = 1000;
    }
    a.received[load::TALKER] = 0;
    a.received[7] = 998;
    a.targetCpuTicks = 5;
    a.latencyNs = {1000, 2000};
    EXPECT_DOUBLE_EQ(a.worstShare(), 0.998);

    load::PhaseResult b = a;
    b.received[7] = 1000;
    b.received[12] = 990;
    b.targetCpuTicks = 7;
    a.add(b);
    EXPECT_EQ(a.sent, 2000u);
    EXPECT_EQ(a.received[7], 1998u);
    EXPECT_DOUBLE_EQ(a.worstShare(), 1990.0 / 2000.0);
    EXPECT_EQ(a.targetCpuTicks, 12);
    EXPECT_EQ(a.latencyNs.size(), 4u);
    b.targetCpuTicks = -1; // an unreadable count spoils the sum
    a.add(b);
    EXPECT_EQ(a.targetCpuTicks, -1);
}

TEST(PhaseFigures, LatencyQuantilesInMicroseconds) {
    load::PhaseResult r;
    EXPECT_EQ(r.latencyUs(0.5), -1);
    for (int us = 100; us >= 1; --us) { // 1 to 100 us, out of order
        r.latencyNs.push_back(us * 1000);
    }
    EXPECT_DOUBLE_EQ(r.latencyUs(0.0), 1.0);
    EXPECT_DOUBLE_EQ(r.latencyUs(0.5), 51.0);
    EXPECT_DOUBLE_EQ(r.latencyUs(0.99), 99.0);
    EXPECT_DOUBLE_EQ(r.latencyUs(1.0), 100.0);
}

TEST(Median, LeavesMissingValuesOutAndAveragesTheMiddlePair) {
    EXPECT_EQ(load::median({}), -1);
    EXPECT_EQ(load::median({-1, -1}), -1);
    EXPECT_EQ(load::median({3, -1, 1, 2}), 2);
    EXPECT_EQ(load::median({4, 1, 3, 2}), 2.5);
}

TEST(ProcReaders, SeeThisProcessAndOnlyBoundSockets) {
    EXPECT_GE(load::cpuTicks(getpid()), 0);
    EXPECT_GT(load::residentKiB(getpid()), 0);
    EXPECT_EQ(load::cpuTicks(-5), -1);
    EXPECT_EQ(load::residentKiB(-5), -1);
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(5198);
    a.sin_addr.s_addr = ip("127.60.254.1");
    ASSERT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(load::udpSocketDrops(ip("127.60.254.1"), 5198), 0);
    EXPECT_EQ(load::udpSocketDrops(ip("127.60.254.1"), 5199), -1);
    EXPECT_EQ(load::udpSocketDrops(ip("127.60.254.2"), 5198), -1);
    close(s);
}
