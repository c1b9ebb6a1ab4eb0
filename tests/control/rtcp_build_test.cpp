// The packets the server builds: the keep-alive compound (NAME from the configuration) and
// the BYE compound, byte for byte, and the keep-alive compound's life at start and end.
#include "control/rtcp.h"
#include "platform/runtime.h"
#include "rtcp_packets.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace rtcptest;

namespace {

// Points the configuration file at a temporary file with the given content.
class KeepAliveTest : public ::testing::Test {
  protected:
    void useConfig(const std::string& content) {
        testutil::writeFile(path_, content);
        platformSetProfileFile("omvarc.ini", path_.c_str());
    }

    // Builds the keep-alive compound and returns its bytes (the block is freed).
    Bytes build(uint32_t ssrc = 0) {
        uint8_t* block = nullptr;
        const int size = buildKeepAliveCompound(ssrc, &block);
        EXPECT_NE(block, nullptr);
        EXPECT_GT(size, 0);
        Bytes out;
        if (block != nullptr && size > 0) {
            out.assign(block, block + size);
        }
        std::free(block);
        return out;
    }

    void TearDown() override { releaseControlPackets(); }

    testutil::TempDir dir_;
    std::string path_ = dir_.file("omvarc.ini");
};

// The expected size, counted item by item: report 8; SDES header and SSRC 8; CNAME 10;
// NAME 2 + n; EMAIL 10; PHONE 7; two zero bytes; zeros to a word; then 4 more bytes of
// padding when the total is a multiple of 8.
size_t expectedKeepAliveSize(size_t nameLength) {
    size_t sdesBytes = 8 + 10 + 2 + nameLength + 10 + 7 + 2;
    sdesBytes += (4 - sdesBytes % 4) % 4;
    const size_t total = 8 + sdesBytes;
    return total % 8 == 0 ? total + 4 : total;
}

// The NAME text of a keep-alive compound, read back through the readers.
std::string nameOf(const Bytes& compound) {
    HeapDatagram d(compound);
    SdesItemTable t{};
    t.count = 1;
    t.entries[0].type = SDES_NAME;
    if (!rtcpGetSdesItems(d.data(), d.length, &t)) {
        return "<none>";
    }
    char out[256];
    sdesItemText(t.entries[0].item, out);
    return out;
}

} // namespace

TEST_F(KeepAliveTest, DefaultNameGivesThe52ByteCompound) {
    useConfig("[callsign]\ndesc=Test node\n");
    const Bytes expected =
        cat({{0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0, 0xC1, 0xCA, 0x00, 0x0A, 0, 0, 0, 0},
             {0x01, 0x08},
             text("CALLSIGN"),
             {0x02, 0x02},
             text("NA"),
             {0x03, 0x08},
             text("CALLSIGN"),
             {0x04, 0x05},
             text("08:30"),
             {0, 0, 0, 0, 0}});
    ASSERT_EQ(expected.size(), 52u);
    EXPECT_EQ(build(), expected);
}

TEST_F(KeepAliveTest, SixCharacterNameGetsCompoundPadding) {
    useConfig("[Callsign]\nUSER = DL1ABC \n");
    const Bytes expected =
        cat({{0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0, 0xE1, 0xCA, 0x00, 0x0C, 0, 0, 0, 0},
             {0x01, 0x08},
             text("CALLSIGN"),
             {0x02, 0x06},
             text("DL1ABC"),
             {0x03, 0x08},
             text("CALLSIGN"),
             {0x04, 0x05},
             text("08:30"),
             {0, 0, 0, 0, 0},
             {0, 0, 0, 4}});
    ASSERT_EQ(expected.size(), 60u);
    EXPECT_EQ(build(), expected);
}

TEST_F(KeepAliveTest, EmptyNameGivesAnItemOfLengthZero) {
    useConfig("[callsign]\nuser=\n");
    const Bytes expected =
        cat({{0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0, 0xE1, 0xCA, 0x00, 0x0A, 0, 0, 0, 0},
             {0x01, 0x08},
             text("CALLSIGN"),
             {0x02, 0x00},
             {0x03, 0x08},
             text("CALLSIGN"),
             {0x04, 0x05},
             text("08:30"),
             {0, 0, 0},
             {0, 0, 0, 4}});
    ASSERT_EQ(expected.size(), 52u);
    EXPECT_EQ(build(), expected);
}

TEST_F(KeepAliveTest, SizeIsFourMoreThanAMultipleOfEightForEveryNameLength) {
    for (size_t n = 0; n <= 39; ++n) {
        const std::string name(n, static_cast<char>('a' + n % 26));
        useConfig("[callsign]\nuser=" + name + "\n");
        const Bytes b = build(0x11223344);
        const size_t size = expectedKeepAliveSize(n);
        ASSERT_EQ(b.size(), size) << n;
        EXPECT_EQ(b.size() % 8, 4u) << n;
        const size_t unpadded = 8 + (8 + 10 + 2 + n + 10 + 7 + 2 + 3) / 4 * 4;
        const bool padded = unpadded % 8 == 0;
        EXPECT_EQ(b[8], padded ? 0xE1 : 0xC1) << n;
        EXPECT_EQ(b[9], RTCP_SDES);
        EXPECT_EQ(static_cast<size_t>((b[10] << 8) | b[11]), (b.size() - 8) / 4 - 1) << n;
        EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 8), u32(0x11223344));
        EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 16), u32(0x11223344));
        if (padded) {
            EXPECT_EQ(Bytes(b.end() - 4, b.end()), Bytes({0, 0, 0, 4})) << n;
        }
        // Zero bytes from the end of the PHONE item up to the padding or the end.
        const size_t itemsEnd = 16 + 10 + 2 + n + 10 + 7;
        for (size_t i = itemsEnd; i < b.size() - (padded ? 4 : 0); ++i) {
            EXPECT_EQ(b[i], 0) << n << " at " << i;
        }
        HeapDatagram d(b);
        EXPECT_TRUE(rtcpCheckCompound(d.data(), d.length)) << n;
        EXPECT_FALSE(rtcpHasBye(d.data(), d.length)) << n;
        EXPECT_EQ(nameOf(b), name);
    }
}

TEST_F(KeepAliveTest, LongNameIsCutTo39Characters) {
    const std::string longName = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOP";
    useConfig("[callsign]\nuser=" + longName + "\n");
    const Bytes b = build();
    EXPECT_EQ(b.size(), expectedKeepAliveSize(39));
    EXPECT_EQ(b[26], SDES_NAME);
    EXPECT_EQ(b[27], 39);
    EXPECT_EQ(nameOf(b), longName.substr(0, 39));
}

TEST_F(KeepAliveTest, MissingFileGivesTheDefaultName) {
    platformSetProfileFile("omvarc.ini", dir_.file("absent.ini").c_str());
    EXPECT_EQ(build().size(), 52u);
    EXPECT_EQ(nameOf(build()), "NA");
}

TEST_F(KeepAliveTest, PrepareReadsTheNameNowAndReplacesTheEarlierBlock) {
    EXPECT_EQ(serverSsrc, 0u);
    useConfig("[callsign]\nuser=ONE\n");
    prepareControlPackets();
    ASSERT_NE(keepAliveCompound, nullptr);
    ASSERT_EQ(keepAliveLength, static_cast<int>(expectedKeepAliveSize(3)));
    Bytes first(keepAliveCompound, keepAliveCompound + keepAliveLength);
    EXPECT_EQ(nameOf(first), "ONE");
    EXPECT_EQ(Bytes(first.begin() + 4, first.begin() + 8), u32(0)); // server SSRC

    // A second preparation reads the file again; the sanitizer's leak check sees the
    // first block freed.
    useConfig("[callsign]\nuser=SECOND-NAME\n");
    prepareControlPackets();
    ASSERT_NE(keepAliveCompound, nullptr);
    EXPECT_EQ(keepAliveLength, static_cast<int>(expectedKeepAliveSize(11)));
    EXPECT_EQ(nameOf(Bytes(keepAliveCompound, keepAliveCompound + keepAliveLength)), "SECOND-NAME");

    releaseControlPackets();
    EXPECT_EQ(keepAliveCompound, nullptr);
    EXPECT_EQ(keepAliveLength, 0);
    releaseControlPackets(); // nothing left to release
    EXPECT_EQ(keepAliveCompound, nullptr);
}

TEST(ByeCompound, TermIsExactly28Bytes) {
    auto buffer = std::make_unique<uint8_t[]>(28);
    const int size = buildByeCompound(buffer.get(), serverSsrc, "Term");
    ASSERT_EQ(size, 28);
    const Bytes expected = {0xC0, 0xC9, 0x00, 0x01, 0,   0,   0,   0, 0xE1, 0xCB, 0x00, 0x04, 0, 0,
                            0,    0,    0x04, 'T',  'e', 'r', 'm', 0, 0,    0,    0,    0,    0, 4};
    EXPECT_EQ(Bytes(buffer.get(), buffer.get() + size), expected);
    HeapDatagram d(expected);
    EXPECT_TRUE(rtcpHasBye(d.data(), d.length));
}

TEST(ByeCompound, EmptyReasonHasNoLengthByte) {
    const Bytes expected = {0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0, 0xE1, 0xCB,
                            0x00, 0x02, 0,    0,    0, 0, 0, 0, 0,    4};
    for (const char* reason : {"", static_cast<const char*>(nullptr)}) {
        auto buffer = std::make_unique<uint8_t[]>(20);
        const int size = buildByeCompound(buffer.get(), 0, reason);
        ASSERT_EQ(size, 20);
        EXPECT_EQ(Bytes(buffer.get(), buffer.get() + size), expected);
    }
}

TEST(ByeCompound, EveryReasonLengthFitsItsExactSizeAndReadsBack) {
    EXPECT_EQ(BYE_COMPOUND_MAX, 276);
    for (size_t n = 0; n <= 300; ++n) {
        const size_t kept = n < 255 ? n : 255;
        // Report 8, BYE header and SSRC 8, then the reason and its length byte, to a word.
        size_t byeBytes = 8 + (kept > 0 ? 1 + kept : 0);
        byeBytes = (byeBytes + 3) / 4 * 4;
        const bool padded = (8 + byeBytes) % 8 == 0;
        const size_t expectedSize = 8 + byeBytes + (padded ? 4 : 0);
        ASSERT_LE(expectedSize, static_cast<size_t>(BYE_COMPOUND_MAX));

        std::string reason;
        for (size_t i = 0; i < n; ++i) {
            reason.push_back(static_cast<char>('A' + i % 26));
        }
        auto buffer = std::make_unique<uint8_t[]>(expectedSize); // any overrun is caught
        const int size = buildByeCompound(buffer.get(), 0xA1B2C3D4, reason.c_str());
        ASSERT_EQ(static_cast<size_t>(size), expectedSize) << n;
        const uint8_t* b = buffer.get();
        EXPECT_EQ(size % 8, 4) << n;
        EXPECT_EQ(b[8], padded ? 0xE1 : 0xC1) << n;
        EXPECT_EQ(b[9], RTCP_BYE);
        EXPECT_EQ(static_cast<size_t>((b[10] << 8) | b[11]), (expectedSize - 8) / 4 - 1) << n;
        EXPECT_EQ(Bytes(b + 4, b + 8), u32(0xA1B2C3D4));
        EXPECT_EQ(Bytes(b + 12, b + 16), u32(0xA1B2C3D4));
        if (kept > 0) {
            EXPECT_EQ(b[16], kept);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 17), kept),
                      reason.substr(0, kept));
        }
        if (padded) {
            EXPECT_EQ(Bytes(b + size - 4, b + size), Bytes({0, 0, 0, 4})) << n;
        }
        EXPECT_TRUE(rtcpHasBye(b, size)) << n;
    }
}
