// GIF decoding (composition, delays, loops, damaged and oversized files) and
// encoding (round trip, and what other programs read from our files).

#include "GifCodec.h"
#include "GifQuantizer.h"
#include "GraphicError.h"

#include "TempDir.h"

#include <QProcess>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace pixhold::imaging {
namespace {

using ::testing::HasSubstr;

TByteVector Fixture(const std::string& name) {
    const std::string path = std::string(PIXHOLD_SOURCE_DIR) + "/tests/imaging/fixtures/gif/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("missing fixture " + path);
    return TByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TGifAnimation Decode(const std::string& name) { return DecodeGif(Fixture(name)); }

std::string DecodeError(const TByteVector& bytes) {
    try {
        DecodeGif(bytes);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "(no error)";
}

constexpr QRgb Red = 0xFFFF0000u;
constexpr QRgb Green = 0xFF00FF00u;
constexpr QRgb Blue = 0xFF0000FFu;
constexpr QRgb Black = 0xFF000000u;
constexpr QRgb Clear = 0x00000000u;

QRgb At(const TGifAnimation& a, std::size_t frame, int x, int y) {
    return a.Frames.at(frame).Image.pixel(x, y);
}

// --- decoding ---------------------------------------------------------------

TEST(GifDecodeTest, StillPictureIsOneOpaqueFrameOfTheScreen) {
    const TGifAnimation a = Decode("still.gif");
    EXPECT_EQ(a.Width, 8);
    EXPECT_EQ(a.Height, 6);
    EXPECT_EQ(a.LoopCount, -1);
    ASSERT_EQ(a.Frames.size(), 1u);
    const QImage& image = a.Frames[0].Image;
    EXPECT_EQ(image.format(), QImage::Format_ARGB32);
    EXPECT_EQ(image.size(), QSize(8, 6));
    EXPECT_EQ(image.pixel(0, 0), Blue);
    EXPECT_EQ(image.pixel(3, 2), Blue);
    EXPECT_EQ(image.pixel(4, 2), Red);
    EXPECT_EQ(image.pixel(7, 5), Red);
}

TEST(GifDecodeTest, AnimationKeepsEveryFrameWithItsDelayAndLocalColourTables) {
    const TGifAnimation a = Decode("anim-delays.gif");
    EXPECT_EQ(a.LoopCount, 0);
    ASSERT_EQ(a.Frames.size(), 3u);
    EXPECT_EQ(a.Frames[0].DelayMs, 100);
    EXPECT_EQ(a.Frames[1].DelayMs, 250);
    EXPECT_EQ(a.Frames[2].DelayMs, 500);
    EXPECT_EQ(At(a, 0, 3, 3), Red);
    EXPECT_EQ(At(a, 1, 3, 3), Green);
    EXPECT_EQ(At(a, 2, 0, 0), Blue);
}

TEST(GifDecodeTest, FrameWithItsOwnColourTableUsesIt) {
    const TGifAnimation a = Decode("local-map.gif");
    ASSERT_EQ(a.Frames.size(), 2u);
    EXPECT_EQ(At(a, 0, 0, 0), Red);
    EXPECT_EQ(At(a, 0, 1, 0), Blue);
    EXPECT_EQ(At(a, 1, 0, 0), 0xFFFFFF00u);
    EXPECT_EQ(At(a, 1, 1, 0), 0xFFFFFFFFu);
}

TEST(GifDecodeTest, PlayingShowsTinyDelaysForATenthOfASecond) {
    struct Case {
        int DelayMs, Played;
    };
    for (const Case c : {Case{0, 100}, Case{10, 100}, Case{20, 20}, Case{100, 100}, Case{5000, 5000}}) {
        TGifFrame frame;
        frame.DelayMs = c.DelayMs;
        EXPECT_EQ(frame.PlayDelayMs(), c.Played) << c.DelayMs;
    }
}

struct DisposalCase {
    const char* File;
    int Disposal;
    QRgb AfterwardsAtOneOne;  // (1, 1) in frame 3, where frame 2 was drawn
};

class GifDisposalTest : public ::testing::TestWithParam<DisposalCase> {};

TEST_P(GifDisposalTest, NextFrameSeesTheAreaDisposedOf) {
    const DisposalCase& c = GetParam();
    const TGifAnimation a = Decode(c.File);
    ASSERT_EQ(a.Frames.size(), 3u);
    EXPECT_EQ(a.Frames[1].Disposal, c.Disposal);
    // Frame 2 itself is shown whatever its disposal.
    EXPECT_EQ(At(a, 1, 1, 1), Blue);
    EXPECT_EQ(At(a, 1, 2, 2), Blue);
    EXPECT_EQ(At(a, 1, 0, 0), Red);
    // Frame 3 is drawn after frame 2's disposal.
    EXPECT_EQ(At(a, 2, 0, 0), Green);
    EXPECT_EQ(At(a, 2, 1, 1), c.AfterwardsAtOneOne);
    EXPECT_EQ(At(a, 2, 2, 2), c.AfterwardsAtOneOne);
    EXPECT_EQ(At(a, 2, 3, 3), Red);  // outside frame 2: untouched
    // Earlier frames are not changed by later disposal.
    EXPECT_EQ(At(a, 0, 1, 1), Red);
}

INSTANTIATE_TEST_SUITE_P(Methods, GifDisposalTest,
                         ::testing::Values(DisposalCase{"disposal-0.gif", 0, Blue},   // unspecified: kept
                                           DisposalCase{"disposal-1.gif", 1, Blue},   // kept
                                           DisposalCase{"disposal-2.gif", 2, Clear},  // background: cleared
                                           DisposalCase{"disposal-3.gif", 3, Red}));  // previous: restored

TEST(GifDecodeTest, TransparentPixelsLeaveWhatIsBelow) {
    const TGifAnimation a = Decode("transparency.gif");
    ASSERT_EQ(a.Frames.size(), 2u);
    EXPECT_EQ(a.Frames[0].TransparentIndex, 3);
    EXPECT_EQ(At(a, 0, 0, 0), Clear);  // nothing below the first frame
    EXPECT_EQ(At(a, 0, 1, 0), Red);
    EXPECT_EQ(At(a, 1, 0, 0), Clear);
    EXPECT_EQ(At(a, 1, 1, 0), Red);
    EXPECT_EQ(At(a, 1, 0, 1), Red);
    EXPECT_EQ(At(a, 1, 2, 0), Blue);
    EXPECT_EQ(At(a, 1, 3, 1), Blue);
}

TEST(GifDecodeTest, InterlacedRowsLandWhereThePlainFileHasThem) {
    const TGifAnimation interlaced = Decode("interlaced.gif");
    const TGifAnimation plain = Decode("interlaced-plain.gif");
    ASSERT_EQ(interlaced.Frames.size(), 1u);
    ASSERT_EQ(plain.Frames.size(), 1u);
    const QImage& image = interlaced.Frames[0].Image;
    EXPECT_EQ(image, plain.Frames[0].Image);
    // Red fading to blue, top to bottom: every row differs from the one above.
    EXPECT_EQ(image.pixel(0, 0), Red);
    for (int y = 1; y < image.height(); ++y) {
        EXPECT_GT(qBlue(image.pixel(1, y)), qBlue(image.pixel(1, y - 1))) << y;
    }
}

TEST(GifDecodeTest, LoopCountIsTheStoredOneOrMinusOneWithout) {
    EXPECT_EQ(Decode("still.gif").LoopCount, -1);
    EXPECT_EQ(Decode("disposal-1.gif").LoopCount, -1);
    EXPECT_EQ(Decode("anim-delays.gif").LoopCount, 0);
    EXPECT_EQ(Decode("loop-3.gif").LoopCount, 3);
    EXPECT_EQ(Decode("loop-animexts.gif").LoopCount, 7);
}

TEST(GifDecodeTest, FramesOffTheScreenAreClipped) {
    const TGifAnimation a = Decode("frame-outside.gif");
    ASSERT_EQ(a.Frames.size(), 4u);
    // A frame half off the screen: its visible quarter is drawn.
    EXPECT_EQ(At(a, 1, 1, 1), Red);
    EXPECT_EQ(At(a, 1, 2, 2), Blue);
    EXPECT_EQ(At(a, 1, 3, 3), Blue);
    EXPECT_EQ(At(a, 1, 3, 1), Red);
    // A frame wholly off it changes nothing.
    EXPECT_EQ(a.Frames[2].Image, a.Frames[1].Image);
    // A frame larger than the screen: its top-left part, row by row.
    const QRgb rows[] = {Blue, Green, Black, Blue};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) EXPECT_EQ(At(a, 3, x, y), rows[y]) << x << "," << y;
    }
}

// --- damaged and hostile files ------------------------------------------------

TEST(GifDecodeTest, TruncatedFileKeepsTheFramesCompleteBeforeTheCut) {
    const TGifAnimation whole = Decode("noise-2-frames.gif");
    ASSERT_EQ(whole.Frames.size(), 2u);

    const TGifAnimation cut = Decode("truncated-in-second-frame.gif");
    ASSERT_EQ(cut.Frames.size(), 1u);
    EXPECT_EQ(cut.Frames[0].Image, whole.Frames[0].Image);

    const TGifAnimation noTrailer = Decode("no-trailer.gif");
    ASSERT_EQ(noTrailer.Frames.size(), 2u);
    EXPECT_EQ(noTrailer.Frames[1].Image, whole.Frames[1].Image);
}

TEST(GifDecodeTest, FilesWithoutOneCompleteFrameAreErrors) {
    EXPECT_THAT(DecodeError(Fixture("truncated-in-first-frame.gif")), HasSubstr("GIF image is truncated"));
    EXPECT_THAT(DecodeError(Fixture("garbage-after-header.gif")),
                HasSubstr("GIF image is damaged: Wrong record type detected"));
    EXPECT_EQ(DecodeError(Fixture("no-frames.gif")), "GIF image has no frames");
    EXPECT_THAT(DecodeError(TByteVector{}), HasSubstr("GIF image"));
    const std::string text = "This is a text file, not a picture.";
    EXPECT_THAT(DecodeError(TByteVector(text.begin(), text.end())), HasSubstr("Data is not in GIF format"));
}

TEST(GifDecodeTest, OversizedScreensAndAnimationsAreRefusedBeforeDecoding) {
    EXPECT_THAT(DecodeError(Fixture("huge-screen.gif")), HasSubstr("GIF image is too large (65535 x 65535"));
    EXPECT_THAT(DecodeError(Fixture("many-frames.gif")),
                HasSubstr("GIF image is too large: 5 frames of 8192 x 8192 pixels"));
    // Tiny frames count at least 1 KB each: 1,048,577 frames of 1 x 1 pixel
    // are one too many (made here: 15 bytes a frame would make a 15 MB fixture).
    const std::uint8_t frame[] = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0x02, 0x02, 0x44, 0x01, 0x00};
    TByteVector many = Fixture("still.gif");
    many.resize(19);  // header, screen descriptor, 2-entry colour table
    const std::uint8_t oneByOne[] = {1, 0, 1, 0};  // screen width and height
    std::copy(std::begin(oneByOne), std::end(oneByOne), many.begin() + 6);
    many.reserve(many.size() + 1048577 * sizeof frame + 1);
    for (int i = 0; i < 1048577; ++i) many.insert(many.end(), std::begin(frame), std::end(frame));
    many.push_back(0x3B);
    EXPECT_THAT(DecodeError(many), HasSubstr("GIF image is too large: 1048577 frames of 1 x 1 pixels"));
    // One frame of them is an ordinary picture.
    many.resize(19 + sizeof frame);
    many.push_back(0x3B);
    const TGifAnimation one = DecodeGif(many);
    ASSERT_EQ(one.Frames.size(), 1u);
    EXPECT_EQ(one.Frames[0].Image.pixel(0, 0), Red);
}

// Every prefix of a file, and the file with any one byte spoiled, decodes or
// fails cleanly (the sanitizers see the rest).
TEST(GifDecodeTest, DamagedCopiesNeverCrash) {
    const TByteVector whole = Fixture("noise-2-frames.gif");
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const TByteVector part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        try {
            const TGifAnimation a = DecodeGif(part);
            EXPECT_FALSE(a.Frames.empty());
        } catch (const EInvalidGraphic&) {
        }
    }
    for (const char* name : {"anim-delays.gif", "frame-outside.gif", "interlaced.gif", "transparency.gif"}) {
        const TByteVector original = Fixture(name);
        for (std::size_t i = 0; i < original.size(); ++i) {
            for (const std::uint8_t flip : {0xFF, 0x80, 0x01}) {
                TByteVector spoiled = original;
                spoiled[i] ^= flip;
                try {
                    DecodeGif(spoiled);
                } catch (const EInvalidGraphic&) {
                }
            }
        }
    }
}

// --- encoding -----------------------------------------------------------------

QImage Photo(int width, int height, unsigned seed) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = [&](int v) { return std::clamp(v + noise(random), 0, 255); };
            image.setPixel(x, y, qRgb(c(255 * x / width), c(255 * y / height), c(128)));
        }
    }
    return image;
}

TEST(GifEncodeTest, RoundTripGivesTheQuantisedPicture) {
    const QImage photo = Photo(61, 47, 1);
    const TByteVector bytes = EncodeGif(photo);
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
    const TGifAnimation a = DecodeGif(bytes);
    EXPECT_EQ(a.Width, 61);
    EXPECT_EQ(a.Height, 47);
    EXPECT_EQ(a.LoopCount, -1);
    ASSERT_EQ(a.Frames.size(), 1u);
    EXPECT_EQ(a.Frames[0].TransparentIndex, -1);
    EXPECT_EQ(a.Frames[0].Image, QuantizeForGif(photo).ToImage().convertToFormat(QImage::Format_ARGB32));
}

TEST(GifEncodeTest, AlphaIsComposedOntoWhite) {
    QImage image(3, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0, 0, 0, 0));
    image.setPixel(1, 0, qRgba(255, 0, 0, 255));
    image.setPixel(2, 0, qRgba(0, 0, 0, 128));
    const TGifAnimation a = DecodeGif(EncodeGif(image));
    ASSERT_EQ(a.Frames.size(), 1u);
    EXPECT_EQ(At(a, 0, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(At(a, 0, 1, 0), Red);
    EXPECT_EQ(At(a, 0, 2, 0), qRgb(127, 127, 127));
}

TEST(GifEncodeTest, EmptyAndOversizedPicturesAreErrors) {
    EXPECT_THROW(EncodeGif(QImage()), EInvalidGraphic);
    const QImage wide(65536, 1, QImage::Format_RGB32);
    try {
        EncodeGif(wide);
        ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_THAT(e.what(), HasSubstr("65535"));
    }
}

// ImageMagick reads our file as we do: size, format and every pixel.
TEST(GifEncodeTest, ImageMagickReadsWhatWeWrite) {
    const char* convert = "/usr/bin/convert";
    if (!std::filesystem::exists(convert)) GTEST_SKIP() << "ImageMagick is not installed";
    const QImage photo = Photo(40, 30, 2);
    const TByteVector bytes = EncodeGif(photo);
    const test::TempDir dir;
    const std::string path = (dir / "out.gif").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));

    QProcess identify;
    identify.start("/usr/bin/identify", {"-format", "%m %w %h", QString::fromStdString(path)});
    ASSERT_TRUE(identify.waitForFinished(60000));
    EXPECT_EQ(identify.exitCode(), 0) << identify.readAllStandardError().toStdString();
    EXPECT_EQ(identify.readAllStandardOutput().toStdString(), "GIF 40 30");

    QProcess pixels;
    pixels.start(convert, {QString::fromStdString(path), "-depth", "8", "rgb:-"});
    ASSERT_TRUE(pixels.waitForFinished(60000));
    const QByteArray rgb = pixels.readAllStandardOutput();
    ASSERT_EQ(rgb.size(), 40 * 30 * 3);
    const TBitmap quantised = QuantizeForGif(photo);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(rgb.constData()) + 3 * (y * 40 + x);
            ASSERT_EQ(qRgb(p[0], p[1], p[2]), quantised.Pixel(x, y)) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace pixhold::imaging
