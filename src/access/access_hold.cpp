// The addresses of stations that the access rules closed, held off for
// ACCESS_DENIED_HOLD_TICKS: a fixed ring of holds, newest last. Looked at only for control
// packets from addresses that match no station, never on the relay path.
#include "access/access.h"
#include "base/app_state.h"

namespace {

constexpr int HOLDS = 512;
struct Hold {
    uint32_t address; // network order
    uint32_t since;   // serverTicks when held
};
Hold holds[HOLDS];
int holdNext = 0;  // where the next hold goes (the oldest when the ring is full)
int holdCount = 0; // holds written, up to HOLDS

bool live(const Hold& hold) {
    return serverTicks - hold.since < ACCESS_DENIED_HOLD_TICKS;
}

} // namespace

void accessHoldAddress(uint32_t address) {
    for (int i = 0; i < holdCount; ++i) {
        if (holds[i].address == address) {
            holds[i].since = serverTicks;
            return;
        }
    }
    holds[holdNext] = Hold{address, serverTicks};
    holdNext = (holdNext + 1) % HOLDS;
    if (holdCount < HOLDS) {
        ++holdCount;
    }
}

bool accessAddressHeld(uint32_t address) {
    for (int i = 0; i < holdCount; ++i) {
        if (holds[i].address == address && live(holds[i])) {
            return true;
        }
    }
    return false;
}

void accessHoldReset() {
    holdNext = 0;
    holdCount = 0;
}
