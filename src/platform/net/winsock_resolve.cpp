// Name resolution and address text, IPv4 only, with results in static storage as the
// Windows calls give them.
#include "platform/net/winsock_internal.h"

#include <cstdio>
#include <cstring>
#include <netdb.h>

namespace {

// The one result of gethostbyname; overwritten by the next call.
struct HostResult {
    char name[256];
    char* aliases[1];
    in_addr address;
    char* addressList[2];
    HOSTENT entry;
};

HostResult hostResult;
char addressText[16];

} // namespace

namespace ws {

// The first address is the one address the server ever connects to; a null name is WSAEINVAL.
HOSTENT* gethostbyname(const char* name) {
    if (name == nullptr) {
        platform::failWith(WSAEINVAL);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
        platform::failWith(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    HostResult& r = hostResult;
    const addrinfo* a = found;
    while (a != nullptr && (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in))) {
        a = a->ai_next;
    }
    if (a != nullptr) {
        std::memcpy(&r.address, &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr,
                    sizeof r.address);
    }
    ::freeaddrinfo(found);
    if (a == nullptr) {
        platform::failWith(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    // The name as asked (asking for the canonical name can cost a name-server query).
    std::snprintf(r.name, sizeof r.name, "%s", name);
    r.addressList[0] = reinterpret_cast<char*>(&r.address);
    r.addressList[1] = nullptr;
    r.aliases[0] = nullptr;
    r.entry.h_name = r.name;
    r.entry.h_aliases = r.aliases;
    r.entry.h_addrtype = AF_INET;
    r.entry.h_length = sizeof(in_addr);
    r.entry.h_addr_list = r.addressList;
    return &r.entry;
}

char* inet_ntoa(in_addr address) {
    unsigned char bytes[4];
    std::memcpy(bytes, &address.s_addr, sizeof bytes);
    std::snprintf(addressText, sizeof addressText, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2],
                  bytes[3]);
    return addressText;
}

} // namespace ws
