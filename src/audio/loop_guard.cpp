// The loop guard's memory: a fixed table of hashes with the tick each was relayed at,
// indexed by the hash itself, so a look-up is one load and two compares. A datagram whose
// slot a newer one took is forgotten early; with 1024 slots and a conference's few dozen
// datagrams a second that is rare, and a looping datagram is caught on its next pass anyway.
// No allocation, no system call.
#include "audio/loop_guard.h"

#include "base/app_state.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t SLOTS = 1024; // a power of two
struct Slot {
    uint64_t hash;
    uint32_t tick; // serverTicks when relayed
    uint32_t used; // 0: empty
};
Slot slots[SLOTS];

constexpr uint64_t K1 = 0x9E3779B97F4A7C15ULL;
constexpr uint64_t K2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t K3 = 0xD6E8FEB86659FD93ULL;

// One bijective mixing step (xor-shift, odd multiply, xor-shift).
inline uint64_t mix(uint64_t x, uint64_t k) {
    x ^= x >> 29;
    x *= k;
    return x ^ (x >> 32);
}

// Final mix of the two running sums, one word after the other: each step is a bijection of
// what came before and the word, so a change in any one word always changes the hash, and
// changes in two words cancel only by chance (a change in the top byte of the last block
// moved both the sum and the run by the same amount, which a plain xor of the words let cancel).
inline uint64_t finish(uint64_t s0, uint64_t s1, uint64_t r0, uint64_t r1) {
    uint64_t h = mix(s0 ^ K1, K2);
    h = mix(h ^ s1, K3);
    h = mix(h ^ r0, K1);
    return mix(h ^ r1, K2);
}

} // namespace

// Two running sums over 16-byte blocks in two 64-bit lanes (the length starts one of
// them): sum adds each block, run adds sum after each block, so the hash depends on every
// byte and on where it stands (a changed, moved or swapped block changes run). With SSE2 a
// block costs three instructions. It is no defence against datagrams made to collide; such
// a datagram could only ever drop its own sender's later one.
uint64_t loopGuardHash(const char* bytes, int length) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    const unsigned char* const quads = p + (n & ~size_t{63});
    const unsigned char* const blocks = p + (n & ~size_t{15});
#if defined(__SSE2__)
    __m128i sum = _mm_set_epi64x(static_cast<long long>(n), static_cast<long long>(K1));
    __m128i run = _mm_setzero_si128();
    auto block = [&](const unsigned char* q) {
        sum = _mm_add_epi64(sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
        run = _mm_add_epi64(run, sum);
    };
#else
    uint64_t sum[2] = {K1, n};
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
    for (; p != quads; p += 64) {
        block(p);
        block(p + 16);
        block(p + 32);
        block(p + 48);
    }
    for (; p != blocks; p += 16) {
        block(p);
    }
    if ((n & 15) != 0) { // the last 1 to 15 bytes, zero-filled to a block
        unsigned char last[16] = {};
        std::memcpy(last, p, n & 15);
        block(last);
    }
#if defined(__SSE2__)
    uint64_t s[2];
    uint64_t r[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s), sum);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r), run);
    return finish(s[0], s[1], r[0], r[1]);
#else
    return finish(sum[0], sum[1], run[0], run[1]);
#endif
}

bool loopGuardSeen(uint64_t hash) {
    const Slot& slot = slots[hash & (SLOTS - 1)];
    return slot.used != 0 && slot.hash == hash && serverTicks - slot.tick <= LOOP_GUARD_TICKS;
}

void loopGuardNote(uint64_t hash) {
    Slot& slot = slots[hash & (SLOTS - 1)];
    slot.hash = hash;
    slot.tick = serverTicks;
    slot.used = 1;
}

void loopGuardReset() {
    std::memset(slots, 0, sizeof slots);
}
