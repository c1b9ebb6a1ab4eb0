#include "base/address_guard.h"

#include "base/app_state.h"
#include "platform/net/interfaces.h"

namespace {

constexpr int ADDRESSES_MAX = 64;
uint32_t ownAddresses[ADDRESSES_MAX]; // network order
int ownCount = 0;
uint32_t broadcasts[ADDRESSES_MAX]; // network order
int broadcastCount = 0;
bool anyAddress = false; // no --bind: every local address is ours, 127.0.0.0/8 too

bool listed(const uint32_t* list, int count, uint32_t address) {
    for (int i = 0; i < count; ++i) {
        if (list[i] == address) {
            return true;
        }
    }
    return false;
}

} // namespace

void addressGuardStart() {
    addressGuardReset();
    anyAddress = bindAddress == htonl(INADDR_ANY);
    if (!anyAddress) {
        ownAddresses[ownCount++] = bindAddress;
    }
    InterfaceAddress found[ADDRESSES_MAX];
    int n = platformInterfaceAddresses(found, ADDRESSES_MAX);
    for (int i = 0; i < n; ++i) {
        if (anyAddress && ownCount < ADDRESSES_MAX) {
            ownAddresses[ownCount++] = found[i].address;
        }
        if (found[i].broadcast != 0 && broadcastCount < ADDRESSES_MAX) {
            broadcasts[broadcastCount++] = found[i].broadcast;
        }
    }
}

bool addressGuardRefuses(uint32_t address) {
    uint32_t host = ntohl(address);
    if (host == INADDR_ANY || host == INADDR_BROADCAST || (host >> 28) == 0xE) {
        return true;
    }
    if (anyAddress && (host >> 24) == 127) {
        return true;
    }
    return listed(ownAddresses, ownCount, address) || listed(broadcasts, broadcastCount, address);
}

void addressGuardReset() {
    ownCount = 0;
    broadcastCount = 0;
    anyAddress = false;
}
