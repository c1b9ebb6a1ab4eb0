// The pure pieces of the links: the section's keys as the file holds them (the key list of
// the profile rules), own addresses, and the link events as the log writes them.
#include "links/links_internal.h"
#include "monitor/event_log.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "support/testutil.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

uint32_t ip(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

} // namespace

TEST(LinkEntries, KeysComeInFileOrderFirstOfTwoEqualOnlyAndOnlyFromTheirSection) {
    testutil::TempDir dir;
    std::string path = dir.file("omvarc.ini");
    testutil::writeFile(path, "[links]\n2 = b.example\n1=\n; 3=comment\n9=c\n2=again\n"
                              "[server]\n1=dir\n[LINKS]\n4=later section\n");
    platformSetProfileFile("omvarc.ini", path.c_str());
    LinkEntry entries[8];
    int more = -1;
    ASSERT_EQ(linksReadEntries(entries, 2, &more), 2);
    EXPECT_EQ(more, 1);
    EXPECT_STREQ(entries[0].key, "2");
    EXPECT_STREQ(entries[0].value, "b.example");
    EXPECT_STREQ(entries[1].key, "1");
    EXPECT_STREQ(entries[1].value, "");
    ASSERT_EQ(linksReadEntries(entries, 8, &more), 3);
    EXPECT_EQ(more, 0);
    EXPECT_STREQ(entries[2].key, "9");
    EXPECT_EQ(linkKeyNumber("1"), 1);
    EXPECT_EQ(linkKeyNumber("8"), 8);
    EXPECT_EQ(linkKeyNumber("9"), 0);
    EXPECT_EQ(linkKeyNumber("0"), 0);
    EXPECT_EQ(linkKeyNumber("10"), 0);
    // A buffer too small for the list cuts it and ends it with two NUL bytes.
    char small[6];
    std::memset(small, '@', sizeof small);
    EXPECT_EQ(GetPrivateProfileStringA("links", nullptr, "", small, 5, "omvarc.ini"), 3u);
    EXPECT_EQ(std::string(small, 5), std::string("2\0"
                                                 "1\0\0",
                                                 5));
    EXPECT_EQ(small[5], '@');
    char none[4] = "xyz";
    EXPECT_EQ(GetPrivateProfileStringA("nosuch", nullptr, "", none, 4, "omvarc.ini"), 0u);
    EXPECT_EQ(none[0], '\0');
    EXPECT_EQ(none[1], '\0');
}

TEST(LinkAddresses, OwnIsTheBoundAddressElseLoopbackAndTheInterfacesAndNeverAPeer) {
    EXPECT_TRUE(linkIsOwnAddress(ip("127.210.50.1"), ip("127.210.50.1")));
    EXPECT_FALSE(linkIsOwnAddress(ip("127.210.50.2"), ip("127.210.50.1")));
    EXPECT_TRUE(linkIsOwnAddress(ip("127.210.50.2"), 0));
    EXPECT_TRUE(linkIsOwnAddress(ip("127.0.0.1"), 0));
    EXPECT_FALSE(linkIsOwnAddress(ip("192.0.2.7"), 0));
    for (const char* never : {"0.0.0.0", "255.255.255.255", "224.0.0.1", "239.1.2.3"}) {
        EXPECT_TRUE(linkIsOwnAddress(ip(never), ip("127.210.50.1"))) << never;
    }
    EXPECT_TRUE(linkIsInterfaceAddress(ip("127.0.0.1")));
    EXPECT_FALSE(linkIsInterfaceAddress(ip("127.210.50.9")));
}

TEST(LinkEvents, LinesAndJournalFieldsNameTheHostAndTheReason) {
    MonitorEvent down{};
    down.kind = MonitorEventKind::LinkDown;
    down.hasLink = true;
    std::snprintf(down.link, sizeof down.link, "peer.example.net");
    down.address = ip("192.0.2.7");
    down.reason = "timeout";
    char text[256];
    eventLogLine(down, text, sizeof text);
    EXPECT_STREQ(text, "event link-down peer.example.net timeout");
    MonitorEvent up = down;
    up.kind = MonitorEventKind::LinkUp;
    eventLogLine(up, text, sizeof text);
    EXPECT_STREQ(text, "event link-up peer.example.net");
    EventJournalFields fields;
    eventJournalFields(down, &fields);
    std::vector<std::string> got(fields.field, fields.field + fields.count);
    EXPECT_EQ(got, (std::vector<std::string>{
                       "MESSAGE=event link-down peer.example.net timeout", "PRIORITY=6",
                       "SYSLOG_IDENTIFIER=confserver", "CONFSERVER_EVENT=link-down",
                       "CONFSERVER_LINK=peer.example.net", "CONFSERVER_ADDRESS=192.0.2.7",
                       "CONFSERVER_REASON=timeout"}));
}
