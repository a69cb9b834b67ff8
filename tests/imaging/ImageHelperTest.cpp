// The image helper and the main list's image list.

#include "ImageHelper.h"
#include "ImageList.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace pixhold::imaging {
namespace {

QImage Filled(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

TEST(ImageList, KeepsSquaresOf71PixelsOnWhite) {
    TImageList list;
    list.Add(Filled(71, 71, Qt::red));
    list.Add(Filled(30, 20, Qt::blue));   // smaller: top-left corner, white around
    list.Add(Filled(200, 90, Qt::green)); // larger: cut to the square
    list.Add(QImage());                   // nothing: a white square
    ASSERT_EQ(list.Count(), 4u);
    for (std::size_t i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.Picture(i).size(), QSize(71, 71)) << i;
    }
    EXPECT_EQ(list.Picture(0).pixelColor(70, 70), QColor(Qt::red));
    EXPECT_EQ(list.Picture(1).pixelColor(29, 19), QColor(Qt::blue));
    EXPECT_EQ(list.Picture(1).pixelColor(30, 20), QColor(Qt::white));
    EXPECT_EQ(list.Picture(2).pixelColor(70, 70), QColor(Qt::green));
    EXPECT_EQ(list.Picture(3).pixelColor(35, 35), QColor(Qt::white));
}

TEST(ImageList, DeleteShiftsTheRestAndIgnoresIndexesOutOfRange) {
    TImageList list;
    list.Add(Filled(71, 71, Qt::red));
    list.Add(Filled(71, 71, Qt::blue));
    list.Delete(5);
    EXPECT_EQ(list.Count(), 2u);
    list.Delete(0);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Picture(0).pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_TRUE(list.Picture(1).isNull());
}

TEST(ImageHelper, FillEmptiesEverythingBeforeTheSourceRuns) {
    TPH ph;
    TImageList list;
    ph.ImageNames = {"old.jpg"};
    ph.ThumbBitmaps.push_back(ThumbOfImage(Filled(71, 71, Qt::red)));
    list.Add(ph.ThumbBitmaps.front());
    ph.ViewerIndex = 4;
    ph.TargetTable = "Holiday";

    ph.FillImageList(list);  // no source yet: an empty list
    EXPECT_TRUE(ph.ImageNames.isEmpty());
    EXPECT_TRUE(ph.ThumbBitmaps.empty());
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(ph.ViewerIndex, 0);
    EXPECT_EQ(ph.TargetTable, "Holiday") << "move targets survive a rebuild";

    int seenNames = -1;
    ph.SetFillSource([&seenNames](TPH& helper, TImageList& images) {
        seenNames = static_cast<int>(helper.ImageNames.size());
        helper.ImageNames.push_back("new.jpg");
        helper.ThumbBitmaps.push_back(ThumbOfImage(Filled(71, 71, Qt::blue)));
        images.Add(helper.ThumbBitmaps.back());
    });
    ph.ImageNames = {"stale.jpg"};
    ph.FillImageList(list);
    EXPECT_EQ(seenNames, 0);
    EXPECT_EQ(ph.ImageNames, QStringList{"new.jpg"});
    EXPECT_EQ(list.Count(), 1u);
}

TEST(ImageHelper, ErrorOfTheSourceLeavesWhatWasFilled) {
    TPH ph;
    TImageList list;
    ph.SetFillSource([](TPH& helper, TImageList&) {
        helper.ImageNames.push_back("a.jpg");
        throw std::runtime_error("damaged thumbnail");
    });
    EXPECT_THROW(ph.FillImageList(list), std::runtime_error);
    EXPECT_EQ(ph.ImageNames, QStringList{"a.jpg"});
}

}  // namespace
}  // namespace pixhold::imaging
