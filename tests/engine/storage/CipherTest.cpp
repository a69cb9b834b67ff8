#include "Cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <vector>

namespace pixhold::engine {
namespace {

TEST(ScrambleBuffer, TwiceWithTheSameSeedsGivesBackTheBytes) {
    std::vector<std::uint8_t> original(1000);
    std::iota(original.begin(), original.end(), std::uint8_t{7});
    for (SeedPair seeds : {kDataSeeds, kPasswordSeeds, SeedPair{0, 0}, SeedPair{255, 255}}) {
        auto buffer = original;
        ScrambleBuffer(buffer.data(), buffer.size(), seeds);
        EXPECT_NE(buffer, original);
        ScrambleBuffer(buffer.data(), buffer.size(), seeds);
        EXPECT_EQ(buffer, original);
    }
}

TEST(ScrambleBuffer, ByteKUsesRisingPlusKAndFallingMinusKWrappingModulo256) {
    // A zero buffer shows the keystream itself; lengths around the 256-byte
    // period and starts off the word boundary (the keystream is laid over
    // whole words), the seeds changing in between (one period is kept).
    const std::size_t lengths[] = {1, 7, 8, 63, 64, 65, 255, 256, 257, 300, 1030};
    const std::size_t starts[] = {0, 1, 3};
    for (const SeedPair seeds : {SeedPair{250, 3}, kDataSeeds, SeedPair{250, 3}}) {
        for (const std::size_t length : lengths) {
            for (const std::size_t start : starts) {
                std::vector<std::uint8_t> storage(start + length + 1, 0);
                const std::uint8_t rising = seeds.rising;
                const std::uint8_t falling = seeds.falling;
                ScrambleBuffer(storage.data() + start, length, rising, falling);
                for (std::size_t k = 0; k < length; ++k) {
                    const auto r = static_cast<std::uint8_t>((rising + k) % 256);
                    const auto f = static_cast<std::uint8_t>((falling + 256 * 8 - k) % 256);
                    ASSERT_EQ(storage[start + k], static_cast<std::uint8_t>(r ^ f))
                        << "byte " << k << " of " << length << " starting at " << start;
                }
                for (std::size_t k = 0; k < start; ++k)
                    ASSERT_EQ(storage[k], 0) << "before the buffer";
                ASSERT_EQ(storage[start + length], 0) << "after the buffer";
            }
        }
    }
}

TEST(ScrambleBuffer, EveryBufferStartsTheKeystreamAfresh) {
    // Two records with the same contents are enciphered identically.
    std::array<std::uint8_t, 64> a{};
    std::fill(a.begin(), a.end(), 0x41);
    auto b = a;
    ScrambleBuffer(a.data(), a.size(), kDataSeeds);
    ScrambleBuffer(b.data(), b.size(), kDataSeeds);
    EXPECT_EQ(a, b);
}

TEST(ScrambleBuffer, EmptyBufferIsLeftAlone) {
    std::uint8_t byte = 0x99;
    ScrambleBuffer(&byte, 0, kDataSeeds);
    EXPECT_EQ(byte, 0x99);
}

TEST(ScrambleBuffer, TheTwoSeedPairsDiffer) {
    EXPECT_FALSE(kDataSeeds.rising == kPasswordSeeds.rising &&
                 kDataSeeds.falling == kPasswordSeeds.falling);
}

}  // namespace
}  // namespace pixhold::engine
