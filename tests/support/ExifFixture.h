#pragma once

// Exif APP1 segments written byte by byte, and JPEG files that carry them as
// cameras write them (the segment right after the start of image), for
// tests, fuzz seeds and benchmarks.

#include <cstdint>
#include <vector>

namespace pixhold::test {

using TExifBytes = std::vector<std::uint8_t>;

// One IFD entry. A SHORT (type 3) value sits at the start of the value field,
// any other value fills it.
struct TIfdEntry {
    std::uint32_t Tag = 0;
    std::uint32_t Type = 0;
    std::uint32_t Count = 0;
    std::uint32_t Value = 0;
};

// The offset (from the TIFF header) of what follows the IFDs of an Exif
// segment written by ExifSegment with IFD0 at 8.
inline std::uint32_t ExifTailOffset(std::size_t ifd0Entries, std::size_t ifd1Entries) {
    const std::size_t ifd1 = ifd1Entries == 0 ? 0 : 2 + 12 * ifd1Entries + 4;
    return static_cast<std::uint32_t>(8 + 2 + 12 * ifd0Entries + 4 + ifd1);
}

// An APP1 payload: "Exif\0\0", a TIFF header in either byte order, IFD0 at
// `ifdOffset` with the given entries, then IFD1 (when it has entries) right
// after IFD0, then `tail`.
inline TExifBytes ExifSegment(bool bigEndian, const std::vector<TIfdEntry>& ifd0, std::uint32_t ifdOffset = 8,
                              const std::vector<TIfdEntry>& ifd1 = {}, const TExifBytes& tail = {}) {
    TExifBytes out{'E', 'x', 'i', 'f', 0, 0};
    const auto u16 = [&](std::uint32_t v) {
        if (bigEndian) {
            out.push_back(static_cast<std::uint8_t>(v >> 8));
            out.push_back(static_cast<std::uint8_t>(v));
        } else {
            out.push_back(static_cast<std::uint8_t>(v));
            out.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    };
    const auto u32 = [&](std::uint32_t v) {
        if (bigEndian) {
            u16(v >> 16), u16(v & 0xFFFF);
        } else {
            u16(v & 0xFFFF), u16(v >> 16);
        }
    };
    const auto ifd = [&](const std::vector<TIfdEntry>& entries, std::uint32_t next) {
        u16(static_cast<std::uint32_t>(entries.size()));
        for (const TIfdEntry& e : entries) {
            u16(e.Tag), u16(e.Type), u32(e.Count);
            if (e.Type == 3) {
                u16(e.Value), u16(0);
            } else {
                u32(e.Value);
            }
        }
        u32(next);
    };
    out.push_back(bigEndian ? 'M' : 'I');
    out.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(ifdOffset);
    const std::uint32_t ifd1Offset = ifd1.empty() ? 0 : static_cast<std::uint32_t>(8 + 2 + 12 * ifd0.size() + 4);
    ifd(ifd0, ifd1Offset);
    if (!ifd1.empty()) ifd(ifd1, 0);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// A camera's Exif segment: the orientation in IFD0 and a JPEG thumbnail in
// IFD1 (compression 6, its offset and length).
inline TExifBytes ExifWithThumbnail(bool bigEndian, int orientation, const TExifBytes& thumbnail) {
    const std::vector<TIfdEntry> ifd0 = {{0x0112, 3, 1, static_cast<std::uint32_t>(orientation)}};
    const std::vector<TIfdEntry> ifd1 = {{0x0103, 3, 1, 6},
                                         {0x0201, 4, 1, ExifTailOffset(1, 3)},
                                         {0x0202, 4, 1, static_cast<std::uint32_t>(thumbnail.size())}};
    return ExifSegment(bigEndian, ifd0, 8, ifd1, thumbnail);
}

// The JPEG file with an APP1 segment holding `payload` right after its start
// of image.
inline TExifBytes WithApp1(const TExifBytes& jpeg, const TExifBytes& payload) {
    TExifBytes out(jpeg.begin(), jpeg.begin() + 2);
    const std::size_t length = payload.size() + 2;
    out.push_back(0xFF);
    out.push_back(0xE1);
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

}  // namespace pixhold::test
