// The PNG codec: every colour type and depth, transparency, interlacing,
// damaged files and encoding. The fixtures come from netpbm and ImageMagick
// (fixtures/png/make-fixtures.sh).

#include "CodecFixture.h"
#include "GraphicError.h"
#include "PngCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pixhold::imaging {
namespace {

using test::ReadFixture;

TByteVector Png(const std::string& name) { return ReadFixture("png/" + name); }

// Probe points of the 64 x 48 fixtures: the green top-left square, the left
// (red) half, the right (blue) half, and the bottom rows (alpha 0 where the
// fixture has alpha).
const QPoint Corner(4, 4), Left(24, 24), Right(56, 24), Bottom(56, 44);

struct TPngCase {
    const char* File;
    QImage::Format Format;
    QRgb AtCorner, AtLeft, AtRight, AtBottom;
};

class PngDecode : public ::testing::TestWithParam<TPngCase> {};

// Exact values: PNG is lossless. A fully transparent pixel's colour is left
// open.
::testing::AssertionResult Same(QRgb actual, QRgb expected) {
    if (qAlpha(expected) == 0 && qAlpha(actual) == 0) return ::testing::AssertionSuccess();
    return test::ColourNear(actual, expected, 0);
}

TEST_P(PngDecode, GivesThePixelsOfEachColourType) {
    const TPngCase& c = GetParam();
    const QImage image = DecodePng(Png(c.File));
    ASSERT_EQ(image.size(), QSize(64, 48));
    EXPECT_EQ(image.format(), c.Format);
    EXPECT_TRUE(Same(image.pixel(Corner), c.AtCorner)) << "corner";
    EXPECT_TRUE(Same(image.pixel(Left), c.AtLeft)) << "left";
    EXPECT_TRUE(Same(image.pixel(Right), c.AtRight)) << "right";
    EXPECT_TRUE(Same(image.pixel(Bottom), c.AtBottom)) << "bottom";
}

constexpr QRgb Red = qRgb(255, 0, 0), Green = qRgb(0, 255, 0), Blue = qRgb(0, 0, 255);
constexpr QRgb HalfBlue = qRgba(0, 0, 255, 128), Clear = qRgba(0, 0, 0, 0);

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PngDecode,
    ::testing::Values(
        TPngCase{"palette.png", QImage::Format_RGB32, Green, Red, Blue, Blue},
        TPngCase{"rgb.png", QImage::Format_RGB32, Green, Red, Blue, Blue},
        TPngCase{"rgb-16bit.png", QImage::Format_RGB32, Green, Red, Blue, Blue},
        TPngCase{"grey.png", QImage::Format_RGB32, qRgb(64, 64, 64), qRgb(64, 64, 64), qRgb(192, 192, 192),
                 qRgb(192, 192, 192)},
        TPngCase{"grey-2bit.png", QImage::Format_RGB32, qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(170, 170, 170),
                 qRgb(170, 170, 170)},
        TPngCase{"grey-alpha.png", QImage::Format_ARGB32, qRgb(64, 64, 64), qRgb(64, 64, 64),
                 qRgba(192, 192, 192, 128), Clear},
        TPngCase{"grey-alpha-16bit.png", QImage::Format_ARGB32, qRgb(64, 64, 64), qRgb(64, 64, 64),
                 qRgba(192, 192, 192, 128), Clear},
        TPngCase{"rgba.png", QImage::Format_ARGB32, Green, Red, HalfBlue, Clear},
        TPngCase{"rgba-interlaced.png", QImage::Format_ARGB32, Green, Red, HalfBlue, Clear},
        // Blue is the palette's transparent entry.
        TPngCase{"palette-trns.png", QImage::Format_ARGB32, Green, Red, Clear, Clear},
        // A damaged ancillary chunk is only a warning.
        TPngCase{"text-crc-error.png", QImage::Format_RGB32, Green, Red, Blue, Blue}),
    test::FileTestName<TPngCase>);

TEST(PngDecode, InterlacedGivesTheSamePictureAsPlain) {
    EXPECT_EQ(DecodePng(Png("rgba-interlaced.png")), DecodePng(Png("rgba.png")));
    EXPECT_EQ(DecodePng(Png("rgb-16bit.png")), DecodePng(Png("rgb.png")));
}

TEST(PngDamaged, BadFilesRaiseAClearError) {
    struct TCase {
        const char* File;
        const char* Message;  // a part of the error text
    };
    const TCase cases[] = {
        {"empty.png", "truncated"},
        {"garbage.png", "Not a PNG file"},
        {"truncated-in-header.png", "truncated"},
        {"truncated-in-idat.png", ""},
        {"idat-crc-error.png", "CRC error"},
        {"idat-data-damaged.png", "IDAT"},
        // Over the pixel limit: refused before any pixel memory is taken.
        {"claims-60000x60000.png", "too large"},
        // Beyond the side libpng is allowed to accept.
        {"claims-2147483647x1.png", "width exceeds"},
    };
    for (const TCase& c : cases) {
        std::string message = "(decoded)";
        try {
            DecodePng(Png(c.File));
        } catch (const EInvalidGraphic& e) {
            message = e.what();
        }
        EXPECT_NE(message, "(decoded)") << c.File;
        EXPECT_FALSE(message.empty()) << c.File;
        EXPECT_NE(message.find(c.Message), std::string::npos) << c.File << ": " << message;
    }
}

TEST(PngDamaged, EveryCutOfAFileRaises) {
    const TByteVector whole = Png("rgba-interlaced.png");
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const TByteVector part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_THROW(DecodePng(part), EInvalidGraphic) << size;
    }
}

// ---- encoding ------------------------------------------------------------

int ColourTypeOf(const TByteVector& png) { return png.size() > 25 ? png[25] : -1; }
int BitDepthOf(const TByteVector& png) { return png.size() > 24 ? png[24] : -1; }

QImage Pattern(QImage::Format format, bool alpha) {
    QImage image(37, 23, format);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgba(x * 7, y * 11, (x * y) & 0xFF, alpha ? (x * 13 + y) & 0xFF : 255));
        }
    }
    return image;
}

TEST(PngEncode, OpaquePicturesRoundTripExactlyAsRgb) {
    const QImage original = Pattern(QImage::Format_RGB32, false);
    const TByteVector data = EncodePng(original);
    EXPECT_EQ(ColourTypeOf(data), 2);
    EXPECT_EQ(BitDepthOf(data), 8);
    const QImage decoded = DecodePng(data);
    EXPECT_EQ(decoded.format(), QImage::Format_RGB32);
    EXPECT_EQ(decoded, original);
}

TEST(PngEncode, AlphaRoundTripsExactlyAsRgba) {
    const QImage original = Pattern(QImage::Format_ARGB32, true);
    const TByteVector data = EncodePng(original);
    EXPECT_EQ(ColourTypeOf(data), 6);
    EXPECT_EQ(BitDepthOf(data), 8);
    const QImage decoded = DecodePng(data);
    EXPECT_EQ(decoded.format(), QImage::Format_ARGB32);
    EXPECT_EQ(decoded, original);
}

TEST(PngEncode, OtherFormatsAreWrittenAsTheirColours) {
    QImage premultiplied(8, 8, QImage::Format_ARGB32_Premultiplied);
    premultiplied.fill(qRgba(100, 50, 0, 255));
    EXPECT_EQ(DecodePng(EncodePng(premultiplied)).pixel(3, 3), qRgba(100, 50, 0, 255));

    QImage grey(8, 8, QImage::Format_Grayscale8);
    grey.fill(77);
    const TByteVector greyData = EncodePng(grey);
    EXPECT_EQ(ColourTypeOf(greyData), 2);
    EXPECT_EQ(DecodePng(greyData).pixel(3, 3), qRgb(77, 77, 77));

    QImage indexed(8, 8, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(200, 100, 50)});
    indexed.fill(1);
    EXPECT_EQ(DecodePng(EncodePng(indexed)).pixel(3, 3), qRgb(200, 100, 50));

    EXPECT_THROW(EncodePng(QImage()), EInvalidGraphic);
}

}  // namespace
}  // namespace pixhold::imaging
