// A close request (the EXIT command or a signal) that the audio relay dispatches from its
// queue turn: the server shuts down inside the relay, which must then finish the datagram
// it holds without touching anything the shutdown released, and the quit message must stay
// for the message loop, once. Server 127.70.7.1, stations 127.70.7.N.
#include "base/app_state.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <vector>

using testutil::ServerHarness;
using testutil::TestStation;

namespace {

const std::string SERVER = "127.70.7.1";
const char* const CONFIG =
    "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n1=127.70.7.1\n";

bool readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

} // namespace

TEST(CloseDuringRelay, CloseTakenInTheQueueTurnEndsTheServerCleanly) {
    ServerHarness server(SERVER, CONFIG);
    ASSERT_TRUE(server.start());
    TestStation a("127.70.7.2");
    TestStation b("127.70.7.3");
    a.sendControl(SERVER, testutil::namePacket("A"));
    b.sendControl(SERVER, testutil::namePacket("B"));
    server.pump();
    ASSERT_EQ(stationCount, 2);
    server.tick(); // more than 350 ms since any turn: the next receipt takes one
    a.control.drain();
    b.control.drain();

    // A's datagram is noticed first, then the close request is posted behind it.
    const int audioSocket = audioPortSocket;
    a.sendAudio(SERVER, std::vector<uint8_t>(144, 0x55));
    ASSERT_TRUE(readable(audioSocket, 1000));
    MSG peeked{};
    ASSERT_TRUE(PeekMessageA(&peeked, nullptr, 0, 0, PM_NOREMOVE));
    PostMessageA(mainWindow, WM_CLOSE, 0, 0);
    server.pump();

    // The relay took the turn, the turn ran the close: the server is gone, its stations
    // released, and nothing was relayed after the stations went.
    EXPECT_FALSE(IsWindow(mainWindow));
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(audioPortSocket, INVALID_SOCKET);
    EXPECT_EQ(controlPortSocket, INVALID_SOCKET);
    EXPECT_TRUE(b.audio.drain().empty());
    EXPECT_TRUE(platformQuitPosted());
    int quits = 0;
    MSG msg{};
    while (quits < 10 && PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        ++quits;
        EXPECT_EQ(msg.wParam, 0u);
    }
    EXPECT_EQ(quits, 1);
}
