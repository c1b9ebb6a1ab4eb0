// The HTTP view's listening address as the command line and the file give it.
#include "monitor/monitor_view.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

TEST(HttpAddress, TakesADottedAddressAndAPortAndNothingElse) {
    uint32_t address = 0;
    uint16_t port = 0;
    ASSERT_TRUE(monitorParseHttpAddress("127.0.0.1:8210", &address, &port));
    EXPECT_EQ(address, htonl(0x7F000001));
    EXPECT_EQ(port, 8210);
    ASSERT_TRUE(monitorParseHttpAddress("0.0.0.0:65535", &address, &port));
    EXPECT_EQ(port, 65535);
    for (const char* bad : {"", ":80", "127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536",
                            "127.0.0.1:8o", "127.0.0.1:+80", "127.0.0.1:-1", "localhost:80",
                            "1.2.3:80", "::1:80", "127.0.0.1:123456", "127.000.000.001.1:80"}) {
        address = 7;
        port = 7;
        EXPECT_FALSE(monitorParseHttpAddress(bad, &address, &port)) << bad;
        EXPECT_EQ(address, 7u) << bad;
        EXPECT_EQ(port, 7) << bad;
    }
    EXPECT_FALSE(monitorParseHttpAddress(nullptr, &address, &port));
}

TEST(HttpAddress, TimesAreUtcWithMilliseconds) {
    char text[40];
    monitorTimeText(1796817600000, text, sizeof text);
    EXPECT_STREQ(text, "2026-12-09T12:00:00.000Z");
    monitorTimeText(1796817600000 + 43199999, text, sizeof text);
    EXPECT_STREQ(text, "2026-12-09T23:59:59.999Z");
    monitorTimeText(0, text, sizeof text);
    EXPECT_STREQ(text, "1970-01-01T00:00:00.000Z");
}
