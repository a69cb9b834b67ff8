// Rotation and cropping of device-independent bitmaps, and the rubber band's
// coordinate arithmetic.
#include "bmpRot.h"

#include "GraphicError.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pixhold::imaging {

namespace {

// Row size in bytes, computed in 64 bits: a single dimension may be as large
// as the picture-size limit, and width x 32 would not fit an int.
std::size_t RowBytes(std::int64_t width, int bitCount) {
    return static_cast<std::size_t>((width * bitCount + 31) / 32) * 4;
}

bool SupportedDepth(int bitCount) {
    return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
           bitCount == 32;
}

// A bitmap whose fields disagree with its pixel array is refused before any
// pixel is touched.
void CheckBitmap(const TBitmap& b, const char* what) {
    if (!SupportedDepth(b.BitCount)) {
        throw EInvalidGraphic(std::string("Cannot ") + what + " a bitmap of " +
                              std::to_string(b.BitCount) + " bits per pixel");
    }
    if (b.Width < 0 || b.Height < 0) throw EInvalidGraphic("Bitmap image has an invalid size");
    if (b.Empty()) return;
    if (b.Bits.size() < RowBytes(b.Width, b.BitCount) * static_cast<std::size_t>(b.Height)) {
        throw EInvalidGraphic("Bitmap image has fewer pixel bytes than its size needs");
    }
}

// A pixel array of `size` zero bytes. A large one is offered huge pages where
// the system gives them on request (transparent huge pages in "madvise"
// mode): filling a 36 MB array page by page otherwise spends about a third of
// a rotation in page faults. The advice is only a hint; refused, nothing
// changes.
std::vector<std::uint8_t> ZeroBits(std::size_t size) {
    std::vector<std::uint8_t> bits;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (size >= (std::size_t{8} << 20)) {
        bits.reserve(size);
        const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        const auto start = reinterpret_cast<std::uintptr_t>(bits.data());
        if (start != 0 && page > 0) {
            const std::uintptr_t first = (start + page - 1) & ~(page - 1);
            const std::uintptr_t end = (start + size) & ~(page - 1);
            if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
        }
    }
#endif
    bits.resize(size);
    return bits;
}

// Edge of the square blocks the rotation works through: a block of source rows
// and target rows both stay in the cache while it is copied (64 rows of 64
// pixels of 4 bytes are 16 KiB on each side).
constexpr int Tile = 64;

// Quarter turn of whole pixels of `N` bytes. Counting rows from the bottom as
// the pixel array stores them, source row i, column j goes to target row
// W - 1 - j, column i (the pixel at top-based (x, y) ends at (H - 1 - y, x)).
template <int N>
void RotateWhole(const std::uint8_t* src, std::size_t srcStride, std::uint8_t* dst, std::size_t dstStride,
                 int w, int h) {
    for (int j0 = 0; j0 < w; j0 += Tile) {
        const int j1 = std::min(w, j0 + Tile);
        for (int i0 = 0; i0 < h; i0 += Tile) {
            const int i1 = std::min(h, i0 + Tile);
            for (int j = j0; j < j1; ++j) {
                std::uint8_t* d = dst + static_cast<std::size_t>(w - 1 - j) * dstStride +
                                  static_cast<std::size_t>(i0) * N;
                const std::uint8_t* s = src + static_cast<std::size_t>(i0) * srcStride +
                                        static_cast<std::size_t>(j) * N;
                for (int i = i0; i < i1; ++i, d += N, s += srcStride) std::memcpy(d, s, N);
            }
        }
    }
}

// The same mapping for 1 and 4 bits per pixel: pixels are taken out of their
// byte by mask and shift (the leftmost pixel in the high bits) and put into a
// target that starts all zero, so the target's padding bits stay zero.
template <int Bits>
void RotatePacked(const std::uint8_t* src, std::size_t srcStride, std::uint8_t* dst, std::size_t dstStride,
                  int w, int h) {
    constexpr int PerByte = 8 / Bits;
    constexpr unsigned Mask = (1u << Bits) - 1;
    for (int j0 = 0; j0 < w; j0 += Tile) {
        const int j1 = std::min(w, j0 + Tile);
        for (int i0 = 0; i0 < h; i0 += Tile) {
            const int i1 = std::min(h, i0 + Tile);
            for (int j = j0; j < j1; ++j) {
                const int srcShift = (PerByte - 1 - j % PerByte) * Bits;
                const std::uint8_t* s = src + static_cast<std::size_t>(i0) * srcStride + j / PerByte;
                std::uint8_t* d = dst + static_cast<std::size_t>(w - 1 - j) * dstStride;
                for (int i = i0; i < i1; ++i, s += srcStride) {
                    const unsigned v = (*s >> srcShift) & Mask;
                    d[i / PerByte] |= static_cast<std::uint8_t>(v << ((PerByte - 1 - i % PerByte) * Bits));
                }
            }
        }
    }
}

unsigned GetPacked(const std::uint8_t* row, std::int64_t x, int bits) {
    const int perByte = 8 / bits;
    const int shift = static_cast<int>((perByte - 1 - x % perByte) * bits);
    return (row[x / perByte] >> shift) & ((1u << bits) - 1);
}

void SetPacked(std::uint8_t* row, std::int64_t x, int bits, unsigned v) {
    const int perByte = 8 / bits;
    const int shift = static_cast<int>((perByte - 1 - x % perByte) * bits);
    const unsigned mask = ((1u << bits) - 1) << shift;
    row[x / perByte] = static_cast<std::uint8_t>((row[x / perByte] & ~mask) | ((v << shift) & mask));
}

// A point converted only when the control stretches its picture.
int Scale(int v, bool stretch, int picture, int client) {
    return stretch ? MulDiv(v, picture, client) : v;
}

}  // namespace

void RotateBitmap(TBitmap& bitmap) {
    CheckBitmap(bitmap, "rotate");
    const int w = bitmap.Width;
    const int h = bitmap.Height;
    if (bitmap.Empty()) {
        bitmap.Width = h;
        bitmap.Height = w;
        bitmap.Bits.clear();
        return;
    }
    const std::size_t srcStride = RowBytes(w, bitmap.BitCount);
    const std::size_t dstStride = RowBytes(h, bitmap.BitCount);
    std::vector<std::uint8_t> target = ZeroBits(dstStride * static_cast<std::size_t>(w));
    const std::uint8_t* src = bitmap.Bits.data();
    std::uint8_t* dst = target.data();
    switch (bitmap.BitCount) {
    case 1: RotatePacked<1>(src, srcStride, dst, dstStride, w, h); break;
    case 4: RotatePacked<4>(src, srcStride, dst, dstStride, w, h); break;
    case 8: RotateWhole<1>(src, srcStride, dst, dstStride, w, h); break;
    case 16: RotateWhole<2>(src, srcStride, dst, dstStride, w, h); break;
    case 24: RotateWhole<3>(src, srcStride, dst, dstStride, w, h); break;
    default: RotateWhole<4>(src, srcStride, dst, dstStride, w, h); break;
    }
    bitmap.Bits = std::move(target);
    bitmap.Width = h;
    bitmap.Height = w;
}

TBitmap CropBitmap(const TBitmap& bitmap, const QRect& rect) {
    CheckBitmap(bitmap, "crop");
    TBitmap out;
    out.BitCount = bitmap.BitCount;
    out.Palette = bitmap.Palette;
    out.RedMask = bitmap.RedMask;
    out.GreenMask = bitmap.GreenMask;
    out.BlueMask = bitmap.BlueMask;
    out.AlphaMask = bitmap.AlphaMask;
    out.HasAlpha = bitmap.HasAlpha;
    // An inverted rectangle counts as a line: nothing inside.
    out.Width = std::max(0, rect.width());
    out.Height = std::max(0, rect.height());
    if (out.Empty()) return out;
    CheckPictureSize(out.Width, out.Height, "Cropped");

    const int bits = bitmap.BitCount;
    const std::size_t srcStride = RowBytes(bitmap.Width, bits);
    const std::size_t dstStride = RowBytes(out.Width, bits);
    out.Bits.assign(dstStride * static_cast<std::size_t>(out.Height), 0);

    // The columns of the block that lie on the source; the rest stay zero.
    const std::int64_t left = rect.left();
    const std::int64_t top = rect.top();
    const std::int64_t x0 = std::max<std::int64_t>(left, 0);
    const std::int64_t x1 = std::min<std::int64_t>(left + out.Width, bitmap.Width);
    if (x0 >= x1) return out;
    for (int y = 0; y < out.Height; ++y) {
        const std::int64_t sy = top + y;
        if (sy < 0 || sy >= bitmap.Height) continue;
        const std::uint8_t* s = bitmap.Bits.data() + static_cast<std::size_t>(bitmap.Height - 1 - sy) * srcStride;
        std::uint8_t* d = out.Bits.data() + static_cast<std::size_t>(out.Height - 1 - y) * dstStride;
        if (bits >= 8) {
            const std::size_t n = static_cast<std::size_t>(bits / 8);
            std::memcpy(d + static_cast<std::size_t>(x0 - left) * n, s + static_cast<std::size_t>(x0) * n,
                        static_cast<std::size_t>(x1 - x0) * n);
        } else {
            for (std::int64_t x = x0; x < x1; ++x) SetPacked(d, x - left, bits, GetPacked(s, x, bits));
        }
    }
    return out;
}

QRect CropRect(QPoint start, QPoint end) {
    return QRect(std::min(start.x(), end.x()), std::min(start.y(), end.y()), std::abs(end.x() - start.x()),
                 std::abs(end.y() - start.y()));
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    std::int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    // Half the divisor added to the magnitude rounds halves away from zero.
    const std::int64_t magnitude = (product < 0 ? -product : product) + divisor / 2;
    const std::int64_t quotient = magnitude / divisor;
    if (quotient > 2147483647) return -1;
    return static_cast<int>(product < 0 ? -quotient : quotient);
}

QPoint ControlToPicture(QPoint point, bool stretch, QSize picture, QSize client) {
    return QPoint(Scale(point.x(), stretch, picture.width(), client.width()),
                  Scale(point.y(), stretch, picture.height(), client.height()));
}

void TRubberBand::Press(QPoint point, QPoint origin, bool stretch, QSize picture, QSize client) {
    press_ = point;
    start_ = end_ = ControlToPicture(point, stretch, picture, client);
    band_ = QRect(origin + point, QSize(0, 0));
    dragging_ = true;
}

void TRubberBand::Move(QPoint point, QPoint origin, bool stretch, QSize picture, QSize client) {
    if (!dragging_) return;
    end_ = ControlToPicture(point, stretch, picture, client);
    // The band spans the press point and the pointer, whichever side the
    // pointer is on (also after it crossed back over the press point).
    band_ = QRect(origin.x() + std::min(point.x(), press_.x()), origin.y() + std::min(point.y(), press_.y()),
                  std::abs(point.x() - press_.x()), std::abs(point.y() - press_.y()));
}

void TRubberBand::Release(QPoint point, bool stretch, QSize picture, QSize client) {
    if (!dragging_) return;
    end_ = ControlToPicture(point, stretch, picture, client);
    dragging_ = false;
}

}  // namespace pixhold::imaging
