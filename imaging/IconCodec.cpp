#include "IconCodec.h"

#include "DibFormat.h"
#include "GraphicError.h"
#include "PngCodec.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace pixhold::imaging {

using namespace dib;

namespace {

[[noreturn]] void Fail(const std::string& message) {
    throw EInvalidGraphic(message);
}

constexpr std::size_t IconDirSize = 6;
constexpr std::size_t IconDirEntrySize = 16;
constexpr std::uint16_t TypeIcon = 1;
constexpr std::uint16_t TypeCursor = 2;
constexpr std::uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// ICONDIRENTRY as stored (a cursor keeps its hot spot in Planes and BitCount).
struct TDirEntry {
    int Width = 0;  // 0 in the file means 256
    int Height = 0;
    int ColorCount = 0;
    int Planes = 0;
    int BitCount = 0;
    std::uint32_t BytesInRes = 0;
    std::uint32_t ImageOffset = 0;
};

// ICONDIR and its entries; every entry's image must lie within the file.
std::vector<TDirEntry> ReadIconDir(TBytes file) {
    if (file.size() < IconDirSize) Fail("Icon file is truncated in its header");
    const std::uint16_t reserved = U16(file, 0);
    const std::uint16_t type = U16(file, 2);
    const std::uint16_t count = U16(file, 4);
    if (reserved != 0 || (type != TypeIcon && type != TypeCursor)) Fail("Not an icon file");
    if (count == 0) Fail("Icon file holds no images");
    if (IconDirSize + IconDirEntrySize * count > file.size()) {
        Fail("Icon directory of " + std::to_string(count) + " entries runs past the end of the file");
    }
    std::vector<TDirEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = IconDirSize + IconDirEntrySize * i;
        TDirEntry& e = entries[i];
        e.Width = file[at] == 0 ? 256 : file[at];
        e.Height = file[at + 1] == 0 ? 256 : file[at + 1];
        e.ColorCount = file[at + 2];
        e.Planes = U16(file, at + 4);
        e.BitCount = U16(file, at + 6);
        e.BytesInRes = U32(file, at + 8);
        e.ImageOffset = U32(file, at + 12);
        if (static_cast<std::uint64_t>(e.ImageOffset) + e.BytesInRes > file.size()) {
            Fail("Icon image " + std::to_string(i + 1) + " lies beyond the end of the file");
        }
        if (e.BytesInRes == 0) Fail("Icon image " + std::to_string(i + 1) + " is empty");
    }
    return entries;
}

void WriteIconDir(const std::vector<TDirEntry>& entries, TByteVector& out) {
    PutU16(out, 0);
    PutU16(out, TypeIcon);
    PutU16(out, static_cast<std::uint32_t>(entries.size()));
    for (const TDirEntry& e : entries) {
        out.push_back(static_cast<std::uint8_t>(e.Width >= 256 ? 0 : e.Width));
        out.push_back(static_cast<std::uint8_t>(e.Height >= 256 ? 0 : e.Height));
        out.push_back(static_cast<std::uint8_t>(e.ColorCount));
        out.push_back(0);
        PutU16(out, static_cast<std::uint32_t>(e.Planes));
        PutU16(out, static_cast<std::uint32_t>(e.BitCount));
        PutU32(out, e.BytesInRes);
        PutU32(out, e.ImageOffset);
    }
}

TBytes ImageOf(TBytes file, const TDirEntry& e) {
    return file.subspan(e.ImageOffset, e.BytesInRes);
}

bool IsPng(TBytes image) {
    return image.size() >= sizeof PngSignature &&
           std::memcmp(image.data(), PngSignature, sizeof PngSignature) == 0;
}

std::uint32_t BigEndian32(TBytes b, std::size_t at) {
    return (static_cast<std::uint32_t>(b[at]) << 24) | (static_cast<std::uint32_t>(b[at + 1]) << 16) |
           (static_cast<std::uint32_t>(b[at + 2]) << 8) | b[at + 3];
}

// Size and depth from the PNG's IHDR chunk.
TIconEntry DescribePng(TBytes image) {
    if (image.size() < 29 || std::memcmp(image.data() + 12, "IHDR", 4) != 0) {
        Fail("Icon PNG image is truncated in its header");
    }
    TIconEntry entry;
    entry.Png = true;
    const std::uint32_t w = BigEndian32(image, 16);
    const std::uint32_t h = BigEndian32(image, 20);
    CheckPictureSize(w, h, "Icon PNG");
    entry.Width = static_cast<int>(w);
    entry.Height = static_cast<int>(h);
    const int depth = image[24];
    const int channels = image[25] == 2 ? 3 : image[25] == 4 ? 2 : image[25] == 6 ? 4 : 1;
    entry.BitCount = depth * channels;
    return entry;
}

// The information header of an icon's DIB, its height halved to the XOR image's.
TDibHeader IconDibHeader(TBytes image) {
    TDibHeader h = ReadDibHeader(image, image.size());
    if (h.TopDown) Fail("Icon image cannot be stored top-down");
    if (h.Compression != BiRgb && h.Compression != BiBitFields) Fail("Icon image must not be compressed");
    h.Height /= 2;
    if (h.Height == 0) Fail("Icon image has an invalid size");
    return h;
}

TIconEntry Describe(TBytes image) {
    if (IsPng(image)) return DescribePng(image);
    const TDibHeader h = IconDibHeader(image);
    return TIconEntry{h.Width, h.Height, h.BitCount, false};
}

bool AnyAlpha(const TBitmap& b) {
    for (int y = 0; y < b.Height; ++y) {
        const std::uint8_t* row = b.Row(y);
        for (int x = 0; x < b.Width; ++x) {
            if (row[4 * x + 3] != 0) return true;
        }
    }
    return false;
}

// A DIB entry: the XOR image, then the 1-bit AND mask (bottom-up, rows padded
// to 4 bytes). A 32-bit image with any alpha uses it; the others, and 32-bit
// images whose alpha is all zero, are transparent where the mask bit is set.
// A mask cut short counts as opaque where it is missing.
QImage DecodeDibEntry(TBytes image) {
    const TDibHeader h = IconDibHeader(image);
    const TBytes bits = image.subspan(h.Size);
    TBitmap xorImage = ReadDibPixels(h, bits);
    const bool alpha = h.BitCount == 32 && (xorImage.RedMask | xorImage.GreenMask | xorImage.BlueMask) == 0 &&
                       AnyAlpha(xorImage);
    xorImage.HasAlpha = alpha;
    QImage out = xorImage.ToImage().convertToFormat(QImage::Format_ARGB32);
    if (out.isNull()) Fail("Out of memory while drawing an icon");
    if (alpha) return out;
    const TBytes mask = bits.subspan(std::min(bits.size(), xorImage.Bits.size()));
    const std::size_t stride = static_cast<std::size_t>(TBitmap::RowSize(h.Width, 1));
    for (int y = 0; y < h.Height; ++y) {
        const std::size_t rowAt = static_cast<std::size_t>(h.Height - 1 - y) * stride;
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < h.Width; ++x) {
            const std::size_t at = rowAt + static_cast<std::size_t>(x >> 3);
            if (at < mask.size() && ((mask[at] >> (7 - (x & 7))) & 1u)) line[x] = 0;
        }
    }
    return out;
}

QImage DecodeEntry(TBytes image) {
    if (!IsPng(image)) return DecodeDibEntry(image);
    return DecodePng(image).convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

std::size_t ChooseIconEntry(const std::vector<TIconEntry>& entries, int size) {
    auto covers = [size](const TIconEntry& e) { return e.Width >= size && e.Height >= size; };
    auto area = [](const TIconEntry& e) { return static_cast<std::int64_t>(e.Width) * e.Height; };
    const bool anyCovers = std::any_of(entries.begin(), entries.end(), covers);
    std::size_t best = entries.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TIconEntry& e = entries[i];
        if (anyCovers && !covers(e)) continue;
        if (best == entries.size()) {
            best = i;
            continue;
        }
        const TIconEntry& b = entries[best];
        const bool better = anyCovers ? area(e) < area(b) : area(e) > area(b);
        if (better || (area(e) == area(b) && e.BitCount > b.BitCount)) best = i;
    }
    return best;
}

std::vector<TIconEntry> ReadIconDirectory(TBytes file) {
    const std::vector<TDirEntry> dir = ReadIconDir(file);
    std::vector<TIconEntry> entries;
    entries.reserve(dir.size());
    for (const TDirEntry& e : dir) entries.push_back(Describe(ImageOf(file, e)));
    return entries;
}

QImage ReadIcon(TBytes file, int size) {
    const std::vector<TDirEntry> dir = ReadIconDir(file);
    const std::vector<TIconEntry> entries = ReadIconDirectory(file);
    const std::size_t chosen = ChooseIconEntry(entries, std::max(size, 1));
    return DecodeEntry(ImageOf(file, dir[chosen]));
}

QImage ReadIconEntry(TBytes file, std::size_t index) {
    const std::vector<TDirEntry> dir = ReadIconDir(file);
    if (index >= dir.size()) throw EInvalidGraphic("Icon has no image " + std::to_string(index + 1));
    return DecodeEntry(ImageOf(file, dir[index]));
}

// One 32-bit DIB entry with an AND mask, so that both readers that use the
// alpha and readers that use the mask see the same transparency.
TByteVector WriteIcon(const QImage& picture) {
    constexpr int S = SystemIconSize;
    const QImage src = picture.isNull() ? QImage() : picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = src.isNull() ? 0 : src.pixel(0, 0);

    TBitmap xorImage(S, S, 32);
    const std::size_t maskStride = static_cast<std::size_t>(TBitmap::RowSize(S, 1));
    TByteVector mask(maskStride * S, 0);
    for (int y = 0; y < S; ++y) {
        std::uint8_t* row = xorImage.Row(y);
        std::uint8_t* maskRow = mask.data() + static_cast<std::size_t>(S - 1 - y) * maskStride;
        const auto* line = y < src.height() ? reinterpret_cast<const QRgb*>(src.constScanLine(y)) : nullptr;
        for (int x = 0; x < S; ++x) {
            // Outside a smaller picture the icon is transparent.
            const bool inside = line && x < src.width();
            const QRgb p = inside ? line[x] : key;
            if (!inside || p == key || qAlpha(p) == 0) {
                maskRow[x >> 3] = static_cast<std::uint8_t>(maskRow[x >> 3] | (0x80u >> (x & 7)));
                continue;  // XOR pixel stays black with alpha 0
            }
            std::uint8_t* d = row + 4 * x;
            d[0] = static_cast<std::uint8_t>(qBlue(p));
            d[1] = static_cast<std::uint8_t>(qGreen(p));
            d[2] = static_cast<std::uint8_t>(qRed(p));
            d[3] = static_cast<std::uint8_t>(qAlpha(p));
        }
    }

    TInfoHeaderFields fields;
    fields.Width = S;
    fields.Height = 2 * S;
    fields.BitCount = 32;
    fields.SizeImage = static_cast<std::uint32_t>(xorImage.Bits.size() + mask.size());
    TByteVector dibBytes;
    WriteDibHeader(fields, {}, dibBytes);
    dibBytes.insert(dibBytes.end(), xorImage.Bits.begin(), xorImage.Bits.end());
    dibBytes.insert(dibBytes.end(), mask.begin(), mask.end());

    TDirEntry entry;
    entry.Width = S;
    entry.Height = S;
    entry.Planes = 1;
    entry.BitCount = 32;
    entry.BytesInRes = static_cast<std::uint32_t>(dibBytes.size());
    entry.ImageOffset = static_cast<std::uint32_t>(IconDirSize + IconDirEntrySize);
    TByteVector out;
    WriteIconDir({entry}, out);
    out.insert(out.end(), dibBytes.begin(), dibBytes.end());
    return out;
}

}  // namespace pixhold::imaging
