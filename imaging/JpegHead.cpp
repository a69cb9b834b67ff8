#include "JpegHead.h"

#include "Exif.h"
#include "JpegCodec.h"

#include <cstdint>
#include <cstdlib>

namespace pixhold::imaging {

namespace {

constexpr std::uint8_t MarkerSoi = 0xD8;
constexpr std::uint8_t MarkerEoi = 0xD9;
constexpr std::uint8_t MarkerSos = 0xDA;
constexpr std::uint8_t MarkerApp1 = 0xE1;
constexpr std::uint8_t MarkerTem = 0x01;

// SOF0 to SOF15 except DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameMarker(std::uint8_t m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Markers that stand alone, without a length.
bool IsStandalone(std::uint8_t m) { return m == MarkerTem || (m >= 0xD0 && m <= 0xD7); }

}  // namespace

bool ReadJpegHead(TBytes data, TJpegHead& head) {
    head = TJpegHead();
    if (data.size() < 4 || data[0] != 0xFF || data[1] != MarkerSoi) return false;
    bool exifSeen = false;
    std::size_t at = 2;
    for (;;) {
        if (at >= data.size() || data[at] != 0xFF) return false;
        // Any number of fill bytes may come before the marker code.
        while (at < data.size() && data[at] == 0xFF) ++at;
        if (at >= data.size()) return false;
        const std::uint8_t marker = data[at++];
        if (IsStandalone(marker)) continue;
        if (marker == MarkerSoi || marker == MarkerEoi || marker == MarkerSos) return false;
        if (data.size() - at < 2) return false;
        const std::size_t length = std::size_t{data[at]} << 8 | data[at + 1];
        if (length < 2 || length > data.size() - at) return false;
        const TBytes segment = data.subspan(at + 2, length - 2);
        at += length;
        if (marker == MarkerApp1 && !exifSeen && IsExifSegment(segment)) {
            exifSeen = true;
            head.Orientation = ExifOrientationOf(segment);
            head.ExifThumbnail = ExifThumbnailOf(segment);
        } else if (IsFrameMarker(marker)) {
            // Precision, then height and width; a height of 0 is given later
            // (DNL), which a glance does not wait for.
            if (segment.size() < 5) return false;
            head.Height = segment[1] << 8 | segment[2];
            head.Width = segment[3] << 8 | segment[4];
            return head.Width > 0 && head.Height > 0;
        }
    }
}

TJpegGlance ReadJpegGlance(TBytes bytes) {
    TJpegHead head;
    if (!ReadJpegHead(bytes, head) || head.ExifThumbnail.empty()) return {};
    try {
        const TJpegInfo info = ReadJpegInfo(head.ExifThumbnail);
        const std::int64_t w = info.Width, h = info.Height, W = head.Width, H = head.Height;
        if (w >= W || h >= H || w > JpegGlanceMaxSide || h > JpegGlanceMaxSide) return {};
        // The same shape within 2 %: |w/h - W/H| <= 0.02 W/H.
        if (std::llabs(w * H - h * W) * 50 > h * W) return {};
        TJpegDecodeOptions options;
        options.ApplyOrientation = false;  // the picture's orientation holds for its thumbnail
        QImage image = DecodeJpeg(head.ExifThumbnail, options);
        if (image.isNull()) return {};
        TJpegGlance glance;
        glance.Image = ApplyOrientation(std::move(image), head.Orientation);
        const bool turned = head.Orientation >= 5 && head.Orientation <= 8;
        glance.FullSize = turned ? QSize(head.Height, head.Width) : QSize(head.Width, head.Height);
        return glance;
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace pixhold::imaging
