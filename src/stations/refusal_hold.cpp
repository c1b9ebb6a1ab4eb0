// The refused addresses of the last REFUSAL_HOLD_TICKS ticks in a fixed ring: at most
// REFUSALS_PER_TICK a tick are added, so the ring holds every live one and a new one only
// ever replaces one whose hold is over. Looked at only when the conference is full.
#include "stations/refusal_hold.h"

#include "base/app_state.h"

namespace {

constexpr int RING = 256;
static_assert(RING >= REFUSALS_PER_TICK * static_cast<int>(REFUSAL_HOLD_TICKS),
              "every live hold fits");

struct Refusal {
    uint32_t address; // network order
    uint32_t tick;    // serverTicks when refused
};
Refusal ring[RING];
int ringNext = 0;
int ringCount = 0;
uint32_t countedTick = 0; // the tick that sentThisTick counts
int sentThisTick = 0;

} // namespace

bool refusalMaySend(uint32_t address) {
    for (int i = 0; i < ringCount; ++i) {
        if (ring[i].address == address && serverTicks - ring[i].tick < REFUSAL_HOLD_TICKS) {
            return false;
        }
    }
    if (countedTick != serverTicks) {
        countedTick = serverTicks;
        sentThisTick = 0;
    }
    if (sentThisTick >= REFUSALS_PER_TICK) {
        return false;
    }
    ++sentThisTick;
    ring[ringNext] = Refusal{address, serverTicks};
    ringNext = (ringNext + 1) % RING;
    if (ringCount < RING) {
        ++ringCount;
    }
    return true;
}

void refusalHoldReset() {
    ringNext = 0;
    ringCount = 0;
    countedTick = 0;
    sentThisTick = 0;
}
