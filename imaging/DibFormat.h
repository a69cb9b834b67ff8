#pragma once

// The structures a device-independent bitmap is made of, shared by the BMP
// and icon codecs (docs/bmp-format.md). Each structure has one reader and one
// writer here; the codecs only put them together.

#include "Bitmap.h"
#include "ByteSpan.h"

#include <cstddef>
#include <cstdint>

namespace pixhold::imaging::dib {

// biCompression values. In an OS/2 2.x header 3 and 4 mean Huffman 1D and RLE24.
inline constexpr std::uint32_t BiRgb = 0;
inline constexpr std::uint32_t BiRle8 = 1;
inline constexpr std::uint32_t BiRle4 = 2;
inline constexpr std::uint32_t BiBitFields = 3;
inline constexpr std::uint32_t BiJpeg = 4;
inline constexpr std::uint32_t BiPng = 5;
inline constexpr std::uint32_t BiAlphaBitFields = 6;

inline constexpr std::uint32_t CoreHeaderSize = 12;
inline constexpr std::uint32_t InfoHeaderSize = 40;
inline constexpr std::uint32_t V4HeaderSize = 108;
inline constexpr std::uint32_t V5HeaderSize = 124;
inline constexpr std::size_t FileHeaderSize = 14;
inline constexpr std::int32_t PixelsPerMetre96Dpi = 3780;

// Little-endian access. The readers expect the caller to have checked the bounds.
inline std::uint16_t U16(TBytes b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t U32(TBytes b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void PutU16(TByteVector& out, std::uint32_t value);
void PutU32(TByteVector& out, std::uint32_t value);

// BITMAPFILEHEADER: the 14 bytes before the DIB in a ".bmp" file.
struct TFileHeader {
    std::uint32_t FileSize = 0;     // bfSize: not relied on when reading
    std::uint32_t PixelOffset = 0;  // bfOffBits, from the start of the file
};
TFileHeader ReadFileHeader(TBytes file);
void WriteFileHeader(const TFileHeader& header, TByteVector& out);

// What the information header (any version), the bit masks and the colour
// table of a DIB say, the pixel array still apart.
struct TDibHeader {
    std::uint32_t HeaderSize = 0;
    bool Os2 = false;  // OS/2 1.x core header or OS/2 2.x header
    int Width = 0;
    int Height = 0;        // rows, always positive
    bool TopDown = false;  // the height was negative
    int BitCount = 0;
    std::uint32_t Compression = BiRgb;
    std::uint32_t SizeImage = 0;
    std::int32_t XPelsPerMeter = 0;
    std::int32_t YPelsPerMeter = 0;
    std::uint32_t ClrUsed = 0;
    // Masks as stored (zero where the file has none).
    std::uint32_t RedMask = 0;
    std::uint32_t GreenMask = 0;
    std::uint32_t BlueMask = 0;
    std::uint32_t AlphaMask = 0;
    std::vector<TRgbQuad> Palette;
    // Bytes of header, masks and colour table: where the pixels of a packed DIB start.
    std::size_t Size = 0;
};

// Reads the information header, the masks after it and the colour table from
// the start of `dib`. Header and masks must lie within `tableEnd` bytes (the
// pixel offset of a file, or the whole DIB); colour-table entries beyond it
// are not read (a shorter table is allowed). Throws EInvalidGraphic for a
// header that is truncated, of an unknown size or asks for what we do not read.
TDibHeader ReadDibHeader(TBytes dib, std::size_t tableEnd);

// The pixel array of `header` decoded into a bitmap of the header's size,
// depth, colour table and masks (default masks come back as zero). `bits` is
// the pixel array, uncompressed or RLE. Throws EInvalidGraphic when it is
// shorter than the picture needs.
TBitmap ReadDibPixels(const TDibHeader& header, TBytes bits);

// The fields a writer sets; the rest of the header is written as zero (the
// V5 colour space as sRGB).
struct TInfoHeaderFields {
    std::uint32_t HeaderSize = InfoHeaderSize;  // 40 or 124
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    int BitCount = 24;
    std::uint32_t Compression = BiRgb;
    std::uint32_t SizeImage = 0;
    std::uint32_t ClrUsed = 0;
    std::uint32_t RedMask = 0;    // written inside a V5 header, or after a 40-byte
    std::uint32_t GreenMask = 0;  // header when Compression is BI_BITFIELDS
    std::uint32_t BlueMask = 0;
    std::uint32_t AlphaMask = 0;  // V5 only
};
// Writes the information header, the masks after a 40-byte BI_BITFIELDS
// header, and `palette` as RGBQUADs.
void WriteDibHeader(const TInfoHeaderFields& fields, const std::vector<TRgbQuad>& palette, TByteVector& out);

// How WriteDib lays a bitmap out: header fields and the colour table written.
struct TDibLayout {
    TInfoHeaderFields Fields;
    std::vector<TRgbQuad> Palette;
    std::size_t HeaderBytes() const;
};
TDibLayout LayoutOf(const TBitmap& bitmap);

}  // namespace pixhold::imaging::dib
