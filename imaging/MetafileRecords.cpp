#include "MetafileRecords.h"

#include "GraphicError.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace pixhold::imaging::metafile {

namespace {

int RoundToInt(double value) {
    if (!(std::fabs(value) < 2.0e9)) throw EInvalidGraphic("Metafile states a size beyond any picture");
    return static_cast<int>(std::lround(value));
}

QRect RectL(const TLeReader& r, std::size_t offset) {
    const std::int64_t left = r.I32(offset), top = r.I32(offset + 4);
    const std::int64_t right = r.I32(offset + 8), bottom = r.I32(offset + 12);
    // QRect keeps int coordinates; a span beyond int counts as damage.
    if (right - left >= std::numeric_limits<int>::max() || bottom - top >= std::numeric_limits<int>::max() ||
        left - right >= std::numeric_limits<int>::max() || top - bottom >= std::numeric_limits<int>::max()) {
        throw EInvalidGraphic("Enhanced metafile states a size beyond any picture");
    }
    return QRect(QPoint(static_cast<int>(left), static_cast<int>(top)),
                 QPoint(static_cast<int>(right), static_cast<int>(bottom)));
}

}  // namespace

double TEmfHeader::DeviceUnitsPerHmmX() const {
    if (DevicePixels.width() > 0 && DeviceMillimetres.width() > 0)
        return static_cast<double>(DevicePixels.width()) / (DeviceMillimetres.width() * 100.0);
    return 96.0 / 2540.0;
}

double TEmfHeader::DeviceUnitsPerHmmY() const {
    if (DevicePixels.height() > 0 && DeviceMillimetres.height() > 0)
        return static_cast<double>(DevicePixels.height()) / (DeviceMillimetres.height() * 100.0);
    return 96.0 / 2540.0;
}

namespace {

// A rectangle from coordinates of a file: clamped so that Qt's int
// arithmetic on it cannot overflow (sizes this large are refused before
// anything is drawn).
QRect SafeRect(std::int64_t left, std::int64_t top, std::int64_t width, std::int64_t height) {
    static constexpr std::int64_t limit = std::int64_t{1} << 29;
    auto clamp = [](std::int64_t v) { return static_cast<int>(std::min(std::max(v, -limit), limit)); };
    return QRect(clamp(left), clamp(top), clamp(width), clamp(height));
}

}  // namespace

QRect TEmfHeader::FrameInDevice() const {
    if (Frame.right() > Frame.left() && Frame.bottom() > Frame.top()) {
        const double sx = DeviceUnitsPerHmmX(), sy = DeviceUnitsPerHmmY();
        const int left = RoundToInt(Frame.left() * sx), top = RoundToInt(Frame.top() * sy);
        const int right = RoundToInt(Frame.right() * sx), bottom = RoundToInt(Frame.bottom() * sy);
        return SafeRect(left, top, std::max<std::int64_t>(1, std::int64_t{right} - left),
                        std::max<std::int64_t>(1, std::int64_t{bottom} - top));
    }
    // Bounds are inclusive device pixels.
    return SafeRect(Bounds.left(), Bounds.top(), std::int64_t{Bounds.right()} - Bounds.left() + 1,
                    std::int64_t{Bounds.bottom()} - Bounds.top() + 1);
}

QSize TEmfHeader::Size96() const {
    if (Frame.right() > Frame.left() && Frame.bottom() > Frame.top()) {
        return QSize(RoundToInt((static_cast<double>(Frame.right()) - Frame.left()) * 96.0 / 2540.0),
                     RoundToInt((static_cast<double>(Frame.bottom()) - Frame.top()) * 96.0 / 2540.0));
    }
    const QRect device = FrameInDevice();
    return QSize(RoundToInt(device.width() / DeviceUnitsPerHmmX() * 96.0 / 2540.0),
                 RoundToInt(device.height() / DeviceUnitsPerHmmY() * 96.0 / 2540.0));
}

bool LooksLikeEmf(TBytes data) {
    const TLeReader r(data);
    return r.Has(0, EmfHeaderMinSize) && r.U32(0) == emr::Header && r.U32(40) == EmfSignature;
}

TEmfHeader ReadEmfStructure(TBytes data) {
    const TLeReader r(data);
    if (!LooksLikeEmf(data)) throw EInvalidGraphic("Enhanced metafile has no valid header");
    const std::uint32_t headerSize = r.U32(4);
    if (headerSize < EmfHeaderMinSize || headerSize > data.size() || headerSize % 4 != 0) {
        throw EInvalidGraphic("Enhanced metafile header has an invalid size (" + std::to_string(headerSize) + ")");
    }
    TEmfHeader h;
    h.Bounds = RectL(r, 8);
    h.Frame = RectL(r, 24);
    h.Bytes = r.U32(48);
    h.Records = r.U32(52);
    h.Handles = r.U16(56);
    h.DevicePixels = QSize(r.I32(72), r.I32(76));
    h.DeviceMillimetres = QSize(r.I32(80), r.I32(84));

    // Walk the framing; the player then trusts every record to lie inside the data.
    std::size_t offset = 0;
    std::uint32_t count = 0;
    for (;;) {
        if (offset == data.size()) break;  // no EOF record: the data ends the records
        if (!r.Has(offset, 8)) {
            throw EInvalidGraphic("Enhanced metafile is truncated in record " + std::to_string(count + 1));
        }
        const std::uint32_t type = r.U32(offset), size = r.U32(offset + 4);
        if (size < 8 || size % 4 != 0) {
            throw EInvalidGraphic("Enhanced metafile record " + std::to_string(count + 1) +
                                  " has an invalid size (" + std::to_string(size) + ")");
        }
        if (!r.Has(offset, size)) {
            throw EInvalidGraphic("Enhanced metafile record " + std::to_string(count + 1) +
                                  " reaches beyond the end of the file");
        }
        if (count > 0 && type == emr::Header) throw EInvalidGraphic("Enhanced metafile has a second header");
        ++count;
        offset += size;
        if (type == emr::Eof) break;
    }
    // Tolerate an nBytes that disagrees with the data; the records decide.
    h.Bytes = static_cast<std::uint32_t>(offset);
    h.Records = count;
    const QSize size = h.Size96();
    if (size.width() <= 0 || size.height() <= 0) {
        throw EInvalidGraphic("Enhanced metafile has an empty frame (" + std::to_string(size.width()) + " x " +
                              std::to_string(size.height()) + ")");
    }
    return h;
}

// ---- Windows metafiles --------------------------------------------------

std::uint16_t PlaceableChecksum(const std::uint8_t* header) {
    std::uint16_t sum = 0;
    for (int i = 0; i < 10; ++i) sum ^= static_cast<std::uint16_t>(header[2 * i] | (header[2 * i + 1] << 8));
    return sum;
}

QSize TWmfInfo::Size96() const {
    const double inch = UnitsPerInch > 0 ? UnitsPerInch : 96;
    return QSize(RoundToInt(std::fabs(static_cast<double>(Box.width())) * 96.0 / inch),
                 RoundToInt(std::fabs(static_cast<double>(Box.height())) * 96.0 / inch));
}

namespace {

bool IsMetaHeader(const TLeReader& r, std::size_t offset) {
    if (!r.Has(offset, WmfHeaderSize)) return false;
    const std::uint16_t type = r.U16(offset), words = r.U16(offset + 2), version = r.U16(offset + 4);
    return (type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300);
}

}  // namespace

bool LooksLikeWmf(TBytes data) {
    const TLeReader r(data);
    if (r.Has(0, 4) && r.U32(0) == PlaceableKey) return true;
    return IsMetaHeader(r, 0);
}

TWmfInfo ReadWmfStructure(TBytes data) {
    const TLeReader r(data);
    TWmfInfo info;
    if (r.Has(0, 4) && r.U32(0) == PlaceableKey) {
        if (!r.Has(0, PlaceableSize)) throw EInvalidGraphic("Windows metafile is truncated in its placeable header");
        info.Placeable = true;
        const int left = r.I16(6), top = r.I16(8), right = r.I16(10), bottom = r.I16(12);
        info.Box = QRect(std::min(left, right), std::min(top, bottom), std::abs(right - left), std::abs(bottom - top));
        info.UnitsPerInch = r.U16(14);
        // The checksum is not checked: writers get it wrong often enough, and
        // nothing below depends on it.
        if (info.UnitsPerInch == 0) info.UnitsPerInch = 96;
        info.RecordsOffset = PlaceableSize;
    }
    if (!IsMetaHeader(r, info.RecordsOffset)) throw EInvalidGraphic("Windows metafile has no valid header");
    info.Objects = r.U16(info.RecordsOffset + 10);

    bool windowOrg = false, windowExt = false;
    int orgX = 0, orgY = 0, extX = 0, extY = 0;
    std::size_t offset = info.RecordsOffset + static_cast<std::size_t>(r.U16(info.RecordsOffset + 2)) * 2;
    std::uint32_t count = 0;
    for (;;) {
        if (offset == data.size()) break;  // no EOF record: the data ends the records
        if (!r.Has(offset, 6)) {
            throw EInvalidGraphic("Windows metafile is truncated in record " + std::to_string(count + 1));
        }
        const std::uint64_t size = static_cast<std::uint64_t>(r.U32(offset)) * 2;
        const std::uint16_t function = r.U16(offset + 4);
        if (size < 6) {
            throw EInvalidGraphic("Windows metafile record " + std::to_string(count + 1) +
                                  " has an invalid size (" + std::to_string(size / 2) + " words)");
        }
        if (!r.Has(offset, size)) {
            throw EInvalidGraphic("Windows metafile record " + std::to_string(count + 1) +
                                  " reaches beyond the end of the file");
        }
        if (function == meta::Eof) break;
        if (function == meta::SetWindowOrg && !windowOrg && size >= 10) {
            orgY = r.I16(offset + 6);
            orgX = r.I16(offset + 8);
            windowOrg = true;
        } else if (function == meta::SetWindowExt && !windowExt && size >= 10) {
            extY = r.I16(offset + 6);
            extX = r.I16(offset + 8);
            windowExt = true;
        }
        ++count;
        offset += size;
    }
    if (!info.Placeable) {
        if (!windowExt || extX == 0 || extY == 0) throw EInvalidGraphic("Windows metafile states no picture size");
        // A negative extent flips the picture; the box keeps the positive size.
        info.Box = QRect(std::min(orgX, orgX + extX), std::min(orgY, orgY + extY), std::abs(extX), std::abs(extY));
        info.UnitsPerInch = 96;
    }
    const QSize size = info.Size96();
    if (size.width() <= 0 || size.height() <= 0) {
        throw EInvalidGraphic("Windows metafile has an empty bounding box (" + std::to_string(size.width()) + " x " +
                              std::to_string(size.height()) + ")");
    }
    return info;
}

}  // namespace pixhold::imaging::metafile
