// Sources that never become stations: a forged control packet from one of them would make
// the server send to itself (a station of itself, kept alive by its own keep-alives) or to
// many hosts at once. The server's own addresses (the bound one, or with no --bind every
// address of the host's interfaces and all of 127.0.0.0/8), 0.0.0.0, 255.255.255.255 and
// the interfaces' broadcast addresses, and multicast (224.0.0.0/4).
#pragma once

#include <cstdint>

// Reads the host's addresses once (main window creation, after bindAddress is set); never
// again, so the control path makes no system call for it.
void addressGuardStart();
// True when a control packet from address (network order) must make no station and get
// nothing back.
bool addressGuardRefuses(uint32_t address);
// Forgets what addressGuardStart read.
void addressGuardReset();
