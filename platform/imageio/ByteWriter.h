#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Writing the integers of file headers: appended to a byte vector (Put), set at an offset of one
// (Set) or stored at a pointer (Store), big-endian (BE) or little-endian (LE).
namespace platform::bytes {

inline void StoreBE16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void StoreBE32(std::uint8_t* p, std::uint32_t v) {
    StoreBE16(p, v >> 16);
    StoreBE16(p + 2, v & 0xFFFF);
}
inline void StoreLE16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreLE32(std::uint8_t* p, std::uint32_t v) {
    StoreLE16(p, v & 0xFFFF);
    StoreLE16(p + 2, v >> 16);
}

// Byte by byte: an insert of a two-byte range into an empty vector trips GCC 12's overflow
// warning in release builds, wrongly.
inline void PutBE16(std::vector<std::uint8_t>& o, std::uint32_t v) {
    o.push_back(static_cast<std::uint8_t>(v >> 8));
    o.push_back(static_cast<std::uint8_t>(v));
}
inline void PutBE32(std::vector<std::uint8_t>& o, std::uint32_t v) {
    PutBE16(o, v >> 16);
    PutBE16(o, v & 0xFFFF);
}
inline void PutLE16(std::vector<std::uint8_t>& o, std::uint32_t v) {
    o.push_back(static_cast<std::uint8_t>(v));
    o.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutLE32(std::vector<std::uint8_t>& o, std::uint32_t v) {
    PutLE16(o, v & 0xFFFF);
    PutLE16(o, v >> 16);
}

inline void SetBE32(std::vector<std::uint8_t>& o, std::size_t at, std::uint32_t v) { StoreBE32(o.data() + at, v); }
inline void SetLE32(std::vector<std::uint8_t>& o, std::size_t at, std::uint32_t v) { StoreLE32(o.data() + at, v); }

// A resolution as a 16.16 fixed-point number.
inline std::uint32_t Fixed16(float value) { return static_cast<std::uint32_t>(value * 65536.0f + 0.5f); }

}  // namespace platform::bytes
