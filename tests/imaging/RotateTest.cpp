// Quarter turns of device-independent bitmaps at every depth.

#include "BitmapPixels.h"

#include "GraphicError.h"
#include "bmpRot.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace pixhold::imaging {
namespace {

using test::FillRandom;
using test::PaddingIsZero;
using test::PixelValue;
using test::SetPixelValue;

// Top-based mapping of a clockwise quarter turn: new (x, y) = old (y, H - 1 - x).
void ExpectQuarterTurnOf(const TBitmap& before, const TBitmap& after) {
    ASSERT_EQ(after.Width, before.Height);
    ASSERT_EQ(after.Height, before.Width);
    ASSERT_EQ(after.Bits.size(),
              static_cast<std::size_t>(TBitmap::RowSize(after.Width, after.BitCount)) * after.Height);
    for (int y = 0; y < after.Height; ++y) {
        for (int x = 0; x < after.Width; ++x) {
            ASSERT_EQ(PixelValue(after, x, y), PixelValue(before, y, before.Height - 1 - x))
                << before.BitCount << " bits, " << before.Width << " x " << before.Height << " at " << x
                << ", " << y;
        }
    }
}

class RotateDepthTest : public ::testing::TestWithParam<int> {};

// Top row A B C, bottom row D E F turns into the rows D A / E B / F C.
void ExpectExample(int bits, const unsigned (&letters)[6]) {
    TBitmap b(3, 2, bits);
    for (int i = 0; i < 6; ++i) SetPixelValue(b, i % 3, i / 3, letters[i]);
    RotateBitmap(b);
    ASSERT_EQ(b.Width, 2);
    ASSERT_EQ(b.Height, 3);
    const int expected[3][2] = {{3, 0}, {4, 1}, {5, 2}};
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(PixelValue(b, x, y), letters[expected[y][x]]) << bits << " bits at " << x << ", " << y;
        }
    }
    EXPECT_TRUE(PaddingIsZero(b));
}

TEST_P(RotateDepthTest, ThreeByTwoExample) {
    const int bits = GetParam();
    if (bits == 1) {
        // One bit cannot tell six letters apart: every pattern of them instead.
        for (unsigned pattern = 0; pattern < 64; ++pattern) {
            unsigned letters[6];
            for (int i = 0; i < 6; ++i) letters[i] = (pattern >> i) & 1u;
            ExpectExample(bits, letters);
        }
        return;
    }
    unsigned letters[6];
    for (unsigned i = 0; i < 6; ++i) {
        switch (bits) {
        case 4: letters[i] = 10 + i; break;
        case 8: letters[i] = 200 + i; break;
        case 16: letters[i] = 0x2345u * (i + 1); break;
        case 24: letters[i] = 0x10203u * (i + 1); break;
        default: letters[i] = 0x80000000u | (0x10203u * (i + 1)); break;
        }
    }
    ExpectExample(bits, letters);
}

TEST_P(RotateDepthTest, MatchesTheMappingAcrossBlockEdges) {
    // Larger than one 64-pixel block on both axes, with ragged edges.
    for (const auto& [w, h] : {std::pair{130, 70}, std::pair{65, 129}, std::pair{64, 64}}) {
        TBitmap b(w, h, GetParam());
        FillRandom(b, 7);
        const TBitmap before = b;
        RotateBitmap(b);
        ExpectQuarterTurnOf(before, b);
        EXPECT_TRUE(PaddingIsZero(b));
    }
}

TEST_P(RotateDepthTest, FourTurnsGiveBackTheStartForAwkwardSizes) {
    const int widths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 17, 31, 33};
    const int heights[] = {1, 2, 3, 5, 7, 9, 13, 17};
    unsigned seed = 1;
    for (int w : widths) {
        for (int h : heights) {
            TBitmap b(w, h, GetParam());
            FillRandom(b, ++seed);
            const TBitmap start = b;
            TBitmap once = b;
            RotateBitmap(once);
            ExpectQuarterTurnOf(start, once);
            for (int i = 0; i < 4; ++i) RotateBitmap(b);
            EXPECT_EQ(b, start) << GetParam() << " bits, " << w << " x " << h;
        }
    }
}

TEST_P(RotateDepthTest, LongThinBitmaps) {
    for (const auto& [w, h] : {std::pair{1, 100}, std::pair{100, 1}, std::pair{1, 1}}) {
        TBitmap b(w, h, GetParam());
        FillRandom(b, 3);
        const TBitmap before = b;
        RotateBitmap(b);
        ExpectQuarterTurnOf(before, b);
        EXPECT_TRUE(PaddingIsZero(b));
    }
}

TEST_P(RotateDepthTest, PaddingOfTheSourceDoesNotLeakIntoTheTarget) {
    TBitmap b(5, 9, GetParam());
    FillRandom(b, 11);
    // Every padding bit of the source set.
    const std::size_t stride = static_cast<std::size_t>(b.Stride());
    const int usedBits = b.Width * b.BitCount;
    for (int y = 0; y < b.Height; ++y) {
        std::uint8_t* row = b.Row(y);
        for (std::size_t bit = static_cast<std::size_t>(usedBits); bit < stride * 8; ++bit) {
            row[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
        }
    }
    const TBitmap before = b;
    RotateBitmap(b);
    ExpectQuarterTurnOf(before, b);
    EXPECT_TRUE(PaddingIsZero(b));
}

TEST_P(RotateDepthTest, ColourTableAndMasksSurvive) {
    TBitmap b(6, 3, GetParam());
    FillRandom(b, 5);
    for (std::size_t i = 0; i < b.Palette.size(); ++i) {
        b.Palette[i] = TRgbQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                static_cast<std::uint8_t>(i * 7), 0};
    }
    if (b.Palette.size() > 3) b.Palette.resize(b.Palette.size() - 3);  // a short table stays short
    if (GetParam() == 16) {
        b.RedMask = 0xF800;
        b.GreenMask = 0x07E0;
        b.BlueMask = 0x001F;
    }
    if (GetParam() == 32) {
        b.RedMask = 0x000000FF;
        b.GreenMask = 0x0000FF00;
        b.BlueMask = 0x00FF0000;
        b.AlphaMask = 0xFF000000;
        b.HasAlpha = true;
    }
    const TBitmap before = b;
    RotateBitmap(b);
    EXPECT_EQ(b.Palette, before.Palette);
    EXPECT_EQ(b.RedMask, before.RedMask);
    EXPECT_EQ(b.GreenMask, before.GreenMask);
    EXPECT_EQ(b.BlueMask, before.BlueMask);
    EXPECT_EQ(b.AlphaMask, before.AlphaMask);
    EXPECT_EQ(b.HasAlpha, before.HasAlpha);
    EXPECT_EQ(b.BitCount, before.BitCount);
    // The colours move with their pixels.
    for (int y = 0; y < b.Height; ++y) {
        for (int x = 0; x < b.Width; ++x) EXPECT_EQ(b.Pixel(x, y), before.Pixel(y, before.Height - 1 - x));
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, RotateDepthTest, ::testing::Values(1, 4, 8, 16, 24, 32),
                         [](const ::testing::TestParamInfo<int>& depth) { return std::to_string(depth.param) + "Bits"; });

// Large enough for the pixel array that asks for huge pages.
TEST(RotateBitmapTest, LargeBitmap) {
    TBitmap b(2001, 1500, 24);
    FillRandom(b, 17);
    const TBitmap before = b;
    RotateBitmap(b);
    ASSERT_EQ(b.Width, 1500);
    ASSERT_EQ(b.Height, 2001);
    ASSERT_EQ(b.Bits.size(), static_cast<std::size_t>(TBitmap::RowSize(1500, 24)) * 2001);
    for (int y = 0; y < b.Height; y += 7) {
        for (int x = 0; x < b.Width; x += 5) {
            ASSERT_EQ(PixelValue(b, x, y), PixelValue(before, y, before.Height - 1 - x)) << x << ", " << y;
        }
    }
    EXPECT_TRUE(PaddingIsZero(b));
}

TEST(RotateBitmapTest, EmptyBitmapSwapsItsSize) {
    TBitmap b;
    b.Width = 0;
    b.Height = 5;
    b.BitCount = 8;
    RotateBitmap(b);
    EXPECT_EQ(b.Width, 5);
    EXPECT_EQ(b.Height, 0);
    EXPECT_TRUE(b.Bits.empty());
}

TEST(RotateBitmapTest, InconsistentBitmapsAreRefused) {
    TBitmap shortBits(10, 10, 24);
    shortBits.Bits.resize(shortBits.Bits.size() - 1);
    EXPECT_THROW(RotateBitmap(shortBits), EInvalidGraphic);
    EXPECT_EQ(shortBits.Width, 10);  // left as it was

    TBitmap oddDepth(4, 4, 8);
    oddDepth.BitCount = 2;
    EXPECT_THROW(RotateBitmap(oddDepth), EInvalidGraphic);
}

}  // namespace
}  // namespace pixhold::imaging
