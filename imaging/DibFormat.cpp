#include "DibFormat.h"

#include "GraphicError.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pixhold::imaging::dib {

namespace {

[[noreturn]] void Fail(const std::string& message) {
    throw EInvalidGraphic(message);
}

bool IsDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The Windows header sizes; every other size from 16 to 64 bytes is an OS/2 2.x header.
bool IsWindowsInfoSize(std::uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size >= V4HeaderSize;
}

void CheckCompression(const TDibHeader& h) {
    const std::uint32_t c = h.Compression;
    if (h.Os2 && c == 3) Fail("OS/2 Huffman-compressed bitmaps are not supported");
    if (h.Os2 && c == 4) Fail("OS/2 RLE24-compressed bitmaps are not supported");
    if (c == BiJpeg) Fail("JPEG-compressed bitmaps are not supported");
    if (c == BiPng) Fail("PNG-compressed bitmaps are not supported");
    if (c > BiAlphaBitFields) Fail("Bitmap compression " + std::to_string(c) + " is not supported");
    if (!IsDepth(h.BitCount)) {
        Fail("Bitmap image has an unsupported depth of " + std::to_string(h.BitCount) + " bits per pixel");
    }
    if (c == BiRle8 && h.BitCount != 8) Fail("RLE8 bitmap must have 8 bits per pixel");
    if (c == BiRle4 && h.BitCount != 4) Fail("RLE4 bitmap must have 4 bits per pixel");
    if ((c == BiRle8 || c == BiRle4) && h.TopDown) Fail("RLE bitmap cannot be stored top-down");
    if ((c == BiBitFields || c == BiAlphaBitFields) && h.BitCount != 16 && h.BitCount != 32) {
        Fail("Bitmap with bit masks must have 16 or 32 bits per pixel");
    }
}

// Masks that mean the same as none: they come back as zero.
bool DefaultMasks(int bitCount, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
    if (bitCount == 16) return r == 0x7C00 && g == 0x03E0 && b == 0x001F && a == 0;
    return r == 0x00FF0000 && g == 0x0000FF00 && b == 0x000000FF && (a == 0 || a == 0xFF000000u);
}

// The last row's padding may be missing; anything less is refused, before
// the picture is allocated.
void CheckRowsPresent(const TDibHeader& h, TBytes bits) {
    const std::size_t stride = static_cast<std::size_t>(TBitmap::RowSize(h.Width, h.BitCount));
    const std::size_t rowBytes = (static_cast<std::size_t>(h.Width) * h.BitCount + 7) / 8;
    const std::size_t rows = static_cast<std::size_t>(h.Height);
    if (bits.size() < (rows - 1) * stride + rowBytes) {
        Fail("Bitmap pixel data is truncated (" + std::to_string(bits.size()) + " of " +
             std::to_string(rows * stride) + " bytes)");
    }
}

void CopyRows(const TDibHeader& h, TBytes bits, TBitmap& out) {
    const std::size_t stride = static_cast<std::size_t>(out.Stride());
    const std::size_t rows = static_cast<std::size_t>(h.Height);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t from = r * stride;
        const std::size_t n = std::min(stride, bits.size() - from);
        std::uint8_t* to = h.TopDown ? out.Row(static_cast<int>(r)) : out.Bits.data() + r * stride;
        std::memcpy(to, bits.data() + from, n);
    }
}

// BI_RLE8 and BI_RLE4 into the bitmap's own depth. Every code consumes bytes,
// so the loop ends; pixels outside the picture are dropped.
void DecodeRle(const TDibHeader& h, TBytes bits, TBitmap& out) {
    const bool four = h.Compression == BiRle4;
    const int w = h.Width;
    const int rows = h.Height;
    const std::size_t stride = static_cast<std::size_t>(out.Stride());
    const std::size_t size = bits.size();
    int x = 0;
    int y = 0;  // from the bottom, as RLE rows are stored
    auto put = [&](unsigned index) {
        if (x >= w || y >= rows) return;
        std::uint8_t* row = out.Bits.data() + static_cast<std::size_t>(y) * stride;
        if (four) {
            std::uint8_t& byte = row[x >> 1];
            byte = (x & 1) ? static_cast<std::uint8_t>((byte & 0xF0) | (index & 0x0F))
                           : static_cast<std::uint8_t>((byte & 0x0F) | ((index & 0x0F) << 4));
        } else {
            row[x] = static_cast<std::uint8_t>(index);
        }
        ++x;
    };
    auto nibbleOrByte = [&](std::uint8_t value, int i) -> unsigned {
        if (!four) return value;
        return (i & 1) ? (value & 0x0Fu) : (value >> 4);
    };
    std::size_t p = 0;
    while (y < rows) {
        if (p + 2 > size) {
            if (y == rows - 1 && x >= w) return;  // the last row is full; only the end mark is missing
            Fail("Bitmap RLE data ends before the end of the picture");
        }
        const std::uint8_t count = bits[p];
        const std::uint8_t value = bits[p + 1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < w; ++i) put(nibbleOrByte(value, i));
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return;
        case 2:  // delta: the pixels skipped stay index 0
            if (p + 2 > size) Fail("Bitmap RLE data ends inside a delta");
            x = std::min(x + bits[p], w);
            y = std::min(y + bits[p + 1], rows);
            p += 2;
            break;
        default: {  // absolute run, padded to a 16-bit boundary
            const std::size_t bytes = four ? (value + 1u) / 2 : value;
            if (p + bytes > size) Fail("Bitmap RLE data ends inside an absolute run");
            for (int i = 0; i < value; ++i) {
                put(nibbleOrByte(bits[p + static_cast<std::size_t>(four ? i / 2 : i)], i));
            }
            p = std::min(p + ((bytes + 1) & ~std::size_t{1}), size);
            break;
        }
        }
    }
}

}  // namespace

void PutU16(TByteVector& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(TByteVector& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// --- BITMAPFILEHEADER ---------------------------------------------------------

TFileHeader ReadFileHeader(TBytes file) {
    if (file.size() < FileHeaderSize) Fail("Bitmap file is truncated in its file header");
    if (file[0] != 'B' || file[1] != 'M') Fail("Not a bitmap file (no \"BM\" signature)");
    TFileHeader h;
    h.FileSize = U32(file, 2);
    h.PixelOffset = U32(file, 10);
    return h;
}

void WriteFileHeader(const TFileHeader& header, TByteVector& out) {
    out.push_back('B');
    out.push_back('M');
    PutU32(out, header.FileSize);
    PutU32(out, 0);  // two reserved words
    PutU32(out, header.PixelOffset);
}

// --- information header, masks, colour table ----------------------------------

TDibHeader ReadDibHeader(TBytes dib, std::size_t tableEnd) {
    tableEnd = std::min(tableEnd, dib.size());
    if (dib.size() < 4) Fail("Bitmap is truncated in its information header");
    const std::uint32_t size = U32(dib, 0);
    const bool known =
        size == CoreHeaderSize || (size >= 16 && size <= 64) || (size >= V4HeaderSize && size <= 4096);
    if (!known) {
        Fail("Bitmap information header has an unknown size of " + std::to_string(size) + " bytes");
    }
    if (size > dib.size()) Fail("Bitmap is truncated in its information header");
    if (size > tableEnd) Fail("Bitmap pixel data offset lies inside the information header");

    TDibHeader h;
    h.HeaderSize = size;
    std::int64_t height = 0;
    if (size == CoreHeaderSize) {
        h.Os2 = true;
        h.Width = U16(dib, 4);
        height = U16(dib, 6);
        h.BitCount = U16(dib, 10);
    } else {
        // OS/2 2.x headers may stop after any field: the missing ones are zero.
        auto field = [&](std::size_t at) -> std::uint32_t { return at + 4 <= size ? U32(dib, at) : 0; };
        h.Os2 = !IsWindowsInfoSize(size);
        h.Width = static_cast<std::int32_t>(U32(dib, 4));
        height = static_cast<std::int32_t>(U32(dib, 8));
        h.BitCount = U16(dib, 14);
        h.Compression = field(16);
        h.SizeImage = field(20);
        h.XPelsPerMeter = static_cast<std::int32_t>(field(24));
        h.YPelsPerMeter = static_cast<std::int32_t>(field(28));
        h.ClrUsed = field(32);
        if (!h.Os2) {
            h.RedMask = field(40);
            h.GreenMask = field(44);
            h.BlueMask = field(48);
            h.AlphaMask = field(52);
        }
    }
    h.TopDown = height < 0;
    CheckPictureSize(h.Width, std::llabs(height), "Bitmap");
    h.Height = static_cast<int>(std::llabs(height));
    CheckCompression(h);

    std::size_t pos = size;
    const bool masked = h.Compression == BiBitFields || h.Compression == BiAlphaBitFields;
    if (masked && size == InfoHeaderSize) {
        const std::size_t count = h.Compression == BiAlphaBitFields ? 4 : 3;
        if (pos + 4 * count > tableEnd) Fail("Bitmap is truncated in its bit masks");
        h.RedMask = U32(dib, pos);
        h.GreenMask = U32(dib, pos + 4);
        h.BlueMask = U32(dib, pos + 8);
        h.AlphaMask = count == 4 ? U32(dib, pos + 12) : 0;
        pos += 4 * count;
    } else if (!masked) {
        // Without BI_BITFIELDS the masks of a V4/V5 header count only for
        // 32-bit alpha; 16 and 32 bits are then the default layout.
        const bool alpha = size >= V4HeaderSize && h.BitCount == 32 && h.AlphaMask == 0xFF000000u;
        h.RedMask = h.GreenMask = h.BlueMask = 0;
        h.AlphaMask = alpha ? 0xFF000000u : 0;
    } else if (h.Compression == BiBitFields && size < 56) {
        h.AlphaMask = 0;  // the 52-byte header has no alpha mask
    }

    const std::size_t entrySize = size == CoreHeaderSize ? 3 : 4;
    const std::size_t room = (tableEnd - pos) / entrySize;
    if (h.BitCount <= 8) {
        const std::size_t full = std::size_t{1} << h.BitCount;
        const std::size_t wanted =
            (h.ClrUsed == 0 || size == CoreHeaderSize) ? full : std::min<std::size_t>(h.ClrUsed, full);
        const std::size_t n = std::min(wanted, room);
        h.Palette.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = pos + i * entrySize;
            h.Palette[i] = TRgbQuad{dib[at], dib[at + 1], dib[at + 2], 0};
        }
        pos += n * entrySize;
    } else {
        // A colour table of a deeper bitmap is only a hint for palette devices: skipped.
        pos += std::min<std::size_t>(h.ClrUsed, room) * entrySize;
    }
    h.Size = pos;
    return h;
}

TBitmap ReadDibPixels(const TDibHeader& h, TBytes bits) {
    const bool rle = h.Compression == BiRle8 || h.Compression == BiRle4;
    if (!rle) CheckRowsPresent(h, bits);
    TBitmap out(h.Width, h.Height, h.BitCount);
    if (h.BitCount <= 8) {
        out.Palette = h.Palette;
    } else {
        out.Palette.clear();
    }
    if (h.Compression == BiBitFields || h.Compression == BiAlphaBitFields) {
        if (!DefaultMasks(h.BitCount, h.RedMask, h.GreenMask, h.BlueMask, h.AlphaMask)) {
            out.RedMask = h.RedMask;
            out.GreenMask = h.GreenMask;
            out.BlueMask = h.BlueMask;
            out.AlphaMask = h.AlphaMask;
        }
        out.HasAlpha = h.AlphaMask != 0;
    } else if (h.BitCount == 32) {
        out.HasAlpha = h.AlphaMask == 0xFF000000u;
    }
    if (rle) {
        DecodeRle(h, bits, out);
    } else {
        CopyRows(h, bits, out);
    }
    return out;
}

void WriteDibHeader(const TInfoHeaderFields& f, const std::vector<TRgbQuad>& palette, TByteVector& out) {
    PutU32(out, f.HeaderSize);
    PutU32(out, static_cast<std::uint32_t>(f.Width));
    PutU32(out, static_cast<std::uint32_t>(f.Height));
    PutU16(out, 1);  // planes
    PutU16(out, static_cast<std::uint32_t>(f.BitCount));
    PutU32(out, f.Compression);
    PutU32(out, f.SizeImage);
    PutU32(out, PixelsPerMetre96Dpi);
    PutU32(out, PixelsPerMetre96Dpi);
    PutU32(out, f.ClrUsed);
    PutU32(out, 0);  // biClrImportant: all
    if (f.HeaderSize == V5HeaderSize) {
        PutU32(out, f.RedMask);
        PutU32(out, f.GreenMask);
        PutU32(out, f.BlueMask);
        PutU32(out, f.AlphaMask);
        PutU32(out, 0x73524742);            // LCS_sRGB
        out.insert(out.end(), 36 + 12, 0);  // end points, gamma: unused for sRGB
        PutU32(out, 4);                     // LCS_GM_IMAGES
        PutU32(out, 0);                     // profile data
        PutU32(out, 0);                     // profile size
        PutU32(out, 0);                     // reserved
    } else if (f.Compression == BiBitFields) {
        PutU32(out, f.RedMask);
        PutU32(out, f.GreenMask);
        PutU32(out, f.BlueMask);
    }
    for (const TRgbQuad& q : palette) {
        out.push_back(q.Blue);
        out.push_back(q.Green);
        out.push_back(q.Red);
        out.push_back(0);
    }
}

std::size_t TDibLayout::HeaderBytes() const {
    std::size_t n = Fields.HeaderSize + 4 * Palette.size();
    if (Fields.HeaderSize == InfoHeaderSize && Fields.Compression == BiBitFields) n += 12;
    return n;
}

TDibLayout LayoutOf(const TBitmap& b) {
    if (b.Empty()) Fail("An empty picture cannot be written as a bitmap");
    if (!IsDepth(b.BitCount)) {
        Fail("Bitmap image has an unsupported depth of " + std::to_string(b.BitCount) + " bits per pixel");
    }
    if (b.Bits.size() != TBitmap::ImageSize(b.Width, b.Height, b.BitCount)) {
        Fail("Bitmap pixel data does not match its size");
    }
    TDibLayout layout;
    TInfoHeaderFields& f = layout.Fields;
    f.Width = b.Width;
    f.Height = b.Height;
    f.BitCount = b.BitCount;
    f.SizeImage = static_cast<std::uint32_t>(b.Bits.size());
    if (b.BitCount <= 8) {
        const std::size_t full = std::size_t{1} << b.BitCount;
        layout.Palette.assign(b.Palette.begin(), b.Palette.begin() + static_cast<std::ptrdiff_t>(
                                                                         std::min(full, b.Palette.size())));
        if (layout.Palette.empty()) layout.Palette.assign(full, TRgbQuad{});
        f.ClrUsed = layout.Palette.size() == full ? 0 : static_cast<std::uint32_t>(layout.Palette.size());
        return layout;
    }
    if (b.BitCount == 24) return layout;
    std::uint32_t r = b.RedMask, g = b.GreenMask, bl = b.BlueMask, a = b.AlphaMask;
    if ((r | g | bl) == 0) {
        if (b.BitCount == 16) {
            r = 0x7C00, g = 0x03E0, bl = 0x001F, a = 0;
        } else {
            r = 0x00FF0000, g = 0x0000FF00, bl = 0x000000FF, a = b.HasAlpha ? 0xFF000000u : 0;
        }
    }
    if (a != 0) {
        // Alpha needs masks inside the header: a V5 header, as other programs write it.
        f.HeaderSize = V5HeaderSize;
        f.Compression = BiBitFields;
    } else if (!DefaultMasks(b.BitCount, r, g, bl, 0)) {
        f.Compression = BiBitFields;
    } else {
        return layout;
    }
    f.RedMask = r;
    f.GreenMask = g;
    f.BlueMask = bl;
    f.AlphaMask = a;
    return layout;
}

}  // namespace pixhold::imaging::dib
