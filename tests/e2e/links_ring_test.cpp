// Four real servers linked by their [links] sections on four 127.211.K.x addresses (a
// chain, a ring, a full mesh), one test station on each: every datagram of a talker on one
// server reaches the station of every other server exactly once, within 50 ms of the first
// copy, and nothing circles once the talker stops. A ring with one server killed and
// restarted while the talker talks: no storm, the others hear all of it, the restarted one
// is linked again within 20 ticks and hears the rest. Time runs 20 times faster (a tick is
// 50 ms). Also: what --check-config says of a [links] section.
#include "support/server_harness.h"
#include "support/server_process.h"
#include "support/testutil.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

using testutil::ServerProcess;
using testutil::TempDir;
using testutil::TestStation;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int SERVERS = 4;
const char* const TIME_SCALE = "20"; // a tick is 50 ms

std::string serverAddress(int net, int i) {
    return "127.211." + std::to_string(net) + "." + std::to_string(i + 1);
}
std::string stationAddress(int net, int i) {
    return "127.211." + std::to_string(net) + "." + std::to_string(i + 11);
}

// Waits (bounded) until the server's standard error holds text; true when it does.
bool waitForError(ServerProcess& server, const std::string& text, int timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (server.standardError().find(text) == std::string::npos) {
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Four servers, server i linking the servers in links[i], and a station on each.
class Conference {
  public:
    Conference(int net, const std::vector<std::vector<int>>& links) : net_(net), links_(links) {
        for (int i = 0; i < SERVERS; ++i) {
            dirs_.push_back(std::make_unique<TempDir>());
            stations_.push_back(std::make_unique<TestStation>(stationAddress(net, i)));
            start(i);
        }
    }
    ~Conference() {
        for (auto& server : servers_) {
            if (server) {
                server->stop(SIGTERM, 15000);
            }
        }
    }

    // Starts server i (again); true once its ports are open.
    bool start(int i) {
        std::string ini = "[callsign]\nuser=*S" + std::to_string(i + 1) +
                          "*\ndesc=LINKED\nvalid=PW\n[server]\nver=618\n1=127.211.99.99\n"
                          "2=127.211.99.99\n3=127.211.99.99\n4=127.211.99.99\n[links]\n";
        for (size_t k = 0; k < links_[i].size(); ++k) {
            ini += std::to_string(k + 1) + "=" + serverAddress(net_, links_[i][k]) + "\n";
        }
        std::string config = dirs_[i]->file("omvarc.ini");
        testutil::writeFile(config, ini);
        if (servers_.size() <= static_cast<size_t>(i)) {
            servers_.resize(i + 1);
        }
        servers_[i] = std::make_unique<ServerProcess>(
            std::vector<std::string>{"-m", "--config", config, "--bind", serverAddress(net_, i),
                                     "--time-scale", TIME_SCALE});
        return servers_[i]->waitForStatus("cVARDE", 10000);
    }
    void kill(int i) {
        servers_[i]->stop(SIGKILL, 5000);
        servers_[i].reset();
    }
    ServerProcess& server(int i) { return *servers_[i]; }
    TestStation& station(int i) { return *stations_[i]; }

    // Each station sends its naming packet to its own server (joins, or stays alive).
    void keepStationsIn() {
        for (int i = 0; i < SERVERS; ++i) {
            stations_[i]->sendControl(serverAddress(net_, i),
                                      testutil::namePacket("G4S" + std::to_string(i + 1)));
        }
    }
    // Waits (bounded) until every configured link of every server shows link-up.
    bool waitLinked(int timeoutMs) {
        for (int i = 0; i < SERVERS; ++i) {
            for (int peer : links_[i]) {
                if (!waitForError(*servers_[i], "event link-up " + serverAddress(net_, peer),
                                  timeoutMs)) {
                    ADD_FAILURE() << "server " << i + 1 << " not linked to " << peer + 1 << ":\n"
                                  << servers_[i]->standardError();
                    return false;
                }
            }
        }
        return true;
    }

  private:
    int net_;
    std::vector<std::vector<int>> links_;
    std::vector<std::unique_ptr<TempDir>> dirs_;
    std::vector<std::unique_ptr<TestStation>> stations_;
    std::vector<std::unique_ptr<ServerProcess>> servers_;
};

// What the stations received: for each station, each sequence number's arrival times.
struct Receipts {
    std::vector<std::map<int, std::vector<Clock::time_point>>> bySeq =
        std::vector<std::map<int, std::vector<Clock::time_point>>>(SERVERS);
    std::vector<int> other = std::vector<int>(SERVERS, 0); // audio that is no talker datagram
};

// A talker datagram: "SEQ nnnnn " then filler to the length; 144 bytes (under the talker
// lock) or 100 bytes (not under it, so only the loop guard keeps it from circling).
std::vector<uint8_t> talkerDatagram(int seq) {
    size_t length = seq % 4 == 3 ? 100 : 144;
    char head[16];
    std::snprintf(head, sizeof head, "SEQ %05d ", seq);
    std::vector<uint8_t> bytes(length, static_cast<uint8_t>(0x40 + seq % 31));
    std::copy(head, head + 10, bytes.begin());
    return bytes;
}

// Takes what waits on the stations' audio sockets until deadline; texts are left out.
void collect(Conference& c, Receipts* r, Clock::time_point deadline) {
    pollfd fds[SERVERS];
    for (int i = 0; i < SERVERS; ++i) {
        fds[i] = {c.station(i).audio.fd(), POLLIN, 0};
    }
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return;
        }
        if (::poll(fds, SERVERS, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        Clock::time_point now = Clock::now();
        for (int i = 0; i < SERVERS; ++i) {
            if ((fds[i].revents & POLLIN) == 0) {
                continue;
            }
            for (const auto& d : c.station(i).audio.drain()) {
                std::string text(d.begin(), d.end());
                if (text.rfind("oNDATA", 0) == 0) {
                    continue;
                }
                if (text.rfind("SEQ ", 0) == 0 && d.size() >= 10) {
                    r->bySeq[i][std::stoi(text.substr(4, 5))].push_back(now);
                } else {
                    ++r->other[i];
                }
            }
        }
    }
}

// Station talker sends count datagrams (sequence numbers from first) at 50 a second,
// keeping every station in meanwhile; collects until 500 ms after the last.
void talk(Conference& c, int talker, const std::string& server, int first, int count, Receipts* r) {
    auto next = Clock::now();
    for (int seq = first; seq < first + count; ++seq) {
        c.station(talker).sendAudio(server, talkerDatagram(seq));
        if (seq % 25 == 0) {
            c.keepStationsIn();
        }
        next += std::chrono::milliseconds(20);
        collect(c, r, next);
    }
    collect(c, r, Clock::now() + std::chrono::milliseconds(500));
}

// Every datagram first..first+count-1 reached every station but the talker's exactly once,
// all copies within 50 ms of the first; the talker's station heard none of them.
void expectEachOnceEverywhere(const Receipts& r, int talker, int first, int count) {
    int duplicates = 0;
    int missing = 0;
    int late = 0;
    for (int seq = first; seq < first + count; ++seq) {
        Clock::time_point earliest = Clock::time_point::max();
        Clock::time_point latest = Clock::time_point::min();
        for (int i = 0; i < SERVERS; ++i) {
            auto it = r.bySeq[i].find(seq);
            size_t n = it == r.bySeq[i].end() ? 0 : it->second.size();
            if (i == talker) {
                EXPECT_EQ(n, 0u) << "the talker heard itself, datagram " << seq;
                continue;
            }
            if (n == 0) {
                ++missing;
                continue;
            }
            duplicates += static_cast<int>(n) - 1;
            earliest = std::min(earliest, it->second.front());
            latest = std::max(latest, it->second.front());
        }
        if (latest > earliest && latest - earliest > std::chrono::milliseconds(50)) {
            ++late;
        }
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(duplicates, 0);
    EXPECT_EQ(late, 0);
    for (int i = 0; i < SERVERS; ++i) {
        EXPECT_EQ(r.other[i], 0) << "station " << i + 1 << " got audio nobody sent";
    }
}

// After the talker stops nothing is relayed any more: a second of silence at every station.
void expectSilence(Conference& c) {
    Receipts after;
    collect(c, &after, Clock::now() + std::chrono::milliseconds(1000));
    for (int i = 0; i < SERVERS; ++i) {
        size_t n = after.other[i];
        for (const auto& [seq, times] : after.bySeq[i]) {
            n += times.size();
        }
        EXPECT_EQ(n, 0u) << "station " << i + 1 << " still receives audio";
    }
}

void runTopology(int net, const std::vector<std::vector<int>>& links) {
    Conference c(net, links);
    c.keepStationsIn();
    ASSERT_TRUE(c.waitLinked(5000));
    for (int talker : {0, 2}) {
        Receipts r;
        int first = talker * 1000;
        talk(c, talker, serverAddress(net, talker), first, 100, &r);
        expectEachOnceEverywhere(r, talker, first, 100);
        expectSilence(c);
    }
}

} // namespace

TEST(LinkedServers, ChainCarriesEveryDatagramOnceToEveryServer) {
    runTopology(1, {{1}, {2}, {3}, {}});
}

TEST(LinkedServers, RingCarriesEveryDatagramOnceAndNothingCircles) {
    runTopology(2, {{1}, {2}, {3}, {0}});
}

TEST(LinkedServers, FullMeshCarriesEveryDatagramOnceAndNothingCircles) {
    runTopology(3, {{1, 2, 3}, {0, 2, 3}, {0, 1, 3}, {0, 1, 2}});
}

TEST(LinkedServers, RingWithOneServerRestartedWhileAStationTalksHasNoStorm) {
    const int net = 4;
    Conference c(net, {{1}, {2}, {3}, {0}});
    c.keepStationsIn();
    ASSERT_TRUE(c.waitLinked(5000));
    Receipts before;
    talk(c, 0, serverAddress(net, 0), 0, 50, &before);
    expectEachOnceEverywhere(before, 0, 0, 50);

    c.kill(2);
    Receipts during;
    talk(c, 0, serverAddress(net, 0), 100, 50, &during);
    ASSERT_TRUE(c.start(2)) << "restart";
    auto restarted = Clock::now();
    c.keepStationsIn();
    // Linked again within 20 ticks (1 s) of its start: its own link, and the neighbour that
    // links it is a station of it again.
    EXPECT_TRUE(waitForError(c.server(2), "event link-up " + serverAddress(net, 3), 3000));
    EXPECT_TRUE(waitForError(c.server(2), "event join - " + serverAddress(net, 1), 3000));
    auto linkedAfter = Clock::now() - restarted;
    EXPECT_LE(linkedAfter, std::chrono::milliseconds(1500));
    Receipts after;
    talk(c, 0, serverAddress(net, 0), 200, 50, &after);

    // While it was down the others heard everything, once; nothing circled at any time.
    for (int i : {1, 3}) {
        for (int seq = 100; seq < 150; ++seq) {
            auto it = during.bySeq[i].find(seq);
            EXPECT_EQ(it == during.bySeq[i].end() ? 0u : it->second.size(), 1u)
                << "station " << i + 1 << " datagram " << seq;
        }
    }
    expectEachOnceEverywhere(after, 0, 200, 50);
    expectSilence(c);
}

TEST(LinkedServers, CheckConfigReportsEachBadLinkWithoutResolvingAName) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, "[callsign]\nuser=*CHK*\ndesc=CHECK\nvalid=PW\n[server]\n"
                                "ver=618\n1=127.211.99.99\n2=127.211.99.99\n3=127.211.99.99\n"
                                "4=127.211.99.99\n[links]\n1=\n2=127.211.5.1\n3=127.211.5.2\n"
                                "4=127.211.5.2\n5=peer.example.net\n9=127.211.5.3\n");
    ServerProcess check({"--check-config", "--config", config, "--bind", "127.211.5.1"});
    EXPECT_EQ(check.waitExit(10000), 1);
    std::string out;
    for (const std::string& line : check.lines()) {
        out += line + "\n";
    }
    for (const char* expected :
         {"[links] 5 = peer.example.net (file; a name, not resolved by the check)\n",
          "error: [links] 1 is empty\n",
          "error: [links] 2 = 127.211.5.1 is this server's own address\n",
          "error: [links] 4 = 127.211.5.2 links the same peer as [links] 3\n",
          "error: [links] 9: only keys 1 to 8 name links (at most 8 links)\n",
          "the server would not serve\n"}) {
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\nin:\n" << out;
    }
    EXPECT_EQ(out.find("error: [links] 3"), std::string::npos) << out;
    EXPECT_EQ(out.find("error: [links] 5"), std::string::npos) << out;
    EXPECT_EQ(out.find("unknown key"), std::string::npos) << out; // key 9 told once
}
