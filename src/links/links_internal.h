// State shared by the files of the links subsystem: the table, filled once at start, and
// the few steps more than one file takes.
#pragma once

#include "links/links.h"

#include <cstddef>
#include <cstdint>

namespace linksinternal {

extern Link table[LINKS_MAX];
extern int count;

// Changes the link's state and its time; leaving Up writes link-down with reason, entering
// Up writes link-up. No change, no event.
void setState(Link* link, LinkState state, const char* reason);
// Shows the link (its place in the table) to the monitor as it is now.
void show(const Link* link);
// Sends the keep-alive compound to the peer's control port from the control-port socket
// (so its source is the server's bound address) and counts it; unless this server is full.
void sendKeepAlive(Link* link);
// The link of address, writable; null when none.
Link* find(uint32_t address);

} // namespace linksinternal

// One [links] entry as the file holds it: its key and its value, trimmed.
constexpr size_t LINK_KEY_SIZE = 64;
struct LinkEntry {
    char key[LINK_KEY_SIZE];
    char value[LINK_HOST_SIZE];
};
// Every key of [links] in file order, at most max (the rest are counted in *more when
// given). Reads the configuration file; resolves nothing.
int linksReadEntries(LinkEntry* out, int max, int* more);
// The link number of a key: 1 to 8 for "1" .. "8"; 0 for anything else.
int linkKeyNumber(const char* key);
// True for a dotted IPv4 address (network order into *address).
bool linkLiteralAddress(const char* text, uint32_t* address);
// True when address is one this server would receive its own packets on: the bound address,
// or with none bound (0) any address of the host's interfaces or of 127.0.0.0/8; 0.0.0.0,
// broadcast and multicast addresses count too (they are never a peer).
bool linkIsOwnAddress(uint32_t address, uint32_t bound);
// True when address is on one of the host's interfaces (no resolution, no packet).
bool linkIsInterfaceAddress(uint32_t address);
