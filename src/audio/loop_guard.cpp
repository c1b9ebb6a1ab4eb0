// The loop guard's memory: a fixed table of hashes with the tick each was relayed at,
// indexed by the hash itself, so a look-up is one load and two compares. A datagram whose
// slot a newer one took is forgotten early; with 1024 slots and a conference's few dozen
// datagrams a second that is rare, and a looping datagram is caught on its next pass anyway.
// No allocation, no system call: a few dozen instructions per datagram.
#include "audio/loop_guard.h"

#include "app/app_state.h"

#include <cstring>

namespace {

constexpr uint32_t SLOTS = 1024; // a power of two
struct Slot {
    uint64_t hash;
    uint32_t tick; // serverTicks when relayed
    uint32_t used; // 0: empty
};
Slot slots[SLOTS];

__extension__ typedef unsigned __int128 Wide;

constexpr uint64_t K0 = 0xa0761d6478bd642fULL;
constexpr uint64_t K1 = 0xe7037ed1a0b428dbULL;
constexpr uint64_t K2 = 0x8ebc6af09c88c6e3ULL;

// The 128-bit product of a and b folded to 64 bits: every input bit reaches every output bit.
inline uint64_t fold(uint64_t a, uint64_t b) {
    Wide p = static_cast<Wide>(a) * b;
    return static_cast<uint64_t>(p) ^ static_cast<uint64_t>(p >> 64);
}

inline uint64_t load64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t load32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

uint64_t loopGuardHash(const char* bytes, int length) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    uint64_t seed = K0 ^ n;
    uint64_t other = K1;
    // Two independent lanes of 16 bytes each per round.
    for (; n > 32; p += 32, n -= 32) {
        seed = fold(load64(p) ^ K1, load64(p + 8) ^ seed);
        other = fold(load64(p + 16) ^ K2, load64(p + 24) ^ other);
    }
    if (n > 16) {
        seed = fold(load64(p) ^ K1, load64(p + 8) ^ seed);
        p += 16;
        n -= 16;
    }
    // The last 1 to 16 bytes (reads may overlap, never leave them).
    uint64_t a = 0;
    uint64_t b = 0;
    if (n >= 8) {
        a = load64(p);
        b = load64(p + n - 8);
    } else if (n >= 4) {
        a = load32(p);
        b = load32(p + n - 4);
    } else if (n > 0) {
        a = (static_cast<uint64_t>(p[0]) << 16) | (static_cast<uint64_t>(p[n >> 1]) << 8) |
            p[n - 1];
    }
    return fold(K2 ^ other, fold(a ^ K1, b ^ seed) ^ n);
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
