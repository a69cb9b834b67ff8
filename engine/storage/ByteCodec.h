#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace pixhold::engine::bytes {

// Little-endian reads and writes at a byte position: the only way the table
// files turn stored integers into values and back.

inline std::uint8_t GetU8(const std::uint8_t* p, std::size_t at) { return p[at]; }
inline void PutU8(std::uint8_t* p, std::size_t at, std::uint8_t v) { p[at] = v; }

inline std::uint16_t GetU16(const std::uint8_t* p, std::size_t at) {
    return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}
inline void PutU16(std::uint8_t* p, std::size_t at, std::uint16_t v) {
    p[at] = static_cast<std::uint8_t>(v);
    p[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline std::uint32_t GetU32(const std::uint8_t* p, std::size_t at) {
    return static_cast<std::uint32_t>(p[at]) | (static_cast<std::uint32_t>(p[at + 1]) << 8) |
           (static_cast<std::uint32_t>(p[at + 2]) << 16) | (static_cast<std::uint32_t>(p[at + 3]) << 24);
}
inline void PutU32(std::uint8_t* p, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint64_t GetU64(const std::uint8_t* p, std::size_t at) {
    return static_cast<std::uint64_t>(GetU32(p, at)) | (static_cast<std::uint64_t>(GetU32(p, at + 4)) << 32);
}
inline void PutU64(std::uint8_t* p, std::size_t at, std::uint64_t v) {
    PutU32(p, at, static_cast<std::uint32_t>(v));
    PutU32(p, at + 4, static_cast<std::uint32_t>(v >> 32));
}
inline std::int16_t GetI16(const std::uint8_t* p, std::size_t at) { return static_cast<std::int16_t>(GetU16(p, at)); }
inline void PutI16(std::uint8_t* p, std::size_t at, std::int16_t v) { PutU16(p, at, static_cast<std::uint16_t>(v)); }
inline std::int32_t GetI32(const std::uint8_t* p, std::size_t at) { return static_cast<std::int32_t>(GetU32(p, at)); }
inline void PutI32(std::uint8_t* p, std::size_t at, std::int32_t v) { PutU32(p, at, static_cast<std::uint32_t>(v)); }
inline std::int64_t GetI64(const std::uint8_t* p, std::size_t at) { return static_cast<std::int64_t>(GetU64(p, at)); }
inline void PutI64(std::uint8_t* p, std::size_t at, std::int64_t v) { PutU64(p, at, static_cast<std::uint64_t>(v)); }
// IEEE double in its little-endian bit pattern.
inline double GetF64(const std::uint8_t* p, std::size_t at) {
    const std::uint64_t bits = GetU64(p, at);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}
inline void PutF64(std::uint8_t* p, std::size_t at, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    PutU64(p, at, bits);
}

// A length-prefixed text of `room` characters at `at`. The reader keeps a
// length beyond the room (reading on, as far as `end`), so that checks can see
// it; the writer cuts to the room and zero-fills the rest.
inline std::string GetText(const std::uint8_t* p, std::size_t at, std::size_t end) {
    std::size_t length = p[at];
    if (at + 1 + length > end) length = end - at - 1;
    return std::string(reinterpret_cast<const char*>(p + at + 1), length);
}
inline void PutText(std::uint8_t* p, std::size_t at, std::size_t room, const std::string& text) {
    const std::size_t length = text.size() < room ? text.size() : room;
    p[at] = static_cast<std::uint8_t>(length);
    std::memcpy(p + at + 1, text.data(), length);
    std::memset(p + at + 1 + length, 0, room - length);
}

}  // namespace pixhold::engine::bytes
