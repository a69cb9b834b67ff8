// The head of a JPEG file read without libjpeg (frame size, Exif orientation
// and thumbnail), and the glance made of the thumbnail.

#include "CodecFixture.h"
#include "Exif.h"
#include "ExifFixture.h"
#include "JpegCodec.h"
#include "JpegHead.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace pixhold::imaging {
namespace {

using pixhold::test::ExifSegment;
using pixhold::test::ExifTailOffset;
using pixhold::test::ExifWithThumbnail;
using pixhold::test::TIfdEntry;
using pixhold::test::WithApp1;

// A picture with a dark top-left quarter on a light ground.
TByteVector MarkedJpeg(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(230, 230, 230));
    QPainter(&image).fillRect(0, 0, w / 2, h / 2, QColor(20, 20, 20));
    return EncodeJpeg(image, 90);
}

// The thumbnail a segment made by ExifSegment holds at the tail.
TBytes TailOf(const TByteVector& segment, std::size_t ifd0, std::size_t ifd1) {
    return TBytes(segment).subspan(6 + ExifTailOffset(ifd0, ifd1));
}

// ---- the thumbnail of an Exif segment -------------------------------------------

TEST(ExifThumbnail, IsFoundInTheSecondIfdInBothByteOrders) {
    const TByteVector thumb = MarkedJpeg(16, 12);
    for (const bool bigEndian : {false, true}) {
        const TByteVector segment = ExifWithThumbnail(bigEndian, 6, thumb);
        const TBytes found = ExifThumbnailOf(segment);
        ASSERT_EQ(found.size(), thumb.size()) << bigEndian;
        EXPECT_TRUE(std::equal(found.begin(), found.end(), thumb.begin())) << bigEndian;
        EXPECT_EQ(found.data(), TailOf(segment, 1, 3).data()) << "a part of the segment, not a copy";
        EXPECT_EQ(ExifOrientationOf(segment), 6) << "IFD1 leaves the orientation alone";
    }
    // Offset and length as SHORTs, which some writers use.
    const TByteVector shorts = ExifSegment(false, {{0x0112, 3, 1, 1}}, 8,
                                           {{0x0201, 3, 1, ExifTailOffset(1, 2)},
                                            {0x0202, 3, 1, static_cast<std::uint32_t>(thumb.size())}},
                                           thumb);
    EXPECT_EQ(ExifThumbnailOf(shorts).size(), thumb.size());
}

TEST(ExifThumbnail, DamagedOrMissingThumbnailsAreNone) {
    const TByteVector thumb = MarkedJpeg(16, 12);
    const auto size = static_cast<std::uint32_t>(thumb.size());
    const std::uint32_t tail = ExifTailOffset(1, 2);
    const std::vector<TIfdEntry> ifd0 = {{0x0112, 3, 1, 1}};
    const auto with = [&](std::vector<TIfdEntry> ifd1, const TByteVector& bytes) {
        return ExifSegment(true, ifd0, 8, ifd1, bytes);
    };
    TByteVector notJpeg = thumb;
    notJpeg[1] = 0xD9;
    std::vector<std::pair<const char*, TByteVector>> cases = {
        {"no IFD1", ExifSegment(true, ifd0, 8, {}, thumb)},
        {"no length", with({{0x0201, 4, 1, tail}, {0x0100, 3, 1, 16}}, thumb)},
        {"no offset", with({{0x0100, 3, 1, 16}, {0x0202, 4, 1, size}}, thumb)},
        {"offset beyond the end", with({{0x0201, 4, 1, 0xFFFFFFF0u}, {0x0202, 4, 1, size}}, thumb)},
        {"length one past the end", with({{0x0201, 4, 1, tail}, {0x0202, 4, 1, size + 1}}, thumb)},
        {"length beyond everything", with({{0x0201, 4, 1, tail}, {0x0202, 4, 1, 0xFFFFFFFFu}}, thumb)},
        {"length too short", with({{0x0201, 4, 1, tail}, {0x0202, 4, 1, 3}}, thumb)},
        {"offset as text", with({{0x0201, 2, 1, tail}, {0x0202, 4, 1, size}}, thumb)},
        {"two offsets", with({{0x0201, 4, 2, tail}, {0x0202, 4, 1, size}}, thumb)},
        {"not a JPEG", with({{0x0201, 4, 1, tail}, {0x0202, 4, 1, size}}, notJpeg)},
        {"IFD0 beyond the end", ExifSegment(true, ifd0, 0xFFFFFFF0u, {{0x0201, 4, 1, tail}}, thumb)},
        {"not Exif", TByteVector{'h', 't', 't', 'p', ':', '/', '/', 'n', 's'}},
        {"empty", TByteVector{}},
    };
    // IFD1's place (IFD0's "next" field, after the TIFF header, the count
    // and one entry) pointing past the end, and a segment cut inside IFD1.
    TByteVector farIfd1 = with({{0x0201, 4, 1, tail}, {0x0202, 4, 1, size}}, thumb);
    const std::size_t next = 6 + 8 + 2 + 12;
    farIfd1[next] = 0x7F;
    cases.emplace_back("IFD1 beyond the end", farIfd1);
    TByteVector cut = with({{0x0201, 4, 1, tail}, {0x0202, 4, 1, size}}, {});
    cut.resize(cut.size() - 10);
    cases.emplace_back("cut inside IFD1", cut);
    for (const auto& [name, data] : cases) EXPECT_TRUE(ExifThumbnailOf(data).empty()) << name;
}

// ---- the head of a file ---------------------------------------------------------

TEST(JpegHead, ReadsTheFrameSizeAndTheFirstExifSegment) {
    const TByteVector thumb = MarkedJpeg(16, 12);
    const TByteVector plain = MarkedJpeg(64, 48);
    TJpegHead head;
    ASSERT_TRUE(ReadJpegHead(plain, head));
    EXPECT_EQ(head.Width, 64);
    EXPECT_EQ(head.Height, 48);
    EXPECT_EQ(head.Orientation, 1);
    EXPECT_TRUE(head.ExifThumbnail.empty());

    // An XMP segment (APP1 too) before the Exif one, and a second Exif
    // segment after it, which does not count.
    const TByteVector xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's'};
    const TByteVector file = WithApp1(WithApp1(WithApp1(plain, ExifWithThumbnail(false, 3, {})), ExifWithThumbnail(true, 8, thumb)), xmp);
    ASSERT_TRUE(ReadJpegHead(file, head));
    EXPECT_EQ(head.Orientation, 8);
    EXPECT_EQ(head.ExifThumbnail.size(), thumb.size());
    EXPECT_EQ(head.Width, 64);
}

TEST(JpegHead, EveryCutBeforeTheFrameHeadersEndFails) {
    const TByteVector file = WithApp1(MarkedJpeg(64, 48), ExifWithThumbnail(false, 1, MarkedJpeg(16, 12)));
    TJpegHead head;
    std::size_t first = 0;  // the shortest start that reads
    for (std::size_t cut = 0; cut <= file.size() && first == 0; ++cut) {
        if (ReadJpegHead(TBytes(file).first(cut), head)) first = cut;
    }
    // The picture's frame header (baseline: FF C0, after the Exif segment
    // and its thumbnail's own) ends there.
    const std::vector<std::uint8_t> sofMarker = {0xFF, 0xC0};
    const std::size_t afterExif = 4 + (std::size_t{file[4]} << 8 | file[5]);
    const auto sof = static_cast<std::size_t>(
        std::search(file.begin() + static_cast<std::ptrdiff_t>(afterExif), file.end(), sofMarker.begin(),
                    sofMarker.end()) - file.begin());
    ASSERT_LT(sof + 4, file.size());
    EXPECT_EQ(first, sof + 2 + (std::size_t{file[sof + 2]} << 8 | file[sof + 3]));
    for (std::size_t cut = first; cut <= file.size(); cut += 97) {
        EXPECT_TRUE(ReadJpegHead(TBytes(file).first(cut), head)) << cut;
    }
    // A cut within the Exif segment fails, and does not read what lies beyond.
    EXPECT_FALSE(ReadJpegHead(TBytes(file).first(100), head));
}

TEST(JpegHead, BrokenMarkerStructuresFail) {
    const TByteVector plain = MarkedJpeg(32, 24);
    // Two fill bytes before a marker are allowed.
    TByteVector filled = plain;
    filled.insert(filled.begin() + 2, {0xFF, 0xFF});
    TJpegHead head;
    EXPECT_TRUE(ReadJpegHead(filled, head));
    EXPECT_EQ(head.Width, 32);

    TByteVector garbage = plain;
    garbage.insert(garbage.begin() + 2, 0x00);
    TByteVector zeroLength = plain;
    zeroLength.insert(zeroLength.begin() + 2, {0xFF, 0xE5, 0x00, 0x01});
    TByteVector scanFirst = plain;
    scanFirst.insert(scanFirst.begin() + 2, {0xFF, 0xDA, 0x00, 0x02});
    TByteVector noHeight = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 8, 0, 0, 0, 32, 1, 1, 0x11, 0, 0xFF, 0xDA};
    TByteVector shortFrame = {0xFF, 0xD8, 0xFF, 0xC2, 0x00, 0x05, 8, 0, 24};
    TByteVector progressive = {0xFF, 0xD8, 0xFF, 0xD0, 0xFF, 0xC2, 0x00, 0x07, 8, 0, 24, 0, 32};
    const std::vector<std::pair<const char*, TByteVector>> cases = {
        {"no start of image", TByteVector(plain.begin() + 2, plain.end())},
        {"a byte that is no marker", garbage},
        {"a length below 2", zeroLength},
        {"a scan before the frame", scanFirst},
        {"a frame without height", noHeight},
        {"a frame header too short", shortFrame},
        {"empty", {}},
    };
    for (const auto& [name, data] : cases) EXPECT_FALSE(ReadJpegHead(data, head)) << name;
    // A standalone marker is passed over, and a progressive frame counts.
    ASSERT_TRUE(ReadJpegHead(progressive, head));
    EXPECT_EQ(head.Width, 32);
    EXPECT_EQ(head.Height, 24);
}

// ---- the glance -----------------------------------------------------------------

TEST(JpegGlance, IsTheThumbnailTurnedUprightWithThePicturesUprightSize) {
    const TByteVector picture = MarkedJpeg(400, 300);
    const TByteVector thumb = MarkedJpeg(80, 60);
    const TJpegGlance upright = ReadJpegGlance(WithApp1(picture, ExifWithThumbnail(true, 1, thumb)));
    ASSERT_FALSE(upright.Image.isNull());
    EXPECT_EQ(upright.Image.size(), QSize(80, 60));
    EXPECT_EQ(upright.FullSize, QSize(400, 300));
    EXPECT_LT(qGray(upright.Image.pixel(5, 5)), 80);
    EXPECT_GT(qGray(upright.Image.pixel(74, 5)), 180);

    // Orientation 6: a quarter turn clockwise puts the dark corner top right.
    const TJpegGlance turned = ReadJpegGlance(WithApp1(picture, ExifWithThumbnail(false, 6, thumb)));
    ASSERT_FALSE(turned.Image.isNull());
    EXPECT_EQ(turned.Image.size(), QSize(60, 80));
    EXPECT_EQ(turned.FullSize, QSize(300, 400));
    EXPECT_GT(qGray(turned.Image.pixel(5, 5)), 180);
    EXPECT_LT(qGray(turned.Image.pixel(54, 5)), 80);
}

TEST(JpegGlance, ThumbnailsOfAnotherShapeOrSizeOrThatDoNotDecodeAreNone) {
    const TByteVector picture = MarkedJpeg(400, 300);
    TByteVector broken = MarkedJpeg(80, 60);
    broken.resize(40);
    // A frame header claiming 60000 x 45000 pixels in a few bytes.
    const TByteVector huge = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 8, 0xAF, 0xC8, 0xEA, 0x60, 1, 1, 0x11, 0, 0xFF, 0xD9};
    const std::vector<std::pair<const char*, TByteVector>> cases = {
        {"bars (16:9 for 4:3)", MarkedJpeg(80, 45)},
        {"3 % off", MarkedJpeg(80, 62)},
        {"as large as the picture", MarkedJpeg(400, 300)},
        {"cut short", broken},
        {"absurd size", huge},
    };
    for (const auto& [name, thumb] : cases) {
        EXPECT_TRUE(ReadJpegGlance(WithApp1(picture, ExifWithThumbnail(false, 1, thumb))).Image.isNull()) << name;
    }
    // Within 2 % is the same shape.
    const TByteVector near = WithApp1(MarkedJpeg(1200, 900), ExifWithThumbnail(false, 1, MarkedJpeg(80, 61)));
    EXPECT_EQ(ReadJpegGlance(near).Image.size(), QSize(80, 61)) << "1.6 % off";
    // A thumbnail larger than a glance takes.
    const TByteVector large = WithApp1(MarkedJpeg(1600, 1200), ExifWithThumbnail(false, 1, MarkedJpeg(1100, 825)));
    EXPECT_TRUE(ReadJpegGlance(large).Image.isNull());
    EXPECT_TRUE(ReadJpegGlance(picture).Image.isNull()) << "no thumbnail";
}

}  // namespace
}  // namespace pixhold::imaging
