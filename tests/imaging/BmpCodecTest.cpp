// The BMP/DIB reader and writer: files made by other programs, hand-made RLE
// streams, damaged files, and round trips checked by other programs.

#include "BmpCodec.h"

#include "DibTestSupport.h"
#include "GraphicError.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace pixhold::imaging {
namespace {

using test::FixturePath;
using test::ReadFile;

TBitmap ReadFixture(const std::string& name) {
    return ReadBmp(ReadFile(FixturePath("bmp", name)));
}

bool Near(QRgb a, QRgb b, int tolerance, int alphaTolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance && std::abs(qAlpha(a) - qAlpha(b)) <= alphaTolerance;
}

std::string Hex(QRgb c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%08X", static_cast<unsigned>(c));
    return text;
}

// --- files made by other programs ---------------------------------------------

enum class Pattern { Mono, Colour8, True, Alpha };

QRgb Expected(Pattern p, int x, int y) {
    switch (p) {
    case Pattern::Mono:
        return test::MonoAt(x, y);
    case Pattern::Colour8:
        return test::Colour8At(x, y);
    case Pattern::True:
        return test::TrueAt(x, y);
    case Pattern::Alpha:
        return test::AlphaAt(x, y);
    }
    return 0;
}

struct FixtureCase {
    const char* Name;
    int BitCount;
    Pattern Drawn;
    bool HasAlpha = false;
    int Tolerance = 0;  // per colour channel, for 16-bit pixels
    int AlphaTolerance = 0;
};

std::ostream& operator<<(std::ostream& os, const FixtureCase& c) {
    return os << c.Name;
}

class BmpFixtureTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(BmpFixtureTest, ReadsEveryPixel) {
    const FixtureCase& c = GetParam();
    const TBitmap b = ReadFixture(c.Name);
    ASSERT_EQ(b.Width, 13);
    ASSERT_EQ(b.Height, 7);
    EXPECT_EQ(b.BitCount, c.BitCount);
    EXPECT_EQ(b.HasAlpha, c.HasAlpha);
    const QImage shown = b.ToImage();
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 13; ++x) {
            QRgb want = Expected(c.Drawn, x, y);
            if (!c.HasAlpha) want |= 0xFF000000u;
            ASSERT_PRED4(Near, b.Pixel(x, y), want, c.Tolerance, c.AlphaTolerance)
                << "at " << x << "," << y << ": " << Hex(b.Pixel(x, y)) << " for " << Hex(want);
            ASSERT_EQ(shown.pixel(x, y), b.Pixel(x, y)) << "drawn at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    OtherPrograms, BmpFixtureTest,
    ::testing::Values(
        FixtureCase{"ppm-1bpp.bmp", 1, Pattern::Mono}, FixtureCase{"pil-1bpp.bmp", 1, Pattern::Mono},
        FixtureCase{"ppm-4bpp.bmp", 4, Pattern::Colour8}, FixtureCase{"im-4bpp.bmp", 4, Pattern::Colour8},
        FixtureCase{"ppm-8bpp.bmp", 8, Pattern::Colour8}, FixtureCase{"pil-8bpp.bmp", 8, Pattern::Colour8},
        FixtureCase{"im-rle8.bmp", 8, Pattern::Colour8}, FixtureCase{"ppm-24bpp.bmp", 24, Pattern::True},
        FixtureCase{"im-24bpp.bmp", 24, Pattern::True}, FixtureCase{"pil-24bpp.bmp", 24, Pattern::True},
        FixtureCase{"top-down-24bpp.bmp", 24, Pattern::True},
        // OS/2 1.x core header (RGBTRIPLE colour table) and OS/2 2.x headers
        FixtureCase{"ppm-os2-4bpp.bmp", 4, Pattern::Colour8},
        FixtureCase{"im-os2-4bpp.bmp", 4, Pattern::Colour8},
        FixtureCase{"ppm-os2-24bpp.bmp", 24, Pattern::True},
        FixtureCase{"os2v2-64-4bpp.bmp", 4, Pattern::Colour8},
        FixtureCase{"os2v2-16-24bpp.bmp", 24, Pattern::True},
        // 16 bits: 5-5-5, 5-6-5 in V5, V2 (52 bytes) and after a 40-byte header
        FixtureCase{"im-rgb555.bmp", 16, Pattern::True, false, 8},
        FixtureCase{"im-rgb565.bmp", 16, Pattern::True, false, 8},
        FixtureCase{"v2-rgb565.bmp", 16, Pattern::True, false, 8},
        FixtureCase{"bitfields-rgb565.bmp", 16, Pattern::True, false, 8},
        // ImageMagick truncates to 4 bits per channel
        FixtureCase{"im-argb4444.bmp", 16, Pattern::Alpha, true, 17, 17},
        // 32 bits with an alpha mask: V5, V4, V3 (56 bytes), BI_ALPHABITFIELDS
        FixtureCase{"im-argb8888.bmp", 32, Pattern::Alpha, true},
        FixtureCase{"v4-argb8888.bmp", 32, Pattern::Alpha, true},
        FixtureCase{"v3-argb8888.bmp", 32, Pattern::Alpha, true},
        FixtureCase{"alphabitfields-argb8888.bmp", 32, Pattern::Alpha, true},
        // plain BI_RGB 32 bits: the fourth byte is not alpha
        FixtureCase{"pil-32bpp-rgba.bmp", 32, Pattern::True}),
    [](const auto& tp) { return test::TestName(tp.param.Name); });

TEST(BmpReaderTest, KeepsMasksThatAreNotTheDefault) {
    const TBitmap r565 = ReadFixture("im-rgb565.bmp");
    EXPECT_EQ(r565.RedMask, 0xF800u);
    EXPECT_EQ(r565.GreenMask, 0x07E0u);
    EXPECT_EQ(r565.BlueMask, 0x001Fu);
    EXPECT_EQ(r565.AlphaMask, 0u);
    const TBitmap a4444 = ReadFixture("im-argb4444.bmp");
    EXPECT_EQ(a4444.AlphaMask, 0xF000u);
    // 5-5-5 and 8-8-8-8 masks are the default layout and come back as none.
    for (const char* name : {"im-rgb555.bmp", "im-argb8888.bmp", "v3-argb8888.bmp"}) {
        const TBitmap b = ReadFixture(name);
        EXPECT_EQ(b.RedMask | b.GreenMask | b.BlueMask | b.AlphaMask, 0u) << name;
    }
}

TEST(BmpReaderTest, ColourTableLengths) {
    // biClrUsed 0 means 2^bits; a shorter table is kept as it is.
    EXPECT_EQ(ReadFixture("ppm-8bpp.bmp").Palette.size(), 256u);
    EXPECT_EQ(ReadFixture("pil-1bpp.bmp").Palette.size(), 2u);
    EXPECT_EQ(ReadFixture("im-4bpp.bmp").Palette.size(), 16u);
    EXPECT_EQ(ReadFixture("ppm-os2-4bpp.bmp").Palette.size(), 16u);
    EXPECT_TRUE(ReadFixture("ppm-24bpp.bmp").Palette.empty());
}

TEST(BmpReaderTest, IndicesBeyondTheColourTableAreBlack) {
    const TBitmap b = ReadFixture("palette-index-beyond-table.bmp");
    ASSERT_EQ(b.Palette.size(), 4u);
    int beyond = 0;
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 13; ++x) {
            const int index = b.Row(y)[x];
            beyond += index >= 4;
            EXPECT_EQ(b.Pixel(x, y), index < 4 ? test::Colour8At(x, y) : 0xFF000000u) << x << "," << y;
        }
    }
    EXPECT_GT(beyond, 0);
}

// --- hand-made DIBs -------------------------------------------------------------

void Put32(TByteVector& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A ".bmp" file with a 40-byte header, a grey colour table of `colours`
// entries (entry i = i, i, i) and `pixels` as the pixel array.
TByteVector MakeBmp(int width, int height, int bits, std::uint32_t compression, const TByteVector& pixels,
                    std::uint32_t colours = 16, std::uint32_t clrUsed = 0) {
    TByteVector out{'B', 'M'};
    const std::uint32_t offset = 14 + 40 + 4 * colours;
    Put32(out, offset + static_cast<std::uint32_t>(pixels.size()));
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    out.push_back(1), out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(bits)), out.push_back(0);
    Put32(out, compression);
    Put32(out, static_cast<std::uint32_t>(pixels.size()));
    Put32(out, 2835), Put32(out, 2835);
    Put32(out, clrUsed), Put32(out, 0);
    for (std::uint32_t i = 0; i < colours; ++i) {
        const auto g = static_cast<std::uint8_t>(i);
        out.insert(out.end(), {g, g, g, 0});
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// The colour-table indices of a bitmap, one string of hex digits a row, bottom row first.
std::vector<std::string> IndexRows(const TBitmap& b) {
    std::vector<std::string> rows;
    for (int y = b.Height - 1; y >= 0; --y) {
        std::string row;
        const std::uint8_t* p = b.Row(y);
        for (int x = 0; x < b.Width; ++x) {
            const unsigned v = b.BitCount == 8 ? p[x] : (x & 1) ? (p[x >> 1] & 0x0Fu) : (p[x >> 1] >> 4u);
            row += "0123456789ABCDEF"[v & 0x0F];
        }
        rows.push_back(row);
    }
    return rows;
}

struct RleCase {
    const char* Name;
    int Width;
    int Height;
    int Bits;  // 8: BI_RLE8, 4: BI_RLE4
    TByteVector Data;
    std::vector<std::string> Rows;  // bottom row first; empty: the stream is refused
};

std::ostream& operator<<(std::ostream& os, const RleCase& c) {
    return os << c.Name;
}

class RleTest : public ::testing::TestWithParam<RleCase> {};

TEST_P(RleTest, Decodes) {
    const RleCase& c = GetParam();
    const TByteVector file = MakeBmp(c.Width, c.Height, c.Bits, c.Bits == 8 ? 1 : 2, c.Data);
    if (c.Rows.empty()) {
        EXPECT_THROW(ReadBmp(file), EInvalidGraphic);
        return;
    }
    const TBitmap b = ReadBmp(file);
    EXPECT_EQ(b.BitCount, c.Bits);
    EXPECT_EQ(IndexRows(b), c.Rows);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, RleTest,
    ::testing::Values(
        RleCase{"Rle8Runs", 5, 2, 8, {3, 1, 2, 2, 0, 0, 5, 9, 0, 1}, {"11122", "99999"}},
        // delta (+1, +1) after two pixels: the skipped pixels are index 0
        RleCase{"Rle8Delta", 4, 3, 8, {2, 1, 0, 2, 1, 1, 1, 3, 0, 1}, {"1100", "0003", "0000"}},
        // absolute run of 3 (odd) is followed by one padding byte
        RleCase{"Rle8AbsoluteOdd", 5, 1, 8, {0, 3, 7, 8, 9, 0, 2, 4, 0, 1}, {"78944"}},
        RleCase{"Rle8AbsoluteEven", 6, 1, 8, {0, 4, 1, 2, 3, 4, 2, 5, 0, 1}, {"123455"}},
        // end of line before the row is full, end of bitmap before the last row
        RleCase{"Rle8EndOfLineEarly", 4, 3, 8, {1, 5, 0, 0, 4, 6, 0, 1}, {"5000", "6666", "0000"}},
        // a run longer than the row is cut at the row's end, not carried on
        RleCase{"Rle8RunPastRow", 3, 2, 8, {7, 4, 0, 0, 1, 2, 0, 1}, {"444", "200"}},
        RleCase{"Rle8AbsolutePastRow", 3, 1, 8, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}, {"123"}},
        // deltas and rows beyond the picture go nowhere
        RleCase{"Rle8DeltaPastPicture", 2, 2, 8, {0, 2, 255, 255, 3, 3, 0, 1}, {"00", "00"}},
        RleCase{"Rle8RowsPastPicture", 2, 1, 8, {2, 1, 0, 0, 2, 2, 0, 0, 2, 3}, {"11"}},
        // a full last row needs no end mark
        RleCase{"Rle8NoEndMark", 2, 1, 8, {2, 7}, {"77"}},
        RleCase{"Rle4Runs", 7, 1, 4, {5, 0x12, 2, 0xAB, 0, 1}, {"12121AB"}},
        // 5 pixels take 3 bytes, padded to 4
        RleCase{"Rle4AbsoluteOdd", 7, 1, 4, {0, 5, 0x12, 0x34, 0x50, 0, 2, 0xAB, 0, 1}, {"12345AB"}},
        RleCase{"Rle4AbsoluteThree", 4, 1, 4, {0, 3, 0x12, 0x30, 1, 0xC0, 0, 1}, {"123C"}},
        RleCase{"Rle4DeltaAndOddWidth", 3, 2, 4, {1, 0x50, 0, 2, 1, 1, 1, 0x60, 0, 1}, {"500", "006"}},
        // streams cut short are refused
        RleCase{"TruncatedBeforeEnd", 4, 2, 8, {1, 5}, {}},
        RleCase{"TruncatedInAbsoluteRun", 4, 1, 8, {0, 4, 1, 2}, {}},
        RleCase{"TruncatedInDelta", 4, 2, 8, {0, 2, 1}, {}}, RleCase{"Empty", 4, 2, 8, {}, {}}),
    [](const auto& tp) { return std::string(tp.param.Name); });

TEST(BmpReaderTest, RleRunsPastTheRowFromFixture) {
    const TBitmap b = ReadFixture("rle-run-past-row.bmp");
    EXPECT_EQ(IndexRows(b), (std::vector<std::string>{"1111111111111", "2222222222345"}));
}

TEST(BmpReaderTest, RleDepthMustMatchCompression) {
    EXPECT_THROW(ReadBmp(MakeBmp(2, 1, 4, 1, {2, 1, 0, 1})), EInvalidGraphic);
    EXPECT_THROW(ReadBmp(MakeBmp(2, 1, 8, 2, {2, 1, 0, 1})), EInvalidGraphic);
}

TEST(BmpReaderTest, ClrUsedBeyondTheDepthIsClamped) {
    // 4 bits with biClrUsed 300: 16 entries are read, the pixels follow them.
    const TBitmap b = ReadBmp(MakeBmp(2, 1, 4, 0, {0x1F, 0, 0, 0}, 16, 300));
    EXPECT_EQ(b.Palette.size(), 16u);
    EXPECT_EQ(b.Pixel(0, 0), qRgb(1, 1, 1));
    EXPECT_EQ(b.Pixel(1, 0), qRgb(15, 15, 15));
}

// --- damaged files ----------------------------------------------------------------

struct DamagedCase {
    const char* Name;
    const char* Message;  // part of the error's text
};

std::ostream& operator<<(std::ostream& os, const DamagedCase& c) {
    return os << c.Name;
}

class DamagedBmpTest : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedBmpTest, GivesAClearError) {
    try {
        ReadFixture(GetParam().Name);
        FAIL() << "read without error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().Message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedBmpTest,
    ::testing::Values(DamagedCase{"truncated-in-file-header.bmp", "truncated in its file header"},
                      DamagedCase{"truncated-in-header.bmp", "truncated in its information header"},
                      DamagedCase{"offset-beyond-file.bmp", "beyond the end of the file"},
                      DamagedCase{"truncated-pixel-data.bmp", "pixel data is truncated"},
                      DamagedCase{"unknown-header-size.bmp", "unknown size"},
                      DamagedCase{"huge-dimensions.bmp", "too large"},
                      DamagedCase{"jpeg-compressed.bmp", "JPEG-compressed bitmaps are not supported"},
                      DamagedCase{"png-compressed.bmp", "PNG-compressed bitmaps are not supported"},
                      DamagedCase{"rle-top-down.bmp", "top-down"}),
    [](const auto& tp) { return test::TestName(tp.param.Name); });

TEST(BmpReaderTest, RefusesWhatIsNoBitmap) {
    const TByteVector png = ReadFile(FixturePath("ico", "icotool-depths.ico"));
    EXPECT_THROW(ReadBmp(png), EInvalidGraphic);
    EXPECT_THROW(ReadBmp(TByteVector{}), EInvalidGraphic);
    EXPECT_THROW(ReadDib(TByteVector{40, 0}), EInvalidGraphic);
    // zero and negative widths, a zero height, an unknown depth
    TByteVector file = ReadFile(FixturePath("bmp", "ppm-24bpp.bmp"));
    for (auto [at, value] : {std::pair<int, std::uint32_t>{18, 0}, {18, 0xFFFFFFF0u}, {22, 0}, {28, 2}}) {
        TByteVector bad = file;
        for (int i = 0; i < 4; ++i)
            bad[static_cast<std::size_t>(at + i)] = static_cast<std::uint8_t>(value >> (8 * i));
        if (at == 28) bad[30] = 0, bad[31] = 0;
        EXPECT_THROW(ReadBmp(bad), EInvalidGraphic) << "field at " << at;
    }
}

TEST(BmpReaderTest, EveryCutOfAFileIsRefusedOrRead) {
    // No prefix of a valid file may read outside it (the sanitizers watch).
    for (const char* name : {"im-rle8.bmp", "im-argb8888.bmp", "ppm-os2-4bpp.bmp", "bitfields-rgb565.bmp"}) {
        const TByteVector file = ReadFile(FixturePath("bmp", name));
        for (std::size_t n = 0; n < file.size(); ++n) {
            try {
                ReadBmp(TBytes(file).first(n));
            } catch (const EInvalidGraphic&) {
            }
        }
    }
}

TEST(BmpReaderTest, DamagedBytesAreRefusedOrRead) {
    // Random changes, most of them in the headers; the sanitizers watch for the rest.
    std::mt19937 random(1234);
    for (const char* name : {"im-rle8.bmp", "v4-argb8888.bmp", "ppm-os2-4bpp.bmp", "bitfields-rgb565.bmp",
                             "pil-1bpp.bmp"}) {
        const TByteVector file = ReadFile(FixturePath("bmp", name));
        for (int round = 0; round < 400; ++round) {
            TByteVector bad = file;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < changes; ++i) {
                const std::size_t limit = random() % 4 == 0 ? bad.size() : std::min<std::size_t>(bad.size(), 70);
                bad[random() % limit] = static_cast<std::uint8_t>(random());
            }
            try {
                const TBitmap b = ReadBmp(bad);
                if (b.Width * b.Height <= 4096) (void)b.ToImage();
            } catch (const EInvalidGraphic&) {
            }
        }
    }
}

TEST(BmpReaderTest, WidestRowsAreCountedWithoutOverflow) {
    // 200 000 000 x 1 at 32 bits: 800 MB a row, claimed by a 60-byte file.
    TByteVector file = MakeBmp(200000000, 1, 32, 0, {1, 2, 3, 4, 5, 6}, 0);
    try {
        ReadBmp(file);
        FAIL() << "read without error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find("of 800000000 bytes"), std::string::npos) << e.what();
    }
}

// --- the writer -------------------------------------------------------------------

// A bitmap of every depth, its bits a pattern that uses every pixel value bit.
TBitmap Sample(int bits, int width = 13, int height = 7) {
    TBitmap b(width, height, bits);
    for (std::size_t i = 0; i < b.Bits.size(); ++i) b.Bits[i] = static_cast<std::uint8_t>(i * 37 + 11);
    // Row padding stays zero, as our own writer and every reader leave it.
    const std::size_t used = (static_cast<std::size_t>(width) * bits + 7) / 8;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.Row(y);
        for (std::size_t i = used; i < static_cast<std::size_t>(b.Stride()); ++i) row[i] = 0;
    }
    for (std::size_t i = 0; i < b.Palette.size(); ++i) {
        b.Palette[i] = TRgbQuad{static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                                static_cast<std::uint8_t>(i * 13), 0};
    }
    return b;
}

struct WriteCase {
    const char* Name;
    TBitmap Bitmap;
    std::uint32_t HeaderSize;
    std::uint32_t Compression;
};

std::ostream& operator<<(std::ostream& os, const WriteCase& c) {
    return os << c.Name;
}

std::vector<WriteCase> WriteCases() {
    std::vector<WriteCase> cases;
    cases.push_back({"Mono", Sample(1), 40, 0});
    cases.push_back({"Colour16", Sample(4), 40, 0});
    TBitmap shortTable = Sample(4);
    shortTable.Palette.resize(5);
    for (std::uint8_t& byte : shortTable.Bits)
        byte = static_cast<std::uint8_t>(((byte >> 4) % 5) << 4 | (byte & 15) % 5);
    cases.push_back({"Colour16ShortTable", shortTable, 40, 0});
    cases.push_back({"Colour256", Sample(8), 40, 0});
    cases.push_back({"Rgb555", Sample(16), 40, 0});
    TBitmap r565 = Sample(16);
    r565.RedMask = 0xF800, r565.GreenMask = 0x07E0, r565.BlueMask = 0x001F;
    cases.push_back({"Rgb565", r565, 40, 3});
    TBitmap a1555 = Sample(16);
    a1555.RedMask = 0x7C00, a1555.GreenMask = 0x03E0, a1555.BlueMask = 0x001F, a1555.AlphaMask = 0x8000;
    a1555.HasAlpha = true;
    cases.push_back({"Argb1555", a1555, 124, 3});
    cases.push_back({"Rgb24", Sample(24), 40, 0});
    cases.push_back({"Rgb32", Sample(32), 40, 0});
    TBitmap alpha = Sample(32);
    alpha.HasAlpha = true;
    cases.push_back({"Argb32", alpha, 124, 3});
    TBitmap rgbx = Sample(32);
    rgbx.RedMask = 0xFF000000u, rgbx.GreenMask = 0x00FF0000, rgbx.BlueMask = 0x0000FF00;
    cases.push_back({"Rgbx32", rgbx, 40, 3});
    return cases;
}

std::uint32_t U32At(const TByteVector& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

class BmpWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(BmpWriteTest, RoundTripKeepsDepthTableMasksAndBits) {
    const TBitmap& b = GetParam().Bitmap;
    const TByteVector file = WriteBmp(b);
    EXPECT_EQ(ReadBmp(file), b);
    EXPECT_EQ(ReadDib(WriteDib(b)), b);
    // The header as documented: sizes filled, 96 DPI, bottom-up.
    EXPECT_EQ(U32At(file, 2), file.size());
    EXPECT_EQ(U32At(file, 10), file.size() - b.Bits.size());
    EXPECT_EQ(U32At(file, 14), GetParam().HeaderSize);
    EXPECT_EQ(static_cast<std::int32_t>(U32At(file, 22)), b.Height);
    EXPECT_EQ(U32At(file, 30), GetParam().Compression);
    EXPECT_EQ(U32At(file, 34), b.Bits.size());
    EXPECT_EQ(U32At(file, 38), 3780u);
    EXPECT_EQ(U32At(file, 42), 3780u);
}

TEST_P(BmpWriteTest, MetafileSplitReadsTheSame) {
    const TBitmap& b = GetParam().Bitmap;
    const TByteVector dib = WriteDib(b);
    const std::size_t header = dib.size() - b.Bits.size();
    EXPECT_EQ(ReadDib(TBytes(dib).first(header), TBytes(dib).subspan(header)), b);
}

// What ImageMagick and Pillow decode from our file is what we show.
TEST_P(BmpWriteTest, OtherProgramsReadTheColours) {
    const TBitmap& b = GetParam().Bitmap;
    pixhold::test::TempDir dir;
    const auto path = dir.path() / "written.bmp";
    test::WriteFile(path, WriteBmp(b));
    const QImage ours = b.ToImage().convertToFormat(QImage::Format_ARGB32);
    bool any = false;
    for (auto [tool, rgba] : {std::pair{"ImageMagick", test::ImageMagickRgba(path)},
                              std::pair{"Pillow", test::PillowRgba(path)}}) {
        if (!rgba) continue;
        any = true;
        ASSERT_EQ(rgba->size(), 4u * b.Width * b.Height) << tool;
        for (int y = 0; y < b.Height; ++y) {
            for (int x = 0; x < b.Width; ++x) {
                const QRgb theirs = test::RgbaAt(*rgba, b.Width, x, y);
                // Pillow reads 16-bit pixels by truncating, not by scaling, and
                // without alpha; ImageMagick 6 scales a 1-bit alpha to 128 and takes
                // the fourth byte of plain 32-bit pixels for alpha, where we and Pillow do not.
                const bool pillow = std::string(tool) == "Pillow";
                const int tolerance = b.BitCount == 16 ? 8 : 0;
                const int alphaTolerance = b.BitCount == 16 && b.HasAlpha ? (pillow ? 255 : 127)
                                           : !b.HasAlpha                  ? 255
                                                                          : 0;
                ASSERT_PRED4(Near, theirs, ours.pixel(x, y), tolerance, alphaTolerance)
                    << tool << " at " << x << "," << y << ": " << Hex(theirs) << " for "
                    << Hex(ours.pixel(x, y));
            }
        }
    }
    if (!any) GTEST_SKIP() << "neither ImageMagick nor Pillow is installed";
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpWriteTest, ::testing::ValuesIn(WriteCases()),
                         [](const auto& tp) { return std::string(tp.param.Name); });

TEST(BmpWriterTest, RefusesAnEmptyBitmap) {
    EXPECT_THROW(WriteBmp(TBitmap()), EInvalidGraphic);
    TBitmap broken(4, 4, 24);
    broken.Bits.resize(3);
    EXPECT_THROW(WriteBmp(broken), EInvalidGraphic);
}

TEST(BmpWriterTest, FixturesSurviveARoundTrip) {
    for (const char* name : {"ppm-os2-4bpp.bmp", "im-rle8.bmp", "top-down-24bpp.bmp", "v4-argb8888.bmp",
                             "bitfields-rgb565.bmp", "pil-1bpp.bmp", "im-argb4444.bmp"}) {
        const TBitmap b = ReadFixture(name);
        EXPECT_EQ(ReadBmp(WriteBmp(b)), b) << name;
    }
}

}  // namespace
}  // namespace pixhold::imaging
