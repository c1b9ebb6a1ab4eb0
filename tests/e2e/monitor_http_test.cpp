// The HTTP view of the built binary: the status while stations join, talk and leave, the
// event stream, the metrics as promtool reads them, and hostile clients while a talker
// streams (every listener must still get every datagram). Servers on 127.111.60.x,
// stations on 127.111.6N.M.
#include "monitor/dashboard_page.h"
#include "support/server_harness.h"
#include "support/server_process.h"
#include "support/tcp_client.h"
#include "support/testutil.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testutil::ServerProcess;
using testutil::TempDir;
using testutil::TestStation;
using Clock = std::chrono::steady_clock;

namespace {

const char* const ACCOUNT = "[callsign]\nuser=*E2E*\ndesc=END TO END\nvalid=PW\n"
                            "[server]\nver=618\n1=127.0.0.1\n2=127.0.0.1\n3=127.0.0.1\n"
                            "4=127.0.0.1\n";

// A TCP connection to address:port from any local address; -1 when it cannot be made
// within timeoutMs.
int connectTo(const std::string& address, uint16_t port, int timeoutMs = 2000) {
    return testutil::tcpConnectFrom("0.0.0.0", address, port, timeoutMs);
}

using testutil::tcpReadFor;

// One request on its own connection; the whole response ("" when none came).
std::string request(const std::string& address, uint16_t port, const std::string& text) {
    int fd = connectTo(address, port);
    if (fd < 0) {
        return "";
    }
    send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    std::string response = tcpReadFor(fd, 3000);
    close(fd);
    return response;
}

std::string get(const std::string& address, uint16_t port, const std::string& path) {
    return request(address, port,
                   "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
}

std::string bodyOf(const std::string& response) {
    size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? "" : response.substr(at + 4);
}

// Polls /api/status until it holds every one of the texts; the last body seen.
std::string statusUntil(const std::string& address, uint16_t port,
                        const std::vector<std::string>& texts, int timeoutMs = 5000) {
    std::string body;
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        body = bodyOf(get(address, port, "/api/status"));
        bool all = true;
        for (const std::string& t : texts) {
            all = all && body.find(t) != std::string::npos;
        }
        if (all) {
            return body;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < end);
    return body;
}

class HttpView : public ::testing::Test {
  protected:
    void start(const std::string& bind, uint16_t port, const std::string& timeScale = "1") {
        address = bind;
        httpPort = port;
        std::string config = dir.file("omvarc.ini");
        testutil::writeFile(config, ACCOUNT);
        server = std::make_unique<ServerProcess>(
            std::vector<std::string>{"-m", "--config", config, "--bind", bind, "--time-scale",
                                     timeScale, "--http", bind + ":" + std::to_string(port)});
        ASSERT_TRUE(server->waitForStatus("cVARDE", 5000)) << server->standardError();
    }
    void TearDown() override {
        if (server) {
            EXPECT_EQ(server->stop(SIGTERM, 15000), 0);
        }
    }
    TempDir dir;
    std::string address;
    uint16_t httpPort = 0;
    std::unique_ptr<ServerProcess> server;
};

} // namespace

TEST_F(HttpView, StatusFollowsStationsJoiningTalkingAndLeaving) {
    start("127.111.60.1", 8261);
    EXPECT_NE(statusUntil(address, httpPort, {"\"station_count\":0"}).find("\"stations\":[]"),
              std::string::npos);
    TestStation a("127.111.61.1");
    TestStation b("127.111.61.2");
    a.sendControl(address, testutil::namePacket("ALPHA"));
    b.sendControl(address, testutil::namePacket("BRAVO"));
    std::string body = statusUntil(address, httpPort, {"\"station_count\":2", "BRAVO", "ALPHA"});
    EXPECT_NE(body.find("\"name\":\"ALPHA\",\"address\":\"127.111.61.1\",\"state\":\"active\""),
              std::string::npos)
        << body;

    for (int i = 0; i < 5; ++i) {
        a.sendAudio(address, std::vector<uint8_t>(144, static_cast<uint8_t>(i)));
    }
    body = statusUntil(address, httpPort, {"\"talker\":\"127.111.61.1\"", "\"relayed\":5,"});
    EXPECT_NE(body.find("\"talking\":true,\"relayed\":5,\"firewalled\":0"), std::string::npos)
        << body;
    EXPECT_NE(body.find("\"copies_sent\":5"), std::string::npos) << body;

    a.sendControl(address, testutil::receiverReportWithBye());
    body = statusUntil(address, httpPort, {"\"station_count\":1", "\"byes\":1"});
    EXPECT_EQ(body.find("ALPHA\",\"address\":\"127.111.61.1\",\"state"), std::string::npos) << body;
    // The spell stays in the list after its station left.
    EXPECT_NE(body.find("\"talk_spells\":[{\"name\":\"ALPHA\""), std::string::npos) << body;

    std::string wrong = request(address, httpPort,
                                "DELETE /api/status HTTP/1.1\r\nHost: x\r\n"
                                "Connection: close\r\n\r\n");
    EXPECT_EQ(wrong.rfind("HTTP/1.1 405", 0), 0u) << wrong;
    EXPECT_NE(wrong.find("Allow: GET, HEAD\r\n"), std::string::npos) << wrong;
    EXPECT_EQ(get(address, httpPort, "/nothing").rfind("HTTP/1.1 404", 0), 0u);
    std::string head = request(address, httpPort,
                               "HEAD /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
    EXPECT_EQ(bodyOf(head), "");
    std::string page = get(address, httpPort, "/");
    EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos);
    EXPECT_EQ(bodyOf(page), std::string(MONITOR_DASHBOARD_HTML, MONITOR_DASHBOARD_HTML_LENGTH));
}

TEST_F(HttpView, EventStreamDeliversAJoinWithinOneTick) {
    start("127.111.60.2", 8262);
    std::string ask = "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n";
    // The eight streams are the most: the ninth is turned away. Each from an address of its
    // own: one address may hold no more than 4 connections.
    std::vector<int> streams;
    for (int i = 0; i < 8; ++i) {
        streams.push_back(
            testutil::tcpConnectFrom("127.111.63." + std::to_string(i + 1), address, httpPort));
        ASSERT_GE(streams.back(), 0);
        send(streams.back(), ask.data(), ask.size(), MSG_NOSIGNAL);
        std::string opened = tcpReadFor(streams.back(), 3000, "retry: 2000");
        EXPECT_NE(opened.find("text/event-stream"), std::string::npos) << i << opened;
        EXPECT_NE(opened.find("retry: 2000"), std::string::npos) << i << opened;
    }
    std::string ninth = request(address, httpPort, ask);
    EXPECT_EQ(ninth.rfind("HTTP/1.1 503", 0), 0u) << ninth;

    TestStation a("127.111.62.1");
    auto sent = Clock::now();
    a.sendControl(address, testutil::namePacket("ALPHA"));
    for (int fd : streams) {
        std::string got = tcpReadFor(fd, 1000, "\"event\":\"name\"");
        EXPECT_LT(Clock::now() - sent, std::chrono::milliseconds(1000));
        EXPECT_NE(got.find("data: {\"event\":\"join\",\"at\":\""), std::string::npos) << got;
        EXPECT_NE(got.find("\"name\":null,\"address\":\"127.111.62.1\"}"), std::string::npos)
            << got;
        EXPECT_NE(got.find("\"event\":\"name\""), std::string::npos) << got;
        close(fd);
    }
}

TEST_F(HttpView, MetricsPassPromtool) {
    if (system("command -v promtool >/dev/null 2>&1") != 0) {
        // CI installs it (scripts/install-deps): missing there is a failure, not a skip.
        ASSERT_EQ(getenv("CI"), nullptr) << "promtool is not installed (package prometheus)";
        GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
    }
    start("127.111.60.3", 8263);
    TestStation a("127.111.63.1");
    a.sendControl(address, testutil::namePacket("ALPHA"));
    std::string body = bodyOf(get(address, httpPort, "/metrics"));
    ASSERT_NE(body.find("confserver_relayed_total 0\n"), std::string::npos) << body;
    std::string file = dir.file("metrics.txt");
    testutil::writeFile(file, body);
    std::string command = "promtool check metrics < " + file + " 2>&1";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    char buffer[512];
    std::string said;
    while (fgets(buffer, sizeof buffer, out) != nullptr) {
        said += buffer;
    }
    EXPECT_EQ(pclose(out), 0) << said;
    EXPECT_EQ(said, "");
}

TEST_F(HttpView, HostileClientsNeverCostAListenerADatagram) {
    start("127.111.60.4", 8264);
    TestStation talker("127.111.64.1");
    TestStation l1("127.111.64.2");
    TestStation l2("127.111.64.3");
    for (TestStation* s : {&talker, &l1, &l2}) {
        s->sendControl(address, testutil::namePacket("S" + s->address().substr(11)));
    }
    statusUntil(address, httpPort, {"\"station_count\":3"});

    // A stream client that never reads, with the smallest receive buffer.
    int sleeper = socket(AF_INET, SOCK_STREAM, 0);
    int small = 1024;
    setsockopt(sleeper, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(httpPort);
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ASSERT_EQ(connect(sleeper, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    std::string ask = "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n";
    send(sleeper, ask.data(), ask.size(), MSG_NOSIGNAL);

    constexpr int DATAGRAMS = 200; // 4 s at 50 per second
    std::atomic<bool> done{false};
    std::thread stream([&] {
        auto next = Clock::now();
        for (int i = 0; i < DATAGRAMS; ++i) {
            std::vector<uint8_t> d(144, 0x33);
            d[0] = static_cast<uint8_t>(i >> 8);
            d[1] = static_cast<uint8_t>(i);
            talker.sendAudio(address, d);
            next += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(next);
        }
        done = true;
    });

    // 64 connections at once, held open; then 1000 malformed requests.
    std::vector<int> held;
    for (int i = 0; i < 64; ++i) {
        int fd = connectTo(address, httpPort, 200);
        if (fd >= 0) {
            held.push_back(fd);
        }
    }
    const char* const junk[] = {"\x01\x02\x03\r\n\r\n", "GET\r\n\r\n", "GET / HTTP/9.9\r\n\r\n",
                                "GET / HTTP/1.1\r\nHost: x\r\nBad header\r\n\r\n",
                                "GET /api/status HTTP/1.1\r\nContent-Length: -5\r\n\r\n"};
    for (int fd : held) {
        close(fd);
    }
    int answered = 0;
    for (int i = 0; i < 1000; ++i) {
        int fd = connectTo(address, httpPort, 500);
        if (fd < 0) {
            continue;
        }
        const char* text = junk[i % 5];
        send(fd, text, std::strlen(text), MSG_NOSIGNAL);
        shutdown(fd, SHUT_WR);
        answered += tcpReadFor(fd, 500).rfind("HTTP/1.1 4", 0) == 0 ? 1 : 0;
        close(fd);
    }
    EXPECT_GT(answered, 0);
    stream.join();
    ASSERT_TRUE(done);

    for (TestStation* l : {&l1, &l2}) {
        std::vector<bool> seen(DATAGRAMS, false);
        std::vector<uint8_t> d;
        auto end = Clock::now() + std::chrono::seconds(3);
        int count = 0;
        while (count < DATAGRAMS && Clock::now() < end && l->audio.receive(d, 500)) {
            if (d.size() == 144 && d[2] == 0x33) {
                int n = d[0] << 8 | d[1];
                if (n < DATAGRAMS && !seen[n]) {
                    seen[n] = true;
                    ++count;
                }
            }
        }
        EXPECT_EQ(count, DATAGRAMS) << l->address();
    }
    // The server still answers, and the sleeper's stream never grew past its bound.
    EXPECT_EQ(get(address, httpPort, "/api/status").rfind("HTTP/1.1 200", 0), 0u);
    close(sleeper);
}

namespace {

// The shared objects mapped into process pid, one path per line.
std::string mappedFiles(int pid) {
    return testutil::readFile("/proc/" + std::to_string(pid) + "/maps");
}

} // namespace

// The HTTP library (and what it pulls in) is loaded only for the view, and the journal's
// library only under the journal: a server without either maps neither.
TEST_F(HttpView, TheHttpLibraryIsLoadedOnlyWhenTheViewIsOn) {
    std::string config = dir.file("plain.ini");
    testutil::writeFile(config, ACCOUNT);
    ServerProcess plain({"-m", "--config", config, "--bind", "127.111.65.1"});
    ASSERT_TRUE(plain.waitForStatus("cVARDE", 5000)) << plain.standardError();
    std::string maps = mappedFiles(plain.pid());
    ASSERT_NE(maps.find("libc.so.6"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("libmicrohttpd"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("libsystemd"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("libgnutls"), std::string::npos) << maps;
    EXPECT_EQ(plain.stop(SIGTERM, 15000), 0);

    start("127.111.65.2", 8265);
    maps = mappedFiles(server->pid());
    EXPECT_NE(maps.find("libmicrohttpd.so.12"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("libsystemd"), std::string::npos) << maps;
    std::string metrics = get(address, httpPort, "/metrics");
    EXPECT_EQ(metrics.rfind("HTTP/1.1 200", 0), 0u) << metrics;
    EXPECT_NE(bodyOf(metrics).find("confserver_stations 0\n"), std::string::npos) << metrics;
}
