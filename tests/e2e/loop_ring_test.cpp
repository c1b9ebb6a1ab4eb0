// Three servers tied in a ring by forged joins (each made to admit the next, whose
// keep-alives then make the next admit it back) carry one injected short datagram once
// around and no further: each server relays it once, the copies that come back are dropped
// by the loop guard, and their list texts and beacons are texts, never relayed. Servers on
// 127.182.0.1-3, the injecting station on 127.182.1.1.
#include "support/http_get.h"
#include "support/server_harness.h"
#include "support/server_process.h"
#include "support/testutil.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using testutil::ServerProcess;
using testutil::TempDir;
using testutil::TestStation;
using testutil::UdpPeer;
using Clock = std::chrono::steady_clock;

namespace {

const char* const ACCOUNT = "[callsign]\nuser=*RING*\ndesc=RING\nvalid=PW\n"
                            "[server]\nver=618\n1=127.0.0.1\n2=127.0.0.1\n3=127.0.0.1\n"
                            "4=127.0.0.1\n";
constexpr uint16_t HTTP_PORT = 8182;

std::string serverAddress(int i) {
    return "127.182.0." + std::to_string(i + 1);
}

// A counter of the server's /api/status ("counters" or "server" part); -1 when unread.
long long figure(int i, const std::string& part, const std::string& key) {
    std::string body = testutil::httpGetBody(serverAddress(i), HTTP_PORT, "/api/status");
    size_t at = body.find("\"" + part + "\":");
    return at == std::string::npos ? -1 : testutil::jsonNumber(body.substr(at), key);
}

// Waits up to timeoutMs for the figure to reach at least value.
bool waitFigure(int i, const std::string& part, const std::string& key, long long value,
                int timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (figure(i, part, key) >= value) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < end);
    return false;
}

} // namespace

TEST(LoopRing, AShortDatagramGoesOnceAroundARingOfServersAndStops) {
    TempDir dir;
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (int i = 0; i < 3; ++i) {
        std::string config = dir.file("s" + std::to_string(i) + ".ini");
        testutil::writeFile(config, ACCOUNT);
        servers.push_back(std::make_unique<ServerProcess>(
            std::vector<std::string>{"-m", "--config", config, "--bind", serverAddress(i), "--http",
                                     serverAddress(i) + ":" + std::to_string(HTTP_PORT)}));
        ASSERT_TRUE(servers.back()->waitForStatus("cVARDE", 5000))
            << servers.back()->standardError();
    }
    // Forged joins: server i is told that server i+1 joins it.
    for (int i = 0; i < 3; ++i) {
        UdpPeer forger(serverAddress((i + 1) % 3), 0);
        ASSERT_TRUE(forger.ok());
        forger.sendTo(serverAddress(i), 5199, testutil::emptyReceiverReport());
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(waitFigure(i, "server", "station_count", 2, 5000)) << "server " << i;
    }
    TestStation injector("127.182.1.1");
    injector.sendControl(serverAddress(0), testutil::namePacket("INJECT"));
    ASSERT_TRUE(waitFigure(0, "server", "station_count", 3, 3000));
    injector.sendAudio(serverAddress(0), std::vector<uint8_t>(60, 0x42));
    ASSERT_TRUE(waitFigure(0, "counters", "relayed", 1, 2000));
    // Within two seconds every server has relayed it once and nothing more moves.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::vector<long long> relayed;
    long long loops = 0;
    for (int i = 0; i < 3; ++i) {
        relayed.push_back(figure(i, "counters", "relayed"));
        loops += figure(i, "counters", "loops");
    }
    EXPECT_EQ(relayed, (std::vector<long long>{1, 1, 1}));
    EXPECT_GE(loops, 2);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(figure(i, "counters", "relayed"), relayed[static_cast<size_t>(i)]) << i;
    }
    for (auto& server : servers) {
        EXPECT_EQ(server->stop(SIGTERM, 15000), 0);
    }
}
