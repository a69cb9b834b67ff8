#pragma once

// The structure of Windows metafiles and enhanced metafiles as laid out in
// the public WMF and EMF format documentation (docs/metafile-format.md): the
// headers, the record framing and a bounds-checked little-endian reader.

#include "ByteSpan.h"

#include <QRect>
#include <QRectF>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pixhold::imaging::metafile {

// A field read beyond the end of its record or file.
struct EShortRecord {};

// Little-endian fields of a byte range; any read outside it throws
// EShortRecord, so damaged sizes and offsets never read out of bounds.
class TLeReader {
public:
    TLeReader() = default;
    explicit TLeReader(TBytes bytes) : bytes_(bytes) {}

    std::size_t Size() const { return bytes_.size(); }
    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    void Need(std::size_t offset, std::size_t count) const {
        if (!Has(offset, count)) throw EShortRecord{};
    }
    std::uint8_t U8(std::size_t offset) const {
        Need(offset, 1);
        return bytes_[offset];
    }
    std::uint16_t U16(std::size_t offset) const {
        Need(offset, 2);
        return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    }
    std::int16_t I16(std::size_t offset) const { return static_cast<std::int16_t>(U16(offset)); }
    std::uint32_t U32(std::size_t offset) const {
        Need(offset, 4);
        return static_cast<std::uint32_t>(bytes_[offset]) | (static_cast<std::uint32_t>(bytes_[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(bytes_[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(bytes_[offset + 3]) << 24);
    }
    std::int32_t I32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
    float F32(std::size_t offset) const {
        const std::uint32_t bits = U32(offset);
        float value;
        std::memcpy(&value, &bits, 4);
        return value;
    }
    TBytes Sub(std::size_t offset, std::size_t count) const {
        Need(offset, count);
        return bytes_.subspan(offset, count);
    }

private:
    TBytes bytes_;
};

// ---- Enhanced metafiles -------------------------------------------------

inline constexpr std::uint32_t EmfSignature = 0x464D4520;  // " EMF"
inline constexpr std::size_t EmfHeaderMinSize = 88;

namespace emr {
enum : std::uint32_t {
    Header = 1, PolyBezier = 2, Polygon = 3, Polyline = 4, PolyBezierTo = 5, PolylineTo = 6,
    PolyPolyline = 7, PolyPolygon = 8, SetWindowExtEx = 9, SetWindowOrgEx = 10, SetViewportExtEx = 11,
    SetViewportOrgEx = 12, SetBrushOrgEx = 13, Eof = 14, SetPixelV = 15, SetMapperFlags = 16,
    SetMapMode = 17, SetBkMode = 18, SetPolyFillMode = 19, SetRop2 = 20, SetStretchBltMode = 21,
    SetTextAlign = 22, SetTextColor = 24, SetBkColor = 25, OffsetClipRgn = 26, MoveToEx = 27,
    ExcludeClipRect = 29, IntersectClipRect = 30, ScaleViewportExtEx = 31, ScaleWindowExtEx = 32,
    SaveDC = 33, RestoreDC = 34, SetWorldTransform = 35, ModifyWorldTransform = 36, SelectObject = 37,
    CreatePen = 38, CreateBrushIndirect = 39, DeleteObject = 40, AngleArc = 41, Ellipse = 42,
    Rectangle = 43, RoundRect = 44, Arc = 45, Chord = 46, Pie = 47, LineTo = 54, ArcTo = 55,
    SetArcDirection = 57, BeginPath = 59, EndPath = 60, CloseFigure = 61, FillPath = 62,
    StrokeAndFillPath = 63, StrokePath = 64, FlattenPath = 65, WidenPath = 66, SelectClipPath = 67,
    AbortPath = 68, GdiComment = 70, FillRgn = 71, PaintRgn = 74, ExtSelectClipRgn = 75, BitBlt = 76, StretchBlt = 77,
    SetDIBitsToDevice = 80, StretchDIBits = 81, ExtCreateFontIndirectW = 82, ExtTextOutA = 83,
    ExtTextOutW = 84, PolyBezier16 = 85, Polygon16 = 86, Polyline16 = 87, PolyBezierTo16 = 88,
    PolylineTo16 = 89, PolyPolyline16 = 90, PolyPolygon16 = 91, CreateMonoBrush = 93,
    CreateDIBPatternBrushPt = 94, ExtCreatePen = 95, AlphaBlend = 114, GradientFill = 118,
};
}  // namespace emr

// What the player and the size computation need of an EMR_HEADER.
struct TEmfHeader {
    QRect Bounds;           // rclBounds, device units, inclusive
    QRect Frame;            // rclFrame, 0.01 mm, inclusive
    std::uint32_t Bytes = 0;
    std::uint32_t Records = 0;
    std::uint16_t Handles = 0;
    QSize DevicePixels;     // szlDevice
    QSize DeviceMillimetres;  // szlMillimeters

    // Reference-device pixels per 0.01 mm (96 per inch when the header gives none).
    double DeviceUnitsPerHmmX() const;
    double DeviceUnitsPerHmmY() const;
    // The picture's frame in reference-device pixels, rounded to whole pixels;
    // the bounds when the frame is empty.
    QRect FrameInDevice() const;
    // The frame's size in pixels at 96 per inch.
    QSize Size96() const;
};

// Reads and checks the header and walks every record's framing (type, size
// within the file, no size below 8): EInvalidGraphic on damage.
TEmfHeader ReadEmfStructure(TBytes data);
bool LooksLikeEmf(TBytes data);

// ---- Windows metafiles --------------------------------------------------

inline constexpr std::uint32_t PlaceableKey = 0x9AC6CDD7;
inline constexpr std::size_t PlaceableSize = 22;
inline constexpr std::size_t WmfHeaderSize = 18;

namespace meta {
enum : std::uint16_t {
    Eof = 0x0000, SaveDC = 0x001E, RealizePalette = 0x0035, SetPalEntries = 0x0037, CreatePalette = 0x00F7,
    SetBkMode = 0x0102, SetMapMode = 0x0103, SetRop2 = 0x0104, SetRelAbs = 0x0105, SetPolyFillMode = 0x0106,
    SetStretchBltMode = 0x0107, SetTextCharExtra = 0x0108, RestoreDC = 0x0127, InvertRegion = 0x012A,
    PaintRegion = 0x012B, SelectClipRegion = 0x012C, SelectObject = 0x012D, SetTextAlign = 0x012E,
    ResizePalette = 0x0139, DIBCreatePatternBrush = 0x0142, SetLayout = 0x0149, DeleteObject = 0x01F0,
    CreatePatternBrush = 0x01F9, SetBkColor = 0x0201, SetTextColor = 0x0209, SetTextJustification = 0x020A,
    SetWindowOrg = 0x020B, SetWindowExt = 0x020C, SetViewportOrg = 0x020D, SetViewportExt = 0x020E,
    OffsetWindowOrg = 0x020F, OffsetViewportOrg = 0x0211, LineTo = 0x0213, MoveTo = 0x0214,
    OffsetClipRgn = 0x0220, FillRegion = 0x0228, SetMapperFlags = 0x0231, SelectPalette = 0x0234,
    CreatePenIndirect = 0x02FA, CreateFontIndirect = 0x02FB, CreateBrushIndirect = 0x02FC,
    Polygon = 0x0324, Polyline = 0x0325, ScaleWindowExt = 0x0410, ScaleViewportExt = 0x0412,
    ExcludeClipRect = 0x0415, IntersectClipRect = 0x0416, Ellipse = 0x0418, FloodFill = 0x0419,
    Rectangle = 0x041B, SetPixel = 0x041F, FrameRegion = 0x0429, AnimatePalette = 0x0436,
    TextOut = 0x0521, PolyPolygon = 0x0538, ExtFloodFill = 0x0548, RoundRect = 0x061C, PatBlt = 0x061D,
    Escape = 0x0626, CreateRegion = 0x06FF, Arc = 0x0817, Pie = 0x081A, Chord = 0x0830, BitBlt = 0x0922,
    DIBBitBlt = 0x0940, ExtTextOut = 0x0A32, StretchBlt = 0x0B23, DIBStretchBlt = 0x0B41,
    SetDIBToDev = 0x0D33, StretchDIB = 0x0F43,
};
}  // namespace meta

// A Windows metafile's placement: the placeable header's bounding box and
// units per inch, or for a plain file the first window origin and extent of
// its records at 96 units per inch.
struct TWmfInfo {
    bool Placeable = false;
    QRect Box;               // logical units: left, top, width, height (width/height may not be 0)
    int UnitsPerInch = 96;
    std::size_t RecordsOffset = 0;  // where the META_HEADER starts
    std::uint16_t Objects = 0;      // the header's NumberOfObjects

    QSize Size96() const;
};

TWmfInfo ReadWmfStructure(TBytes data);
bool LooksLikeWmf(TBytes data);
// XOR of the first ten 16-bit words of a placeable header.
std::uint16_t PlaceableChecksum(const std::uint8_t* header);

}  // namespace pixhold::imaging::metafile
