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
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

LoopGuardSlot slots[LOOP_GUARD_SLOTS];
static_assert(LOOP_GUARD_SLOTS == 1u << (64 - 54), "slotOf takes the top 10 bits");

constexpr uint64_t SEED = 0x9E3779B97F4A7C15ULL;

// The slot of a key: the top bits of an odd multiple of a word of each sum, which depend on
// every bit of both.
inline LoopGuardSlot& slotOf(uint64_t sumWord, uint64_t runWord) {
    return slots[((sumWord + runWord) * SEED) >> 54];
}

// True when slot holds a datagram relayed within the last LOOP_GUARD_TICKS ticks.
inline bool recent(const LoopGuardSlot& slot) {
    return slot.used != 0 && serverTicks - slot.tick <= LOOP_GUARD_TICKS;
}

} // namespace

// The key: two running sums over the datagram's 16-byte blocks in two 64-bit lanes (the
// length starts one lane): sum adds each block, run adds sum after each block, so the key
// depends on every byte and on where it stands (a changed, moved or swapped block changes
// run). A datagram of 16 bytes or more ends with its last 16 bytes as one block
// (overlapping the block before it unless the length is a multiple of 16), so nothing
// outside it is read and no byte is copied; a shorter one is one zero-filled block. With
// SSE2 a block costs three instructions and the key never leaves registers. It is no
// defence against datagrams made to meet another's key.
LoopGuardSlot* loopGuardPass(const char* bytes, int length) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    unsigned char shortBlock[16];
    const unsigned char* last = shortBlock;
    if (n >= 16) {
        last = p + (n - 16);
    } else {
        std::memset(shortBlock, 0, sizeof shortBlock);
        std::memcpy(shortBlock, p, n);
        p = shortBlock;
    }
#if defined(__SSE2__)
    __m128i sum = _mm_set_epi64x(static_cast<long long>(n), static_cast<long long>(SEED));
    __m128i run = _mm_setzero_si128();
    auto block = [&](const unsigned char* q) {
        sum = _mm_add_epi64(sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
        run = _mm_add_epi64(run, sum);
    };
#else
    uint64_t sum[2] = {SEED, n};
    uint64_t run[2] = {0, 0};
    auto block = [&](const unsigned char* q) {
        uint64_t w[2];
        std::memcpy(w, q, sizeof w);
        sum[0] += w[0];
        sum[1] += w[1];
        run[0] += sum[0];
        run[1] += sum[1];
    };
#endif
    // Every whole block before the last one, four at a time while four fit.
    for (; last - p >= 64; p += 64) {
        block(p);
        block(p + 16);
        block(p + 32);
        block(p + 48);
    }
    for (; p < last; p += 16) {
        block(p);
    }
    block(last);
#if defined(__SSE2__)
    LoopGuardSlot& slot =
        slotOf(static_cast<uint64_t>(_mm_cvtsi128_si64(sum)),
               static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(run, run))));
    __m128i* const held = reinterpret_cast<__m128i*>(slot.key);
    const __m128i same = _mm_and_si128(_mm_cmpeq_epi32(_mm_loadu_si128(held), sum),
                                       _mm_cmpeq_epi32(_mm_loadu_si128(held + 1), run));
    if (_mm_movemask_epi8(same) == 0xFFFF && recent(slot)) {
        return nullptr;
    }
    _mm_storeu_si128(held, sum);
    _mm_storeu_si128(held + 1, run);
#else
    LoopGuardSlot& slot = slotOf(sum[0], run[1]);
    if (slot.key[0] == sum[0] && slot.key[1] == sum[1] && slot.key[2] == run[0] &&
        slot.key[3] == run[1] && recent(slot)) {
        return nullptr;
    }
    slot.key[0] = sum[0];
    slot.key[1] = sum[1];
    slot.key[2] = run[0];
    slot.key[3] = run[1];
#endif
    slot.tick = serverTicks;
    slot.used = 1;
    return &slot;
}

void loopGuardReset() {
    std::memset(slots, 0, sizeof slots);
}
