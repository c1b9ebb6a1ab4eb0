// A station's name as it leaves the process: escaped on the status line (one change, one
// line), byte for byte as sent in the station list text on the wire. Server on
// 127.101.0.1, stations on 127.101.1.N.
#include "platform/runtime.h"
#include "support/server_harness.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using testutil::ServerHarness;
using testutil::TestStation;
using Bytes = std::vector<uint8_t>;

namespace {

const char* const CONFIG = "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n";

TEST(StatusEscape, NameWithControlBytesIsOneEscapedStatusLineAndUnchangedOnTheWire) {
    ServerHarness server("127.101.0.1", CONFIG);
    ASSERT_TRUE(server.start());
    // ESC, BEL, CR, LF, DEL and a backslash in the name, as a hostile station sends it.
    const std::string name = "EV\x1b[2J\x07\r\nIL\x7f\\1";
    TestStation talker("127.101.1.1");
    TestStation listener("127.101.1.2");
    talker.sendControl(server.address(), testutil::namePacket(name));
    listener.sendControl(server.address(), testutil::namePacket("L2"));
    server.pump();
    talker.audio.drain();
    listener.audio.drain();

    // From here the status line goes to standard output as in minimised mode.
    platformSetStatusHook(nullptr);
    testing::internal::CaptureStdout();
    talker.sendAudio(server.address(), Bytes(144, 0x21)); // takes the lock: list text built
    server.pump();
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_FALSE(out.empty());
    // Exactly one line, its text escaped after the 24-character time stamp.
    ASSERT_EQ(out.find('\n'), out.size() - 1) << out;
    EXPECT_EQ(out.substr(24), ">>EV\\x1B[2J\\x07\\x0D\\x0AIL\\x7F\\\\1<< Que=0\n");

    // The next datagram carries the list text: the name exactly as the station sent it.
    talker.sendAudio(server.address(), Bytes(144, 0x22));
    server.pump();
    std::vector<Bytes> got = listener.audio.drain();
    ASSERT_EQ(got.size(), 3u);
    std::string list(got[2].begin(), got[2].end());
    const std::string expected = std::string("oNDATACONF V3.67:\r\r") + "L2\r" + name + " <\r";
    EXPECT_EQ(list, expected + std::string(1, '\0'));
}

} // namespace
