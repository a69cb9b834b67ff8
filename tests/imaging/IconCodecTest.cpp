// The icon reader and writer: icons made by other programs, the entry a
// desktop shows, damaged directories, and the program's icon encoding.

#include "IconCodec.h"

#include "DibTestSupport.h"
#include "GraphicError.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pixhold::imaging {

void PrintTo(const TIconEntry& e, std::ostream* os) {
    *os << e.Width << "x" << e.Height << "x" << e.BitCount << (e.Png ? " PNG" : " DIB");
}

namespace {

using test::FixturePath;
using test::ReadFile;

TByteVector Icon(const std::string& name) {
    return ReadFile(FixturePath("ico", name));
}

bool PngMissing(const EInvalidGraphic& e) {
    return std::string(e.what()).find("PNG codec missing") != std::string::npos;
}

// The fixture icons: colour blocks of an eighth of the size, the top-left
// quarter-by-quarter block transparent (make-fixtures.sh).
QRgb IconPixel(int size, int x, int y, bool mono = false) {
    if (x < size / 4 && y < size / 4) return 0;
    if (mono) return (x / 4 + y / 4) % 2 ? 0xFFFFFFFF : 0xFF000000;
    return test::Colours8[((x * 8) / size + 2 * ((y * 8) / size)) % 8];
}

// Transparent pixels compare as transparent whatever their colour.
void ExpectIconPixels(const QImage& image, int size, bool mono = false) {
    ASSERT_EQ(image.width(), size);
    ASSERT_EQ(image.height(), size);
    ASSERT_EQ(image.format(), QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb want = IconPixel(size, x, y, mono);
            const QRgb got = image.pixel(x, y);
            if (qAlpha(want) == 0) {
                ASSERT_EQ(qAlpha(got), 0) << x << "," << y;
            } else {
                ASSERT_EQ(got, want) << x << "," << y;
            }
        }
    }
}

TEST(IconDirectoryTest, ListsEntriesWithTheirOwnSizeAndDepth) {
    EXPECT_EQ(ReadIconDirectory(Icon("im-sizes.ico")),
              (std::vector<TIconEntry>{{16, 16, 32, false}, {32, 32, 32, false}, {256, 256, 32, true}}));
    EXPECT_EQ(ReadIconDirectory(Icon("icotool-depths.ico")), (std::vector<TIconEntry>{{16, 16, 1, false},
                                                                                      {16, 16, 4, false},
                                                                                      {16, 16, 8, false},
                                                                                      {16, 16, 24, false},
                                                                                      {16, 16, 32, false},
                                                                                      {32, 32, 32, true}}));
}

TEST(IconReaderTest, DibEntriesOfEveryDepth) {
    // 1, 4, 8 and 24 bits through the AND mask, 32 bits through the alpha.
    const TByteVector file = Icon("icotool-depths.ico");
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        ExpectIconPixels(ReadIconEntry(file, i), 16, i == 0);
    }
    ExpectIconPixels(ReadIconEntry(Icon("im-sizes.ico"), 0), 16);
    ExpectIconPixels(ReadIconEntry(Icon("im-sizes.ico"), 1), 32);
}

TEST(IconReaderTest, PngEntries) {
    try {
        ExpectIconPixels(ReadIconEntry(Icon("icotool-depths.ico"), 5), 32);
        ExpectIconPixels(ReadIcon(Icon("im-sizes.ico"), 256), 256);
    } catch (const EInvalidGraphic& e) {
        if (PngMissing(e)) GTEST_SKIP() << "the PNG codec is not in this build yet";
        throw;
    }
}

TEST(IconReaderTest, CursorsReadLikeIcons) {
    const TByteVector file = Icon("icotool-cursor.cur");
    ASSERT_EQ(ReadIconDirectory(file).size(), 1u);
    ExpectIconPixels(ReadIcon(file, 16), 16);
}

TEST(IconReaderTest, ReadIconShowsTheChosenEntry) {
    EXPECT_EQ(ReadIcon(Icon("im-sizes.ico"), 32).width(), 32);
    EXPECT_EQ(ReadIcon(Icon("im-sizes.ico"), 20).width(), 32);
    EXPECT_EQ(ReadIcon(Icon("im-sizes.ico"), 1).width(), 16);
    // 16 x 16 at five depths: the 32-bit one, in colour and with alpha.
    ExpectIconPixels(ReadIcon(Icon("icotool-depths.ico"), 16), 16);
}

struct ChoiceCase {
    const char* Name;
    std::vector<TIconEntry> Entries;
    int Size;
    std::size_t Chosen;
};

std::ostream& operator<<(std::ostream& os, const ChoiceCase& c) {
    return os << c.Name;
}

class IconChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(IconChoiceTest, ChoosesAsADesktop) {
    EXPECT_EQ(ChooseIconEntry(GetParam().Entries, GetParam().Size), GetParam().Chosen);
}

const std::vector<TIconEntry> Sizes = {{48, 48, 32, false}, {16, 16, 32, false},  {32, 32, 8, false},
                                       {32, 32, 32, false}, {256, 256, 32, true}, {32, 32, 24, false}};

INSTANTIATE_TEST_SUITE_P(
    Entries, IconChoiceTest,
    ::testing::Values(ChoiceCase{"ExactSizeDeepest", Sizes, 32, 3}, ChoiceCase{"SmallestAbove", Sizes, 20, 3},
                      ChoiceCase{"ExactSmall", Sizes, 16, 1}, ChoiceCase{"BetweenLarge", Sizes, 100, 4},
                      ChoiceCase{"NoneLargeEnough", Sizes, 512, 4},
                      ChoiceCase{"NoneLargeEnoughDeepest",
                                 {{16, 16, 4, false}, {24, 24, 8, false}, {24, 24, 32, false}},
                                 32,
                                 2},
                      ChoiceCase{"FirstAmongEquals", {{32, 32, 32, false}, {32, 32, 32, true}}, 32, 0},
                      // both sides must be large enough
                      ChoiceCase{"NarrowIsNotLargeEnough", {{64, 16, 32, false}, {40, 40, 8, false}}, 32, 1},
                      ChoiceCase{"One", {{16, 16, 1, false}}, 256, 0}),
    [](const auto& tp) { return std::string(tp.param.Name); });

struct DamagedCase {
    const char* Name;
    const char* Message;
};

std::ostream& operator<<(std::ostream& os, const DamagedCase& c) {
    return os << c.Name;
}

class DamagedIconTest : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedIconTest, GivesAClearError) {
    const TByteVector file = Icon(GetParam().Name);
    for (int pass = 0; pass < 2; ++pass) {
        try {
            if (pass == 0) ReadIconDirectory(file);
            if (pass == 1) ReadIcon(file);
            FAIL() << "read without error";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find(GetParam().Message), std::string::npos) << e.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedIconTest,
    ::testing::Values(DamagedCase{"entry-beyond-file.ico", "lies beyond the end of the file"},
                      DamagedCase{"entry-size-beyond-file.ico", "lies beyond the end of the file"},
                      DamagedCase{"directory-65535-entries.ico", "65535 entries runs past the end"}),
    [](const auto& tp) { return test::TestName(tp.param.Name); });

TEST(IconReaderTest, RefusesWhatIsNoIcon) {
    EXPECT_THROW(ReadIcon(TByteVector{}), EInvalidGraphic);
    EXPECT_THROW(ReadIcon(TByteVector{0, 0, 1}), EInvalidGraphic);
    EXPECT_THROW(ReadIcon(TByteVector{0, 0, 1, 0, 0, 0}), EInvalidGraphic);  // no images
    EXPECT_THROW(ReadIcon(ReadFile(FixturePath("bmp", "ppm-24bpp.bmp"))), EInvalidGraphic);
    EXPECT_THROW(ReadIconEntry(Icon("im-sizes.ico"), 3), EInvalidGraphic);
}

TEST(IconReaderTest, EveryCutOfAFileIsRefusedOrRead) {
    const TByteVector file = Icon("icotool-depths.ico");
    for (std::size_t n = 0; n < file.size(); n += 7) {
        try {
            ReadIcon(TBytes(file).first(n), 16);
        } catch (const EInvalidGraphic&) {
        }
    }
    // A damaged image inside a whole directory: each entry's bytes cut short.
    for (std::size_t cut = 1; cut < 200; cut += 13) {
        TByteVector bad = file;
        for (std::size_t i = 0; i < 6; ++i) {
            const std::size_t at = 6 + 16 * i + 8;
            const std::uint32_t size = bad[at] | (bad[at + 1] << 8);
            const std::uint32_t smaller = size > cut ? size - static_cast<std::uint32_t>(cut) : 1;
            bad[at] = static_cast<std::uint8_t>(smaller),
            bad[at + 1] = static_cast<std::uint8_t>(smaller >> 8);
            try {
                ReadIconEntry(bad, i);
            } catch (const EInvalidGraphic&) {
            }
        }
    }
}

TEST(IconReaderTest, DamagedBytesAreRefusedOrRead) {
    std::mt19937 random(4321);
    for (const char* name : {"icotool-depths.ico", "im-sizes.ico"}) {
        const TByteVector file = Icon(name);
        // The directory, then the first entries' headers, colour tables and masks.
        const std::size_t limit = std::min<std::size_t>(file.size(), 700);
        for (int round = 0; round < 500; ++round) {
            TByteVector bad = file;
            const int changes = 1 + static_cast<int>(random() % 3);
            for (int i = 0; i < changes; ++i) bad[random() % limit] = static_cast<std::uint8_t>(random());
            for (std::size_t entry = 0; entry < 3; ++entry) {
                try {
                    ReadIconEntry(bad, entry);
                } catch (const EInvalidGraphic&) {
                }
            }
        }
    }
}

// --- the program's icon encoding --------------------------------------------------

// 100 x 80: stripes whose first colour is also the top-left pixel's.
QImage Picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    const QRgb colours[4] = {qRgb(10, 200, 30), qRgb(250, 5, 5), qRgb(0, 0, 0), qRgb(40, 80, 160)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) image.setPixel(x, y, colours[(x / 3 + y / 5 + x * y) % 4]);
    }
    return image;
}

std::uint32_t U32At(const TByteVector& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(IconWriterTest, TopLeftTileTransparentWhereItHasTheTopLeftColour) {
    const QImage picture = Picture(100, 80);
    const TByteVector file = WriteIcon(picture);
    const QImage icon = ReadIcon(file);
    ASSERT_EQ(icon.size(), QSize(SystemIconSize, SystemIconSize));
    const QRgb key = picture.pixel(0, 0);
    int transparent = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (picture.pixel(x, y) == key) {
                ++transparent;
                EXPECT_EQ(icon.pixel(x, y), 0u) << x << "," << y;
            } else {
                EXPECT_EQ(icon.pixel(x, y), picture.pixel(x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_GT(transparent, 100);
    EXPECT_LT(transparent, 900);
}

TEST(IconWriterTest, OneEntryOf32BitsWithAnAndMask) {
    const QImage picture = Picture(100, 80);
    const TByteVector file = WriteIcon(picture);
    ASSERT_EQ(ReadIconDirectory(file), (std::vector<TIconEntry>{{32, 32, 32, false}}));
    ASSERT_EQ(file.size(), 6u + 16 + 40 + 32 * 32 * 4 + 32 * 4);
    EXPECT_EQ(U32At(file, 6 + 8), file.size() - 22);  // bytes in the entry
    EXPECT_EQ(U32At(file, 22 + 8), 64u);              // the DIB's doubled height
    EXPECT_EQ(U32At(file, 22 + 16), 0u);              // BI_RGB
    // The AND mask is set exactly where the colour is the top-left one, and the XOR pixel there is 0.
    const std::size_t xorAt = 22 + 40;
    const std::size_t andAt = xorAt + 32 * 32 * 4;
    const QRgb key = picture.pixel(0, 0);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const std::size_t row = static_cast<std::size_t>(31 - y);
            const bool masked = (file[andAt + row * 4 + x / 8] >> (7 - x % 8)) & 1;
            EXPECT_EQ(masked, picture.pixel(x, y) == key) << x << "," << y;
            if (masked) {
                EXPECT_EQ(U32At(file, xorAt + (row * 32 + x) * 4), 0u);
            }
        }
    }
}

TEST(IconWriterTest, SmallPicturesAreTransparentBeyondTheirEdges) {
    const QImage picture = Picture(20, 10);
    const QImage icon = ReadIcon(WriteIcon(picture));
    ASSERT_EQ(icon.size(), QSize(32, 32));
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const bool inside = x < 20 && y < 10 && picture.pixel(x, y) != picture.pixel(0, 0);
            EXPECT_EQ(icon.pixel(x, y), inside ? picture.pixel(x, y) : 0u) << x << "," << y;
        }
    }
    const QImage empty = ReadIcon(WriteIcon(QImage()));
    ASSERT_EQ(empty.size(), QSize(32, 32));
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) ASSERT_EQ(empty.pixel(x, y), 0u);
    }
}

TEST(IconWriterTest, KeepsPartialAlphaOfThePicture) {
    QImage picture(40, 40, QImage::Format_ARGB32);
    picture.fill(qRgba(0, 0, 255, 255));
    picture.setPixel(5, 6, qRgba(200, 100, 50, 128));
    picture.setPixel(7, 6, qRgba(200, 100, 50, 0));
    const QImage icon = ReadIcon(WriteIcon(picture));
    EXPECT_EQ(icon.pixel(5, 6), qRgba(200, 100, 50, 128));
    EXPECT_EQ(qAlpha(icon.pixel(7, 6)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
}

// ImageMagick and Pillow see our icon with the same colours and transparency.
TEST(IconWriterTest, OtherProgramsReadTheTransparency) {
    const QImage picture = Picture(100, 80);
    pixhold::test::TempDir dir;
    const auto path = dir.path() / "written.ico";
    test::WriteFile(path, WriteIcon(picture));
    const QImage ours = ReadIcon(test::ReadFile(path));
    bool any = false;
    for (auto [tool, rgba] : {std::pair{"ImageMagick", test::ImageMagickRgba(path)},
                              std::pair{"Pillow", test::PillowRgba(path)}}) {
        if (!rgba) continue;
        any = true;
        ASSERT_EQ(rgba->size(), 4u * 32 * 32) << tool;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QRgb theirs = test::RgbaAt(*rgba, 32, x, y);
                const QRgb want = ours.pixel(x, y);
                if (qAlpha(want) == 0) {
                    ASSERT_EQ(qAlpha(theirs), 0) << tool << " at " << x << "," << y;
                } else {
                    ASSERT_EQ(theirs, want) << tool << " at " << x << "," << y;
                }
            }
        }
    }
    if (!any) GTEST_SKIP() << "neither ImageMagick nor Pillow is installed";
}

}  // namespace
}  // namespace pixhold::imaging
