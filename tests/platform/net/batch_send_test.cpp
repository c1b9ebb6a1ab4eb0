// Batched sends: what one submission hands to the kernel arrives as separate sends would,
// with the ring and one by one. Addresses 127.163.1.x only.
#include "platform/net/batch_send.h"
#include "platform/runtime.h"
#include "support/testutil.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A UDP socket connected to ip:port.
SOCKET connectedTo(const char* ip, uint16_t port) {
    const SOCKET s = ws::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    EXPECT_EQ(ws::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return s;
}

std::vector<std::string> operatorLines;

// Queues two datagrams for one station and one for another in one batch, then overwrites
// the buffer: each station gets its own, in order, byte for byte.
void expectOneBatchArrivesAsSeparateSends() {
    testutil::UdpPeer a("127.163.1.2", 5198);
    testutil::UdpPeer b("127.163.1.3", 5198);
    const SOCKET toA = connectedTo("127.163.1.2", 5198);
    const SOCKET toB = connectedTo("127.163.1.3", 5198);
    char audio[40];
    std::memset(audio, 0x5A, sizeof audio);
    char text[] = "oNDATACONF V3.67:\r\r";
    sendBatchBegin();
    sendBatchQueue(toA, audio, sizeof audio);
    sendBatchQueue(toB, audio, sizeof audio);
    sendBatchQueue(toA, text, sizeof text);
    sendBatchSubmit();
    std::memset(audio, 0, sizeof audio); // taken during the submission, never later
    std::memset(text, 0, sizeof text);
    Bytes got;
    ASSERT_TRUE(a.receive(got, 1000));
    EXPECT_EQ(got, Bytes(40, 0x5A));
    ASSERT_TRUE(a.receive(got, 1000));
    EXPECT_EQ(std::string(got.begin(), got.end()), std::string("oNDATACONF V3.67:\r\r\0", 20));
    ASSERT_TRUE(b.receive(got, 1000));
    EXPECT_EQ(got, Bytes(40, 0x5A));
    EXPECT_TRUE(a.drain().empty());
    EXPECT_TRUE(b.drain().empty());

    // More sends than the ring holds in one batch: all of them, in order.
    sendBatchBegin();
    char many[200];
    for (int i = 0; i < 200; ++i) {
        many[i] = static_cast<char>(i);
        sendBatchQueue(toA, &many[i], 1);
    }
    sendBatchSubmit();
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(a.receive(got, 1000)) << i;
        ASSERT_EQ(got, Bytes(1, static_cast<uint8_t>(i)));
    }
    ws::closesocket(toA);
    ws::closesocket(toB);
}

} // namespace

TEST(BatchSend, OneSubmissionDeliversWhatSeparateSendsWouldOnBothPaths) {
    platformSetOperatorLineHook([](const char* text) { operatorLines.emplace_back(text); });
    sendBatchOpen();
    const bool ringed = sendBatchRinged();
    expectOneBatchArrivesAsSeparateSends();
    sendBatchClose();
    EXPECT_FALSE(sendBatchRinged());

    // Switched off for tests: one line says so, and the sends go one by one.
    operatorLines.clear();
    setenv("CONFSERVER_NO_IO_URING", "1", 1);
    sendBatchOpen();
    unsetenv("CONFSERVER_NO_IO_URING");
    EXPECT_FALSE(sendBatchRinged());
    ASSERT_EQ(operatorLines.size(), 1u);
    EXPECT_NE(operatorLines[0].find("sends go one by one"), std::string::npos);
    expectOneBatchArrivesAsSeparateSends();
    sendBatchClose();
    platformReset();
    if (!ringed) {
        GTEST_SKIP() << "io_uring cannot be set up here: only the one-by-one path ran";
    }
}
