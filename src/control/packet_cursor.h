// A bounded reader over received bytes. Every read names an offset and a size and succeeds
// only when those bytes lie wholly inside the cursor's region; a failed read reads nothing.
// All bounds checks of the control packet readers live here.
#pragma once

#include <cstddef>
#include <cstdint>

struct PacketCursor {
    const uint8_t* at; // first byte of the region (null only when the region is empty)
    size_t left;       // bytes in the region

    // True when n bytes starting at offset lie inside the region.
    bool has(size_t offset, size_t n) const { return offset <= left && n <= left - offset; }

    // True when nothing is left.
    bool empty() const { return left == 0; }

    // The byte at offset, when it lies inside the region.
    bool peekU8(size_t offset, uint8_t* value) const {
        if (!has(offset, 1)) {
            return false;
        }
        *value = at[offset];
        return true;
    }

    // The big-endian 16-bit field at offset, when both its bytes lie inside the region.
    bool peekU16(size_t offset, uint16_t* value) const {
        if (!has(offset, 2)) {
            return false;
        }
        *value = static_cast<uint16_t>((at[offset] << 8) | at[offset + 1]);
        return true;
    }

    // A pointer to n bytes at offset, when they lie inside the region.
    bool peekBytes(size_t offset, size_t n, const uint8_t** bytes) const {
        if (!has(offset, n)) {
            return false;
        }
        *bytes = at + offset;
        return true;
    }

    // Moves past n bytes, when that many are left; otherwise stays where it is.
    bool skip(size_t n) {
        if (!has(0, n)) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        at += n;
        left -= n;
        return true;
    }

    // The first n bytes as a region of their own, cut to what is left.
    PacketCursor front(size_t n) const { return PacketCursor{at, n < left ? n : left}; }
};

// The region [data, data + length); empty for a null pointer or a length below 1.
inline PacketCursor cursorOver(const uint8_t* data, int length) {
    if (data == nullptr || length <= 0) {
        return PacketCursor{nullptr, 0};
    }
    return PacketCursor{data, static_cast<size_t>(length)};
}
