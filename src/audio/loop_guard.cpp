// The loop guard's key and memory. The key is the whole state of two running sums, kept
// rather than hashed down, so no mixing step can make two datagrams meet: a change confined
// to one 16-byte block always changes the key, and changes in several blocks cancel only
// when they cancel in both sums. The table is indexed by the key itself, so a look-up is
// one slot; a datagram whose slot a newer one took is forgotten early, which with 1024
// slots and a conference's few dozen datagrams a second is rare, and a looping datagram is
// caught on its next pass anyway.
#include "audio/loop_guard.h"

#include "base/app_state.h"

#include <cstring>

namespace {

LoopGuardSlot slots[LOOP_GUARD_SLOTS];
// The tick each slot's datagram was relayed at, plus one (0: the slot is empty).
uint32_t relayedAt[LOOP_GUARD_SLOTS];
static_assert(LOOP_GUARD_SLOTS == 1u << (64 - 54), "lookUp takes the top 10 bits");

constexpr uint64_t SEED = 0x9E3779B97F4A7C15ULL;

// Two 64-bit lanes, added lane by lane in one instruction where the machine has 128-bit
// vectors (SSE2, NEON), in two otherwise.
using Lanes = uint64_t __attribute__((vector_size(16)));

inline Lanes load(const void* q) {
    Lanes v;
    std::memcpy(&v, q, sizeof v);
    return v;
}

// Looks the key (sum, run) up in its slot, chosen by the top bits of an odd multiple of a
// word of sum: null when it is there and was relayed within the last LOOP_GUARD_TICKS
// ticks; else notes it there, relayed now.
inline LoopGuardSlot* lookUp(Lanes sum, Lanes run) {
    const uint64_t first = sum[0];
    const size_t at = (first * SEED) >> 54;
    LoopGuardSlot& slot = slots[at];
    const uint32_t now = serverTicks + 1;
    // A new datagram almost always differs in the first word already: one compare.
    if (slot.key[0] == first) [[unlikely]] {
        const Lanes differ = (load(&slot.key[0]) ^ sum) | (load(&slot.key[2]) ^ run);
        if ((differ[0] | differ[1]) == 0 && relayedAt[at] != 0 &&
            now - relayedAt[at] <= LOOP_GUARD_TICKS) {
            return nullptr;
        }
    }
    std::memcpy(&slot.key[0], &sum, sizeof sum);
    std::memcpy(&slot.key[2], &run, sizeof run);
    relayedAt[at] = now;
    return &slot;
}

// A datagram shorter than one block: one zero-filled block.
[[gnu::noinline]] LoopGuardSlot* passShort(const char* bytes, int length) {
    const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    unsigned char block[16] = {};
    std::memcpy(block, bytes, n);
    const Lanes sum = Lanes{0, n} + load(block);
    return lookUp(sum, sum);
}

} // namespace

// The key: two running sums over the datagram's 16-byte blocks in two 64-bit lanes (the
// length starts one lane): sum adds each block, run adds sum after each block, so the key
// depends on every byte and on where it stands (a changed, moved or swapped block changes
// run). A datagram of 16 bytes or more ends with its last 16 bytes as one block
// (overlapping the block before it unless the length is a multiple of 16), so nothing
// outside it is read and no byte is copied; a shorter one is one zero-filled block. A
// block costs three instructions and the key never leaves registers. It is no defence
// against datagrams made to meet another's key.
LoopGuardSlot* loopGuardPass(const char* bytes, int length) {
    if (length < 16) [[unlikely]] {
        return passShort(bytes, length);
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const size_t before = static_cast<size_t>(length - 1) / 16; // whole blocks before the last
    Lanes sum = {0, static_cast<uint64_t>(length)};
    Lanes run = {0, 0};
    if ((before & 1) != 0) {
        sum += load(p);
        run += sum;
        p += 16;
    }
#pragma GCC unroll 1
    for (size_t pairs = before / 2; pairs != 0; --pairs, p += 32) {
        sum += load(p);
        run += sum;
        sum += load(p + 16);
        run += sum;
    }
    sum += load(bytes + (length - 16));
    run += sum;
    return lookUp(sum, run);
}

void loopGuardForget(LoopGuardSlot* slot) {
    relayedAt[slot - slots] = 0;
}

void loopGuardReset() {
    std::memset(slots, 0, sizeof slots);
    std::memset(relayedAt, 0, sizeof relayedAt);
}
