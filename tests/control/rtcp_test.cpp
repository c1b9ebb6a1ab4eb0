// The control packet readers: validity, BYE test, APP search, SDES items, item text.
#include "control/rtcp.h"
#include "rtcp_packets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace rtcptest;

namespace {

bool check(const Bytes& b) {
    HeapDatagram d(b);
    return rtcpCheckCompound(d.data(), d.length);
}

bool hasBye(const Bytes& b) {
    HeapDatagram d(b);
    return rtcpHasBye(d.data(), d.length);
}

// Offset of the found APP packet in the datagram, or -1 when none was found.
long findApp(const Bytes& b, const char* name) {
    HeapDatagram d(b);
    const uint8_t sentinel = 0;
    const uint8_t* app = &sentinel;
    const bool found = rtcpFindApp(d.data(), d.length, name, &app);
    if (!found) {
        EXPECT_EQ(app, nullptr);
        return -1;
    }
    return static_cast<long>(app - d.data());
}

// The handler's table: CNAME, NAME, EMAIL, TOOL.
SdesItemTable handlerTable() {
    return namingItemTable();
}

// Runs the SDES extraction; items[i] is the text of entry i, or "<none>".
struct SdesResult {
    bool found;
    std::string items[4];
    long offsets[4];
};

SdesResult sdesItems(const Bytes& b) {
    HeapDatagram d(b);
    SdesItemTable t = handlerTable();
    static const uint8_t stale = 0;
    for (SdesItemEntry& e : t.entries) {
        e.item = &stale; // must be cleared by the call
    }
    SdesResult r{};
    r.found = rtcpGetSdesItems(d.data(), d.length, &t);
    for (int i = 0; i < 4; ++i) {
        if (t.entries[i].item == nullptr) {
            r.items[i] = "<none>";
            r.offsets[i] = -1;
            continue;
        }
        r.offsets[i] = static_cast<long>(t.entries[i].item - d.data());
        EXPECT_GE(r.offsets[i], 0);
        EXPECT_LE(r.offsets[i] + 2 + t.entries[i].item[1], d.length);
        char out[256];
        sdesItemText(t.entries[i].item, out);
        r.items[i] = out;
    }
    return r;
}

} // namespace

TEST(RtcpCheck, EmptyReceiverReportIsValidWithNeitherByeNorSdes) {
    const Bytes rr = {0xC0, 0xC9, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44};
    EXPECT_TRUE(check(rr));
    EXPECT_FALSE(hasBye(rr));
    EXPECT_FALSE(sdesItems(rr).found);
    EXPECT_EQ(findApp(rr, "SFtc"), -1);
}

TEST(RtcpCheck, SenderReportFirstIsValid) {
    const Bytes sr = packet(0, 200, Bytes(24, 0x55)); // SSRC and sender info
    EXPECT_TRUE(check(sr));
    EXPECT_TRUE(check(cat({sr, sdes({chunk(1, {item(SDES_NAME, "X")})}), bye()})));
}

TEST(RtcpCheck, FirstPacketMustBeUnpaddedSrOrRrOfVersion3) {
    EXPECT_FALSE(check(sdes({chunk(1, {item(SDES_NAME, "X")})})));
    EXPECT_FALSE(check(cat({bye(), emptyRr()})));
    EXPECT_FALSE(check(cat({app("SFtc"), emptyRr()})));
    EXPECT_FALSE(check(packet(0, 201, u32(1), 3, true)));                  // padding flag
    EXPECT_FALSE(check(cat({packet(0, 201, u32(1), 2), emptyRr()})));      // version 2
    EXPECT_FALSE(check(cat({packet(0, 201, u32(1), 1), emptyRr()})));      // version 1
    EXPECT_FALSE(check(cat({packet(0, 199, u32(1)), emptyRr()})));         // other type
    EXPECT_FALSE(check({0x80, 0xC9, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00})); // RFC version 2
}

TEST(RtcpCheck, AnyLaterPacketOfAnotherVersionMakesItInvalid) {
    const Bytes good = cat({emptyRr(), sdes({chunk(1, {item(SDES_NAME, "X")})})});
    EXPECT_TRUE(check(good));
    EXPECT_FALSE(check(cat({good, packet(1, 203, u32(1), 2)})));
    EXPECT_FALSE(check(cat({emptyRr(), packet(1, 202, chunk(1, {}), 2), bye()})));
    EXPECT_FALSE(check(cat({emptyRr(), packet(1, 203, u32(1), 0)})));
    // Later packets are tested for their version only: padding and unknown types pass.
    EXPECT_TRUE(check(cat({emptyRr(), packet(0, 210, u32(1), 3, true)})));
}

TEST(RtcpCheck, LengthsMustAddUpExactlyToTheDatagram) {
    // More: the RR claims 12 bytes of an 8-byte datagram; the last packet runs past the end.
    EXPECT_FALSE(check(packet(0, 201, u32(1), 3, false, 2)));
    EXPECT_FALSE(check(cat({emptyRr(), packet(1, 203, u32(1), 3, false, 2)})));
    EXPECT_FALSE(check(cat({emptyRr(), packet(1, 203, u32(1), 3, false, 65535)})));
    EXPECT_FALSE(check(packet(0, 201, u32(1), 3, false, 65535)));
    // Less: the RR claims 4 bytes, and its SSRC bytes are then read as a header of version 0.
    EXPECT_FALSE(check(packet(0, 201, u32(1), 3, false, 0)));
    EXPECT_FALSE(check(cat({emptyRr(), Bytes(4, 0)})));
    // ...unless those bytes happen to form a version-3 header themselves.
    EXPECT_TRUE(check(packet(0, 201, {0xC0, 0xCA, 0x00, 0x00}, 3, false, 0)));
}

TEST(RtcpCheck, SizeNotAMultipleOfFourIsNeverValid) {
    const Bytes rr = emptyRr();
    for (size_t extra = 1; extra <= 3; ++extra) {
        Bytes b = rr;
        b.insert(b.end(), extra, 0xC0);
        EXPECT_FALSE(check(b)) << extra;
    }
    for (size_t size = 1; size <= 7; ++size) {
        EXPECT_FALSE(check(Bytes(rr.begin(), rr.begin() + static_cast<long>(size)))) << size;
    }
    // The first packet's length field must be in a header that lies inside the datagram.
    EXPECT_FALSE(check({0xC0, 0xC9, 0x00}));
}

TEST(RtcpCheck, LargestLengthFieldIsWalkedWithoutOverflow) {
    Bytes big = packet(0, 201, Bytes(65535 * 4, 0));
    ASSERT_EQ(big.size(), 262144u);
    EXPECT_TRUE(check(big));
    big.push_back(0);
    EXPECT_FALSE(check(big));
}

TEST(RtcpCheck, NoDatagramIsInvalid) {
    const uint8_t rr[8] = {0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0};
    EXPECT_FALSE(rtcpCheckCompound(nullptr, 8));
    EXPECT_FALSE(rtcpCheckCompound(rr, 0));
    EXPECT_FALSE(rtcpCheckCompound(rr, -8));
    EXPECT_FALSE(rtcpHasBye(rr, -8));
    const uint8_t* app = rr;
    EXPECT_FALSE(rtcpFindApp(rr, -8, "SFtc", &app));
    EXPECT_EQ(app, nullptr);
    SdesItemTable t = handlerTable();
    EXPECT_FALSE(rtcpGetSdesItems(nullptr, 8, &t));
    EXPECT_FALSE(rtcpGetSdesItems(rr, 8, nullptr));
}

TEST(RtcpBye, FoundOnlyInValidCompounds) {
    EXPECT_TRUE(hasBye(cat({emptyRr(), bye()})));
    EXPECT_TRUE(hasBye(cat({emptyRr(), sdes({chunk(1, {item(SDES_NAME, "X")})}), bye()})));
    EXPECT_TRUE(hasBye(cat({emptyRr(), packet(1, 203, cat({u32(1), {4}, text("Term")}))})));
    EXPECT_FALSE(hasBye(cat({emptyRr(), sdes({chunk(1, {item(SDES_NAME, "X")})})})));
    EXPECT_FALSE(hasBye(emptyRr()));
    EXPECT_FALSE(hasBye(cat({emptyRr(), bye(), Bytes(4, 0)})));                  // trailing bytes
    EXPECT_FALSE(hasBye(cat({emptyRr(), packet(1, 203, u32(1), 2)})));           // BYE of version 2
    EXPECT_FALSE(hasBye(cat({bye(), emptyRr()})));                               // BYE first
    EXPECT_FALSE(hasBye(cat({emptyRr(), packet(1, 203, u32(1), 3, false, 9)}))); // overshoot
}

TEST(RtcpApp, SFtcFoundWhereverItStandsAfterTheFirstPacket) {
    const Bytes rr = emptyRr();
    const Bytes sd = sdes({chunk(1, {item(SDES_NAME, "X")})});
    EXPECT_EQ(findApp(cat({rr, app("SFtc")}), "SFtc"), 8);
    EXPECT_EQ(findApp(cat({rr, sd, app("SFtc")}), "SFtc"), static_cast<long>(8 + sd.size()));
    EXPECT_EQ(findApp(cat({rr, app("SFtc", Bytes(8, 1)), sd}), "SFtc"), 8);
    EXPECT_EQ(findApp(cat({rr, app("ABCD"), app("SFtc")}), "SFtc"), 20);
    EXPECT_EQ(findApp(cat({rr, app("SFtc"), app("SFtc")}), "SFtc"), 8); // the first one
    EXPECT_EQ(findApp(cat({rr, app("ABCD")}), "ABCD"), 8);
}

TEST(RtcpApp, OtherNamesShortPacketsAndBadWalksAreNotFound) {
    const Bytes rr = emptyRr();
    EXPECT_EQ(findApp(cat({rr, app("SFtd")}), "SFtc"), -1);
    EXPECT_EQ(findApp(cat({rr, app("sftc")}), "SFtc"), -1);
    EXPECT_EQ(findApp(cat({app("SFtc"), rr}), "SFtc"), -1); // first-packet test
    // An APP packet of 8 bytes at the end: its name would lie outside the datagram.
    EXPECT_EQ(findApp(cat({rr, packet(0, 204, u32(1))}), "SFtc"), -1);
    // An APP packet of 8 bytes whose bytes 8-11 (the next packet's header, inside the
    // datagram) spell the name: too short to be compared.
    const Bytes next = packet(4, 204, Bytes(1028, 0)); // header C4 CC 01 01
    const Bytes shortApp = cat({rr, packet(0, 204, u32(1)), next});
    ASSERT_TRUE(check(shortApp));
    EXPECT_EQ(findApp(shortApp, "\xC4\xCC\x01\x01"), -1);
    EXPECT_EQ(findApp(cat({rr, packet(0, 204, cat({u32(1), text("\xC4\xCC\x01\x01")})), next}),
                      "\xC4\xCC\x01\x01"),
              8);
    // Length field running past the end: the name is inside, the packet is not.
    EXPECT_EQ(findApp(cat({rr, packet(0, 204, cat({u32(1), text("SFtc")}), 3, false, 3)}), "SFtc"),
              -1);
    // The walk ends at a packet of another version.
    EXPECT_EQ(findApp(cat({rr, packet(1, 203, u32(1), 2), app("SFtc")}), "SFtc"), -1);
    // A name of fewer than four characters matches nothing.
    EXPECT_EQ(findApp(cat({rr, packet(0, 204, cat({u32(1), {'S', 'F', 0, 0}}))}), "SF"), -1);
    EXPECT_EQ(findApp(cat({rr, app("SFtc")}), nullptr), -1);
}

TEST(RtcpApp, ResultPointerMayBeOmitted) {
    HeapDatagram d(cat({emptyRr(), app("SFtc")}));
    EXPECT_TRUE(rtcpFindApp(d.data(), d.length, "SFtc", nullptr));
}

TEST(RtcpSdes, HandlerTableTakesEachWantedType) {
    const Bytes b =
        cat({emptyRr(), sdes({chunk(7, {item(SDES_CNAME, "cname"), item(SDES_PHONE, "123"),
                                        item(SDES_NAME, "DL1ABC Op"), item(SDES_EMAIL, "e@x"),
                                        item(SDES_TOOL, "tool 1.0")})})});
    const SdesResult r = sdesItems(b);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.items[0], "cname");
    EXPECT_EQ(r.items[1], "DL1ABC Op");
    EXPECT_EQ(r.items[2], "e@x");
    EXPECT_EQ(r.items[3], "tool 1.0");
    EXPECT_EQ(r.offsets[0], 16); // right after the chunk's SSRC
    EXPECT_EQ(r.offsets[1], 16 + 7 + 5);
}

TEST(RtcpSdes, OnlyPhoneItemGivesFalseAndClearsEntries) {
    const SdesResult r = sdesItems(cat({emptyRr(), sdes({chunk(1, {item(SDES_PHONE, "08:30")})})}));
    EXPECT_FALSE(r.found);
    for (const std::string& s : r.items) {
        EXPECT_EQ(s, "<none>");
    }
    EXPECT_FALSE(sdesItems(emptyRr()).found);
    EXPECT_FALSE(sdesItems(cat({emptyRr(), bye()})).found);
}

TEST(RtcpSdes, FirstOfTwoEqualItemsIsTaken) {
    const SdesResult r = sdesItems(
        cat({emptyRr(), sdes({chunk(1, {item(SDES_NAME, "first"), item(SDES_NAME, "second")})})}));
    EXPECT_EQ(r.items[1], "first");
}

TEST(RtcpSdes, SecondChunkIsNeverRead) {
    const SdesResult r = sdesItems(cat({emptyRr(), sdes({chunk(1, {item(SDES_CNAME, "one")}),
                                                         chunk(2, {item(SDES_NAME, "two")})})}));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.items[0], "one");
    EXPECT_EQ(r.items[1], "<none>");
    // A first chunk with nothing wanted gives false, even when the second has a NAME.
    EXPECT_FALSE(sdesItems(cat({emptyRr(), sdes({chunk(1, {item(SDES_PHONE, "1")}),
                                                 chunk(2, {item(SDES_NAME, "two")})})}))
                     .found);
}

TEST(RtcpSdes, EmptySdesPacketIsPassedOverAndOnlyTheFirstNonEmptyOneRead) {
    // Chunk count 0, with bytes that would read as a NAME item if the packet were scanned.
    const Bytes empty = packet(0, 202, chunk(1, {item(SDES_NAME, "ghost")}));
    const Bytes taken = sdes({chunk(2, {item(SDES_CNAME, "real")})});
    const Bytes later = sdes({chunk(3, {item(SDES_NAME, "later")})});
    const SdesResult r = sdesItems(cat({emptyRr(), empty, taken, later}));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.items[0], "real");
    EXPECT_EQ(r.items[1], "<none>");
    // A header-only SDES packet with count 0 is passed over too.
    EXPECT_EQ(sdesItems(cat({emptyRr(), packet(0, 202, {}), later})).items[1], "later");
}

TEST(RtcpSdes, ScanStopsAtTypeZero) {
    // 00 ends the list; the bytes after it would read as a NAME item.
    const Bytes body = cat({u32(1), item(SDES_CNAME, "c"), {0}, item(SDES_NAME, "hidden")});
    const SdesResult r = sdesItems(cat({emptyRr(), packet(1, 202, body)}));
    EXPECT_EQ(r.items[0], "c");
    EXPECT_EQ(r.items[1], "<none>");
}

TEST(RtcpSdes, ItemsMustLieWhollyInsideTheSdesPacket) {
    // The NAME item claims 20 text bytes; the SDES packet ends after 2, the datagram goes on
    // with a BYE whose bytes would cover them.
    const Bytes body = cat({u32(1), item(SDES_CNAME, "c"), {SDES_NAME, 20}, text("ab"), {0}});
    const Bytes b = cat({emptyRr(), packet(1, 202, body), bye(), bye(), bye()});
    EXPECT_TRUE(check(b));
    const SdesResult r = sdesItems(b);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.items[0], "c");
    EXPECT_EQ(r.items[1], "<none>");
}

TEST(RtcpSdes, ItemHeadersAtTheVeryEndOfThePacket) {
    // Type byte as the packet's last byte, no length byte: not an item.
    const Bytes typeLast = cat({u32(1), {SDES_CNAME, 1, 'A', SDES_NAME}});
    SdesResult r = sdesItems(cat({emptyRr(), packet(1, 202, typeLast)}));
    EXPECT_EQ(r.items[0], "A");
    EXPECT_EQ(r.items[1], "<none>");
    // Length byte as the packet's last byte, claiming text that is not there.
    const Bytes lengthLast = cat({u32(1), {SDES_CNAME, 0, SDES_NAME, 5}});
    r = sdesItems(cat({emptyRr(), packet(1, 202, lengthLast), bye()}));
    EXPECT_EQ(r.items[0], "");
    EXPECT_EQ(r.items[1], "<none>");
    // An empty item whose two bytes end the packet exactly lies inside it.
    const Bytes emptyLast = cat({u32(1), {SDES_CNAME, 0, SDES_NAME, 0}});
    r = sdesItems(cat({emptyRr(), packet(1, 202, emptyLast)}));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.offsets[1], 18);
    EXPECT_EQ(r.items[1], "");
}

TEST(RtcpSdes, SdesTooShortForItsChunkOrOtherVersions) {
    // Count 1 but only the 4-byte header: no SSRC, no items.
    EXPECT_FALSE(sdesItems(cat({emptyRr(), packet(1, 202, {})})).found);
    EXPECT_FALSE(sdesItems(packet(1, 202, {})).found);
    // Just the SSRC.
    EXPECT_FALSE(sdesItems(cat({emptyRr(), packet(1, 202, u32(1))})).found);
    // A packet of another version before the SDES ends the walk.
    EXPECT_FALSE(sdesItems(cat({emptyRr(), packet(1, 203, u32(1), 2),
                                sdes({chunk(1, {item(SDES_NAME, "X")})})}))
                     .found);
    // A length running past the end before the SDES ends the walk.
    EXPECT_FALSE(sdesItems(cat({packet(0, 201, u32(1), 3, false, 40),
                                sdes({chunk(1, {item(SDES_NAME, "X")})})}))
                     .found);
}

TEST(RtcpSdes, SdesPacketRunningPastTheDatagramIsReadOnlyUpToTheEnd) {
    const Bytes full =
        cat({emptyRr(), sdes({chunk(1, {item(SDES_CNAME, "abc"), item(SDES_NAME, "longname")})})});
    // Cut inside the NAME text: CNAME still lies inside, NAME does not.
    const Bytes cut(full.begin(), full.begin() + 8 + 8 + 5 + 4);
    const SdesResult r = sdesItems(cut);
    EXPECT_EQ(r.items[0], "abc");
    EXPECT_EQ(r.items[1], "<none>");
}

TEST(RtcpSdes, EqualWantedTypesTakeSuccessiveItemsAndCountIsBounded) {
    HeapDatagram d(cat({emptyRr(), sdes({chunk(1, {item(SDES_NAME, "a"), item(SDES_NAME, "b"),
                                                   item(SDES_NAME, "c")})})}));
    auto table = std::make_unique<SdesItemTable>();
    table->count = 2;
    table->entries[0].type = SDES_NAME;
    table->entries[1].type = SDES_NAME;
    ASSERT_TRUE(rtcpGetSdesItems(d.data(), d.length, table.get()));
    EXPECT_EQ(table->entries[0].item, d.data() + 16);
    EXPECT_EQ(table->entries[1].item, d.data() + 19);

    // A count beyond the table's eight entries uses the eight; a negative count none.
    table->count = 1000;
    for (SdesItemEntry& e : table->entries) {
        e.type = SDES_EMAIL;
    }
    table->entries[7].type = SDES_NAME;
    ASSERT_TRUE(rtcpGetSdesItems(d.data(), d.length, table.get()));
    EXPECT_EQ(table->entries[7].item, d.data() + 16);
    table->count = -1;
    EXPECT_FALSE(rtcpGetSdesItems(d.data(), d.length, table.get()));
    table->count = 0;
    EXPECT_FALSE(rtcpGetSdesItems(d.data(), d.length, table.get()));
}

TEST(RtcpItemText, LongestTextFillsTheBufferExactly) {
    // Item in an exactly-sized block, text into an exactly 256-byte block.
    Bytes it = {SDES_NAME, 255};
    for (int i = 0; i < 255; ++i) {
        it.push_back(static_cast<uint8_t>('A' + i % 26));
    }
    HeapDatagram d(it);
    auto out = std::make_unique<char[]>(256);
    std::memset(out.get(), 'x', 256);
    sdesItemText(d.data(), out.get());
    EXPECT_EQ(out[255], '\0');
    EXPECT_EQ(std::strlen(out.get()), 255u);
    EXPECT_EQ(std::memcmp(out.get(), d.data() + 2, 255), 0);
}

TEST(RtcpItemText, EmptyAndShortTexts) {
    char out[256];
    std::memset(out, 'x', sizeof out);
    HeapDatagram empty(Bytes{SDES_NAME, 0});
    sdesItemText(empty.data(), out);
    EXPECT_EQ(out[0], '\0');
    HeapDatagram shortText(Bytes{SDES_CNAME, 3, 'a', 'b', 'c', 'Z'});
    sdesItemText(shortText.data(), out);
    EXPECT_STREQ(out, "abc");
}
