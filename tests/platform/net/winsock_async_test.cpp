// Readiness notifications of WSAAsyncSelect: one at a time, re-armed by each receive.
// Addresses 127.77.2.x only.
#include "platform/net/winsock.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "support/testutil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <vector>

namespace {

constexpr UINT notifyMsg = 1124;
constexpr UINT markerMsg = 1300;

LRESULT quietProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class AsyncSelect : public ::testing::Test {
  protected:
    void SetUp() override {
        platformReset();
        WNDCLASSA wc{};
        wc.lpfnWndProc = quietProc;
        wc.lpszClassName = "WinsockAsyncTest";
        ASSERT_NE(RegisterClassA(&wc), 0);
        hwnd = CreateWindowExA(0, "WinsockAsyncTest", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        s = ws::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_NE(s, INVALID_SOCKET);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(5198);
        inet_pton(AF_INET, "127.77.2.1", &a.sin_addr);
        ASSERT_EQ(ws::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    }
    void TearDown() override {
        if (s != INVALID_SOCKET) {
            ws::closesocket(s);
        }
        platformReset();
    }

    // Takes every waiting notification of the socket out of the queue (after the pump
    // has looked at the sockets) and returns how many there were.
    int takeNotifications() {
        int count = 0;
        MSG m;
        while (count < 10 && PeekMessageA(&m, nullptr, notifyMsg, notifyMsg, PM_REMOVE)) {
            EXPECT_EQ(m.hwnd, hwnd);
            EXPECT_EQ(m.wParam, static_cast<WPARAM>(s));
            EXPECT_EQ(WSAGETSELECTEVENT(m.lParam), FD_READ);
            EXPECT_EQ(WSAGETSELECTERROR(m.lParam), 0);
            ++count;
        }
        return count;
    }

    // Sends datagrams "1".."n" to the socket and waits (bounded) until the first is there.
    void sendDatagrams(testutil::UdpPeer& peer, int n) {
        for (int i = 1; i <= n; ++i) {
            ASSERT_TRUE(peer.sendTo("127.77.2.1", 5198, std::to_string(i)));
        }
        pollfd p{s, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
    }

    std::string receive() {
        char buf[64];
        const int n = ws::recvfrom(s, buf, sizeof buf, 0, nullptr, nullptr);
        return n < 0 ? "error " + std::to_string(WSAGetLastError()) : std::string(buf, n);
    }

    HWND hwnd = nullptr;
    SOCKET s = INVALID_SOCKET;
};

} // namespace

TEST_F(AsyncSelect, OneNotificationAtATimeEachReceivePostsTheNext) {
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, FD_READ), 0);
    EXPECT_NE(fcntl(s, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(takeNotifications(), 0);

    testutil::UdpPeer peer("127.77.2.2", 5198);
    ASSERT_TRUE(peer.ok());
    sendDatagrams(peer, 3);
    EXPECT_EQ(takeNotifications(), 1);
    EXPECT_EQ(takeNotifications(), 0); // no second one while the first is unanswered

    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(receive(), std::to_string(i));
        // The next notification is posted by the receive itself, ahead of anything posted
        // after it, not found later by the pump.
        PostMessageA(hwnd, markerMsg, 0, 0);
        MSG m;
        ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
        if (i < 3) {
            EXPECT_EQ(m.message, notifyMsg) << "after receive " << i;
            ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
        }
        EXPECT_EQ(m.message, markerMsg) << "after receive " << i;
        EXPECT_EQ(takeNotifications(), 0) << "after receive " << i;
    }

    // A receive with nothing waiting hands the socket back to the pump: the next arrival
    // posts exactly one notification.
    EXPECT_EQ(receive(), "error " + std::to_string(WSAEWOULDBLOCK));
    EXPECT_EQ(takeNotifications(), 0);
    sendDatagrams(peer, 1);
    EXPECT_EQ(takeNotifications(), 1);
    EXPECT_EQ(receive(), "1");
    EXPECT_EQ(takeNotifications(), 0);
}

TEST_F(AsyncSelect, TruncatedReceiveAlsoRearms) {
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, FD_READ), 0);
    testutil::UdpPeer peer("127.77.2.3", 5198);
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.sendTo("127.77.2.1", 5198, std::string(100, 'x')));
    ASSERT_TRUE(peer.sendTo("127.77.2.1", 5198, std::string("after")));
    EXPECT_EQ(takeNotifications(), 1);
    char small[10];
    EXPECT_EQ(ws::recvfrom(s, small, sizeof small, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE); // not disturbed by the re-arming
    EXPECT_EQ(takeNotifications(), 1);
    EXPECT_EQ(receive(), "after");
    EXPECT_EQ(takeNotifications(), 0);
}

TEST_F(AsyncSelect, CancelAndCloseStopNotifications) {
    testutil::UdpPeer peer("127.77.2.4", 5198);
    ASSERT_TRUE(peer.ok());
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, FD_READ), 0);
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, 0), 0);
    sendDatagrams(peer, 2);
    EXPECT_EQ(takeNotifications(), 0);
    EXPECT_EQ(receive(), "1");
    EXPECT_EQ(takeNotifications(), 0);

    // Registered again: the datagram already waiting is announced.
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, FD_READ), 0);
    EXPECT_EQ(takeNotifications(), 1);
    EXPECT_EQ(ws::closesocket(s), 0);
    s = INVALID_SOCKET;
    EXPECT_EQ(takeNotifications(), 0);

    // Unsupported events and unusable sockets are refused.
    const SOCKET other = ws::socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(WSAAsyncSelect(other, hwnd, notifyMsg, FD_READ | 0x02), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    ws::closesocket(other);
    EXPECT_EQ(WSAAsyncSelect(-1, hwnd, notifyMsg, FD_READ), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEBADF);
}

// The next datagram is read ahead with each receive: every datagram still comes out whole,
// in order, with its own sender and length, and one longer than the room given is an error.
TEST_F(AsyncSelect, ReadAheadKeepsEachDatagramWithItsSenderAndLength) {
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, FD_READ), 0);
    testutil::UdpPeer first("127.77.2.5", 5198);
    testutil::UdpPeer second("127.77.2.6", 5198);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    const std::string big(5000, 'b');
    ASSERT_TRUE(first.sendTo("127.77.2.1", 5198, "one"));
    ASSERT_TRUE(second.sendTo("127.77.2.1", 5198, big));
    ASSERT_TRUE(first.sendTo("127.77.2.1", 5198, std::string(40, 'c')));
    ASSERT_TRUE(second.sendTo("127.77.2.1", 5198, "four"));
    pollfd p{s, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    ASSERT_EQ(takeNotifications(), 1);

    struct Expected {
        const char* sender;
        std::string bytes;
        int room;
    };
    const Expected expected[] = {{"127.77.2.5", "one", 64},
                                 {"127.77.2.6", big, 6000},
                                 {"127.77.2.5", std::string(40, 'c'), 10},
                                 {"127.77.2.6", "four", 64}};
    std::vector<char> buf(6000);
    for (const Expected& e : expected) {
        sockaddr_in from{};
        int fromLength = sizeof from;
        const int n =
            ws::recvfrom(s, buf.data(), e.room, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        char text[16];
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        EXPECT_STREQ(text, e.sender);
        EXPECT_EQ(fromLength, static_cast<int>(sizeof from));
        if (static_cast<int>(e.bytes.size()) > e.room) {
            EXPECT_EQ(n, SOCKET_ERROR);
            EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
        } else {
            ASSERT_EQ(n, static_cast<int>(e.bytes.size()));
            EXPECT_EQ(std::string(buf.data(), n), e.bytes);
        }
        // Each receive but the last found the next one waiting: one notification each.
        EXPECT_EQ(takeNotifications(), &e == &expected[3] ? 0 : 1) << e.bytes.size();
    }
    EXPECT_EQ(receive(), "error " + std::to_string(WSAEWOULDBLOCK));
}

// A datagram read ahead belongs to its socket: a cancelled registration still gives it to
// the next receive, and a close drops it, so a later socket with the same descriptor
// number never receives it.
TEST_F(AsyncSelect, ReadAheadSurvivesACancelButNotAClose) {
    testutil::UdpPeer peer("127.77.2.5", 5198);
    ASSERT_TRUE(peer.ok());
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, FD_READ), 0);
    sendDatagrams(peer, 3);
    pollfd p{s, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    ASSERT_EQ(takeNotifications(), 1);
    EXPECT_EQ(receive(), "1"); // "2" is read ahead
    ASSERT_EQ(takeNotifications(), 1);
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, 0), 0);
    EXPECT_EQ(receive(), "2");
    EXPECT_EQ(takeNotifications(), 0);

    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, FD_READ), 0);
    EXPECT_EQ(takeNotifications(), 1);
    ASSERT_TRUE(peer.sendTo("127.77.2.1", 5198, "4"));
    EXPECT_EQ(receive(), "3");
    EXPECT_EQ(takeNotifications(), 1); // "4" is read ahead and announced; the close drops it
    const SOCKET old = s;
    EXPECT_EQ(ws::closesocket(s), 0);
    s = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(s, old); // the lowest free descriptor number again
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(5198);
    inet_pton(AF_INET, "127.77.2.1", &a.sin_addr);
    ASSERT_EQ(ws::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(WSAAsyncSelect(s, hwnd, notifyMsg, FD_READ), 0);
    EXPECT_EQ(takeNotifications(), 0);
    EXPECT_EQ(receive(), "error " + std::to_string(WSAEWOULDBLOCK));
}
