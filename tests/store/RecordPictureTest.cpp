// Pictures written into and read from image records and browsed files.

#include "DataModuleFixture.h"
#include "GraphicError.h"
#include "ImageFns.h"
#include "JpegCodec.h"
#include "Picture.h"
#include "PictureFile.h"
#include "PictureMessages.h"
#include "bmpRot.h"

#include <QPainter>

#include <set>

namespace pixhold::store::test {
namespace {

using imaging::TImageType;
using imaging::TPicture;

// Four coloured quarters, so that a shown picture can be told from another.
QImage Quarters(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, w / 2, h / 2, Qt::red);
    painter.fillRect(w / 2, 0, w - w / 2, h / 2, Qt::green);
    painter.fillRect(0, h / 2, w / 2, h - h / 2, Qt::blue);
    painter.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, Qt::yellow);
    return image;
}

TPicture BitmapPicture(int w, int h) {
    TPicture picture;
    picture.SetBitmap(imaging::TBitmap::FromImage(Quarters(w, h)));
    return picture;
}

// A graphic whose pixels cannot be had: every encoder fails on it.
class TBrokenGraphic final : public imaging::TGraphic {
public:
    imaging::TGraphicKind Kind() const override { return imaging::TGraphicKind::Png; }
    int Width() const override { return 10; }
    int Height() const override { return 10; }
    void Draw(QPainter&, const QRectF&) const override { throw imaging::EInvalidGraphic("cannot draw"); }
    QImage Render() const override { throw imaging::EInvalidGraphic("cannot render"); }
    imaging::TByteVector Save(bool) const override { throw imaging::EInvalidGraphic("cannot save"); }
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TBrokenGraphic>(); }
};

class TQuietMessages final : public imaging::IPictureMessages {
public:
    void ShowMessage(const std::string&) override {}
    void ShowMessageBox(const std::string&, const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
};

class RecordPictureTest : public DataModuleFixture {
protected:
    void SetUp() override {
        Start();
        ASSERT_TRUE(dm->tblData.Active());
        AddPicture(dm->tblData, "first.jpg", "", Picture(64, 3));
        ASSERT_TRUE(dm->tblData.FindKey({"first.jpg"}));
    }

    std::string Field(const char* name) { return dm->tblData.FieldByName(name).AsString(); }
    imaging::TByteVector Blob(engine::TCofferTable& table, const char* name) {
        return table.CreateBlobStream(table.FieldByName(name), engine::TBlobStreamMode::bmRead)->ReadAll();
    }
};

TEST_F(RecordPictureTest, EveryKindIsStoredWithItsCodeAndShownAgain) {
    struct Case {
        const char* name;
        TImageType code;
        imaging::TGraphicKind shownAs;
        int width, height;  // shown again
    };
    using K = imaging::TGraphicKind;
    for (const Case& c : {Case{"a.jpg", TImageType::Jpeg, K::Jpeg, 100, 80}, Case{"a.JPEG", TImageType::Jpeg, K::Jpeg, 100, 80},
                          Case{"a.gif", TImageType::Gif, K::Gif, 100, 80}, Case{"a.png", TImageType::Png, K::Png, 100, 80},
                          Case{"a.bmp", TImageType::Bitmap, K::Bitmap, 100, 80},
                          Case{"a.ico", TImageType::Icon, K::Icon, 32, 32},
                          // A record named ".wmf" holds the enhanced form, which shows as well.
                          Case{"a.wmf", TImageType::Wmf, K::Metafile, 100, 80},
                          Case{"a.emf", TImageType::Emf, K::Metafile, 100, 80}}) {
        SCOPED_TRACE(c.name);
        dm->SavePictureToRecord(BitmapPicture(100, 80), c.name);
        ASSERT_TRUE(dm->tblData.FindKey({c.name}));
        EXPECT_EQ(dm->tblData.FieldByName("Type").AsInteger(), static_cast<int>(c.code));
        const imaging::TByteVector thumb = Blob(dm->tblData, "Thumb");
        EXPECT_EQ(imaging::DecodeJpeg(thumb).size(), QSize(71, 71));

        TPicture shown;
        dm->LoadRecordPicture(shown);
        ASSERT_TRUE(shown.HasGraphic());
        EXPECT_EQ(*shown.Kind(), c.shownAs);
        EXPECT_EQ(QSize(shown.Width(), shown.Height()), QSize(c.width, c.height));
        if (c.code == TImageType::Wmf) {
            const imaging::TByteVector image = Blob(dm->tblData, "Image");
            // An enhanced metafile starts with record type 1 (EMR_HEADER), not the placeable key.
            ASSERT_GE(image.size(), 4u);
            EXPECT_EQ(image[0], 1);
            EXPECT_EQ(image[1], 0);
        }
    }
    EXPECT_TRUE(host.Boxes.empty());
}

TEST_F(RecordPictureTest, FailedEncodingChangesNoRecord) {
    const imaging::TByteVector before = Blob(dm->tblData, "Image");
    TPicture broken;
    broken.SetGraphic(std::make_unique<TBrokenGraphic>());
    for (const char* name : {"new.jpg", "new.gif", "new.bmp"}) {
        EXPECT_THROW(dm->SavePictureToRecord(broken, name), std::exception) << name;
        EXPECT_FALSE(dm->tblData.Editing());
        ASSERT_TRUE(dm->tblData.FindKey({"first.jpg"}));
        EXPECT_EQ(Field("Type"), "0");
        EXPECT_EQ(Blob(dm->tblData, "Image"), before);
        EXPECT_FALSE(dm->tblData.FindKey({name}));
        ASSERT_TRUE(dm->tblData.FindKey({"first.jpg"}));
    }
    EXPECT_EQ(dm->tblData.RecordCount(), 1u);
}

TEST_F(RecordPictureTest, AnEditedGifIsSavedAsTheEditedPictureNeverEmpty) {
    dm->SavePictureToRecord(BitmapPicture(120, 90), "anim.gif");
    ASSERT_TRUE(dm->tblData.FindKey({"anim.gif"}));
    TPicture picture;
    dm->LoadRecordPicture(picture);
    ASSERT_EQ(*picture.Kind(), imaging::TGraphicKind::Gif);

    // Crop the top-left quarter as the viewer does, then save in place.
    TQuietMessages messages;
    imaging::PictureToBitmap(picture, TImageType::Gif, messages);
    picture.SetBitmap(imaging::CropBitmap(picture.Bitmap(), QRect(0, 0, 60, 45)));
    imaging::ConvertPictureToFormat(picture, "anim.gif");
    dm->SavePictureToRecord(picture, "anim.gif");

    ASSERT_TRUE(dm->tblData.FindKey({"anim.gif"}));
    TPicture again;
    dm->LoadRecordPicture(again);
    ASSERT_EQ(*again.Kind(), imaging::TGraphicKind::Gif);
    EXPECT_EQ(QSize(again.Width(), again.Height()), QSize(60, 45));
    const QImage shown = again.Graphic()->Render();
    EXPECT_EQ(QColor(shown.pixel(5, 5)), QColor(Qt::red));
    EXPECT_EQ(QColor(shown.pixel(55, 40)), QColor(Qt::red));
}

TEST_F(RecordPictureTest, EmptyImageFieldShowsAnEmptyPicture) {
    dm->tblData.Edit();
    dm->tblData.CreateBlobStream(dm->tblData.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)->WriteAll({});
    dm->tblData.Post();
    TPicture picture = BitmapPicture(10, 10);
    dm->LoadRecordPicture(picture);
    EXPECT_FALSE(picture.HasGraphic());
}

TEST_F(RecordPictureTest, SavingAFileRefreshesItsCachedThumbnailAndReloadsIt) {
    const std::string path = (dir / "pictures" / "photo.jpg").string();
    TPicture picture = BitmapPicture(100, 80);
    dm->SavePictureToFile(picture, path);
    // The picture now shows what was written: a JPEG.
    EXPECT_EQ(*picture.Kind(), imaging::TGraphicKind::Jpeg);
    EXPECT_EQ(imaging::ReadJpegInfo(imaging::ReadPictureFile(path)).Width, 100);
    ASSERT_TRUE(dm->tblThumbs.FindKey({path}));
    const QImage first = imaging::DecodeJpeg(Blob(dm->tblThumbs, "Thumb"));
    EXPECT_EQ(first.size(), QSize(71, 71));

    // Saved again as a different picture: the same row is rewritten.
    TPicture other;
    other.SetBitmap(imaging::TBitmap::FromImage(Quarters(80, 100).mirrored(true, false)));
    dm->SavePictureToFile(other, path);
    EXPECT_EQ(dm->tblThumbs.RecordCount(), 1u);
    ASSERT_TRUE(dm->tblThumbs.FindKey({path}));
    EXPECT_NE(imaging::DecodeJpeg(Blob(dm->tblThumbs, "Thumb")), first);

    // Quick browsing or caching off: the file is written, the cache left alone.
    for (auto setting : {&TConfig::QuickBrowse, &TConfig::StoreFileThumbsInDatabase}) {
        config->QuickBrowse = false;
        config->StoreFileThumbsInDatabase = true;
        (*config).*setting = !((*config).*setting);
        const std::string another = (dir / "pictures" / "another.png").string();
        TPicture png = BitmapPicture(30, 20);
        dm->SavePictureToFile(png, another);
        EXPECT_EQ(*png.Kind(), imaging::TGraphicKind::Png);
        EXPECT_FALSE(dm->tblThumbs.FindKey({another}));
    }
}

TEST_F(RecordPictureTest, ThumbnailFileIsATemporaryJpegOfTheThumbnail) {
    const TPicture picture = BitmapPicture(300, 100);
    std::set<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        const std::string path = MakeThumbnailFile(picture, host);
        const fs::path file(path);
        EXPECT_EQ(file.parent_path(), fs::temp_directory_path());
        EXPECT_EQ(file.filename().string().rfind("_TC", 0), 0u) << path;
        EXPECT_EQ(file.extension(), ".jpg");
        const QImage thumb = imaging::DecodeJpeg(imaging::ReadPictureFile(path));
        EXPECT_EQ(thumb.size(), QSize(71, 71));
        paths.insert(path);
        fs::remove(path);
    }
    EXPECT_EQ(paths.size(), 3u);
    EXPECT_EQ(picture.Width(), 300);  // the picture is left as it was
    EXPECT_TRUE(host.Boxes.empty());
}

}  // namespace
}  // namespace pixhold::store::test
