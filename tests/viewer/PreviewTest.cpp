// Large JPEGs show first as a display-size preview (libjpeg's DCT scaling),
// then as the full picture decoded in the background; everything that acts
// on the picture acts on the full one.

#include "ViewerFixture.h"

#include "ExifFixture.h"

#include "FitImage.h"
#include "GraphicError.h"
#include "ImageFns.h"
#include "JpegCodec.h"

#include <QClipboard>
#include <QMouseEvent>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace pixhold::viewer::test {
namespace {

// A worker pool with one thread, held until Release(): nothing queued on it
// runs before, so the full picture cannot have replaced a preview yet.
class THeldPool {
public:
    THeldPool() {
        Pool.Submit([gate = gate_.get_future().share()] { gate.wait(); });
    }
    ~THeldPool() { Release(); }
    void Release() {
        if (released_) return;
        released_ = true;
        gate_.set_value();
    }
    imaging::TWorkerPool Pool{1};

private:
    std::promise<void> gate_;
    bool released_ = false;
};

// A photo-like JPEG: colour gradients with a dark square at the top left.
imaging::TByteVector JpegBytes(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) row[x] = qRgb(x * 255 / w, y * 255 / h, 128);
    }
    QPainter(&image).fillRect(w / 10, h / 10, w / 5, h / 5, QColor(20, 20, 20));
    return imaging::EncodeJpeg(image, 90);
}

// The mean difference of two pictures of one size, per channel (0 to 255).
double MeanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int r = 0; r < x.height(); ++r) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(r));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c) {
            sum += std::abs(qRed(p[c]) - qRed(q[c])) + std::abs(qGreen(p[c]) - qGreen(q[c])) +
                   std::abs(qBlue(p[c]) - qBlue(q[c]));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

QImage Opaque(const QImage& image) { return image.convertToFormat(QImage::Format_RGB32); }

// The glance's colour: a camera file's thumbnail here is a plain patch of it,
// which the picture itself never shows.
const QColor kThumbColour(200, 0, 200);

// A camera file: the picture with an Exif segment (orientation and a
// thumbnail of the picture's shape, w/25 x h/25) right after its start.
imaging::TByteVector CameraBytes(const imaging::TByteVector& jpeg, int w, int h, int orientation = 1) {
    QImage thumb(w / 25, h / 25, QImage::Format_RGB32);
    thumb.fill(kThumbColour);
    return pixhold::test::WithApp1(jpeg,
                                   pixhold::test::ExifWithThumbnail(false, orientation, imaging::EncodeJpeg(thumb, 90)));
}

bool ShowsThumbColour(const QImage& shown) {
    const QColor centre = shown.pixelColor(shown.width() / 2, shown.height() / 2);
    return std::abs(centre.red() - kThumbColour.red()) < 24 && centre.green() < 24 &&
           std::abs(centre.blue() - kThumbColour.blue()) < 24;
}

constexpr int kWidth = 2000;
constexpr int kHeight = 1500;

class PreviewTest : public ViewerFixture {
protected:
    // (The settings file is shared by the tests: another may have turned it off.)
    PreviewTest() { config->StretchImageToFit = true; }
    ~PreviewTest() override {
        // The viewers go before the pool they decode on.
        delete viewer.data();
    }

    void AddJpeg(const std::string& name, int w = kWidth, int h = kHeight) {
        imaging::WritePictureFile(PathOf(name), JpegBytes(w, h));
    }
    void AddCameraJpeg(const std::string& name, int orientation = 1) {
        imaging::WritePictureFile(PathOf(name), CameraBytes(JpegBytes(kWidth, kHeight), kWidth, kHeight, orientation));
    }
    // photo.jpg of the folder as the record after a.png's.
    void ImportPhoto() {
        store::TPreparedFile prepared = store::PrepareImportFile(PathOf("photo.jpg"));
        store::StoreImportRecord(dm->tblData, "photo.jpg", "", prepared,
                                 [](const std::string&) { return store::TDuplicateChoice::Number; });
        FillFromTable();
        ASSERT_EQ(ph.ImageNames, (QStringList{"a.png", "photo.jpg"}));
    }
    void Reopen(imaging::TWorkerPool* workers) {
        delete viewer.data();
        Open(0, workers);
    }
    void Drag(QPoint from, QPoint to) { DragOver(viewer->Image1, from, to); }
    QString Shown(const char* name) const { return QString::fromStdString(PathOf(name)); }

    THeldPool held;
};

TEST_F(PreviewTest, ALargeJpegShowsAPreviewThatTheFullPictureReplaces) {
    AddJpeg("big.jpg");
    AddFile("small.png");
    BrowseFolder({"big.jpg", "small.png"});
    Open(0, &held.Pool);
    ASSERT_TRUE(viewer->PreviewShown());
    EXPECT_FALSE(viewer->Picture().HasGraphic());
    EXPECT_EQ(viewer->PictureSize(), QSize(kWidth, kHeight));
    EXPECT_EQ(Caption(), Shown("big.jpg"));
    // Placed as the full picture will be.
    const QSize panel = viewer->Panel1->size();
    const QRect bounds = viewer->Image1->geometry();
    EXPECT_EQ(bounds, FitImageToParent(kWidth, kHeight, panel.width(), panel.height(), TfrmViewer::PanelBevel).Bounds);
    EXPECT_TRUE(viewer->Image1->Stretch());
    const QImage preview = viewer->Image1->Shown();

    int replaced = 0;
    viewer->OnFullPicture = [&replaced] { ++replaced; };
    held.Release();
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->PreviewShown(), 30000);
    EXPECT_EQ(replaced, 1);
    ASSERT_TRUE(viewer->Picture().HasGraphic());
    EXPECT_EQ(*viewer->Picture().Kind(), imaging::TGraphicKind::Jpeg);
    EXPECT_EQ(viewer->PictureSize(), QSize(kWidth, kHeight));
    EXPECT_EQ(viewer->Image1->geometry(), bounds);
    // What the eye sees stays the same; only the rescaling is finer.
    EXPECT_LT(MeanDifference(preview, viewer->Image1->Shown()), 2.0);
    EXPECT_EQ(Caption(), Shown("big.jpg"));
    EXPECT_TRUE(host.Messages.empty());

    // A small picture never needs a preview; back on the photo, its full
    // picture decoded before shows at once.
    Key(Qt::Key_PageDown);
    EXPECT_FALSE(viewer->PreviewShown());
    EXPECT_EQ(viewer->Picture().Width(), 40);
    Key(Qt::Key_PageUp);
    EXPECT_FALSE(viewer->PreviewShown());
    EXPECT_EQ(viewer->Picture().Width(), kWidth);
    EXPECT_EQ(replaced, 1);
}

TEST_F(PreviewTest, PicturesOfTheirOwnSizeAreNeverPreviews) {
    AddJpeg("big.jpg");
    AddCameraJpeg("camera.jpg");
    BrowseFolder({"big.jpg", "camera.jpg"});
    config->StretchImageToFit = false;
    Open(0, &held.Pool);
    EXPECT_FALSE(viewer->PreviewShown());
    EXPECT_EQ(viewer->Picture().Width(), kWidth);
    EXPECT_EQ(viewer->Image1->size(), QSize(kWidth, kHeight));
    Key(Qt::Key_PageDown);
    EXPECT_FALSE(viewer->PreviewShown()) << "no glance either";
    EXPECT_EQ(viewer->Picture().Width(), kWidth);
}

// ---- glances: the Exif thumbnail while the first look is not decoded yet ----------

TEST_F(PreviewTest, ACameraFileShowsItsThumbnailThenThePreviewThenTheFullPicture) {
    AddCameraJpeg("camera.jpg", 6);  // turned a quarter clockwise
    BrowseFolder({"camera.jpg"});
    Open(0, &held.Pool);
    ASSERT_TRUE(viewer->GlanceShown());
    EXPECT_TRUE(viewer->PreviewShown());
    EXPECT_FALSE(viewer->Picture().HasGraphic());
    EXPECT_EQ(viewer->PictureSize(), QSize(kHeight, kWidth)) << "the upright size";
    EXPECT_EQ(Caption(), Shown("camera.jpg"));
    const QSize panel = viewer->Panel1->size();
    const QRect bounds = viewer->Image1->geometry();
    EXPECT_EQ(bounds, FitImageToParent(kHeight, kWidth, panel.width(), panel.height(), TfrmViewer::PanelBevel).Bounds);
    EXPECT_TRUE(ShowsThumbColour(viewer->Image1->Shown()));

    std::vector<bool> previewAfterGlance;  // whether a preview took the glance's place
    int fulls = 0;
    viewer->OnGlanceReplaced = [&] { previewAfterGlance.push_back(viewer->PreviewShown()); };
    viewer->OnFullPicture = [&] { ++fulls; };
    held.Release();
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->GlanceShown(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->PreviewShown(), 30000);
    EXPECT_EQ(previewAfterGlance, std::vector<bool>{true}) << "the first look came first, once";
    EXPECT_EQ(fulls, 1);
    EXPECT_EQ(QSize(viewer->Picture().Width(), viewer->Picture().Height()), QSize(kHeight, kWidth));
    EXPECT_EQ(viewer->Image1->geometry(), bounds);
    EXPECT_FALSE(ShowsThumbColour(viewer->Image1->Shown()));
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(PreviewTest, ARecordsGlanceComesFromItsBytesAndCommandsActOnTheFullPicture) {
    OpenDatabase({"a.png"});
    imaging::WritePictureFile(PathOf("photo.jpg"), CameraBytes(JpegBytes(kWidth, kHeight), kWidth, kHeight));
    ImportPhoto();
    Open(1, &held.Pool);
    ASSERT_TRUE(viewer->GlanceShown());
    EXPECT_EQ(Caption(), "photo.jpg");
    EXPECT_TRUE(ShowsThumbColour(viewer->Image1->Shown()));
    // Rotate while only the glance shows (the workers held): the full
    // picture is decoded on the spot and turned.
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(viewer->PreviewShown());
    EXPECT_FALSE(viewer->GlanceShown());
    EXPECT_EQ(viewer->PictureSize(), QSize(kHeight, kWidth));
    EXPECT_TRUE(viewer->Modified());
    // The first look that comes later does not take the turned picture's place.
    held.Release();
    QTest::qWait(300);
    QCoreApplication::processEvents();
    EXPECT_FALSE(viewer->PreviewShown());
    EXPECT_EQ(viewer->PictureSize(), QSize(kHeight, kWidth));
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(PreviewTest, AGlanceWhosePictureCannotBeDecodedEndsInTheDecodersError) {
    // A thumbnail in good order on a picture whose frame claims 60000 x 60000.
    imaging::TByteVector picture = JpegBytes(400, 400);
    const std::vector<std::uint8_t> sof = {0xFF, 0xC0};
    const auto at = std::search(picture.begin(), picture.end(), sof.begin(), sof.end());
    ASSERT_NE(at, picture.end());
    for (int i : {5, 7}) at[i] = 0xEA, at[i + 1] = 0x60;
    imaging::WritePictureFile(PathOf("claims.jpg"), CameraBytes(picture, 2000, 2000));
    std::string error;
    try {
        imaging::TPicture loaded;
        loaded.LoadFromFile(PathOf("claims.jpg"));
    } catch (const std::exception& e) {
        error = e.what();
    }
    ASSERT_FALSE(error.empty());
    BrowseFolder({"claims.jpg"});
    host.ConfirmAnswers = {false};
    Open(0, &held.Pool);
    ASSERT_TRUE(viewer->GlanceShown());
    EXPECT_TRUE(host.Messages.empty());
    held.Release();
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->PreviewShown(), 30000);
    EXPECT_EQ(host.Messages,
              std::vector<QString>{"ask:" + QString::fromStdString(error) + " " + Shown("claims.jpg") + " corrupt. Delete?"});
    EXPECT_FALSE(viewer->Picture().HasGraphic());
    EXPECT_TRUE(fs::exists(PathOf("claims.jpg")));
}

TEST_F(PreviewTest, DatabaseRecordsShowAPreviewAndSaveTheFullPicture) {
    OpenDatabase({"a.png"});
    AddJpeg("photo.jpg");
    ImportPhoto();
    Open(1, &held.Pool);
    ASSERT_TRUE(viewer->PreviewShown());
    EXPECT_EQ(Caption(), "photo.jpg");
    // Rotate and Save Image while only the preview shows: the record gets
    // the full picture turned.
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(viewer->PreviewShown());
    EXPECT_EQ(viewer->PictureSize(), QSize(kHeight, kWidth));
    Key(Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(host.Messages.empty());
    ASSERT_TRUE(dm->tblData.FindKey({"photo.jpg"}));
    imaging::TPicture stored;
    dm->LoadRecordPicture(stored);
    EXPECT_EQ(QSize(stored.Width(), stored.Height()), QSize(kHeight, kWidth));
    EXPECT_EQ(*stored.Kind(), imaging::TGraphicKind::Jpeg);

    // Stepping on and back: the next record's preview, replaced in turn.
    held.Release();
    Key(Qt::Key_PageDown);
    EXPECT_EQ(Caption(), "a.png");
    Key(Qt::Key_PageUp);
    EXPECT_EQ(Caption(), "photo.jpg");
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->PreviewShown(), 30000);
    EXPECT_EQ(viewer->PictureSize(), QSize(kHeight, kWidth));
}

// Each command, issued while only the preview is on show, gives exactly what
// it gives on a viewer that decoded the full picture at once.
TEST_F(PreviewTest, CommandsActOnTheFullPictureWhileThePreviewShows) {
    AddJpeg("big.jpg");
    BrowseFolder({"big.jpg"});
    fs::create_directories(dir / "out");
    struct Case {
        const char* name;
        std::function<QImage()> run;  // the command, then what it made
    };
    const std::vector<Case> cases = {
        {"rotate",
         [this] {
             Key(Qt::Key_R, Qt::ControlModifier);
             EXPECT_TRUE(viewer->Modified());
             return viewer->Picture().HasGraphic() ? viewer->Picture().Graphic()->Render() : QImage();
         }},
        {"crop",
         [this] {
             Drag(QPoint(20, 30), QPoint(220, 130));
             Key(Qt::Key_C, Qt::AltModifier);
             EXPECT_TRUE(viewer->Modified());
             return viewer->Picture().HasGraphic() ? viewer->Picture().Graphic()->Render() : QImage();
         }},
        {"copy",
         [this] {
             QGuiApplication::clipboard()->clear();
             Key(Qt::Key_C, Qt::ControlModifier);
             return QGuiApplication::clipboard()->image();
         }},
        {"save as",
         [this] {
             const std::string path = (dir / "out" / "copy.bmp").string();
             fs::remove(path);
             int bmp = 0;
             while (imaging::ExtensionOfFileType(bmp) != ".bmp") ++bmp;
             host.SaveFileAnswers = {TSaveFileChoice{QString::fromStdString(path), bmp + 1}};
             viewer->SaveAs1Click();
             if (!fs::exists(path)) return QImage();
             imaging::TPicture written;
             written.LoadFromFile(path);
             return written.Graphic()->Render();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reopen(nullptr);  // no workers: the full picture at once
        ASSERT_FALSE(viewer->PreviewShown());
        const QImage expected = Opaque(c.run());
        ASSERT_FALSE(expected.isNull());
        EXPECT_GT(expected.width(), 100);

        Reopen(&held.Pool);
        ASSERT_TRUE(viewer->PreviewShown());
        const QImage made = c.run();
        EXPECT_FALSE(viewer->PreviewShown());
        EXPECT_EQ(made.size(), expected.size());
        EXPECT_TRUE(!made.isNull() && Opaque(made) == expected);
        EXPECT_TRUE(host.Messages.empty());
    }
    // The file on disk was never touched.
    imaging::TPicture original;
    original.LoadFromFile(PathOf("big.jpg"));
    EXPECT_EQ(QSize(original.Width(), original.Height()), QSize(kWidth, kHeight));
}

TEST_F(PreviewTest, ThePastedPictureIsNotReplacedByALateFullPicture) {
    AddJpeg("big.jpg");
    BrowseFolder({"big.jpg"});
    Open(0, &held.Pool);
    ASSERT_TRUE(viewer->PreviewShown());
    QImage pasted(300, 150, QImage::Format_RGB32);
    pasted.fill(Qt::magenta);
    QGuiApplication::clipboard()->setImage(pasted);
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_FALSE(viewer->PreviewShown());
    held.Release();
    QTest::qWait(300);
    QCoreApplication::processEvents();
    EXPECT_EQ(Caption(), "untitled.bmp");
    EXPECT_EQ(viewer->PictureSize(), QSize(300, 150));
}

// Damaged JPEGs, met on the spot or decoded ahead, give the decoder's own
// error in the question, as loading the file gives it.
TEST_F(PreviewTest, AJpegThatCannotBeDecodedShowsTheDecodersError) {
    const fs::path fixtures = fs::path(PIXHOLD_SOURCE_DIR) / "tests/imaging/fixtures/jpeg";
    AddJpeg("good.jpg");
    for (const char* name : {"garbage.jpg", "truncated-in-header.jpg", "claims-60000x60000.jpg", "empty.jpg"}) {
        SCOPED_TRACE(name);
        fs::copy_file(fixtures / name, PathOf(name), fs::copy_options::overwrite_existing);
        std::string error;
        try {
            imaging::TPicture picture;
            picture.LoadFromFile(PathOf(name));
        } catch (const std::exception& e) {
            error = e.what();
        }
        ASSERT_FALSE(error.empty());
        const QString question =
            "ask:" + QString::fromStdString(error) + " " + Shown(name) + " corrupt. Delete?";
        for (int ahead : {0, 1}) {
            BrowseFolder({"good.jpg", name});
            imaging::TWorkerPool workers(1);
            host.Messages.clear();
            host.ConfirmAnswers = {false};
            if (ahead == 0) {
                Reopen(nullptr);  // decoded on the spot
                Key(Qt::Key_End);
            } else {
                Reopen(&workers);
                QTest::qWait(200);  // decoded ahead meanwhile
                Key(Qt::Key_PageDown);
            }
            EXPECT_EQ(host.Messages, std::vector<QString>{question}) << ahead;
            EXPECT_FALSE(viewer->PreviewShown());
            EXPECT_FALSE(viewer->Picture().HasGraphic());
            delete viewer.data();
        }
    }
}

TEST_F(PreviewTest, ARecordThatCannotBeDecodedIsReportedWithTheDecodersError) {
    OpenDatabase({"a.png"});
    const fs::path fixtures = fs::path(PIXHOLD_SOURCE_DIR) / "tests/imaging/fixtures/jpeg";
    const imaging::TByteVector bytes = imaging::ReadPictureFile((fixtures / "claims-60000x60000.jpg").string());
    dm->tblData.Append();
    dm->tblData.FieldByName("FileName").SetAsString("b.jpg");
    dm->tblData.FieldByName("Type").SetAsInteger(0);
    dm->tblData.CreateBlobStream(dm->tblData.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)->WriteAll(bytes);
    dm->tblData.Post();
    FillFromTable();
    std::string error;
    try {
        imaging::TPicture picture;
        picture.LoadFromBytes(imaging::TImageType::Jpeg, bytes);
    } catch (const std::exception& e) {
        error = e.what();
    }
    ASSERT_FALSE(error.empty());
    imaging::TWorkerPool workers(1);
    Open(0, &workers);
    QTest::qWait(200);
    Key(Qt::Key_PageDown);
    EXPECT_EQ(host.Messages, std::vector<QString>{"error:" + QString::fromStdString(error)});
    EXPECT_FALSE(viewer->Picture().HasGraphic());
    EXPECT_FALSE(viewer->PreviewShown());
    delete viewer.data();
}

// ---- the decoding itself -------------------------------------------------------

TEST(PreviewDecodeTest, TheSmallestDctScaleThatCoversThePlaceIsTaken) {
    TPictureSource source;
    source.Type = imaging::TImageType::Jpeg;
    source.Bytes = std::make_shared<const imaging::TByteVector>(JpegBytes(kWidth, kHeight));
    struct Case {
        QSize client;
        bool stretch;
        bool preview;
        QSize reduced;
    };
    for (const Case& c : {Case{{800, 600}, true, true, {1000, 750}},    // 798 x 598 needs 4/8
                          Case{{400, 300}, true, true, {500, 375}},     // 398 x 298 needs 2/8
                          Case{{200, 150}, true, true, {250, 188}},     // 1/8
                          Case{{1900, 1500}, true, false, {}},          // 8/8: no gain
                          Case{{800, 600}, false, false, {}},           // its own size
                          Case{{2100, 1600}, true, false, {}}}) {       // smaller than the panel
        SCOPED_TRACE(c.client.width());
        const TDisplayPlace place{c.client, 1, c.stretch};
        const TDecodedPicture decoded = DecodeForDisplay(source, place, true);
        ASSERT_TRUE(decoded.Error.empty()) << decoded.Error;
        EXPECT_EQ(decoded.Preview, c.preview);
        const QRect bounds =
            FitImageToParent(kWidth, kHeight, c.client.width(), c.client.height(), 1).Bounds;
        if (c.preview) {
            EXPECT_FALSE(decoded.Picture.HasGraphic());
            EXPECT_EQ(decoded.Reduced.size(), c.reduced);
            EXPECT_EQ(decoded.Display.size(), bounds.size());
            EXPECT_EQ(decoded.FullSize, QSize(kWidth, kHeight));
            ASSERT_TRUE(decoded.Source.Bytes);
            EXPECT_EQ(*decoded.Source.Bytes, *source.Bytes);
            // The full picture from the preview's source, stretched the same way.
            const TDecodedPicture full = DecodeFull(decoded.Source, place);
            ASSERT_TRUE(full.Error.empty());
            EXPECT_EQ(full.Picture.Width(), kWidth);
            EXPECT_EQ(full.Display.size(), decoded.Display.size());
            EXPECT_LT(MeanDifference(full.Display, decoded.Display), 2.0);
        } else {
            EXPECT_EQ(decoded.Picture.Width(), kWidth);
            EXPECT_TRUE(decoded.Reduced.isNull());
        }
    }
}

TEST(PreviewDecodeTest, APreviewIsUprightAndHasTheUprightSize) {
    const fs::path fixtures = fs::path(PIXHOLD_SOURCE_DIR) / "tests/imaging/fixtures/jpeg";
    TPictureSource source;
    source.Path = (fixtures / "orientation-6.jpg").string();
    const TDisplayPlace place{QSize(20, 20), 0, true};
    const TDecodedPicture decoded = DecodeForDisplay(source, place, true);
    ASSERT_TRUE(decoded.Error.empty()) << decoded.Error;
    ASSERT_TRUE(decoded.Preview);
    EXPECT_EQ(decoded.FullSize, QSize(32, 48));  // stored 48 x 32, turned
    EXPECT_EQ(decoded.Reduced.size(), QSize(16, 24));
    const TDecodedPicture full = DecodeFull(decoded.Source, place);
    ASSERT_EQ(full.Picture.Width(), 32);
    const QImage expected = full.Picture.Graphic()->Render().scaled(16, 24, Qt::IgnoreAspectRatio,
                                                                     Qt::SmoothTransformation);
    // Turned the same way as the full picture (the other way round would
    // move the coloured squares to the bottom).
    EXPECT_LT(MeanDifference(decoded.Reduced, expected), 20.0);
    EXPECT_GT(MeanDifference(decoded.Reduced, expected.mirrored(true, true)), 20.0);
}

TEST(PreviewDecodeTest, AFullDecodeStopsWhenCancelled) {
    TPictureSource source;
    source.Type = imaging::TImageType::Jpeg;
    source.Bytes = std::make_shared<const imaging::TByteVector>(JpegBytes(400, 300));
    std::atomic<bool> cancel{true};
    const TDecodedPicture stopped = DecodeFull(source, TDisplayPlace{QSize(100, 100), 1, true}, &cancel);
    EXPECT_EQ(stopped.Error, imaging::JpegCancelledMessage);
    EXPECT_FALSE(stopped.Picture.HasGraphic());
    cancel = false;
    const TDecodedPicture whole = DecodeFull(source, TDisplayPlace{QSize(100, 100), 1, true}, &cancel);
    EXPECT_TRUE(whole.Error.empty());
    EXPECT_EQ(whole.Picture.Width(), 400);
    // A first look stops too, preview or not.
    cancel = true;
    for (const bool preview : {true, false}) {
        const TDecodedPicture look = DecodeForDisplay(source, TDisplayPlace{QSize(100, 100), 1, true}, preview, &cancel);
        EXPECT_EQ(look.Error, imaging::JpegCancelledMessage) << preview;
        EXPECT_FALSE(look.Preview || look.Picture.HasGraphic()) << preview;
    }
}

// ---- the order of the jobs -------------------------------------------------------

TEST(PrefetchTest, TheMostUrgentJobRunsFirstAndAWaitedForOneAtOnce) {
    THeldPool held;
    TPrefetch prefetch(held.Pool);
    std::mutex mutex;
    std::vector<std::string> order;
    std::thread::id ranOn;
    const auto job = [&](const std::string& name) {
        return [&, name](const std::atomic<bool>&) {
            std::lock_guard lock(mutex);
            order.push_back(name);
            if (name == "c") ranOn = std::this_thread::get_id();
            return TDecodedPicture();
        };
    };
    using TStage = TPrefetch::TStage;
    prefetch.Request("a", TStage::Full, 5, job("a"));
    prefetch.Request("b", TStage::Look, 1, job("b"));
    prefetch.Request("c", TStage::Look, 3, job("c"));
    prefetch.Request("d", TStage::Look, 9, job("d"));
    prefetch.Request("d", TStage::Look, 0, job("never"));  // the same key: only a new priority
    EXPECT_EQ(prefetch.Requests(), 3);
    ASSERT_NE(prefetch.Take("c", TStage::Look, {}), nullptr);  // not started: runs here
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(prefetch.Take("z", TStage::Look, {}), nullptr);
    held.Release();
    while (!prefetch.Ready("a", TStage::Full) || !prefetch.Ready("b", TStage::Look) ||
           !prefetch.Ready("d", TStage::Look)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"c", "d", "b", "a"}));
}

TEST(PrefetchTest, AJobNoLongerKeptIsDroppedOrToldToStop) {
    imaging::TWorkerPool pool(1);
    TPrefetch prefetch(pool);
    using TStage = TPrefetch::TStage;
    std::atomic<bool> started{false};
    std::atomic<bool> stopped{false};
    std::atomic<bool> queuedRan{false};
    prefetch.Request("long", TStage::Full, 0, [&](const std::atomic<bool>& cancel) {
        started = true;
        while (!cancel.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stopped = true;
        return TDecodedPicture();
    });
    prefetch.Request("queued", TStage::Look, 1, [&](const std::atomic<bool>&) {
        queuedRan = true;
        return TDecodedPicture();
    });
    prefetch.Request("kept", TStage::Look, 2, [](const std::atomic<bool>&) { return TDecodedPicture(); });
    while (!started.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    prefetch.Retain({{"kept", TStage::Look, false}, {"long", TStage::Full, true}});  // done only: not yet
    EXPECT_EQ(prefetch.Cancelled(), 1);
    EXPECT_FALSE(prefetch.Has("long", TStage::Full));
    EXPECT_FALSE(prefetch.Has("queued", TStage::Look));
    ASSERT_NE(prefetch.Take("kept", TStage::Look, {}), nullptr);
    while (!stopped.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(queuedRan.load());
    // A finished job is kept when only finished ones are.
    prefetch.Retain({{"kept", TStage::Look, true}});
    EXPECT_TRUE(prefetch.Has("kept", TStage::Look));
}

TEST(PrefetchTest, FinishedJobsAreAnnouncedOnTheUserInterfaceThread) {
    imaging::TWorkerPool pool(1);
    TPrefetch prefetch(pool);
    std::vector<std::string> announced;
    std::thread::id announcedOn;
    prefetch.Finished = [&](const std::string& key, TPrefetch::TStage) {
        announced.push_back(key);
        announcedOn = std::this_thread::get_id();
    };
    prefetch.Request("x", TPrefetch::TStage::Full, 0, [](const std::atomic<bool>&) { return TDecodedPicture(); });
    QTRY_COMPARE_WITH_TIMEOUT(announced.size(), std::size_t{1}, 10000);
    EXPECT_EQ(announced.front(), "x");
    EXPECT_EQ(announcedOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace pixhold::viewer::test
