// The loop guard: the relay remembers what it relayed in the last two ticks, by a hash of
// each datagram's length and bytes, and never relays the same datagram again in that time,
// whoever sends it. A datagram that comes back (through a ring of servers that admitted each
// other, or from a station that echoes what it hears) therefore dies on its second pass.
#pragma once

#include <cstdint>

// How long a relayed datagram is remembered: relayed at tick T (serverTicks), it is refused
// up to and including tick T + LOOP_GUARD_TICKS, so for at least two whole ticks.
constexpr uint32_t LOOP_GUARD_TICKS = 2;

// A 64-bit hash of the datagram's length and bytes; reads exactly length bytes.
uint64_t loopGuardHash(const char* bytes, int length);
// True when a datagram with this hash was relayed within the last LOOP_GUARD_TICKS ticks.
bool loopGuardSeen(uint64_t hash);
// Notes that a datagram with this hash is relayed now.
void loopGuardNote(uint64_t hash);
// Forgets every datagram (start of the server).
void loopGuardReset();
