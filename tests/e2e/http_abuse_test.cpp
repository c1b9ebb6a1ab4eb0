// The HTTP view of the built binary under abuse: partial requests that are then closed,
// slow clients that never finish a request, many connections from one address, and a
// second server on the same --http address. Servers on 127.173.0.x, clients on 127.173.N.M.
#include "support/server_process.h"
#include "support/tcp_client.h"
#include "support/testutil.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testutil::ServerProcess;
using testutil::TempDir;
using Clock = std::chrono::steady_clock;

namespace {

const char* const ACCOUNT = "[callsign]\nuser=*E2E*\ndesc=END TO END\nvalid=PW\n"
                            "[server]\nver=618\n1=127.0.0.1\n2=127.0.0.1\n3=127.0.0.1\n"
                            "4=127.0.0.1\n";
constexpr uint16_t HTTP_PORT = 8173;
constexpr int ANSWER_MS = 1000; // what the view owes a client under abuse

// The descriptors of connections opened by a test, closed at its end.
struct Connections {
    std::vector<int> fds;
    ~Connections() { closeAll(); }
    void closeAll() {
        for (int fd : fds) {
            close(fd);
        }
        fds.clear();
    }
};

bool answersStatus(const std::string& from, const std::string& server) {
    std::string response = testutil::httpGetFrom(from, server, HTTP_PORT, "/api/status", ANSWER_MS);
    return response.rfind("HTTP/1.1 200", 0) == 0 &&
           response.find("\"stations\"") != std::string::npos;
}

class HttpAbuse : public ::testing::Test {
  protected:
    std::unique_ptr<ServerProcess> startServer(const std::string& bind) {
        std::string config = dir.file("omvarc-" + bind + ".ini");
        testutil::writeFile(config, ACCOUNT);
        return std::make_unique<ServerProcess>(
            std::vector<std::string>{"-m", "--config", config, "--bind", bind, "--http",
                                     bind + ":" + std::to_string(HTTP_PORT)});
    }
    void start(const std::string& bind) {
        server = startServer(bind);
        ASSERT_TRUE(server->waitForStatus("cVARDE", 5000)) << server->standardError();
        ASSERT_TRUE(answersStatus("127.173.9.1", bind));
    }
    void TearDown() override {
        if (server) {
            EXPECT_EQ(server->stop(SIGTERM, 15000), 0);
        }
    }
    TempDir dir;
    std::unique_ptr<ServerProcess> server;
};

} // namespace

TEST_F(HttpAbuse, PartialRequestsThenClosedAreFreedAtOnce) {
    start("127.173.0.1");
    // 96 connections from 24 addresses (4 each, the most one address may hold): more than
    // the view takes in all, each with part of a request, then all closed. The ones that
    // waited to be accepted were closed before the view saw their first byte. Four rounds,
    // so that what one round leaves behind fills the view for the next.
    const char* partial[] = {"GET /api/sta", "GET / HTTP/1.1\r\nHost: x\r\n"};
    Connections c;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 96; ++i) {
            std::string from =
                "127.173." + std::to_string(1 + round) + "." + std::to_string(1 + i / 4);
            int fd = testutil::tcpConnectFrom(from, "127.173.0.1", HTTP_PORT);
            ASSERT_GE(fd, 0);
            const char* text = partial[round % 2];
            send(fd, text, std::strlen(text), MSG_NOSIGNAL);
            c.fds.push_back(fd);
        }
        c.closeAll();
        EXPECT_TRUE(answersStatus("127.173.9." + std::to_string(2 + round), "127.173.0.1"))
            << "round " << round;
    }
    // A client that sends a whole request and then closes its side still gets the answer.
    int fd = testutil::tcpConnectFrom("127.173.9.9", "127.173.0.1", HTTP_PORT);
    ASSERT_GE(fd, 0);
    std::string get = "GET /api/status HTTP/1.0\r\n\r\n";
    send(fd, get.data(), get.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    EXPECT_EQ(testutil::tcpReadFor(fd, ANSWER_MS).rfind("HTTP/1.1 200", 0), 0u);
    close(fd);
}

TEST_F(HttpAbuse, SlowClientsFromOneAddressHoldFourConnectionsForFiveSeconds) {
    start("127.173.0.2");
    // 64 connections from one address, each sending a byte a second and never a whole
    // request: the view keeps 4 of them and closes the rest at once.
    Connections c;
    for (int i = 0; i < 64; ++i) {
        int fd = testutil::tcpConnectFrom("127.173.3.1", "127.173.0.2", HTTP_PORT);
        ASSERT_GE(fd, 0);
        c.fds.push_back(fd);
    }
    EXPECT_TRUE(answersStatus("127.173.9.4", "127.173.0.2"));
    std::vector<bool> closed(c.fds.size(), false);
    auto closedCount = [&] {
        int n = 0;
        for (bool b : closed) {
            n += b ? 1 : 0;
        }
        return n;
    };
    const char* line = "GET /api/status HTTP/1.1\r\n";
    auto begin = Clock::now();
    int held = -1;
    for (int second = 0; second < 10 && closedCount() < 64; ++second) {
        for (size_t i = 0; i < c.fds.size(); ++i) {
            if (!closed[i]) {
                send(c.fds[i], line + (second % 26), 1, MSG_NOSIGNAL);
                bool peerClosed = false;
                testutil::tcpReadFor(c.fds[i], 1, "", &peerClosed);
                closed[i] = peerClosed;
            }
        }
        if (second == 2) {
            held = 64 - closedCount();
            EXPECT_TRUE(answersStatus("127.173.9.5", "127.173.0.2"));
        }
        std::this_thread::sleep_until(begin + std::chrono::seconds(second + 1));
    }
    EXPECT_EQ(held, 4);
    EXPECT_EQ(closedCount(), 64); // the four slow ones too, once their 5 seconds were up
    EXPECT_TRUE(answersStatus("127.173.3.1", "127.173.0.2")); // the address may come back
}

TEST_F(HttpAbuse, ASecondServerOnTheSameHttpAddressExitsOneNamingIt) {
    start("127.173.0.3");
    // Its own UDP ports are free (another address); only the HTTP address is taken.
    std::string config = dir.file("second.ini");
    testutil::writeFile(config, ACCOUNT);
    ServerProcess second({"-m", "--config", config, "--bind", "127.173.0.4", "--http",
                          "127.173.0.3:" + std::to_string(HTTP_PORT)});
    EXPECT_EQ(second.waitExit(10000), 1);
    EXPECT_NE(second.standardError().find("127.173.0.3:8173: Address already in use"),
              std::string::npos)
        << second.standardError();
    EXPECT_TRUE(answersStatus("127.173.9.6", "127.173.0.3"));
}
