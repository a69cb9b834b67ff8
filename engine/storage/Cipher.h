#pragma once

#include <cstddef>
#include <cstdint>

namespace pixhold::engine {

// A seed pair of the stored-data cipher.
struct SeedPair {
    std::uint8_t rising;
    std::uint8_t falling;
};

// Records, field descriptors, index header and pages, BLOB header and blocks.
inline constexpr SeedPair kDataSeeds{0x5A, 0xC3};
// The characters of the password and of the description in the data-file header.
inline constexpr SeedPair kPasswordSeeds{0x2D, 0x96};

// Enciphers or deciphers a buffer in place (the two are the same operation).
// The keystream starts afresh with the seeds at the first byte of every buffer.
void ScrambleBuffer(void* buffer, std::size_t length, std::uint8_t rising, std::uint8_t falling);

inline void ScrambleBuffer(void* buffer, std::size_t length, SeedPair seeds) {
    ScrambleBuffer(buffer, length, seeds.rising, seeds.falling);
}

}  // namespace pixhold::engine
