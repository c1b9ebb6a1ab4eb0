// libFuzzer target: every control packet reader on one datagram, held in a heap block of
// exactly its size so that the address sanitizer reports any read outside it. Also checks
// what the readers promise about each other, and builds a BYE compound from the input as
// its reason text.
#include "control/rtcp.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Stops the run on a broken promise (a crash the fuzzer records with its input).
void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// True when the item's two header bytes and its text lie inside [data, data + size).
bool itemInside(const uint8_t* item, const uint8_t* data, size_t size) {
    if (item < data) {
        return false;
    }
    const size_t offset = static_cast<size_t>(item - data);
    return offset + 2 <= size && offset + 2 + item[1] <= size;
}

void readAll(const uint8_t* data, size_t size) {
    const int length = static_cast<int>(size);
    const bool valid = rtcpCheckCompound(data, length);
    const bool bye = rtcpHasBye(data, length);
    require(!bye || valid);

    const uint8_t* app = nullptr;
    if (rtcpFindApp(data, length, "SFtc", &app)) {
        require(app != nullptr && app >= data && app + 12 <= data + size);
        require(app[1] == RTCP_APP && std::memcmp(app + 8, "SFtc", 4) == 0);
    } else {
        require(app == nullptr);
    }

    // The handler's table, then one that wants every type from 1 to 8.
    SdesItemTable handler = namingItemTable();
    SdesItemTable every{};
    every.count = 8;
    for (int i = 0; i < 8; ++i) {
        every.entries[i].type = static_cast<uint8_t>(i + 1);
    }
    auto text = std::make_unique<char[]>(256);
    for (SdesItemTable* table : {&handler, &every}) {
        const bool found = rtcpGetSdesItems(data, length, table);
        bool any = false;
        for (int i = 0; i < table->count; ++i) {
            const uint8_t* item = table->entries[i].item;
            if (item == nullptr) {
                continue;
            }
            any = true;
            require(itemInside(item, data, size) && item[0] == table->entries[i].type);
            sdesItemText(item, text.get());
            require(text[item[1]] == '\0');
        }
        require(found == any);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(INT_MAX)) {
        return 0;
    }
    // new[] of 0 bytes still gives a block of its own that no read may touch.
    std::unique_ptr<uint8_t[]> datagram(new uint8_t[size]);
    if (size > 0) {
        std::memcpy(datagram.get(), data, size);
    }
    readAll(datagram.get(), size);

    // The input as a reason text: the compound stays within its maximum and reads back.
    auto reason = std::make_unique<char[]>(size + 1);
    if (size > 0) {
        std::memcpy(reason.get(), data, size);
    }
    reason[size] = '\0';
    auto buffer = std::make_unique<uint8_t[]>(BYE_COMPOUND_MAX);
    const int byeLength = buildByeCompound(buffer.get(), 0, reason.get());
    require(byeLength >= 20 && byeLength <= BYE_COMPOUND_MAX && byeLength % 8 == 4);
    require(rtcpHasBye(buffer.get(), byeLength));
    return 0;
}
