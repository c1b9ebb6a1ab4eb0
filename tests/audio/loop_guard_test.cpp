// The loop guard's memory: the same datagram is refused for LOOP_GUARD_TICKS ticks and
// passes after; a datagram that differs from a remembered one in any one byte is never
// taken for it, whatever its length (every tail shape of the 16-byte blocks).
#include "audio/loop_guard.h"
#include "base/app_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<char> randomDatagram(std::mt19937& random, size_t length) {
    std::vector<char> bytes(length);
    for (char& b : bytes) {
        b = static_cast<char>(random());
    }
    return bytes;
}

LoopGuardSlot* pass(const std::vector<char>& bytes) {
    return loopGuardPass(bytes.data(), static_cast<int>(bytes.size()));
}

TEST(LoopGuard, AnyOneChangedByteIsAnotherDatagram) {
    std::mt19937 random(7);
    serverTicks = 100;
    for (size_t length = 1; length <= 200; ++length) {
        loopGuardReset();
        std::vector<char> datagram = randomDatagram(random, length);
        ASSERT_NE(pass(datagram), nullptr) << length;
        ASSERT_EQ(pass(datagram), nullptr) << length;
        for (size_t at = 0; at < length; ++at) {
            for (int flip : {0x01, 0x80, 0xFF}) {
                std::vector<char> changed = datagram;
                changed[at] = static_cast<char>(changed[at] ^ flip);
                LoopGuardSlot* slot = pass(changed);
                ASSERT_NE(slot, nullptr) << "length " << length << " byte " << at;
                loopGuardForget(slot);
            }
        }
        // One byte longer or shorter, the same bytes otherwise.
        std::vector<char> longer = datagram;
        longer.push_back(0);
        EXPECT_NE(pass(longer), nullptr) << length;
        std::vector<char> shorter(datagram.begin(), datagram.end() - 1);
        if (!shorter.empty()) {
            EXPECT_NE(pass(shorter), nullptr) << length;
        }
    }
    serverTicks = 0;
}

TEST(LoopGuard, RemembersForTwoTicksAndForgetsWhatWasNotRelayed) {
    std::mt19937 random(11);
    loopGuardReset();
    const std::vector<char> datagram = randomDatagram(random, 144);
    serverTicks = 50;
    ASSERT_NE(pass(datagram), nullptr);
    serverTicks = 50 + LOOP_GUARD_TICKS;
    EXPECT_EQ(pass(datagram), nullptr);
    serverTicks = 51 + LOOP_GUARD_TICKS;
    LoopGuardSlot* slot = pass(datagram);
    ASSERT_NE(slot, nullptr);
    loopGuardForget(slot);
    EXPECT_NE(pass(datagram), nullptr);
    loopGuardReset();
    serverTicks = 0;
}

} // namespace
