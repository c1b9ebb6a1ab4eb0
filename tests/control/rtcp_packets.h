// Builders of control packets for the reader tests, and exactly-sized heap copies so that
// the address sanitizer sees any read past a datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace rtcptest {

using Bytes = std::vector<uint8_t>;

// Appends b to out (by index: GCC's array-bounds check misfires on vector::insert).
inline void append(Bytes& out, const Bytes& b) {
    const size_t at = out.size();
    out.resize(at + b.size());
    for (size_t i = 0; i < b.size(); ++i) {
        out[at + i] = b[i];
    }
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        append(out, part);
    }
    return out;
}

inline Bytes u32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// One packet: header (version, padding, count, type, length field from the size) and the
// body padded with zero bytes to whole words. lengthWords overrides the length field.
inline Bytes packet(uint8_t count, uint8_t type, Bytes body, int version = 3, bool padding = false,
                    int lengthWords = -1) {
    while (body.size() % 4 != 0) {
        body.push_back(0);
    }
    const size_t words = lengthWords >= 0 ? static_cast<size_t>(lengthWords) : body.size() / 4;
    Bytes out = {static_cast<uint8_t>((version << 6) | (padding ? 0x20 : 0) | (count & 0x1F)), type,
                 static_cast<uint8_t>(words >> 8), static_cast<uint8_t>(words & 0xFF)};
    append(out, body);
    return out;
}

// The empty receiver report: C0 C9 00 01 and the SSRC.
inline Bytes emptyRr(uint32_t ssrc = 0x01020304) {
    return packet(0, 201, u32(ssrc));
}

// One SDES item: type, length byte, text.
inline Bytes item(uint8_t type, const std::string& s) {
    Bytes out = {type, static_cast<uint8_t>(s.size())};
    append(out, text(s));
    return out;
}

// One SDES chunk: SSRC, items, the ending zero byte and zero bytes to a whole word.
inline Bytes chunk(uint32_t ssrc, std::initializer_list<Bytes> items) {
    Bytes out = u32(ssrc);
    for (const Bytes& i : items) {
        append(out, i);
    }
    out.push_back(0);
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
    return out;
}

inline Bytes sdes(std::initializer_list<Bytes> chunks) {
    Bytes body;
    for (const Bytes& c : chunks) {
        append(body, c);
    }
    return packet(static_cast<uint8_t>(chunks.size()), 202, body);
}

inline Bytes bye(uint32_t ssrc = 0x0A0B0C0D) {
    return packet(1, 203, u32(ssrc));
}

inline Bytes app(const std::string& name, Bytes data = {}) {
    Bytes body = cat({u32(0x05060708), text(name), data});
    return packet(0, 204, body);
}

// A copy on the heap of exactly the datagram's size.
struct HeapDatagram {
    std::unique_ptr<uint8_t[]> bytes;
    int length;

    explicit HeapDatagram(const Bytes& b)
        : bytes(new uint8_t[b.size()]), length(static_cast<int>(b.size())) {
        for (size_t i = 0; i < b.size(); ++i) {
            bytes[i] = b[i];
        }
    }
    HeapDatagram(const Bytes& b, size_t prefix)
        : bytes(new uint8_t[prefix]), length(static_cast<int>(prefix)) {
        for (size_t i = 0; i < prefix; ++i) {
            bytes[i] = b[i];
        }
    }
    const uint8_t* data() const { return bytes.get(); }
};

} // namespace rtcptest
