// The loop guard: the relay remembers what it relayed in the last two ticks, by a 256-bit key
// of each datagram's length and bytes, and never relays the same datagram again in that time,
// whoever sends it. A datagram that comes back (through a ring of servers that admitted each
// other, or from a station that echoes what it hears) therefore dies on its second pass.
// One call on the relay path: the key, one slot compared and written; no allocation, no
// system call.
#pragma once

#include <cstdint>

// How long a relayed datagram is remembered: relayed at tick T (serverTicks), it is refused
// up to and including tick T + LOOP_GUARD_TICKS, so for at least two whole ticks.
constexpr uint32_t LOOP_GUARD_TICKS = 2;
constexpr uint32_t LOOP_GUARD_SLOTS = 1024; // a power of two

// A remembered datagram's key: two sums over its 16-byte blocks, in two 64-bit lanes each
// (see loop_guard.cpp); the tick it was relayed at is kept beside it.
struct LoopGuardSlot {
    uint64_t key[4];
};

// A datagram about to be relayed (reads exactly length bytes): null when the same datagram
// was relayed within the last LOOP_GUARD_TICKS ticks, a loop to drop; otherwise it is noted
// as relayed now and its slot returned, for loopGuardForget if it is not relayed after all.
LoopGuardSlot* loopGuardPass(const char* bytes, int length);
// The datagram loopGuardPass just noted in slot is not relayed: it is not remembered.
void loopGuardForget(LoopGuardSlot* slot);
// Forgets every datagram (start of the server).
void loopGuardReset();
