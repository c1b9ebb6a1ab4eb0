// Extraction of wanted SDES items from a received compound, and the copy of one item's
// text. Items are read through a PacketCursor over the SDES packet alone, so an item is
// taken only when it lies wholly inside that packet (and so inside the datagram).
#include "control/rtcp.h"

#include "control/packet_cursor.h"
#include "control/rtcp_header.h"

#include <cstring>

namespace {

constexpr int32_t SDES_TABLE_CAPACITY =
    static_cast<int32_t>(sizeof(SdesItemTable::entries) / sizeof(SdesItemEntry));

// The table's entry count, kept to what the table holds.
int32_t usableEntries(const SdesItemTable* table) {
    if (table->count < 0) {
        return 0;
    }
    return table->count < SDES_TABLE_CAPACITY ? table->count : SDES_TABLE_CAPACITY;
}

// Finds the first SDES packet with a non-zero chunk count, walking version-3 packets from
// the start; false at another version, a header crossing the end or a length past the end.
// The packet's region is cut to the datagram.
bool findSdesPacket(const uint8_t* packet, int length, PacketCursor* sdes) {
    PacketCursor rest = cursorOver(packet, length);
    while (!rest.empty()) {
        RtcpHeader header{};
        if (!rtcpReadHeader(rest, &header) || header.version != 3) {
            return false;
        }
        if (header.type == RTCP_SDES && header.count != 0) {
            *sdes = rest.front(header.size);
            return true;
        }
        if (!rest.skip(header.size)) {
            return false;
        }
    }
    return false;
}

// Gives the item to the first entry that wants its type and has none yet; true if taken.
bool offerItem(SdesItemTable* table, int32_t entries, uint8_t type, const uint8_t* item) {
    for (int32_t i = 0; i < entries; ++i) {
        SdesItemEntry& entry = table->entries[i];
        if (entry.type == type && entry.item == nullptr) {
            entry.item = item;
            return true;
        }
    }
    return false;
}

} // namespace

// Clears every entry, then scans the items of the first chunk of the first SDES packet
// with a non-zero chunk count. The scan stops at a type byte 0 or at an item that would
// not lie wholly inside the SDES packet. True when some entry got its item.
SdesItemTable namingItemTable() {
    SdesItemTable table{};
    table.count = 4;
    table.entries[0].type = SDES_CNAME;
    table.entries[1].type = SDES_NAME;
    table.entries[2].type = SDES_EMAIL;
    table.entries[3].type = SDES_TOOL;
    return table;
}

bool rtcpGetSdesItems(const uint8_t* packet, int length, SdesItemTable* table) {
    if (table == nullptr) {
        return false;
    }
    const int32_t entries = usableEntries(table);
    for (int32_t i = 0; i < entries; ++i) {
        table->entries[i].item = nullptr;
    }
    PacketCursor items{nullptr, 0};
    if (!findSdesPacket(packet, length, &items) || !items.skip(8)) {
        return false; // no SDES packet, or one too short to hold a chunk's SSRC
    }
    bool found = false;
    uint8_t type = 0;
    uint8_t textLength = 0;
    while (items.peekU8(0, &type) && type != 0 && items.peekU8(1, &textLength) &&
           items.has(2, textLength)) {
        if (offerItem(table, entries, type, items.at)) {
            found = true;
        }
        if (!items.skip(2 + static_cast<size_t>(textLength))) {
            break;
        }
    }
    return found;
}

// Copies the item's text (its length byte's count, at most 255) and a terminator.
void sdesItemText(const uint8_t* item, char* text) {
    if (text == nullptr) {
        return;
    }
    if (item == nullptr) {
        text[0] = '\0';
        return;
    }
    const size_t textLength = item[1];
    std::memcpy(text, item + 2, textLength);
    text[textLength] = '\0';
}
