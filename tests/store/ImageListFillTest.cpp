// The main list's fill: the records of tblData under its filter, and the
// picture files of a browsed folder with the thumbnail cache.

#include "DataModuleFixture.h"
#include "ImageHelper.h"
#include "ImageList.h"
#include "ImageListFill.h"
#include "JpegCodec.h"
#include "PictureFile.h"
#include "Thumbnail.h"
#include "WorkerPool.h"

#include <QImage>

namespace pixhold::store::test {
namespace {

QImage Flat(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

class ImageListFillTest : public DataModuleFixture {
protected:
    void SetUp() override {
        Start();
        fill = std::make_unique<TImageListFill>(*dm, pool);
        ph.SetFillSource([this](imaging::TPH& helper, imaging::TImageList& images) { fill->Fill(helper, images); });
    }
    void TearDown() override { fill.reset(); }

    void AddRecord(const std::string& name, const std::string& category, const imaging::TByteVector& thumb) {
        engine::TCofferTable& table = dm->tblData;
        table.Append();
        table.FieldByName("FileName").SetAsString(name);
        table.FieldByName("Category").SetAsString(category);
        table.FieldByName("Type").SetAsInteger(0);
        table.CreateBlobStream(table.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)->WriteAll(thumb);
        table.Post();
    }

    void Browse(const fs::path& folder, bool quick = false) {
        config->BrowseMode = true;
        config->QuickBrowse = quick;
        config->LastBrowseDir = folder.string() + "/";
        ph.FillImageList(list);
    }

    QStringList Sorted(QStringList names) {
        names.sort();
        return names;
    }

    imaging::TWorkerPool pool{2};
    std::unique_ptr<TImageListFill> fill;
    imaging::TPH ph;
    imaging::TImageList list;
};

TEST_F(ImageListFillTest, TableModeListsTheFilteredRecordsAndReadsThumbnailsOnlyWhenShown) {
    const imaging::TByteVector red = imaging::EncodeJpeg(Flat(71, 71, qRgb(255, 0, 0)), 50);
    AddRecord("a.jpg", "Sea", red);
    AddRecord("b.jpg", "Hills", imaging::EncodeJpeg(Flat(71, 71, qRgb(0, 0, 255)), 50));
    AddRecord("c.jpg", "Sea", imaging::TByteVector{0xFF, 0xD8, 0xFF, 0x01});  // damaged
    dm->tblData.SetFilter("Category = 'Sea'");
    dm->tblData.SetFiltered(true);

    ph.FillImageList(list);
    ASSERT_EQ(ph.ImageNames, (QStringList{"a.jpg", "c.jpg"}));
    ASSERT_EQ(list.Count(), 2u);
    ASSERT_EQ(ph.ThumbBitmaps.size(), 2u);
    EXPECT_EQ(list.CachedCount(), 0u);

    // The record the table stands on stays where it is while thumbnails are read.
    dm->tblData.Last();
    const QImage first = list.Picture(0);
    EXPECT_EQ(dm->tblData.FieldByName("FileName").AsString(), "c.jpg");
    const QRgb middle = first.pixel(35, 35);
    EXPECT_GT(qRed(middle), 200);
    EXPECT_LT(qBlue(middle), 60);
    // The etched edge is drawn on list pictures.
    EXPECT_NE(first.pixel(0, 0), middle);

    // A thumbnail that cannot be decoded shows the placeholder; nothing is raised.
    QImage placeholder = Flat(71, 71, qRgb(0, 255, 0));
    list.SetPlaceholder(placeholder);
    const QImage damaged = list.Picture(1);
    EXPECT_EQ(damaged.pixel(35, 35), qRgb(0, 255, 0));
}

TEST_F(ImageListFillTest, FolderModeCachesThumbnailsAndTheSecondBrowseOpensNoFile) {
    const fs::path folder = dir / "camera";
    fs::create_directories(folder);
    for (int i = 0; i < 5; ++i) {
        imaging::WritePictureFile((folder / ("p" + std::to_string(i) + ".jpg")).string(),
                                  imaging::EncodeJpeg(Flat(120 + i, 80, qRgb(40 * i, 100, 200)), 90));
    }
    std::ofstream(folder / "notes.txt") << "not a picture";
    fs::create_directories(folder / "sub.jpg");  // a folder is no picture file

    Browse(folder);
    EXPECT_EQ(Sorted(ph.ImageNames), (QStringList{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
    EXPECT_EQ(fill->FilesRead(), 5);
    EXPECT_EQ(list.Count(), 5u);
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_GE(host.ProcessMessagesCount, 5);

    // The second browse takes every thumbnail from the cache.
    const QImage before = list.Picture(2);
    Browse(folder);
    EXPECT_EQ(fill->FilesRead(), 5) << "no picture file is opened again";
    EXPECT_EQ(fill->CacheHits(), 5);
    EXPECT_EQ(ph.ImageNames.size(), 5);
    const QRgb a = before.pixel(35, 35);
    const QRgb b = list.Picture(2).pixel(35, 35);
    EXPECT_LE(std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)), 12);

    // A damaged cache row is made again from its file, silently.
    ASSERT_TRUE(dm->tblThumbs.FindKey({(folder / "p1.jpg").string()}));
    dm->tblThumbs.Edit();
    dm->tblThumbs.CreateBlobStream(dm->tblThumbs.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)
        ->WriteAll(imaging::TByteVector{0xFF, 0xD8, 0xFF, 0x00});
    dm->tblThumbs.Post();
    Browse(folder);
    EXPECT_EQ(ph.ImageNames.size(), 5);
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(fill->FilesRead(), 6) << "only the file of the damaged row is read";
    Browse(folder);
    EXPECT_EQ(fill->FilesRead(), 6) << "the row was rewritten";

    // Quick browsing lists the names only.
    Browse(folder, true);
    EXPECT_EQ(ph.ImageNames.size(), 5);
    EXPECT_TRUE(ph.ThumbBitmaps.empty());
    EXPECT_EQ(list.Count(), 0u);
}

TEST_F(ImageListFillTest, FolderModeAsksAboutEachDamagedFileAndShowsTheRest) {
    const fs::path folder = dir / "mixed";
    fs::create_directories(folder);
    imaging::WritePictureFile((folder / "good.jpg").string(), imaging::EncodeJpeg(Flat(64, 48, qRgb(9, 9, 9)), 90));
    std::ofstream(folder / "empty.jpg").close();
    std::ofstream(folder / "garbage.png") << "this is not a PNG file at all";

    host.YesNoAnswers = {false, true};  // keep the first damaged file, delete the second
    Browse(folder);
    EXPECT_EQ(ph.ImageNames, QStringList{"good.jpg"});
    ASSERT_EQ(host.Boxes.size(), 2u);
    std::vector<std::string> asked;
    for (const auto& box : host.Boxes) {
        EXPECT_TRUE(box.Question);
        EXPECT_EQ(box.Caption, ConfirmCaption);
        EXPECT_TRUE(box.Text.endsWith(" corrupt. Delete?")) << box.Text.toStdString();
        asked.push_back(box.Text.toStdString());
    }
    // The question names the full path after the decoder's text.
    const std::string first = asked[0];
    const bool firstIsEmpty = first.find("empty.jpg") != std::string::npos;
    const fs::path kept = folder / (firstIsEmpty ? "empty.jpg" : "garbage.png");
    const fs::path deleted = folder / (firstIsEmpty ? "garbage.png" : "empty.jpg");
    EXPECT_NE(first.find(" " + kept.string() + " corrupt. Delete?"), std::string::npos) << first;
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(deleted));
    // Damaged files are not cached: the next browse asks again.
    host.Clear();
    host.YesNoAnswers = {false};
    Browse(folder);
    EXPECT_EQ(host.Boxes.size(), 1u);
}

}  // namespace
}  // namespace pixhold::store::test
