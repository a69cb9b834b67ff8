#include "ExifOrientation.h"

#include <QTransform>

#include <cstring>

namespace pixhold::imaging {

namespace {

constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::uint16_t TypeShort = 3;
constexpr char ExifId[6] = {'E', 'x', 'i', 'f', 0, 0};

// Reads 16- and 32-bit values of a TIFF structure in its byte order, never
// past its end.
class TTiffReader {
public:
    TTiffReader(TBytes tiff, bool bigEndian) : Tiff(tiff), BigEndian(bigEndian) {}

    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= Tiff.size() && count <= Tiff.size() - offset;
    }
    std::uint16_t U16(std::size_t offset) const {
        const std::uint8_t* p = Tiff.data() + offset;
        return BigEndian ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                         : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
    }
    std::uint32_t U32(std::size_t offset) const {
        const std::uint32_t hi = U16(offset), lo = U16(offset + 2);
        return BigEndian ? (hi << 16 | lo) : (lo << 16 | hi);
    }

private:
    TBytes Tiff;
    bool BigEndian;
};

}  // namespace

bool IsExifSegment(TBytes app1) {
    return app1.size() >= sizeof ExifId && std::memcmp(app1.data(), ExifId, sizeof ExifId) == 0;
}

int ExifOrientationOf(TBytes app1) {
    if (!IsExifSegment(app1)) return 1;
    const TBytes tiff = app1.subspan(sizeof ExifId);
    if (tiff.size() < 8) return 1;
    bool bigEndian;
    if (tiff[0] == 'I' && tiff[1] == 'I') {
        bigEndian = false;
    } else if (tiff[0] == 'M' && tiff[1] == 'M') {
        bigEndian = true;
    } else {
        return 1;
    }
    const TTiffReader r(tiff, bigEndian);
    if (r.U16(2) != 42) return 1;
    const std::uint32_t ifd = r.U32(4);
    if (!r.Has(ifd, 2)) return 1;
    const unsigned entries = r.U16(ifd);
    for (unsigned i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + std::size_t{i} * 12;
        if (!r.Has(entry, 12)) return 1;
        if (r.U16(entry) != OrientationTag) continue;
        // One short, kept at the start of the value field (more would be an offset).
        if (r.U16(entry + 2) != TypeShort || r.U32(entry + 4) != 1) return 1;
        const int value = r.U16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

QImage ApplyOrientation(QImage image, int orientation) {
    // Mirroring a picture nobody else shares works in place.
    // Exif orientation: how the stored rows must be turned for display.
    // 2 mirror left-right, 3 half turn, 4 mirror top-bottom, 5 transpose,
    // 6 quarter turn clockwise, 7 transverse, 8 quarter turn anticlockwise.
    switch (orientation) {
    case 2: return std::move(image).mirrored(true, false);
    case 3: return std::move(image).mirrored(true, true);
    case 4: return std::move(image).mirrored(false, true);
    case 5: return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.transformed(QTransform().rotate(270)).mirrored(true, false);
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

}  // namespace pixhold::imaging
