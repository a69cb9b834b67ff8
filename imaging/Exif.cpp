#include "Exif.h"

#include <QTransform>

#include <cstring>
#include <optional>
#include <utility>

namespace pixhold::imaging {

namespace {

constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::uint16_t ThumbnailOffsetTag = 0x0201;
constexpr std::uint16_t ThumbnailLengthTag = 0x0202;
constexpr std::uint16_t TypeShort = 3;
constexpr std::uint16_t TypeLong = 4;
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
    TBytes Bytes() const { return Tiff; }

private:
    TBytes Tiff;
    bool BigEndian;
};

}  // namespace

bool IsExifSegment(TBytes app1) {
    return app1.size() >= sizeof ExifId && std::memcmp(app1.data(), ExifId, sizeof ExifId) == 0;
}

namespace {

// The TIFF structure of an Exif segment and the offset of its first IFD, or
// nothing when the segment is no Exif segment or its header is damaged.
std::optional<std::pair<TTiffReader, std::uint32_t>> ExifTiffOf(TBytes app1) {
    if (!IsExifSegment(app1)) return std::nullopt;
    const TBytes tiff = app1.subspan(sizeof ExifId);
    if (tiff.size() < 8) return std::nullopt;
    bool bigEndian;
    if (tiff[0] == 'I' && tiff[1] == 'I') {
        bigEndian = false;
    } else if (tiff[0] == 'M' && tiff[1] == 'M') {
        bigEndian = true;
    } else {
        return std::nullopt;
    }
    const TTiffReader r(tiff, bigEndian);
    if (r.U16(2) != 42) return std::nullopt;
    return std::pair{r, r.U32(4)};
}

// The offset of the IFD entry with the tag, or nothing when the IFD (or the
// part of it before the tag) runs past the end.
std::optional<std::size_t> FindEntry(const TTiffReader& r, std::uint32_t ifd, std::uint16_t tag) {
    if (!r.Has(ifd, 2)) return std::nullopt;
    const unsigned entries = r.U16(ifd);
    for (unsigned i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + std::size_t{i} * 12;
        if (!r.Has(entry, 12)) return std::nullopt;
        if (r.U16(entry) == tag) return entry;
    }
    return std::nullopt;
}

// A single LONG (or SHORT, which some writers use) kept in the entry's value
// field.
std::optional<std::uint32_t> SingleNumber(const TTiffReader& r, std::size_t entry) {
    if (r.U32(entry + 4) != 1) return std::nullopt;
    switch (r.U16(entry + 2)) {
    case TypeShort: return r.U16(entry + 8);
    case TypeLong: return r.U32(entry + 8);
    default: return std::nullopt;
    }
}

}  // namespace

int ExifOrientationOf(TBytes app1) {
    const auto exif = ExifTiffOf(app1);
    if (!exif) return 1;
    const auto& [r, ifd0] = *exif;
    const auto entry = FindEntry(r, ifd0, OrientationTag);
    if (!entry) return 1;
    // One short, kept at the start of the value field (more would be an offset).
    if (r.U16(*entry + 2) != TypeShort || r.U32(*entry + 4) != 1) return 1;
    const int value = r.U16(*entry + 8);
    return value >= 1 && value <= 8 ? value : 1;
}

TBytes ExifThumbnailOf(TBytes app1) {
    const auto exif = ExifTiffOf(app1);
    if (!exif) return {};
    const auto& [r, ifd0] = *exif;
    // IFD1 follows IFD0's entries as its "next IFD" offset.
    if (!r.Has(ifd0, 2)) return {};
    const std::size_t next = ifd0 + 2 + std::size_t{r.U16(ifd0)} * 12;
    if (!r.Has(next, 4)) return {};
    const std::uint32_t ifd1 = r.U32(next);
    if (ifd1 == 0) return {};
    const auto offsetEntry = FindEntry(r, ifd1, ThumbnailOffsetTag);
    const auto lengthEntry = FindEntry(r, ifd1, ThumbnailLengthTag);
    if (!offsetEntry || !lengthEntry) return {};
    const auto offset = SingleNumber(r, *offsetEntry);
    const auto length = SingleNumber(r, *lengthEntry);
    if (!offset || !length || *length < 4 || !r.Has(*offset, *length)) return {};
    const TBytes thumbnail = r.Bytes().subspan(*offset, *length);
    if (thumbnail[0] != 0xFF || thumbnail[1] != 0xD8) return {};
    return thumbnail;
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
