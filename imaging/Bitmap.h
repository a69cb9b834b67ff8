#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixhold::imaging {

// One colour-table entry, in the order a DIB stores it.
struct TRgbQuad {
    std::uint8_t Blue = 0;
    std::uint8_t Green = 0;
    std::uint8_t Red = 0;
    std::uint8_t Reserved = 0;
    friend bool operator==(const TRgbQuad&, const TRgbQuad&) = default;
};

// A device-independent bitmap: the pixel array of a DIB kept as the file keeps
// it, so that its depth, colour table and bit masks survive loading, editing
// and saving. Rows are stored bottom-up (Bits starts with the bottom row), each
// padded to a multiple of 4 bytes; Row(y) hides the order (y = 0 is the top).
//
// Depths: 1, 4 and 8 bits index the colour table; 16 bits are 5-5-5 unless
// masks say otherwise; 24 bits are blue, green, red; 32 bits are blue, green,
// red and a byte that is alpha only when HasAlpha is set (or by masks).
class TBitmap {
public:
    TBitmap() = default;
    // A bitmap of that size and depth with every pixel bit zero. Depths of 8
    // bits or fewer get a colour table of 2^bits black entries.
    TBitmap(int width, int height, int bitCount);

    // Counted in 64 bits: a row of the largest allowed width overflows an int before the division.
    static int RowSize(int width, int bitCount) {
        return static_cast<int>(((static_cast<std::int64_t>(width) * bitCount + 31) / 32) * 4);
    }
    // Bytes of the pixel array; throws EInvalidGraphic for sizes beyond the limit.
    static std::size_t ImageSize(int width, int height, int bitCount);

    bool Empty() const { return Width <= 0 || Height <= 0; }
    int Stride() const { return RowSize(Width, BitCount); }
    std::uint8_t* Row(int y) { return Bits.data() + static_cast<std::size_t>(Height - 1 - y) * Stride(); }
    const std::uint8_t* Row(int y) const {
        return Bits.data() + static_cast<std::size_t>(Height - 1 - y) * Stride();
    }

    // The colour of one pixel (alpha 255 unless the bitmap has alpha).
    QRgb Pixel(int x, int y) const;

    // The bitmap as a QImage for drawing: ARGB32 when it has alpha, else RGB32.
    QImage ToImage() const;
    // A bitmap of the picture at 24 bits, or at 32 bits with alpha when the
    // picture has an alpha channel.
    static TBitmap FromImage(const QImage& image);

    friend bool operator==(const TBitmap&, const TBitmap&) = default;

    int Width = 0;
    int Height = 0;
    int BitCount = 24;
    std::vector<TRgbQuad> Palette;  // colour table (depths of 8 bits or fewer; may be shorter than 2^bits)
    // Bit masks of 16- and 32-bit pixels; all zero means the default layout
    // (5-5-5 for 16 bits, 8-8-8 for 32 bits).
    std::uint32_t RedMask = 0;
    std::uint32_t GreenMask = 0;
    std::uint32_t BlueMask = 0;
    std::uint32_t AlphaMask = 0;
    bool HasAlpha = false;          // 32 bits: the fourth byte is alpha
    std::vector<std::uint8_t> Bits; // the pixel array, bottom row first
};

}  // namespace pixhold::imaging
