// Control packet formats: version-3 compound packets in the RTCP layout (common header,
// SR, RR, SDES, BYE, APP). Readers for received compounds, which never read outside the
// datagram, and the two packets the server builds.
#pragma once

#include "base/control_packets.h"

#include <cstdint>

constexpr uint8_t RTCP_SR = 200;
constexpr uint8_t RTCP_RR = 201;
constexpr uint8_t RTCP_SDES = 202;
constexpr uint8_t RTCP_BYE = 203;
constexpr uint8_t RTCP_APP = 204;

constexpr uint8_t SDES_CNAME = 1;
constexpr uint8_t SDES_NAME = 2;
constexpr uint8_t SDES_EMAIL = 3;
constexpr uint8_t SDES_PHONE = 4;
constexpr uint8_t SDES_TOOL = 6;

// Wanted SDES item types and, once found, a pointer to the item's type byte inside the
// received datagram.
struct SdesItemEntry {
    uint8_t type;
    const uint8_t* item;
};

struct SdesItemTable {
    int32_t count;
    SdesItemEntry entries[8];
};

// True when the datagram is a valid version-3 compound: the first packet an SR or RR
// without padding, and the packets' lengths adding up exactly to the datagram.
bool rtcpCheckCompound(const uint8_t* packet, int length);

// True when the datagram is a valid compound that holds a BYE packet.
bool rtcpHasBye(const uint8_t* packet, int length);

// True, with app pointing at it, for the first APP packet (of at least 12 bytes, wholly
// inside the datagram) named by the four characters of name; false and null otherwise.
bool rtcpFindApp(const uint8_t* packet, int length, const char* name, const uint8_t** app);

// Fills the table's items from the first chunk of the first SDES packet with a non-zero
// chunk count; true when at least one entry found its item.
bool rtcpGetSdesItems(const uint8_t* packet, int length, SdesItemTable* table);

// The table the control handler names a station with: CNAME, NAME, EMAIL, TOOL (entries 0
// to 3), no items found yet.
SdesItemTable namingItemTable();

// Copies an item's text (at most 255 characters) into text, which holds 256 bytes, and
// terminates it.
void sdesItemText(const uint8_t* item, char* text);

// Builds the keep-alive compound into a new heap block (NAME from [callsign] user, read
// now); returns its size, or 0 with *block null when the allocation fails.
int buildKeepAliveCompound(uint32_t ssrc, uint8_t** block);

// Largest BYE compound: report 8, BYE header and SSRC 8, reason length byte 1 and 255
// characters (already a multiple of four), compound padding 4.
constexpr int BYE_COMPOUND_MAX = 8 + 4 + 4 + 1 + 255 + 4;

// Builds the BYE compound with the reason into buffer, which has room for it (28 bytes
// for "Term", at most 276); returns its size.
int buildByeCompound(uint8_t* buffer, uint32_t ssrc, const char* reason);

// Start-up: releases an earlier keep-alive compound and builds it anew.
void prepareControlPackets();

// Shutdown: releases the keep-alive compound, if it was built.
void releaseControlPackets();
