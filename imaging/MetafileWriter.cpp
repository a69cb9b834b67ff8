#include "MetafileWriter.h"

#include "GraphicError.h"
#include "MetafileDib.h"
#include "MetafileRecords.h"

#include <limits>

namespace pixhold::imaging::metafile {

namespace {

class TLeWriter {
public:
    explicit TLeWriter(TByteVector& out) : out_(out) {}
    void U16(std::uint32_t v) {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Rect(int left, int top, int right, int bottom) {
        I32(left);
        I32(top);
        I32(right);
        I32(bottom);
    }
    void Bytes(const TByteVector& bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    void Patch32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::size_t Size() const { return out_.size(); }

private:
    TByteVector& out_;
};

// The reference device FromBitmap's metafiles state: 96 pixels per inch exactly
// (1920 pixels in 508 mm, 1440 in 381 mm).
constexpr int DeviceWidth = 1920, DeviceHeight = 1440, DeviceMmWidth = 508, DeviceMmHeight = 381;

constexpr std::uint32_t SrcCopy = 0x00CC0020;

int HundredthsOfMm(int pixels) {
    return static_cast<int>((static_cast<std::int64_t>(pixels) * 2540 + 48) / 96);
}

void CheckBitmap(const TBitmap& bitmap) {
    if (bitmap.Empty()) throw EInvalidGraphic("An empty picture makes no metafile");
    CheckPictureSize(bitmap.Width, bitmap.Height, "Metafile");
}

}  // namespace

TByteVector EmfOfBitmap(const TBitmap& bitmap) {
    CheckBitmap(bitmap);
    const TByteVector dib = PackedDibOf(bitmap);
    const std::size_t bitsSize = TBitmap::ImageSize(bitmap.Width, bitmap.Height, bitmap.BitCount);
    if (dib.size() < bitsSize + 40) throw EInvalidGraphic("The bitmap codec wrote a DIB too short for its pixels");
    const std::size_t headerSize = dib.size() - bitsSize;
    const std::size_t recordSize = 80 + ((dib.size() + 3) & ~std::size_t{3});
    if (recordSize > std::numeric_limits<std::uint32_t>::max() - 200) {
        throw EInvalidGraphic("Picture is too large for an enhanced metafile");
    }
    const int w = bitmap.Width, h = bitmap.Height;

    TByteVector out;
    TLeWriter o(out);
    // EMR_HEADER (88 bytes, no description, no palette)
    o.U32(emr::Header);
    o.U32(88);
    o.Rect(0, 0, w - 1, h - 1);                            // rclBounds, inclusive device pixels
    o.Rect(0, 0, HundredthsOfMm(w), HundredthsOfMm(h));    // rclFrame, 0.01 mm
    o.U32(EmfSignature);
    o.U32(0x00010000);  // nVersion
    o.U32(0);           // nBytes, patched below
    o.U32(3);           // nRecords
    o.U16(1);           // nHandles: the table's reserved entry 0 only
    o.U16(0);           // sReserved
    o.U32(0);           // nDescription
    o.U32(0);           // offDescription
    o.U32(0);           // nPalEntries
    o.I32(DeviceWidth);
    o.I32(DeviceHeight);
    o.I32(DeviceMmWidth);
    o.I32(DeviceMmHeight);

    // EMR_STRETCHDIBITS
    o.U32(emr::StretchDIBits);
    o.U32(static_cast<std::uint32_t>(recordSize));
    o.Rect(0, 0, w - 1, h - 1);  // rclBounds
    o.I32(0);                    // xDest
    o.I32(0);                    // yDest
    o.I32(0);                    // xSrc
    o.I32(0);                    // ySrc
    o.I32(w);                    // cxSrc
    o.I32(h);                    // cySrc
    o.U32(80);                   // offBmiSrc
    o.U32(static_cast<std::uint32_t>(headerSize));
    o.U32(static_cast<std::uint32_t>(80 + headerSize));  // offBitsSrc
    o.U32(static_cast<std::uint32_t>(bitsSize));
    o.U32(0);  // iUsageSrc: DIB_RGB_COLORS
    o.U32(SrcCopy);
    o.I32(w);  // cxDest
    o.I32(h);  // cyDest
    o.Bytes(dib);
    while (out.size() % 4 != 0) out.push_back(0);

    // EMR_EOF
    o.U32(emr::Eof);
    o.U32(20);
    o.U32(0);   // nPalEntries
    o.U32(16);  // offPalEntries
    o.U32(20);  // nSizeLast
    o.Patch32(48, static_cast<std::uint32_t>(out.size()));
    return out;
}

TByteVector WmfOfBitmap(const TBitmap& bitmap) {
    CheckBitmap(bitmap);
    const int w = bitmap.Width, h = bitmap.Height;
    if (w > 32767 || h > 32767) {
        throw EInvalidGraphic("Picture is too large for a Windows metafile (" + std::to_string(w) + " x " +
                              std::to_string(h) + " pixels; at most 32767 either way)");
    }
    TByteVector dib = PackedDibOf(bitmap);
    if (dib.size() % 2 != 0) dib.push_back(0);
    const std::size_t dibWords = dib.size() / 2;
    const std::size_t stretchWords = 3 + 11 + dibWords;
    if (stretchWords > std::numeric_limits<std::uint32_t>::max() / 2 - 64) {
        throw EInvalidGraphic("Picture is too large for a Windows metafile");
    }

    TByteVector records;
    TLeWriter o(records);
    const std::size_t totalWords = 9 + 5 + 5 + 4 + stretchWords + 3;
    // META_HEADER
    o.U16(1);       // memory metafile
    o.U16(9);       // header words
    o.U16(0x0300);  // version
    o.U32(static_cast<std::uint32_t>(totalWords));
    o.U16(0);  // objects
    o.U32(static_cast<std::uint32_t>(stretchWords));
    o.U16(0);
    // META_SETWINDOWORG (y, x), META_SETWINDOWEXT (y, x)
    o.U32(5);
    o.U16(meta::SetWindowOrg);
    o.U16(0);
    o.U16(0);
    o.U32(5);
    o.U16(meta::SetWindowExt);
    o.U16(static_cast<std::uint32_t>(h));
    o.U16(static_cast<std::uint32_t>(w));
    // META_SETMAPMODE MM_ANISOTROPIC, so that players without the placeable header scale the window too
    o.U32(4);
    o.U16(meta::SetMapMode);
    o.U16(8);
    // META_STRETCHDIB: rop, colour usage, source h, w, y, x, destination h, w, y, x, DIB
    o.U32(static_cast<std::uint32_t>(stretchWords));
    o.U16(meta::StretchDIB);
    o.U32(SrcCopy);
    o.U16(0);
    o.U16(static_cast<std::uint32_t>(h));
    o.U16(static_cast<std::uint32_t>(w));
    o.U16(0);
    o.U16(0);
    o.U16(static_cast<std::uint32_t>(h));
    o.U16(static_cast<std::uint32_t>(w));
    o.U16(0);
    o.U16(0);
    o.Bytes(dib);
    // META_EOF
    o.U32(3);
    o.U16(meta::Eof);
    return PlaceableWmf(QRect(0, 0, w, h), 96, records);
}

TByteVector PlaceableWmf(const QRect& box, int unitsPerInch, TBytes records) {
    const auto fits = [](std::int64_t v) { return v >= -32768 && v <= 32767; };
    if (!fits(box.left()) || !fits(box.top()) || !fits(std::int64_t{box.left()} + box.width()) ||
        !fits(std::int64_t{box.top()} + box.height()) || unitsPerInch <= 0 || unitsPerInch > 65535) {
        throw EInvalidGraphic("The metafile's bounding box does not fit a placeable Windows metafile header");
    }
    TByteVector out;
    TLeWriter o(out);
    o.U32(PlaceableKey);
    o.U16(0);  // HWmf
    o.U16(static_cast<std::uint16_t>(box.left()));
    o.U16(static_cast<std::uint16_t>(box.top()));
    o.U16(static_cast<std::uint16_t>(box.left() + box.width()));
    o.U16(static_cast<std::uint16_t>(box.top() + box.height()));
    o.U16(static_cast<std::uint32_t>(unitsPerInch));
    o.U32(0);  // reserved
    o.U16(PlaceableChecksum(out.data()));
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

}  // namespace pixhold::imaging::metafile
