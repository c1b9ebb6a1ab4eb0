// Which addresses are the server's own: a link there would only reach the server itself.
#include "links/links_internal.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

bool linkIsInterfaceAddress(uint32_t address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return false;
    }
    bool found = false;
    for (const ifaddrs* a = list; a != nullptr && !found; a = a->ifa_next) {
        if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET) {
            found = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == address;
        }
    }
    freeifaddrs(list);
    return found;
}

bool linkIsOwnAddress(uint32_t address, uint32_t bound) {
    uint32_t host = ntohl(address);
    if (host == 0 || host == 0xFFFFFFFFu || (host >> 28) == 0xE) {
        return true; // 0.0.0.0, broadcast, multicast: never a peer
    }
    if (bound != 0) {
        return address == bound;
    }
    return (host >> 24) == 127 || linkIsInterfaceAddress(address);
}
