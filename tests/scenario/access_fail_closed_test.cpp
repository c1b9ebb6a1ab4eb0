// The access file fails closed in the real server with the manual clock: while a station
// outside a closed conference's address list keeps trying to join, the file is removed,
// truncated, replaced by a FIFO and by a directory; it is never admitted and never gets a
// byte back, and a member still joins. Server on 127.174.0.1, stations on 127.174.N.M.
#include "stations/station.h"
#include "support/server_harness.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using testutil::ServerHarness;
using testutil::TestStation;

TEST(AccessFailsClosed, AStrangerRetryingWhileTheFileIsRemovedTruncatedOrAFifoIsNeverAdmitted) {
    ServerHarness server("127.174.0.1", "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n"
                                        "[server]\nver=618\n[access]\nfile=rules.access\n");
    std::string rules =
        server.configPath().substr(0, server.configPath().rfind('/')) + "/rules.access";
    testutil::writeFile(rules, "allow 127.174.2.0/24\n");
    ASSERT_TRUE(server.start());
    TestStation stranger("127.174.1.1");
    // Three ticks of retries, one join a tick; nothing may come of any of them.
    auto retries = [&](const char* when) {
        for (int t = 0; t < 3; ++t) {
            stranger.sendControl(server.address(), testutil::namePacket("G4ABC"));
            server.pump();
            server.tick();
            EXPECT_EQ(stationCount, 0) << when << ", tick " << t;
        }
        EXPECT_TRUE(stranger.control.drain().empty()) << when;
        EXPECT_TRUE(stranger.audio.drain().empty()) << when;
    };
    retries("with the file");
    std::filesystem::remove(rules);
    retries("removed");
    testutil::writeFile(rules, "allow 127.174.2.0/24\n# back\n");
    server.tick();
    ASSERT_EQ(truncate(rules.c_str(), 0), 0);
    retries("truncated");
    std::filesystem::remove(rules);
    ASSERT_EQ(mkfifo(rules.c_str(), 0600), 0);
    retries("a FIFO");
    std::filesystem::remove(rules);
    std::filesystem::create_directory(rules);
    retries("a directory");
    // A member of the list is still let in.
    TestStation member("127.174.2.1");
    member.sendControl(server.address(), testutil::namePacket("M0ABC"));
    server.pump();
    EXPECT_EQ(stationCount, 1);
    server.close();
}
