// Socket calls with Windows results: truncation, error codes, bounded connect, option
// conversion, name resolution. Addresses 127.77.1.x only.
#include "platform/net/winsock.h"
#include "platform/net/winsock_internal.h"
#include "support/testutil.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

sockaddr_in addressOf(const char* ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

const sockaddr* asSockaddr(const sockaddr_in& a) {
    return reinterpret_cast<const sockaddr*>(&a);
}

// A socket of the given type bound to ip:port, or INVALID_SOCKET.
SOCKET boundSocket(int type, const char* ip, uint16_t port) {
    const SOCKET s = ws::socket(AF_INET, type, 0);
    const sockaddr_in a = addressOf(ip, port);
    if (s != INVALID_SOCKET && ws::bind(s, asSockaddr(a), sizeof a) != 0) {
        ws::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool isBlocking(SOCKET s) {
    return (fcntl(s, F_GETFL) & O_NONBLOCK) == 0;
}

} // namespace

TEST(WinsockStartup, GrantsVersionOneOneAndNeedsNoStart) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(data.wHighVersion, 0x0101);
    EXPECT_NE(WSAStartup(0x0001, &data), 0); // version 1.0 is not offered
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0); // a cleanup without a start does no harm
    // Calls after the cleanup still work.
    const SOCKET s = ws::socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(ws::closesocket(s), 0);
}

TEST(WinsockReceive, LongDatagramIsAnErrorAndIsConsumed) {
    const SOCKET s = boundSocket(SOCK_DGRAM, "127.77.1.1", 5198);
    ASSERT_NE(s, INVALID_SOCKET);
    testutil::UdpPeer peer("127.77.1.2", 5199);
    ASSERT_TRUE(peer.ok());
    std::vector<uint8_t> first(100), tooLong(3625, 0xAB), exact(3624), last(50);
    for (size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<uint8_t>(i);
    }
    for (size_t i = 0; i < exact.size(); ++i) {
        exact[i] = static_cast<uint8_t>(i * 7);
    }
    for (size_t i = 0; i < last.size(); ++i) {
        last[i] = static_cast<uint8_t>(200 + i);
    }
    ASSERT_TRUE(peer.sendTo("127.77.1.1", 5198, first));
    ASSERT_TRUE(peer.sendTo("127.77.1.1", 5198, tooLong));
    ASSERT_TRUE(peer.sendTo("127.77.1.1", 5198, exact));
    ASSERT_TRUE(peer.sendTo("127.77.1.1", 5198, std::vector<uint8_t>{}));
    ASSERT_TRUE(peer.sendTo("127.77.1.1", 5198, last));

    char buf[3624];
    sockaddr_in from{};
    int fromLen = sizeof from;
    ASSERT_EQ(ws::recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen),
              100);
    EXPECT_EQ(std::memcmp(buf, first.data(), first.size()), 0);
    EXPECT_EQ(fromLen, static_cast<int>(sizeof(sockaddr_in)));
    EXPECT_EQ(from.sin_family, AF_INET);
    EXPECT_EQ(ntohs(from.sin_port), 5199);
    EXPECT_STREQ(ws::inet_ntoa(from.sin_addr), "127.77.1.2");

    EXPECT_EQ(ws::recvfrom(s, buf, sizeof buf, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);

    // A datagram that fills the buffer exactly is no truncation.
    ASSERT_EQ(ws::recvfrom(s, buf, sizeof buf, 0, nullptr, nullptr), 3624);
    EXPECT_EQ(std::memcmp(buf, exact.data(), exact.size()), 0);
    EXPECT_EQ(ws::recvfrom(s, buf, sizeof buf, 0, nullptr, nullptr), 0);
    ASSERT_EQ(ws::recvfrom(s, buf, sizeof buf, 0, nullptr, nullptr), 50);
    EXPECT_EQ(std::memcmp(buf, last.data(), last.size()), 0);

    // Nothing left: a non-blocking receive would block.
    ASSERT_EQ(fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK), 0);
    EXPECT_EQ(ws::recvfrom(s, buf, sizeof buf, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(ws::closesocket(s), 0);
}

TEST(WinsockErrors, CodesAreWindowsStyleAndPerThread) {
    const SOCKET a = boundSocket(SOCK_DGRAM, "127.77.1.3", 5198);
    ASSERT_NE(a, INVALID_SOCKET);
    EXPECT_NE(fcntl(a, F_GETFD) & FD_CLOEXEC, 0);
    const SOCKET b = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(b, INVALID_SOCKET);
    const sockaddr_in same = addressOf("127.77.1.3", 5198);
    EXPECT_EQ(ws::bind(b, asSockaddr(same), sizeof same), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);

    // Another thread's failure does not change this thread's code.
    std::thread other([] { ws::closesocket(-1); });
    other.join();
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    EXPECT_EQ(ws::closesocket(-1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEBADF);

    // Codes without a name keep the errno number above 10000.
    EXPECT_EQ(ws::send(b, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), 10000 + EDESTADDRREQ);
    EXPECT_EQ(platform::wsaErrorFromErrno(EWOULDBLOCK), WSAEWOULDBLOCK);
    EXPECT_EQ(platform::wsaErrorFromErrno(ETIMEDOUT), WSAETIMEDOUT);
    EXPECT_EQ(platform::wsaErrorFromErrno(EHOSTUNREACH), WSAEHOSTUNREACH);
    EXPECT_EQ(ws::closesocket(a), 0);
    EXPECT_EQ(ws::closesocket(b), 0);
}

TEST(WinsockOptions, LingerIsConverted) {
    const SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    for (const LINGER given : {LINGER{1, 0}, LINGER{1, 1}, LINGER{0, 7}}) {
        ASSERT_EQ(ws::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&given),
                                 sizeof given),
                  0);
        linger now{};
        socklen_t size = sizeof now;
        ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_LINGER, &now, &size), 0);
        EXPECT_EQ(now.l_onoff != 0, given.l_onoff != 0);
        if (given.l_onoff != 0) {
            EXPECT_EQ(now.l_linger, given.l_linger);
        }
    }
    const char shortValue[2] = {1, 0};
    EXPECT_EQ(ws::setsockopt(s, SOL_SOCKET, SO_LINGER, shortValue, sizeof shortValue),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    // Other options pass through unchanged.
    const int size = 65536;
    EXPECT_EQ(
        ws::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size),
        0);
    EXPECT_EQ(ws::closesocket(s), 0);
}

TEST(WinsockConnect, StreamConnectsSendsAndStaysBlocking) {
    const SOCKET listener = boundSocket(SOCK_STREAM, "127.77.1.4", 5200);
    ASSERT_NE(listener, INVALID_SOCKET);
    ASSERT_EQ(listen(listener, 4), 0);
    const SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = addressOf("127.77.1.4", 5200);
    ASSERT_EQ(ws::connect(s, asSockaddr(to), sizeof to), 0);
    EXPECT_TRUE(isBlocking(s));
    EXPECT_EQ(ws::send(s, "l", 1, 0), 1);
    EXPECT_EQ(ws::send(s, "OFF\r", 4, 0), 4);
    const int accepted = accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    char got[8] = {};
    size_t have = 0;
    for (int i = 0; i < 10 && have < 5; ++i) {
        const ssize_t n = recv(accepted, got + have, sizeof got - have, 0);
        if (n <= 0) {
            break;
        }
        have += static_cast<size_t>(n);
    }
    EXPECT_EQ(std::string(got, have), "lOFF\r");

    // The peer goes away abortively: sends fail with an error, never with SIGPIPE.
    const linger abortive{1, 0};
    setsockopt(accepted, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(accepted);
    int result = 0;
    for (int i = 0; i < 20 && result != SOCKET_ERROR; ++i) {
        result = ws::send(s, "more", 4, 0);
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(ws::closesocket(s), 0);
    EXPECT_EQ(ws::closesocket(listener), 0);
}

TEST(WinsockConnect, RefusedPortFailsAtOnce) {
    const SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = addressOf("127.77.1.5", 5200);
    EXPECT_EQ(ws::connect(s, asSockaddr(to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    EXPECT_TRUE(isBlocking(s));
    EXPECT_EQ(ws::closesocket(s), 0);
}

TEST(WinsockConnect, UnansweredConnectionEndsAtTheTimeout) {
    // A listener with a full accept queue drops further connection requests unanswered.
    const SOCKET listener = boundSocket(SOCK_STREAM, "127.77.1.6", 5200);
    ASSERT_NE(listener, INVALID_SOCKET);
    ASSERT_EQ(listen(listener, 0), 0);
    const sockaddr_in to = addressOf("127.77.1.6", 5200);
    std::vector<SOCKET> queued;
    platform::setStreamConnectTimeout(300);
    bool timedOut = false;
    std::chrono::milliseconds took{0};
    for (int i = 0; i < 4 && !timedOut; ++i) {
        const SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
        const auto start = std::chrono::steady_clock::now();
        const int rc = ws::connect(s, asSockaddr(to), sizeof to);
        took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (rc == SOCKET_ERROR) {
            EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
            EXPECT_TRUE(isBlocking(s));
            timedOut = true;
        }
        queued.push_back(s);
    }
    platform::setStreamConnectTimeout(0);
    EXPECT_EQ(platform::streamConnectTimeout(), 10000);
    EXPECT_TRUE(timedOut);
    EXPECT_GE(took.count(), 250);
    EXPECT_LT(took.count(), 5000);
    for (const SOCKET s : queued) {
        ws::closesocket(s);
    }
    ws::closesocket(listener);
}

TEST(WinsockConnect, DatagramConnectIsPlain) {
    const SOCKET s = ws::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = addressOf("127.77.1.7", 5198);
    EXPECT_EQ(ws::connect(s, asSockaddr(to), sizeof to), 0);
    EXPECT_TRUE(isBlocking(s));
    testutil::UdpPeer station("127.77.1.7", 5198);
    ASSERT_TRUE(station.ok());
    EXPECT_EQ(ws::send(s, "oNDATA", 7, 0), 7);
    std::vector<uint8_t> got;
    ASSERT_TRUE(station.receive(got, 1000));
    EXPECT_EQ(got, (std::vector<uint8_t>{'o', 'N', 'D', 'A', 'T', 'A', 0}));
    EXPECT_EQ(ws::closesocket(s), 0);
}

TEST(WinsockResolve, DottedAddressAndUnknownName) {
    const HOSTENT* h = ws::gethostbyname("127.77.1.8");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->h_addrtype, AF_INET);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    in_addr first;
    std::memcpy(&first, h->h_addr_list[0], sizeof first);
    EXPECT_STREQ(ws::inet_ntoa(first), "127.77.1.8");
    EXPECT_EQ(h->h_addr_list[1], nullptr);
    EXPECT_EQ(h->h_aliases[0], nullptr);
    EXPECT_STREQ(h->h_name, "127.77.1.8");

    h = ws::gethostbyname("127.0.0.1");
    ASSERT_NE(h, nullptr);
    std::memcpy(&first, h->h_addr_list[0], sizeof first);
    EXPECT_EQ(first.s_addr, htonl(INADDR_LOOPBACK));

    // A name that fails without asking a name server (an empty label).
    EXPECT_EQ(ws::gethostbyname("no..such..host"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);

    in_addr broadcast;
    broadcast.s_addr = 0xFFFFFFFFu;
    EXPECT_STREQ(ws::inet_ntoa(broadcast), "255.255.255.255");
}
