#include "Bitmap.h"

#include "GraphicError.h"

#include <bit>
#include <cstring>

namespace pixhold::imaging {

namespace {

// One colour channel held under a bit mask, widened to 8 bits.
struct TMaskChannel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    std::uint32_t Max = 0;

    explicit TMaskChannel(std::uint32_t mask) : Mask(mask) {
        if (mask == 0) return;
        Shift = std::countr_zero(mask);
        const std::uint32_t bits = mask >> Shift;
        // A mask with holes counts as its whole span.
        Max = bits;
    }
    std::uint8_t Value(std::uint32_t pixel, std::uint8_t none) const {
        if (Max == 0) return none;
        const std::uint64_t v = (pixel & Mask) >> Shift;
        return static_cast<std::uint8_t>((v * 255 + Max / 2) / Max);
    }
};

struct TMasks {
    TMaskChannel Red, Green, Blue, Alpha;
};

TMasks MasksOf(const TBitmap& b) {
    if (b.RedMask | b.GreenMask | b.BlueMask) {
        return {TMaskChannel(b.RedMask), TMaskChannel(b.GreenMask), TMaskChannel(b.BlueMask),
                TMaskChannel(b.AlphaMask)};
    }
    if (b.BitCount == 16) {
        return {TMaskChannel(0x7C00), TMaskChannel(0x03E0), TMaskChannel(0x001F), TMaskChannel(0)};
    }
    return {TMaskChannel(0x00FF0000), TMaskChannel(0x0000FF00), TMaskChannel(0x000000FF),
            TMaskChannel(b.HasAlpha ? 0xFF000000u : 0u)};
}

bool DefaultLayout32(const TBitmap& b) {
    return (b.RedMask | b.GreenMask | b.BlueMask) == 0 ||
           (b.RedMask == 0x00FF0000 && b.GreenMask == 0x0000FF00 && b.BlueMask == 0x000000FF &&
            (b.AlphaMask == 0 || b.AlphaMask == 0xFF000000u));
}

QRgb PaletteColour(const TBitmap& b, unsigned index) {
    if (index >= b.Palette.size()) return qRgb(0, 0, 0);
    const TRgbQuad& q = b.Palette[index];
    return qRgb(q.Red, q.Green, q.Blue);
}

}  // namespace

TBitmap::TBitmap(int width, int height, int bitCount) : Width(width), Height(height), BitCount(bitCount) {
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32) {
        throw EInvalidGraphic("Bitmap image has an unsupported depth of " + std::to_string(bitCount) +
                              " bits per pixel");
    }
    Bits.assign(ImageSize(width, height, bitCount), 0);
    if (bitCount <= 8) Palette.assign(std::size_t{1} << bitCount, TRgbQuad{});
}

std::size_t TBitmap::ImageSize(int width, int height, int bitCount) {
    if (width < 0 || height < 0) throw EInvalidGraphic("Bitmap image has an invalid size");
    if (width == 0 || height == 0) return 0;
    CheckPictureSize(width, height, "Bitmap");
    return static_cast<std::size_t>(RowSize(width, bitCount)) * static_cast<std::size_t>(height);
}

QRgb TBitmap::Pixel(int x, int y) const {
    const std::uint8_t* row = Row(y);
    switch (BitCount) {
    case 1:
        return PaletteColour(*this, (row[x >> 3] >> (7 - (x & 7))) & 1u);
    case 4:
        return PaletteColour(*this, (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4));
    case 8:
        return PaletteColour(*this, row[x]);
    case 24: {
        const std::uint8_t* p = row + 3 * x;
        return qRgb(p[2], p[1], p[0]);
    }
    case 16:
    case 32: {
        std::uint32_t v = 0;
        if (BitCount == 16) {
            v = static_cast<std::uint32_t>(row[2 * x] | (row[2 * x + 1] << 8));
        } else {
            std::memcpy(&v, row + 4 * x, 4);  // little-endian hosts only, as the engine
        }
        const TMasks m = MasksOf(*this);
        return qRgba(m.Red.Value(v, 0), m.Green.Value(v, 0), m.Blue.Value(v, 0), m.Alpha.Value(v, 255));
    }
    default:
        return qRgb(0, 0, 0);
    }
}

QImage TBitmap::ToImage() const {
    if (Empty()) return QImage();
    // Alpha comes from the fourth byte of 32-bit pixels or from a mask of 16- or 32-bit ones.
    const bool masked = (RedMask | GreenMask | BlueMask) != 0;
    const bool alpha = (BitCount == 32 && (HasAlpha || AlphaMask != 0)) ||
                       (BitCount == 16 && masked && AlphaMask != 0);
    QImage image(Width, Height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) throw EInvalidGraphic("Out of memory while drawing a bitmap");
    if (BitCount == 24) {
        for (int y = 0; y < Height; ++y) {
            const std::uint8_t* src = Row(y);
            auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < Width; ++x, src += 3) dst[x] = qRgb(src[2], src[1], src[0]);
        }
    } else if (BitCount == 32 && DefaultLayout32(*this)) {
        for (int y = 0; y < Height; ++y) {
            const auto* src = reinterpret_cast<const std::uint32_t*>(Row(y));
            auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < Width; ++x) dst[x] = alpha ? src[x] : (src[x] | 0xFF000000u);
        }
    } else if (BitCount == 8) {
        QRgb table[256];
        for (unsigned i = 0; i < 256; ++i) table[i] = PaletteColour(*this, i);
        for (int y = 0; y < Height; ++y) {
            const std::uint8_t* src = Row(y);
            auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < Width; ++x) dst[x] = table[src[x]];
        }
    } else {
        for (int y = 0; y < Height; ++y) {
            auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < Width; ++x) dst[x] = Pixel(x, y);
        }
    }
    return image;
}

TBitmap TBitmap::FromImage(const QImage& image) {
    if (image.isNull()) return TBitmap();
    const bool alpha = image.hasAlphaChannel();
    const QImage src = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    TBitmap bitmap(src.width(), src.height(), alpha ? 32 : 24);
    bitmap.HasAlpha = alpha;
    for (int y = 0; y < bitmap.Height; ++y) {
        const auto* s = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        std::uint8_t* d = bitmap.Row(y);
        if (alpha) {
            std::memcpy(d, s, static_cast<std::size_t>(bitmap.Width) * 4);
        } else {
            for (int x = 0; x < bitmap.Width; ++x, d += 3) {
                d[0] = static_cast<std::uint8_t>(qBlue(s[x]));
                d[1] = static_cast<std::uint8_t>(qGreen(s[x]));
                d[2] = static_cast<std::uint8_t>(qRed(s[x]));
            }
        }
    }
    return bitmap;
}

}  // namespace pixhold::imaging
