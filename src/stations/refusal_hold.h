// Bounds on what a full conference sends to the stations it refuses: an address gets its
// busy text and BYE at most once per REFUSAL_HOLD_TICKS, and the server sends at most
// REFUSALS_PER_TICK refusals a tick in all, so it never answers more than it is sent.
#pragma once

#include <cstdint>

constexpr uint32_t REFUSAL_HOLD_TICKS = 10;
constexpr int REFUSALS_PER_TICK = 20;

// True when a refusal may go to address (network order) now; it is then noted (the
// address held, the tick's count raised). False when the address was refused less than
// REFUSAL_HOLD_TICKS ago or this tick's refusals are spent: nothing is to be sent.
bool refusalMaySend(uint32_t address);
// Forgets every refusal (start of the server).
void refusalHoldReset();
