// Cropping bitmaps, the crop rectangle, the rounding of MulDiv, and the rubber
// band the mouse drives over the picture.

#include "BitmapPixels.h"

#include "GraphicError.h"
#include "bmpRot.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace pixhold::imaging {
namespace {

using test::FillRandom;
using test::PaddingIsZero;
using test::PixelValue;

// Pixels of the block inside the source are copied; those outside are zero.
void ExpectBlockOf(const TBitmap& source, const QRect& rect, const TBitmap& block) {
    ASSERT_EQ(block.Width, rect.width());
    ASSERT_EQ(block.Height, rect.height());
    ASSERT_EQ(block.Bits.size(),
              static_cast<std::size_t>(TBitmap::RowSize(block.Width, block.BitCount)) * block.Height);
    for (int y = 0; y < block.Height; ++y) {
        for (int x = 0; x < block.Width; ++x) {
            const int sx = rect.left() + x;
            const int sy = rect.top() + y;
            const bool inside = sx >= 0 && sy >= 0 && sx < source.Width && sy < source.Height;
            ASSERT_EQ(PixelValue(block, x, y), inside ? PixelValue(source, sx, sy) : 0u)
                << source.BitCount << " bits, block at " << x << ", " << y;
        }
    }
    EXPECT_TRUE(PaddingIsZero(block));
}

class CropDepthTest : public ::testing::TestWithParam<int> {};

TEST_P(CropDepthTest, CopiesTheBlock) {
    TBitmap source(23, 11, GetParam());
    FillRandom(source, 9);
    // Odd offsets and widths put sub-byte pixels at every position in a byte.
    for (const QRect& r : {QRect(0, 0, 23, 11), QRect(3, 2, 7, 5), QRect(1, 0, 1, 11), QRect(22, 10, 1, 1),
                           QRect(5, 3, 13, 1)}) {
        ExpectBlockOf(source, r, CropBitmap(source, r));
    }
}

TEST_P(CropDepthTest, BlockPartlyOutsideGetsZeroBits) {
    TBitmap source(9, 7, GetParam());
    FillRandom(source, 4);
    for (const QRect& r : {QRect(-3, -2, 6, 5), QRect(6, 4, 10, 10), QRect(-1, -1, 11, 9), QRect(20, 20, 3, 3),
                           QRect(-5, 2, 3, 2)}) {
        ExpectBlockOf(source, r, CropBitmap(source, r));
    }
}

TEST_P(CropDepthTest, KeepsColourTableAndMasks) {
    TBitmap source(4, 4, GetParam());
    for (std::size_t i = 0; i < source.Palette.size(); ++i) source.Palette[i].Red = static_cast<std::uint8_t>(i);
    source.RedMask = GetParam() == 16 ? 0xF800 : 0;
    source.GreenMask = GetParam() == 16 ? 0x07E0 : 0;
    source.BlueMask = GetParam() == 16 ? 0x001F : 0;
    source.HasAlpha = GetParam() == 32;
    const TBitmap block = CropBitmap(source, QRect(1, 1, 2, 2));
    EXPECT_EQ(block.BitCount, source.BitCount);
    EXPECT_EQ(block.Palette, source.Palette);
    EXPECT_EQ(block.RedMask, source.RedMask);
    EXPECT_EQ(block.GreenMask, source.GreenMask);
    EXPECT_EQ(block.BlueMask, source.BlueMask);
    EXPECT_EQ(block.HasAlpha, source.HasAlpha);
}

INSTANTIATE_TEST_SUITE_P(Depths, CropDepthTest, ::testing::Values(1, 4, 8, 16, 24, 32),
                         [](const ::testing::TestParamInfo<int>& depth) { return std::to_string(depth.param) + "Bits"; });

TEST(CropBitmapTest, ALineGivesAnEmptyBitmap) {
    TBitmap source(10, 10, 24);
    const TBitmap line = CropBitmap(source, QRect(2, 2, 0, 5));
    EXPECT_TRUE(line.Empty());
    EXPECT_EQ(line.Width, 0);
    EXPECT_EQ(line.Height, 5);
    EXPECT_TRUE(line.Bits.empty());
    EXPECT_TRUE(CropBitmap(source, QRect(2, 2, 5, 0)).Empty());
}

TEST(CropBitmapTest, HugeBlockIsRefusedBeforeAllocating) {
    TBitmap source(10, 10, 24);
    EXPECT_THROW(CropBitmap(source, QRect(0, 0, 100000, 100000)), EInvalidGraphic);
}

TEST(CropRectTest, SpansTheTwoPointsEitherWay) {
    EXPECT_EQ(CropRect(QPoint(10, 20), QPoint(40, 60)), QRect(10, 20, 30, 40));
    EXPECT_EQ(CropRect(QPoint(40, 60), QPoint(10, 20)), QRect(10, 20, 30, 40));
    EXPECT_EQ(CropRect(QPoint(40, 20), QPoint(10, 60)), QRect(10, 20, 30, 40));
    EXPECT_EQ(CropRect(QPoint(5, 5), QPoint(5, 9)).width(), 0);
    EXPECT_EQ(CropRect(QPoint(5, 5), QPoint(5, 9)).height(), 4);
}

struct MulDivCase {
    int Number, Numerator, Denominator, Result;
};

class MulDivTest : public ::testing::TestWithParam<MulDivCase> {};

TEST_P(MulDivTest, RoundsToNearestHalvesAwayFromZero) {
    const MulDivCase& c = GetParam();
    EXPECT_EQ(MulDiv(c.Number, c.Numerator, c.Denominator), c.Result)
        << c.Number << " * " << c.Numerator << " / " << c.Denominator;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MulDivTest,
    ::testing::Values(MulDivCase{50, 200, 100, 100}, MulDivCase{0, 7, 3, 0},
                      // halves go away from zero, whichever operand carries the sign
                      MulDivCase{1, 1, 2, 1}, MulDivCase{3, 1, 2, 2}, MulDivCase{-1, 1, 2, -1},
                      MulDivCase{1, -1, 2, -1}, MulDivCase{1, 1, -2, -1}, MulDivCase{-1, -1, 2, 1},
                      MulDivCase{-1, 1, -2, 1}, MulDivCase{7, 1, -2, -4}, MulDivCase{-5, 3, 2, -8},
                      // below and above a half
                      MulDivCase{4, 1, 3, 1}, MulDivCase{5, 1, 3, 2}, MulDivCase{-4, 1, 3, -1},
                      MulDivCase{-5, 1, 3, -2}, MulDivCase{99, 1, 100, 1}, MulDivCase{49, 1, 100, 0},
                      // the product needs 64 bits
                      MulDivCase{65536, 65536, 65536, 65536}, MulDivCase{INT_MAX, INT_MAX, INT_MAX, INT_MAX},
                      MulDivCase{-INT_MAX, INT_MAX, INT_MAX, -INT_MAX},
                      MulDivCase{-INT_MAX, 1, 1, -INT_MAX},
                      // a zero denominator or a result beyond an int give -1
                      MulDivCase{5, 5, 0, -1}, MulDivCase{0, 0, 0, -1}, MulDivCase{INT_MAX, 2, 1, -1},
                      MulDivCase{INT_MIN, 1, 1, -1}));

TEST(ControlToPictureTest, ScalesOnlyWhenStretching) {
    const QSize picture(200, 160);
    const QSize client(100, 80);
    EXPECT_EQ(ControlToPicture(QPoint(50, 40), true, picture, client), QPoint(100, 80));
    EXPECT_EQ(ControlToPicture(QPoint(50, 40), false, picture, client), QPoint(50, 40));
    // 1 * 3 / 2 = 1.5 rounds up, -1.5 rounds down
    EXPECT_EQ(ControlToPicture(QPoint(1, -1), true, QSize(3, 3), QSize(2, 2)), QPoint(2, -2));
}

// One drag: press, moves through `via`, release at `to`.
TRubberBand Drag(QPoint from, std::initializer_list<QPoint> via, QPoint to, bool stretch = false,
                 QSize picture = QSize(300, 200), QSize client = QSize(300, 200), QPoint origin = QPoint(8, 6)) {
    TRubberBand band;
    band.Press(from, origin, stretch, picture, client);
    for (QPoint p : via) band.Move(p, origin, stretch, picture, client);
    band.Move(to, origin, stretch, picture, client);
    band.Release(to, stretch, picture, client);
    return band;
}

TEST(RubberBandTest, PressStartsAnEmptyBandAtThePoint) {
    TRubberBand band;
    EXPECT_FALSE(band.Visible());
    band.Press(QPoint(30, 40), QPoint(8, 6), false, QSize(300, 200), QSize(300, 200));
    EXPECT_TRUE(band.Dragging());
    EXPECT_FALSE(band.Visible());
    EXPECT_EQ(band.Band(), QRect(QPoint(38, 46), QSize(0, 0)));
    EXPECT_EQ(band.Start(), QPoint(30, 40));
    EXPECT_EQ(band.End(), QPoint(30, 40));
}

TEST(RubberBandTest, DragSpansPressPointAndPointer) {
    const TRubberBand band = Drag(QPoint(30, 40), {QPoint(50, 45)}, QPoint(70, 90));
    EXPECT_FALSE(band.Dragging());
    EXPECT_TRUE(band.Visible());  // the band stays after the release
    EXPECT_EQ(band.Band(), QRect(38, 46, 40, 50));
    EXPECT_EQ(band.CropRectangle(), QRect(30, 40, 40, 50));
}

TEST(RubberBandTest, LowerRightToUpperLeftEqualsUpperLeftToLowerRight) {
    const TRubberBand forward = Drag(QPoint(30, 40), {QPoint(50, 60)}, QPoint(70, 90));
    const TRubberBand backward = Drag(QPoint(70, 90), {QPoint(50, 60)}, QPoint(30, 40));
    EXPECT_EQ(backward.Band(), forward.Band());
    EXPECT_EQ(backward.CropRectangle(), forward.CropRectangle());

    TBitmap picture(120, 100, 24);
    FillRandom(picture, 21);
    EXPECT_EQ(CropBitmap(picture, backward.CropRectangle()), CropBitmap(picture, forward.CropRectangle()));
}

TEST(RubberBandTest, PointerCrossingBackOverThePressPoint) {
    // Up and left of the press point first, then below and right of it: the
    // band follows the pointer, not where it was on the way.
    const TRubberBand band = Drag(QPoint(50, 50), {QPoint(10, 10), QPoint(20, 30)}, QPoint(60, 70));
    EXPECT_EQ(band.Band(), QRect(58, 56, 10, 20));
    EXPECT_EQ(band.CropRectangle(), QRect(50, 50, 10, 20));
}

TEST(RubberBandTest, HalfSizePictureCropsTwiceTheBand) {
    // A 200 x 160 picture shown in a 100 x 80 client.
    const TRubberBand band = Drag(QPoint(10, 20), {}, QPoint(60, 60), true, QSize(200, 160), QSize(100, 80));
    EXPECT_EQ(band.Band().size(), QSize(50, 40));
    EXPECT_EQ(band.CropRectangle(), QRect(20, 40, 100, 80));
}

TEST(RubberBandTest, MovesAndReleasesWithoutAPressAreIgnored) {
    TRubberBand band;
    band.Move(QPoint(10, 10), QPoint(0, 0), false, QSize(10, 10), QSize(10, 10));
    band.Release(QPoint(10, 10), false, QSize(10, 10), QSize(10, 10));
    EXPECT_FALSE(band.Visible());
    EXPECT_EQ(band.End(), QPoint());

    band = Drag(QPoint(1, 1), {}, QPoint(5, 5));
    band.Move(QPoint(9, 9), QPoint(8, 6), false, QSize(300, 200), QSize(300, 200));  // after the release
    EXPECT_EQ(band.End(), QPoint(5, 5));
    EXPECT_EQ(band.Band().size(), QSize(4, 4));
}

TEST(RubberBandTest, HideMakesItZeroByZero) {
    TRubberBand band = Drag(QPoint(1, 1), {}, QPoint(5, 9));
    band.Hide();
    EXPECT_FALSE(band.Visible());
    EXPECT_EQ(band.Band().size(), QSize(0, 0));
    // a line is still shown
    band = Drag(QPoint(1, 1), {}, QPoint(1, 9));
    EXPECT_TRUE(band.Visible());
}

}  // namespace
}  // namespace pixhold::imaging
