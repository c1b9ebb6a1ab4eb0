// The readers on damaged input: every truncation of valid compounds, random buffers and
// mutated compounds, each in an exactly-sized heap block (so the address sanitizer sees
// any read past the datagram), with every result compared to a plain index-based model.
#include "control/rtcp.h"
#include "rtcp_packets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace rtcptest;

namespace {

unsigned versionAt(const Bytes& b, size_t pos) {
    return b[pos] >> 6;
}
size_t sizeAt(const Bytes& b, size_t pos) {
    return ((static_cast<size_t>(b[pos + 2]) << 8 | b[pos + 3]) + 1) * 4;
}

bool modelFirstOk(const Bytes& b) {
    return b.size() >= 4 && versionAt(b, 0) == 3 && (b[0] & 0x20) == 0 &&
           (b[1] == 200 || b[1] == 201);
}

// Validity and BYE presence, by indexes.
bool modelWalk(const Bytes& b, bool* bye) {
    *bye = false;
    if (!modelFirstOk(b)) {
        return false;
    }
    size_t pos = 0;
    while (pos < b.size()) {
        if (b.size() - pos < 4 || versionAt(b, pos) != 3) {
            return false;
        }
        *bye = *bye || b[pos + 1] == 203;
        pos += sizeAt(b, pos);
    }
    return pos == b.size();
}

long modelApp(const Bytes& b, const char* name) {
    if (!modelFirstOk(b)) {
        return -1;
    }
    size_t pos = 0;
    while (pos < b.size()) {
        if (b.size() - pos < 4 || versionAt(b, pos) != 3) {
            return -1;
        }
        const size_t size = sizeAt(b, pos);
        if (b[pos + 1] == 204 && size >= 12 && pos + size <= b.size() &&
            std::memcmp(&b[pos + 8], name, 4) == 0) {
            return static_cast<long>(pos);
        }
        pos += size;
    }
    return -1;
}

// Offsets of the items taken by the handler's table (CNAME, NAME, EMAIL, TOOL), -1 for none.
void modelSdes(const Bytes& b, long offsets[4]) {
    static const uint8_t wanted[4] = {1, 2, 3, 6};
    std::fill(offsets, offsets + 4, -1L);
    size_t pos = 0;
    while (pos < b.size()) {
        if (b.size() - pos < 4 || versionAt(b, pos) != 3) {
            return;
        }
        const size_t size = sizeAt(b, pos);
        if (b[pos + 1] == 202 && (b[pos] & 0x1F) != 0) {
            const size_t end = std::min(pos + size, b.size());
            size_t p = pos + 8;
            while (p < end && b[p] != 0 && p + 1 < end && p + 2 + b[p + 1] <= end) {
                for (int i = 0; i < 4; ++i) {
                    if (wanted[i] == b[p] && offsets[i] < 0) {
                        offsets[i] = static_cast<long>(p);
                        break;
                    }
                }
                p += 2 + b[p + 1];
            }
            return;
        }
        pos += size;
    }
}

// Runs every reader on an exact heap copy of b and compares it with the model.
void compareWithModel(const Bytes& b, const std::string& what) {
    HeapDatagram d(b);
    bool modelBye = false;
    const bool modelValid = modelWalk(b, &modelBye);
    ASSERT_EQ(rtcpCheckCompound(d.data(), d.length), modelValid) << what;
    ASSERT_EQ(rtcpHasBye(d.data(), d.length), modelValid && modelBye) << what;

    for (const char* name : {"SFtc", "ABCD"}) {
        const uint8_t* app = nullptr;
        const bool found = rtcpFindApp(d.data(), d.length, name, &app);
        const long expected = modelApp(b, name);
        ASSERT_EQ(found, expected >= 0) << what;
        ASSERT_EQ(found ? static_cast<long>(app - d.data()) : -1L, expected) << what;
    }

    SdesItemTable t = namingItemTable();
    long expected[4];
    modelSdes(b, expected);
    const bool any = rtcpGetSdesItems(d.data(), d.length, &t);
    ASSERT_EQ(any, std::any_of(expected, expected + 4, [](long o) { return o >= 0; })) << what;
    for (int i = 0; i < 4; ++i) {
        const long got = t.entries[i].item ? static_cast<long>(t.entries[i].item - d.data()) : -1;
        ASSERT_EQ(got, expected[i]) << what << " entry " << i;
        if (t.entries[i].item != nullptr) {
            char out[256];
            const uint8_t textLength = t.entries[i].item[1];
            sdesItemText(t.entries[i].item, out);
            ASSERT_EQ(std::memcmp(out, t.entries[i].item + 2, textLength), 0) << what;
            ASSERT_EQ(out[textLength], '\0') << what;
        }
    }
}

// Valid compounds and the sizes of their packets.
struct Sample {
    const char* name;
    std::vector<Bytes> packets;
};

std::vector<Sample> samples() {
    Bytes byeCompound(BYE_COMPOUND_MAX);
    byeCompound.resize(static_cast<size_t>(buildByeCompound(byeCompound.data(), 0, "Term")));
    return {
        {"rr", {emptyRr()}},
        {"sr+sdes",
         {packet(0, 200, Bytes(24, 7)),
          sdes({chunk(1, {item(1, "c"), item(2, "name"), item(3, "mail"), item(6, "tool")})})}},
        {"rr+bye", {emptyRr(), bye()}},
        {"rr+bye term",
         {Bytes(byeCompound.begin(), byeCompound.begin() + 8),
          Bytes(byeCompound.begin() + 8, byeCompound.end())}},
        {"rr+sdes+app",
         {emptyRr(), sdes({chunk(1, {item(2, "DL1ABC")}), chunk(2, {item(1, "x")})}),
          app("SFtc", Bytes(8, 9))}},
        {"rr+empty sdes+sdes+bye",
         {emptyRr(), packet(0, 202, {}), sdes({chunk(1, {item(3, "e"), item(1, "c")})}), bye()}},
    };
}

} // namespace

TEST(RtcpRobustness, EveryTruncationIsValidOnlyAtAPacketBoundary) {
    for (const Sample& s : samples()) {
        Bytes whole;
        std::vector<size_t> boundaries;
        for (const Bytes& p : s.packets) {
            append(whole, p);
            boundaries.push_back(whole.size());
        }
        for (size_t cut = 0; cut <= whole.size(); ++cut) {
            const Bytes prefix(whole.begin(), whole.begin() + static_cast<long>(cut));
            HeapDatagram d(prefix);
            const bool boundary =
                std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
            EXPECT_EQ(rtcpCheckCompound(d.data(), d.length), boundary) << s.name << " " << cut;
            compareWithModel(prefix, std::string(s.name) + " cut " + std::to_string(cut));
        }
    }
}

TEST(RtcpRobustness, RandomBuffersMatchTheModel) {
    std::mt19937 rng(20240601u);
    auto below = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    for (int round = 0; round < 4000; ++round) {
        Bytes b;
        switch (round % 3) {
        case 0: { // plain noise, first byte often of version 3
            b.resize(below(80));
            for (uint8_t& x : b) {
                x = static_cast<uint8_t>(rng());
            }
            if (!b.empty() && below(2) == 0) {
                b[0] = static_cast<uint8_t>(0xC0 | below(64));
            }
            break;
        }
        case 1: { // packets with plausible headers and often wrong lengths
            const uint32_t packets = 1 + below(5);
            for (uint32_t i = 0; i < packets; ++i) {
                Bytes body(4 * below(12));
                for (uint8_t& x : body) {
                    x = static_cast<uint8_t>(below(5) == 0 ? rng() : below(8));
                }
                const int version = below(8) == 0 ? static_cast<int>(below(4)) : 3;
                const int lengthWords =
                    below(4) == 0 ? static_cast<int>(below(20)) : static_cast<int>(body.size() / 4);
                const uint8_t type =
                    static_cast<uint8_t>(i == 0 && below(4) != 0 ? 200 + below(2) : 199 + below(7));
                if (type == 204 && body.size() >= 8 && below(2) == 0) {
                    std::memcpy(&body[4], "SFtc", 4);
                }
                b = cat({b, packet(static_cast<uint8_t>(below(3)), type, body, version,
                                   below(6) == 0, lengthWords)});
            }
            if (below(3) == 0 && !b.empty()) {
                b.resize(below(static_cast<uint32_t>(b.size())));
            }
            break;
        }
        default: { // a valid compound with a few bytes changed
            const std::vector<Sample> all = samples();
            const Sample& s = all[below(static_cast<uint32_t>(all.size()))];
            for (const Bytes& p : s.packets) {
                append(b, p);
            }
            const uint32_t changes = 1 + below(3);
            for (uint32_t i = 0; i < changes; ++i) {
                b[below(static_cast<uint32_t>(b.size()))] = static_cast<uint8_t>(rng());
            }
            break;
        }
        }
        compareWithModel(b, "round " + std::to_string(round));
        if (HasFatalFailure()) {
            return;
        }
    }
}
