#pragma once

// Raw pixel access for the bitmap tests: the stored value of a pixel (colour
// index, or the 16, 24 or 32 bits as stored), counted from the top left.

#include "Bitmap.h"

#include <random>

namespace pixhold::imaging::test {

inline unsigned PixelValue(const TBitmap& b, int x, int y) {
    const std::uint8_t* row = b.Row(y);
    switch (b.BitCount) {
    case 1: return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 4: return (row[x / 2] >> (x % 2 ? 0 : 4)) & 0xFu;
    case 8: return row[x];
    case 16: return row[2 * x] | (row[2 * x + 1] << 8);
    case 24: return row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
    default:
        return row[4 * x] | (row[4 * x + 1] << 8) | (row[4 * x + 2] << 16) |
               (static_cast<unsigned>(row[4 * x + 3]) << 24);
    }
}

inline void SetPixelValue(TBitmap& b, int x, int y, unsigned v) {
    std::uint8_t* row = b.Row(y);
    switch (b.BitCount) {
    case 1: {
        const unsigned mask = 0x80u >> (x % 8);
        row[x / 8] = static_cast<std::uint8_t>((row[x / 8] & ~mask) | ((v & 1u) ? mask : 0u));
        break;
    }
    case 4: {
        const int shift = x % 2 ? 0 : 4;
        row[x / 2] = static_cast<std::uint8_t>((row[x / 2] & ~(0xFu << shift)) | ((v & 0xFu) << shift));
        break;
    }
    default:
        for (int i = 0; i < b.BitCount / 8; ++i) {
            row[x * (b.BitCount / 8) + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
        break;
    }
}

// Every pixel a value from the seed; the padding stays as it was.
inline void FillRandom(TBitmap& b, unsigned seed) {
    std::mt19937 random(seed);
    for (int y = 0; y < b.Height; ++y) {
        for (int x = 0; x < b.Width; ++x) SetPixelValue(b, x, y, static_cast<unsigned>(random()));
    }
}

// The bits of every row past its last pixel are all zero.
inline bool PaddingIsZero(const TBitmap& b) {
    const std::size_t stride = static_cast<std::size_t>(b.Stride());
    const std::size_t used = static_cast<std::size_t>(b.Width) * b.BitCount;
    for (int y = 0; y < b.Height; ++y) {
        const std::uint8_t* row = b.Row(y);
        for (std::size_t bit = used; bit < stride * 8; ++bit) {
            if (row[bit / 8] & (0x80u >> (bit % 8))) return false;
        }
    }
    return true;
}

}  // namespace pixhold::imaging::test
