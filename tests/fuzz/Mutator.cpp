#include "Mutator.h"

#include <algorithm>
#include <array>

namespace pixhold::fuzz {

namespace {

constexpr std::array<std::uint8_t, 6> Interesting8 = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x40};
constexpr std::array<std::uint16_t, 9> Interesting16 = {0x0000, 0xFFFF, 0x7FFF, 0x8000, 0x0001,
                                                        0x00FF, 0x0100, 0x4000, 0xFFFE};
// Besides the limits, sizes near where width x height or width x 32 stop
// fitting 31 bits while the pixel count stays within the picture-size limit.
constexpr std::array<std::uint32_t, 14> Interesting32 = {
    0x00000000, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0x00000001, 0x0000FFFF, 0x00010000,
    0x40000000, 0xFFFFFFFE, 0x00100000, 0x01000000, 0x04000000, 0x05F5E100, 0x0F000000};

void Put(TInput& data, std::size_t at, std::uint64_t value, int bytes, bool bigEndian) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
        data[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> shift);
    }
}

std::uint64_t Get(const TInput& data, std::size_t at, int bytes, bool bigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
        value |= static_cast<std::uint64_t>(data[at + static_cast<std::size_t>(i)]) << shift;
    }
    return value;
}

}  // namespace

std::uint64_t TRandom::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

TInput TMutator::Mutate(const TInput& input, const TInput& other, TRandom& random) const {
    TInput data = input;
    // Mostly one or two changes, now and then a longer stack.
    const std::size_t count = random.OneIn(4) ? 1 + random.Below(16) : 1 + random.Below(2);
    for (std::size_t i = 0; i < count; ++i) MutateOnce(data, other, random);
    if (data.size() > maxSize_) data.resize(maxSize_);
    return data;
}

void TMutator::MutateOnce(TInput& data, const TInput& other, TRandom& random) const {
    const std::size_t size = data.size();
    // Changes near the start hit headers: half of the positions fall in the
    // first 64 bytes.
    const auto position = [&](std::size_t width) -> std::size_t {
        if (size < width) return 0;
        const std::size_t span = size - width + 1;
        return random.OneIn(2) ? random.Below(std::min<std::size_t>(span, 64)) : random.Below(span);
    };
    switch (random.Below(12)) {
    case 0:  // flip one bit
        if (size) data[position(1)] ^= static_cast<std::uint8_t>(1u << random.Below(8));
        break;
    case 1:  // an interesting byte
        if (size) data[position(1)] = Interesting8[random.Below(Interesting8.size())];
        break;
    case 2:  // an interesting 16-bit value, either byte order
        if (size >= 2) Put(data, position(2), Interesting16[random.Below(Interesting16.size())], 2, random.OneIn(2));
        break;
    case 3:  // an interesting 32-bit value, either byte order
        if (size >= 4) Put(data, position(4), Interesting32[random.Below(Interesting32.size())], 4, random.OneIn(2));
        break;
    case 4: {  // a small addition to a 1-, 2- or 4-byte number
        const int bytes = 1 << random.Below(3);
        if (size < static_cast<std::size_t>(bytes)) break;
        const std::size_t at = position(static_cast<std::size_t>(bytes));
        const bool big = random.OneIn(2);
        const std::int64_t delta = static_cast<std::int64_t>(random.Below(35)) - 17;
        Put(data, at, Get(data, at, bytes, big) + static_cast<std::uint64_t>(delta), bytes, big);
        break;
    }
    case 5:  // a random byte
        if (size) data[position(1)] = static_cast<std::uint8_t>(random.Next());
        break;
    case 6:  // truncate
        if (size) data.resize(random.Below(size));
        break;
    case 7: {  // delete a chunk
        if (size < 2) break;
        const std::size_t at = random.Below(size);
        const std::size_t n = 1 + random.Below(std::min<std::size_t>(size - at, random.OneIn(2) ? 16 : 1024));
        data.erase(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
        break;
    }
    case 8: {  // duplicate a chunk somewhere else
        if (!size || size >= maxSize_) break;
        const std::size_t at = random.Below(size);
        const std::size_t n = 1 + random.Below(std::min<std::size_t>(size - at, random.OneIn(2) ? 16 : 1024));
        const TInput chunk(data.begin() + static_cast<std::ptrdiff_t>(at),
                           data.begin() + static_cast<std::ptrdiff_t>(at + n));
        const std::size_t to = random.Below(size + 1);
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(to), chunk.begin(), chunk.end());
        break;
    }
    case 9: {  // insert a few random or repeated bytes
        if (size >= maxSize_) break;
        const std::size_t n = 1 + random.Below(32);
        const std::size_t to = random.Below(size + 1);
        TInput chunk(n, static_cast<std::uint8_t>(random.Next()));
        if (random.OneIn(2)) {
            for (auto& b : chunk) b = static_cast<std::uint8_t>(random.Next());
        }
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(to), chunk.begin(), chunk.end());
        break;
    }
    case 10: {  // splice: the start of this input, then the rest of the other
        if (other.empty()) break;
        const std::size_t cut = random.Below(size + 1);
        const std::size_t from = random.Below(other.size());
        data.resize(cut);
        data.insert(data.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
        break;
    }
    default: {  // copy a chunk over another place in the same input
        if (size < 2) break;
        const std::size_t n = 1 + random.Below(std::min<std::size_t>(size / 2, 64));
        const std::size_t from = random.Below(size - n + 1);
        const std::size_t to = random.Below(size - n + 1);
        std::copy_n(TInput(data.begin() + static_cast<std::ptrdiff_t>(from),
                           data.begin() + static_cast<std::ptrdiff_t>(from + n)).begin(), n,
                    data.begin() + static_cast<std::ptrdiff_t>(to));
        break;
    }
    }
}

}  // namespace pixhold::fuzz
