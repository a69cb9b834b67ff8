// The JPEG codec: colour spaces, Exif orientation, DCT scaling, damaged files
// and encoding. The fixtures come from cjpeg, ImageMagick, Pillow and exiftool
// (fixtures/jpeg/make-fixtures.sh).

#include "CodecFixture.h"
#include "ExifFixture.h"
#include "Exif.h"
#include "GraphicError.h"
#include "JpegCodec.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace pixhold::imaging {
namespace {

using test::ColourNear;
using test::ReadFixture;

constexpr int JpegTolerance = 24;

TByteVector Jpeg(const std::string& name) { return ReadFixture("jpeg/" + name); }

std::string DecodeError(const TByteVector& data) {
    try {
        DecodeJpeg(data);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "(decoded)";
}

// ---- colour spaces -------------------------------------------------------

struct TColourCase {
    const char* File;
    int Components;
    bool Progressive;
    QRgb Left;   // the colour of the left half
    QRgb Right;  // and of the right half
};

class JpegColours : public ::testing::TestWithParam<TColourCase> {};

TEST_P(JpegColours, DecodeToRgb32InTheirColours) {
    const TColourCase& c = GetParam();
    const TByteVector data = Jpeg(c.File);
    const TJpegInfo info = ReadJpegInfo(data);
    EXPECT_EQ(info.Width, 64);
    EXPECT_EQ(info.Height, 48);
    EXPECT_EQ(info.Components, c.Components);
    EXPECT_EQ(info.Progressive, c.Progressive);
    EXPECT_EQ(info.Orientation, 1);

    const QImage image = DecodeJpeg(data);
    ASSERT_EQ(image.size(), QSize(64, 48));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    for (const int y : {4, 24, 44}) {
        EXPECT_TRUE(ColourNear(image.pixel(8, y), c.Left, JpegTolerance)) << "left, row " << y;
        EXPECT_TRUE(ColourNear(image.pixel(56, y), c.Right, JpegTolerance)) << "right, row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, JpegColours,
    ::testing::Values(TColourCase{"baseline.jpg", 3, false, qRgb(255, 0, 0), qRgb(0, 0, 255)},
                      TColourCase{"progressive.jpg", 3, true, qRgb(255, 0, 0), qRgb(0, 0, 255)},
                      TColourCase{"greyscale.jpg", 1, false, qRgb(64, 64, 64), qRgb(192, 192, 192)},
                      // 0 means no ink; no Adobe marker.
                      TColourCase{"cmyk-plain.jpg", 4, false, qRgb(255, 0, 0), qRgb(0, 0, 255)},
                      // Adobe marker: every value stored inverted.
                      TColourCase{"cmyk-adobe.jpg", 4, false, qRgb(255, 0, 0), qRgb(0, 0, 255)},
                      TColourCase{"ycck-adobe.jpg", 4, false, qRgb(255, 0, 0), qRgb(0, 0, 255)}),
    test::FileTestName<TColourCase>);

// ---- Exif orientation ----------------------------------------------------

// The stored 48 x 32 picture is white with a red square in its top-left and a
// blue square in its top-right corner; the expected corners are where
// ImageMagick's -auto-orient puts them.
enum TCorner { TopLeft, TopRight, BottomLeft, BottomRight };

struct TOrientationCase {
    const char* File;
    int Orientation;
    QSize Size;
    TCorner Red;
    TCorner Blue;
};

QPoint Inside(TCorner corner, QSize size) {
    const int x = corner == TopLeft || corner == BottomLeft ? 4 : size.width() - 5;
    const int y = corner == TopLeft || corner == TopRight ? 4 : size.height() - 5;
    return {x, y};
}

class JpegOrientation : public ::testing::TestWithParam<TOrientationCase> {};

TEST_P(JpegOrientation, TurnsThePictureUprightAndOnlyWhenAsked) {
    const TOrientationCase& c = GetParam();
    const TByteVector data = Jpeg(c.File);
    const TJpegInfo info = ReadJpegInfo(data);
    EXPECT_EQ(info.Orientation, c.Orientation);
    EXPECT_EQ(QSize(info.Width, info.Height), QSize(48, 32));  // as stored

    const QImage upright = DecodeJpeg(data);
    ASSERT_EQ(upright.size(), c.Size);
    EXPECT_TRUE(ColourNear(upright.pixel(Inside(c.Red, c.Size)), qRgb(255, 0, 0), JpegTolerance));
    EXPECT_TRUE(ColourNear(upright.pixel(Inside(c.Blue, c.Size)), qRgb(0, 0, 255), JpegTolerance));
    EXPECT_EQ(upright.format(), QImage::Format_RGB32);

    TJpegDecodeOptions asStored;
    asStored.ApplyOrientation = false;
    const QImage stored = DecodeJpeg(data, asStored);
    ASSERT_EQ(stored.size(), QSize(48, 32));
    EXPECT_TRUE(ColourNear(stored.pixel(4, 4), qRgb(255, 0, 0), JpegTolerance));
    EXPECT_TRUE(ColourNear(stored.pixel(43, 4), qRgb(0, 0, 255), JpegTolerance));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, JpegOrientation,
    ::testing::Values(TOrientationCase{"orientation-1.jpg", 1, {48, 32}, TopLeft, TopRight},
                      TOrientationCase{"orientation-2.jpg", 2, {48, 32}, TopRight, TopLeft},
                      TOrientationCase{"orientation-3.jpg", 3, {48, 32}, BottomRight, BottomLeft},
                      TOrientationCase{"orientation-4.jpg", 4, {48, 32}, BottomLeft, BottomRight},
                      TOrientationCase{"orientation-5.jpg", 5, {32, 48}, TopLeft, BottomLeft},
                      TOrientationCase{"orientation-6.jpg", 6, {32, 48}, TopRight, BottomRight},
                      TOrientationCase{"orientation-7.jpg", 7, {32, 48}, BottomRight, TopRight},
                      TOrientationCase{"orientation-8.jpg", 8, {32, 48}, BottomLeft, TopLeft},
                      // Little-endian Exif (the others are big-endian).
                      TOrientationCase{"orientation-6-intel.jpg", 6, {32, 48}, TopRight, BottomRight}),
    test::FileTestName<TOrientationCase>);

using pixhold::test::ExifSegment;

TEST(ExifOrientation, ReadsTheTagInBothByteOrdersAfterOtherTags) {
    for (const bool bigEndian : {false, true}) {
        EXPECT_EQ(ExifOrientationOf(ExifSegment(bigEndian, {{0x010F, 2, 1, 0}, {0x0112, 3, 1, 6}})), 6)
            << bigEndian;
        EXPECT_EQ(ExifOrientationOf(ExifSegment(bigEndian, {{0x0112, 3, 1, 8}})), 8) << bigEndian;
    }
}

TEST(ExifOrientation, DamagedOrMissingTagsCountAsUpright) {
    const std::vector<std::pair<const char*, TByteVector>> cases = {
        {"no tag", ExifSegment(true, {{0x010F, 2, 1, 0}})},
        {"value 0", ExifSegment(true, {{0x0112, 3, 1, 0}})},
        {"value 9", ExifSegment(true, {{0x0112, 3, 1, 9}})},
        {"not a short", ExifSegment(true, {{0x0112, 4, 1, 6}})},
        {"count 0", ExifSegment(true, {{0x0112, 3, 0, 6}})},
        {"count 3", ExifSegment(true, {{0x0112, 3, 3, 6}})},
        {"IFD beyond the end", ExifSegment(true, {{0x0112, 3, 1, 6}}, 0xFFFFFFF0u)},
        {"not Exif", TByteVector{'h', 't', 't', 'p', ':', '/', '/', 'n', 's'}},
        {"empty", TByteVector{}},
        {"header only", TByteVector{'E', 'x', 'i', 'f', 0, 0, 'M', 'M'}},
    };
    for (const auto& [name, data] : cases) EXPECT_EQ(ExifOrientationOf(data), 1) << name;

    // An entry count that runs past the segment's end.
    TByteVector cut = ExifSegment(false, {{0x010F, 2, 1, 0}, {0x0112, 3, 1, 6}});
    cut.resize(cut.size() - 12);
    EXPECT_EQ(ExifOrientationOf(cut), 1);
    // A byte-order mark that is neither.
    TByteVector mixed = ExifSegment(false, {{0x0112, 3, 1, 6}});
    mixed[6] = 'M';
    EXPECT_EQ(ExifOrientationOf(mixed), 1);
}

// ---- DCT scaling ---------------------------------------------------------

QImage Gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x + y) * 255 / (width + height)));
        }
    }
    return image;
}

TEST(JpegScale, DecodesAtEachEighthWithSizesRoundedUp) {
    const TByteVector data = EncodeJpeg(Gradient(61, 47));
    for (int m = 1; m <= 8; ++m) {
        TJpegDecodeOptions options;
        options.ScaleNum = m;
        const QImage image = DecodeJpeg(data, options);
        EXPECT_EQ(image.size(), QSize((61 * m + 7) / 8, (47 * m + 7) / 8)) << m;
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
    }
    for (const int bad : {0, 9, -1}) {
        TJpegDecodeOptions options;
        options.ScaleNum = bad;
        EXPECT_THROW(DecodeJpeg(data, options), EInvalidGraphic) << bad;
    }
}

TEST(JpegScale, ScaleToCoverPicksTheSmallestEighthThatStillCovers) {
    struct TCase {
        int StoredWidth, StoredHeight, Width, Height, Expected;
    };
    const TCase cases[] = {
        {4000, 3000, 100, 100, 1},  // 500 x 375
        {800, 600, 100, 100, 2},    // 1/8 is 100 x 75: too low
        {600, 800, 100, 100, 2},    // the same turned
        {100, 100, 13, 13, 1},      // 1/8 of 100 is 12.5, rounded up to 13
        {100, 100, 14, 13, 2},
        {71, 71, 71, 71, 8},        // only full size covers
        {70, 70, 71, 71, 8},        // nothing covers: full size
        {4000, 3000, 3500, 10, 7},  // 3500 x 2625
        {4000, 3000, 0, 0, 1},
        {0, 100, 10, 10, 8},        // no stored size: full size
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(JpegScaleToCover(c.StoredWidth, c.StoredHeight, c.Width, c.Height), c.Expected)
            << c.StoredWidth << " x " << c.StoredHeight << " to " << c.Width << " x " << c.Height;
    }
}

TEST(JpegDecode, LargePicturesOwnTheirPixelsLikeAnyOther) {
    // Over the size from which the pixel memory is taken in huge pages.
    const QImage original = Gradient(2100, 1500);
    const QImage decoded = DecodeJpeg(EncodeJpeg(original));
    ASSERT_EQ(decoded.size(), original.size());
    for (const QPoint p : {QPoint(0, 0), QPoint(2099, 0), QPoint(1000, 700), QPoint(2099, 1499)}) {
        EXPECT_TRUE(ColourNear(decoded.pixel(p), original.pixel(p), 12)) << p.x() << ", " << p.y();
    }
    QImage copy = decoded;
    copy.setPixel(0, 0, qRgb(1, 2, 3));  // detaches: the decoded picture stays
    EXPECT_TRUE(ColourNear(decoded.pixel(0, 0), original.pixel(0, 0), 12));
    EXPECT_EQ(copy.pixel(0, 0), qRgb(1, 2, 3));
}

// ---- damaged files -------------------------------------------------------

TEST(JpegDamaged, TruncatedScanShowsWhatWasDecodedAndGreyBelow) {
    const QImage image = DecodeJpeg(Jpeg("truncated-in-scan.jpg"));
    ASSERT_EQ(image.size(), QSize(64, 48));
    EXPECT_TRUE(ColourNear(image.pixel(8, 2), qRgb(255, 0, 0), JpegTolerance));
    EXPECT_TRUE(ColourNear(image.pixel(56, 45), qRgb(128, 128, 128), JpegTolerance));
}

TEST(JpegDamaged, BadFilesRaiseTheLibrarysMessage) {
    struct TCase {
        const char* File;
        const char* Message;  // a part of the error text
    };
    const TCase cases[] = {
        {"empty.jpg", "Empty input"},
        {"garbage.jpg", "Not a JPEG file"},
        {"truncated-in-header.jpg", ""},
        // Over the pixel limit: refused before any pixel memory is taken.
        {"claims-60000x60000.jpg", "too large"},
        // Beyond libjpeg's own limit, which refuses it first.
        {"claims-65535x65535.jpg", "65500"},
    };
    for (const TCase& c : cases) {
        const TByteVector data = Jpeg(c.File);
        const std::string message = DecodeError(data);
        EXPECT_NE(message, "(decoded)") << c.File;
        EXPECT_FALSE(message.empty()) << c.File;
        EXPECT_NE(message.find(c.Message), std::string::npos) << c.File << ": " << message;
        EXPECT_THROW(ReadJpegInfo(data), EInvalidGraphic) << c.File;
    }
}

// The progressive fixture with its last scan repeated: libjpeg only warns
// about each repeat, so without a limit a file of tiny scans keeps it busy.
TByteVector WithRepeatedLastScan(int repeats) {
    const TByteVector whole = Jpeg("progressive.jpg");
    std::size_t lastScan = 0;
    for (std::size_t i = 0; i + 1 < whole.size(); ++i) {
        if (whole[i] == 0xFF && whole[i + 1] == 0xDA) lastScan = i;
    }
    const std::size_t end = whole.size() - 2;  // the EOI marker
    TByteVector out(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(end));
    for (int i = 0; i < repeats; ++i) {
        out.insert(out.end(), whole.begin() + static_cast<std::ptrdiff_t>(lastScan),
                   whole.begin() + static_cast<std::ptrdiff_t>(end));
    }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

TEST(JpegDamaged, ProgressiveFilesWithTooManyScansAreRefused) {
    EXPECT_EQ(DecodeJpeg(WithRepeatedLastScan(100)).size(), QSize(64, 48));
    EXPECT_NE(DecodeError(WithRepeatedLastScan(600)).find("too many progressive scans"), std::string::npos);
}

TEST(JpegDamaged, EveryCutOfAFileDecodesOrRaises) {
    const TByteVector whole = Jpeg("progressive.jpg");
    for (std::size_t size = 0; size < whole.size(); size += 7) {
        const TByteVector part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        try {
            const QImage image = DecodeJpeg(part);
            EXPECT_EQ(image.size(), QSize(64, 48)) << size;
        } catch (const EInvalidGraphic&) {
        }
    }
}

// ---- encoding ------------------------------------------------------------

TEST(JpegEncode, RoundTripKeepsSizeAndColoursWithinTolerance) {
    const QImage original = Gradient(61, 47);
    const TByteVector data = EncodeJpeg(original);
    ASSERT_GE(data.size(), 4u);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[1], 0xD8);
    const TJpegInfo info = ReadJpegInfo(data);
    EXPECT_EQ(info.Components, 3);
    EXPECT_FALSE(info.Progressive);
    const QImage decoded = DecodeJpeg(data);
    ASSERT_EQ(decoded.size(), original.size());
    for (int y = 0; y < original.height(); y += 5) {
        for (int x = 0; x < original.width(); x += 5) {
            EXPECT_TRUE(ColourNear(decoded.pixel(x, y), original.pixel(x, y), 12)) << x << ", " << y;
        }
    }
}

TEST(JpegEncode, LowerQualityWritesFewerBytes) {
    const QImage original = Gradient(120, 90);
    EXPECT_LT(EncodeJpeg(original, 50).size(), EncodeJpeg(original, JpegDefaultQuality).size());
    EXPECT_EQ(EncodeJpeg(original), EncodeJpeg(original, 90));
}

TEST(JpegEncode, AlphaIsPutOnWhite) {
    QImage translucent(16, 16, QImage::Format_ARGB32);
    translucent.fill(qRgba(255, 0, 0, 128));
    translucent.setPixel(0, 0, qRgba(0, 0, 0, 0));
    const QImage decoded = DecodeJpeg(EncodeJpeg(translucent));
    EXPECT_TRUE(ColourNear(decoded.pixel(8, 8), qRgb(255, 127, 127), JpegTolerance));

    QImage clear(16, 16, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    EXPECT_TRUE(ColourNear(DecodeJpeg(EncodeJpeg(clear)).pixel(8, 8), qRgb(255, 255, 255), 2));
}

TEST(JpegEncode, OtherFormatsAndEmptyPictures) {
    QImage grey(20, 10, QImage::Format_Grayscale8);
    grey.fill(100);
    EXPECT_TRUE(ColourNear(DecodeJpeg(EncodeJpeg(grey)).pixel(5, 5), qRgb(100, 100, 100), 3));

    QImage indexed(20, 10, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 128, 0)});
    indexed.fill(0);
    EXPECT_TRUE(ColourNear(DecodeJpeg(EncodeJpeg(indexed)).pixel(5, 5), qRgb(0, 128, 0), 6));

    EXPECT_THROW(EncodeJpeg(QImage()), EInvalidGraphic);
}

}  // namespace
}  // namespace pixhold::imaging
