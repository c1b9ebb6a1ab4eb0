#include "platform/net/interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

int platformInterfaceAddresses(InterfaceAddress* out, int max) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return 0;
    }
    int count = 0;
    for (const ifaddrs* i = list; i != nullptr && count < max; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        InterfaceAddress entry{};
        entry.address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
        if ((i->ifa_flags & IFF_BROADCAST) != 0 && i->ifa_broadaddr != nullptr &&
            i->ifa_broadaddr->sa_family == AF_INET) {
            entry.broadcast =
                reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr;
        }
        out[count++] = entry;
    }
    freeifaddrs(list);
    return count;
}
