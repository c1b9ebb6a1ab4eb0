// The common header of one control packet, as the readers walk a compound.
#pragma once

#include "control/packet_cursor.h"
#include "control/rtcp.h"

#include <cstdint>

struct RtcpHeader {
    uint8_t version; // bits 7-6 of byte 0
    bool padding;    // bit 5 of byte 0
    uint8_t count;   // bits 4-0 of byte 0
    uint8_t type;    // byte 1
    uint32_t size;   // (length field + 1) * 4: the packet's size in bytes, 4 to 262144
};

// Reads the header at the start of the region; false, reading nothing, when fewer than 4
// bytes are left.
inline bool rtcpReadHeader(const PacketCursor& at, RtcpHeader* header) {
    uint8_t first = 0;
    uint8_t type = 0;
    uint16_t length = 0;
    if (!at.has(0, 4) || !at.peekU8(0, &first) || !at.peekU8(1, &type) || !at.peekU16(2, &length)) {
        return false;
    }
    header->version = static_cast<uint8_t>(first >> 6);
    header->padding = (first & 0x20) != 0;
    header->count = static_cast<uint8_t>(first & 0x1F);
    header->type = type;
    header->size = (static_cast<uint32_t>(length) + 1) * 4;
    return true;
}

// True when the region begins with a version-3 SR or RR whose padding flag is clear: the
// first packet that every valid compound has.
inline bool rtcpFirstPacketOk(const PacketCursor& datagram) {
    RtcpHeader header{};
    return rtcpReadHeader(datagram, &header) && header.version == 3 && !header.padding &&
           (header.type == RTCP_SR || header.type == RTCP_RR);
}
