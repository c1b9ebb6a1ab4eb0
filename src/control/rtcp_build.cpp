// The two control packets the server builds, the keep-alive compound it keeps for the run
// and the server's source identifier.
#include "control/rtcp.h"

#include "config/config.h"
#include "platform/profile/profile.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t KEEP_ALIVE_SCRATCH = 512;
// [callsign] user is read into this many bytes, so NAME holds at most 39 characters.
constexpr DWORD NAME_BUFFER = 40;

void putU16(uint8_t* at, size_t value) {
    at[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

void putU32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// Writes the empty receiver report (8 bytes) at out.
void putEmptyReport(uint8_t* out, uint32_t ssrc) {
    out[0] = 0xC0;
    out[1] = RTCP_RR;
    out[2] = 0x00;
    out[3] = 0x01;
    putU32(out + 4, ssrc);
}

// Writes one SDES item (type, length byte, text) at out; returns its size.
size_t putItem(uint8_t* out, uint8_t type, const char* text, size_t textLength) {
    out[0] = type;
    out[1] = static_cast<uint8_t>(textLength);
    std::memcpy(out + 2, text, textLength);
    return 2 + textLength;
}

// Writes zero bytes from used up to the next multiple of four; returns the new size.
size_t padToWord(uint8_t* packet, size_t used) {
    while (used % 4 != 0) {
        packet[used++] = 0;
    }
    return used;
}

// Sets the packet's length field for its size, and when the compound (an 8-byte report
// plus this packet) would be a multiple of 8 bytes, appends 00 00 00 04 and sets the
// padding flag. Returns the packet's final size.
size_t finishLastPacket(uint8_t* packet, size_t size) {
    if ((8 + size) % 8 == 0) {
        packet[size] = 0;
        packet[size + 1] = 0;
        packet[size + 2] = 0;
        packet[size + 3] = 4;
        size += 4;
        packet[0] = static_cast<uint8_t>(packet[0] | 0x20);
    }
    putU16(packet + 2, size / 4 - 1);
    return size;
}

// Size of the BYE compound for a reason of n characters (0 to 255).
constexpr size_t byeCompoundSize(size_t n) {
    const size_t bye = (8 + (n > 0 ? 1 + n : 0) + 3) / 4 * 4;
    return 8 + bye + ((8 + bye) % 8 == 0 ? 4 : 0);
}

constexpr bool byeAlwaysFits() {
    for (size_t n = 0; n <= 255; ++n) {
        if (byeCompoundSize(n) > static_cast<size_t>(BYE_COMPOUND_MAX)) {
            return false;
        }
    }
    return byeCompoundSize(255) == static_cast<size_t>(BYE_COMPOUND_MAX);
}
static_assert(byeAlwaysFits(), "BYE_COMPOUND_MAX must hold every BYE compound");

} // namespace

// Builds RR + SDES (CNAME "CALLSIGN", NAME from [callsign] user, EMAIL "CALLSIGN", PHONE
// "08:30") into a new heap block of exactly its size (4 more than a multiple of 8).
int buildKeepAliveCompound(uint32_t ssrc, uint8_t** block) {
    if (block == nullptr) {
        return 0;
    }
    *block = nullptr;
    char name[NAME_BUFFER] = {};
    GetPrivateProfileStringA("callsign", "user", "NA", name, NAME_BUFFER, CONFIG_FILE);
    const size_t nameLength = strnlen(name, NAME_BUFFER - 1);

    // Largest use: 8 + 8 + 10 + (2 + 39) + 10 + 7 + 2 + 3 + 4 = 93 bytes of the 512.
    uint8_t scratch[KEEP_ALIVE_SCRATCH] = {};
    putEmptyReport(scratch, ssrc);
    uint8_t* sdes = scratch + 8;
    sdes[0] = 0xC1;
    sdes[1] = RTCP_SDES;
    putU32(sdes + 4, ssrc);
    size_t used = 8;
    used += putItem(sdes + used, SDES_CNAME, "CALLSIGN", 8);
    used += putItem(sdes + used, SDES_NAME, name, nameLength);
    used += putItem(sdes + used, SDES_EMAIL, "CALLSIGN", 8);
    used += putItem(sdes + used, SDES_PHONE, "08:30", 5);
    sdes[used++] = 0; // end of the item list
    sdes[used++] = 0;
    used = padToWord(sdes, used);
    used = finishLastPacket(sdes, used);

    const size_t total = 8 + used;
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(total));
    if (copy == nullptr) {
        return 0;
    }
    std::memcpy(copy, scratch, total);
    *block = copy;
    return static_cast<int>(total);
}

// Builds RR + BYE with the reason (cut to 255 characters; none when empty) into buffer,
// which holds BYE_COMPOUND_MAX bytes or the exact size; returns the size written.
int buildByeCompound(uint8_t* buffer, uint32_t ssrc, const char* reason) {
    if (buffer == nullptr) {
        return 0;
    }
    const size_t reasonLength = reason == nullptr ? 0 : strnlen(reason, 255);
    putEmptyReport(buffer, ssrc);
    uint8_t* bye = buffer + 8;
    bye[0] = 0xC1;
    bye[1] = RTCP_BYE;
    putU32(bye + 4, ssrc);
    size_t used = 8;
    if (reasonLength > 0) {
        bye[used++] = static_cast<uint8_t>(reasonLength);
        std::memcpy(bye + used, reason, reasonLength);
        used += reasonLength;
    }
    used = padToWord(bye, used);
    used = finishLastPacket(bye, used);
    return static_cast<int>(8 + used);
}

// Releases an earlier keep-alive compound and builds it anew with the server SSRC, and the
// refusal's BYE "Term" with it.
void prepareControlPackets() {
    releaseControlPackets();
    keepAliveLength = buildKeepAliveCompound(serverSsrc, &keepAliveCompound);
    termByeLength = buildByeCompound(termByeCompound, serverSsrc, "Term");
}

// Frees the keep-alive compound, leaving the reference null and the count 0.
void releaseControlPackets() {
    std::free(keepAliveCompound);
    keepAliveCompound = nullptr;
    keepAliveLength = 0;
}
