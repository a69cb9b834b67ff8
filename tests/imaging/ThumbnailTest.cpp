// Thumbnail geometry, the area-filtered scaling into the square, and the
// main list's image list that keeps thumbnails encoded.

#include "ImageList.h"
#include "Thumbnail.h"

#include <gtest/gtest.h>

namespace pixhold::imaging {
namespace {

TEST(ThumbnailLayout, FitsTheLongerSideAndCentresWithBands) {
    const struct {
        int W, H;
        QRect Target, Band0, Band1;
    } cases[] = {
        // 300 x 100: h = round(23.67) = 24, y = 23.
        {300, 100, QRect(0, 23, 71, 24), QRect(0, 0, 71, 23), QRect(0, 47, 71, 24)},
        // 100 x 300: w = 24, x = 23, bands of 23 and 24.
        {100, 300, QRect(23, 0, 24, 71), QRect(0, 0, 23, 71), QRect(47, 0, 24, 71)},
        // square: no bands.
        {500, 500, QRect(0, 0, 71, 71), QRect(), QRect()},
        {1, 1, QRect(0, 0, 71, 71), QRect(), QRect()},
        // 142 x 71 -> h = 35.5, ties to even: 36; y = 17.
        {142, 71, QRect(0, 17, 71, 36), QRect(0, 0, 71, 17), QRect(0, 53, 71, 18)},
        // 142 x 213 (h / w > 1): w = round(47.33) = 47, x = 12.
        {142, 213, QRect(12, 0, 47, 71), QRect(0, 0, 12, 71), QRect(59, 0, 12, 71)},
        // 71 x 70: h = 70 (at most 70: banded), y = 0, one band of 1 below.
        {71, 70, QRect(0, 0, 71, 70), QRect(0, 0, 71, 0), QRect(0, 70, 71, 1)},
        // Very wide: h rounds to 0, the picture gets no rows.
        {10000, 1, QRect(0, 35, 71, 0), QRect(0, 0, 71, 35), QRect(0, 35, 71, 36)},
    };
    for (const auto& c : cases) {
        const TThumbLayout layout = ThumbnailLayout(c.W, c.H);
        EXPECT_EQ(layout.Target, c.Target) << c.W << " x " << c.H;
        EXPECT_EQ(layout.Bands[0], c.Band0) << c.W << " x " << c.H;
        EXPECT_EQ(layout.Bands[1], c.Band1) << c.W << " x " << c.H;
    }
}

TEST(ThumbnailImage, ShowsThePictureInItsRectangleAndBandsInButtonFace) {
    QImage picture(300, 100, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QImage thumb = MakeThumbnailImage(picture, 300, 100);
    ASSERT_EQ(thumb.size(), QSize(ThumbSize, ThumbSize));
    EXPECT_EQ(thumb.pixel(35, 10), ButtonFaceColour().rgb());
    EXPECT_EQ(thumb.pixel(35, 60), ButtonFaceColour().rgb());
    EXPECT_EQ(thumb.pixel(0, 23), qRgb(255, 0, 0));
    EXPECT_EQ(thumb.pixel(70, 46), qRgb(255, 0, 0));
}

TEST(ThumbnailImage, AveragesFineDetailInsteadOfPickingPixels) {
    // One-pixel stripes shrunk about 28 times: a point sampler would show
    // pure black or white; an area filter shows grey.
    QImage stripes(2000, 2000, QImage::Format_RGB32);
    for (int y = 0; y < stripes.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(stripes.scanLine(y));
        for (int x = 0; x < stripes.width(); ++x) row[x] = (x & 1) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    }
    const QImage thumb = MakeThumbnailImage(stripes, 2000, 2000);
    for (int x = 5; x < 66; x += 7) {
        const int grey = qGray(thumb.pixel(x, 35));
        EXPECT_GT(grey, 100) << x;
        EXPECT_LT(grey, 155) << x;
    }
}

TEST(ImageList, DecodesOnDemandWithinItsCacheAndShowsThePlaceholderForDamage) {
    TImageList list;
    list.SetCacheLimit(2);
    QImage placeholder(ThumbSize, ThumbSize, QImage::Format_RGB32);
    placeholder.fill(Qt::magenta);
    list.SetPlaceholder(placeholder);
    int fetches = 0;
    const TByteVector damaged{0xFF, 0xD8, 0xFF, 0x00, 0x01};
    for (int i = 0; i < 4; ++i) {
        list.Add(ThumbOfFetch([&fetches, damaged] {
            ++fetches;
            return damaged;
        }));
    }
    EXPECT_EQ(list.CachedCount(), 0u) << "nothing is read before it is shown";
    const QImage first = list.Picture(0);
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(first.pixel(35, 35), qRgb(255, 0, 255));
    list.Picture(0);
    EXPECT_EQ(fetches, 1) << "a cached picture is not read again";
    list.Picture(1);
    list.Picture(2);
    EXPECT_EQ(list.CachedCount(), 2u);
    EXPECT_FALSE(list.Cached(0)) << "the least recently shown leaves first";
    list.Delete(2);
    EXPECT_EQ(list.CachedCount(), 1u);
    EXPECT_EQ(list.Count(), 3u);
    list.Clear();
    EXPECT_EQ(list.CachedCount(), 0u);
}

}  // namespace
}  // namespace pixhold::imaging
