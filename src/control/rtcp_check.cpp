// Validity of a received compound, the BYE test and the search for an APP packet by name.
// Every read goes through a PacketCursor over the datagram, so nothing outside
// [packet, packet + length) is ever touched.
#include "control/rtcp.h"

#include "control/packet_cursor.h"
#include "control/rtcp_header.h"

#include <cstring>

namespace {

// Walks the packets from the start of the datagram while each begins with a version-3
// header; true when the walk ends exactly at the datagram's end. A header that crosses
// the end, a packet of another version or a length running past the end make it false.
// sawBye, when given, tells whether a packet of the walk had the type BYE.
bool walkCompound(const uint8_t* packet, int length, bool* sawBye) {
    PacketCursor rest = cursorOver(packet, length);
    if (!rtcpFirstPacketOk(rest)) {
        return false;
    }
    bool bye = false;
    while (!rest.empty()) {
        RtcpHeader header{};
        if (!rtcpReadHeader(rest, &header) || header.version != 3) {
            return false;
        }
        if (header.type == RTCP_BYE) {
            bye = true;
        }
        if (!rest.skip(header.size)) {
            return false;
        }
    }
    if (sawBye != nullptr) {
        *sawBye = bye;
    }
    return true;
}

} // namespace

// True for a valid version-3 compound: first packet an SR or RR without padding, every
// packet version 3, the lengths adding up exactly to the datagram.
bool rtcpCheckCompound(const uint8_t* packet, int length) {
    return walkCompound(packet, length, nullptr);
}

// True for a valid compound (as rtcpCheckCompound) in which some packet is a BYE.
bool rtcpHasBye(const uint8_t* packet, int length) {
    bool sawBye = false;
    return walkCompound(packet, length, &sawBye) && sawBye;
}

// After the first-packet test, walks the version-3 packets and returns the first APP
// packet of at least 12 bytes, wholly inside the datagram, whose bytes 8-11 equal name
// (four characters; a shorter name matches nothing).
// The walk ends at a header crossing the end, another version or a length past the end.
bool rtcpFindApp(const uint8_t* packet, int length, const char* name, const uint8_t** app) {
    if (app != nullptr) {
        *app = nullptr;
    }
    PacketCursor rest = cursorOver(packet, length);
    if (name == nullptr || strnlen(name, 4) != 4 || !rtcpFirstPacketOk(rest)) {
        return false;
    }
    while (!rest.empty()) {
        RtcpHeader header{};
        if (!rtcpReadHeader(rest, &header) || header.version != 3) {
            return false;
        }
        const uint8_t* appName = nullptr;
        if (header.type == RTCP_APP && header.size >= 12 && rest.has(0, header.size) &&
            rest.peekBytes(8, 4, &appName) && std::memcmp(appName, name, 4) == 0) {
            if (app != nullptr) {
                *app = rest.at;
            }
            return true;
        }
        if (!rest.skip(header.size)) {
            return false;
        }
    }
    return false;
}
