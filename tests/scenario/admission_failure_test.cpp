// Admission and refusal when a station socket cannot be made, as on a server that has run
// out of descriptors: this program's own socket() lets a given number of sockets be made
// and then fails with EMFILE (lowering the descriptor limit instead would also starve the
// sanitizers' own checks). Checked: the boxes, that no window or record is left behind,
// that stationCount is untouched, that every socket opened on the way is closed again,
// and that the station is admitted once sockets can be had again.
// Server 127.70.6.1, stations 127.70.6.N.
#include "base/app_state.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
// Sockets that may still be made; -1: no limit.
int socketsLeft = -1;
} // namespace

// Stands in for the C library's socket() in this program: fails with EMFILE once
// socketsLeft is used up, otherwise makes the socket.
extern "C" int socket(int domain, int type, int protocol) {
    using SocketFn = int (*)(int, int, int);
    static SocketFn real = [] {
        void* symbol = dlsym(RTLD_NEXT, "socket");
        SocketFn fn = nullptr;
        std::memcpy(&fn, &symbol, sizeof fn);
        return fn;
    }();
    if (socketsLeft == 0) {
        errno = EMFILE;
        return -1;
    }
    if (socketsLeft > 0) {
        --socketsLeft;
    }
    return real(domain, type, protocol);
}

using testutil::ServerHarness;
using testutil::stationWindows;
using testutil::TestStation;

namespace {

const std::string SERVER = "127.70.6.1";

std::string config(int maxusers) {
    return "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n"
           "1=127.70.6.1\nmaxusers=" +
           std::to_string(maxusers) + "\n";
}

// The lowest descriptor number that is free now.
int lowestFreeDescriptor() {
    int fd = ::dup(0);
    if (fd >= 0) {
        ::close(fd);
    }
    return fd;
}

// While it lives, only `spare` more sockets can be made.
class SocketLimit {
  public:
    explicit SocketLimit(int spare) { socketsLeft = spare; }
    ~SocketLimit() { socketsLeft = -1; }
    SocketLimit(const SocketLimit&) = delete;
    SocketLimit& operator=(const SocketLimit&) = delete;
};

bool hasStation(const std::string& address) {
    return testutil::recordAt(address) != nullptr;
}

// Every child of the MDI client, station window or not (a failed admission must not leave
// a window without a record behind).
int mdiChildren() {
    int n = 0;
    for (HWND c = GetWindow(mdiClient, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        ++n;
    }
    return n;
}

} // namespace

TEST(AdmissionFailure, NoSocketForTheAudioPortGivesTheSocketBoxAndNoStation) {
    ServerHarness server(SERVER, config(8));
    ASSERT_TRUE(server.start());
    TestStation a("127.70.6.2");
    const int freeBefore = lowestFreeDescriptor();
    {
        SocketLimit limit(0);
        a.sendControl(SERVER, testutil::namePacket("A"));
        server.pump();
    }
    EXPECT_EQ(server.boxes(), std::vector<std::string>{"|Socket"});
    EXPECT_FALSE(hasStation(a.address()));
    EXPECT_EQ(stationCount, 0);
    EXPECT_EQ(mdiChildren(), 0);
    EXPECT_EQ(lowestFreeDescriptor(), freeBefore);
    // Sockets can be had again: the next packet admits the station.
    a.sendControl(SERVER, testutil::namePacket("A"));
    server.pump();
    EXPECT_TRUE(hasStation(a.address()));
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(server.boxes().size(), 1u);
}

TEST(AdmissionFailure, NoSocketForTheControlPortClosesTheAudioSocketAgain) {
    ServerHarness server(SERVER, config(8));
    ASSERT_TRUE(server.start());
    TestStation a("127.70.6.3");
    TestStation b("127.70.6.4");
    b.sendControl(SERVER, testutil::namePacket("B"));
    server.pump();
    ASSERT_EQ(stationCount, 1);
    const int freeBefore = lowestFreeDescriptor();
    {
        SocketLimit limit(1); // the audio socket, not the control socket
        a.sendControl(SERVER, testutil::namePacket("A"));
        server.pump();
    }
    EXPECT_EQ(server.boxes(), std::vector<std::string>{"|Socket"});
    EXPECT_FALSE(hasStation(a.address()));
    EXPECT_EQ(stationCount, 1);
    EXPECT_EQ(stationWindows(), 1);
    EXPECT_EQ(mdiChildren(), 1);
    EXPECT_EQ(lowestFreeDescriptor(), freeBefore); // the audio socket was closed
    // Nothing reached the station, and the other station goes on as before.
    EXPECT_TRUE(a.audio.drain().empty());
    EXPECT_TRUE(a.control.drain().empty());
    server.tick();
    EXPECT_EQ(b.control.drain().size(), 1u); // its first keep-alive
    EXPECT_EQ(stationCount, 1);
}

TEST(AdmissionFailure, RefusalWithoutAControlSocketSendsNothingAndLeaksNothing) {
    ServerHarness server(SERVER, config(0)); // one station is admitted, the next refused
    ASSERT_TRUE(server.start());
    TestStation first("127.70.6.5");
    TestStation second("127.70.6.6");
    first.sendControl(SERVER, testutil::emptyReceiverReport());
    server.pump();
    ASSERT_EQ(stationCount, 1);
    const int freeBefore = lowestFreeDescriptor();
    for (int spare : {1, 0}) { // the audio socket only, then none at all
        server.tick(10);       // one refusal per address per 10 ticks
        {
            SocketLimit limit(spare);
            second.sendControl(SERVER, testutil::emptyReceiverReport());
            server.pump();
        }
        EXPECT_EQ(server.boxes().back(), "ERR|Host error") << spare;
        EXPECT_TRUE(second.audio.drain().empty()) << spare;   // no busy text
        EXPECT_TRUE(second.control.drain().empty()) << spare; // no BYE compound
        EXPECT_EQ(lowestFreeDescriptor(), freeBefore) << spare;
        EXPECT_FALSE(hasStation(second.address()));
        EXPECT_EQ(stationCount, 1);
    }
    EXPECT_EQ(server.boxes().size(), 2u);
    // With sockets again, the refusal is told in full.
    server.tick(10);
    second.sendControl(SERVER, testutil::emptyReceiverReport());
    server.pump();
    EXPECT_EQ(second.audio.drain().size(), 1u);
    EXPECT_EQ(second.control.drain().size(), 1u);
    EXPECT_EQ(server.boxes().size(), 2u);
}
