// The host's IPv4 interface addresses, read once when asked (getifaddrs).
#pragma once

#include <cstdint>

struct InterfaceAddress {
    uint32_t address;   // network order
    uint32_t broadcast; // network order; 0 when the interface has none
};

// Fills at most max entries with the IPv4 addresses of the host's interfaces; returns how
// many (0 when they cannot be read).
int platformInterfaceAddresses(InterfaceAddress* out, int max);
