// The viewer window driven as a user would: keys, menu shortcuts, the mouse.

#include "ViewerFixture.h"

#include "ImageFns.h"

#include <QClipboard>
#include <QMimeData>
#include <QMouseEvent>

namespace pixhold::viewer::test {
namespace {

class FolderViewerTest : public ViewerFixture {
protected:
    void SetUp() override {
        for (const char* name : {"a.png", "b.bmp", "c.jpg"}) AddFile(name);
        BrowseFolder({"a.png", "b.bmp", "c.jpg"});
    }
    QString Shown(const char* name) const { return QString::fromStdString(PathOf(name)); }
};

TEST_F(FolderViewerTest, KeysStepThroughTheEntriesAndWrapAtBothEnds) {
    ViewerFixture::config->StretchImageToFit = true;
    Open(1);
    EXPECT_EQ(Caption(), Shown("b.bmp"));
    EXPECT_FALSE(viewer->ChangeImageCategory1->isEnabled());
    EXPECT_FALSE(viewer->SwitchCategory1->isEnabled());
    EXPECT_TRUE(viewer->isMaximized());
    struct Step {
        int key;
        const char* shown;
    };
    for (const Step& s : {Step{Qt::Key_PageDown, "c.jpg"}, Step{Qt::Key_PageDown, "a.png"}, Step{Qt::Key_PageUp, "c.jpg"},
                          Step{Qt::Key_Space, "a.png"}, Step{Qt::Key_End, "c.jpg"}, Step{Qt::Key_Home, "a.png"},
                          Step{Qt::Key_F5, "a.png"}}) {
        Key(s.key);
        EXPECT_EQ(Caption(), Shown(s.shown)) << s.key;
        EXPECT_EQ(viewer->Picture().Width(), 40);
    }
    EXPECT_TRUE(host.Messages.empty());
    Key(Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewer.isNull());  // closing frees the window
}

TEST_F(FolderViewerTest, QuickBrowsingReadsTheFolderAgainPastTheLastFile) {
    config->QuickBrowse = true;
    host.OnRefresh = [this] { BrowseFolder({"a.png", "b.bmp", "c.jpg", "d.png"}); };
    Open(2);
    AddFile("d.png");
    Key(Qt::Key_PageDown);
    EXPECT_EQ(host.Calls, std::vector<QString>{"Refresh"});
    EXPECT_EQ(Caption(), Shown("a.png"));
    Key(Qt::Key_End);
    EXPECT_EQ(Caption(), Shown("d.png"));
}

TEST_F(FolderViewerTest, VanishedFilesAreDroppedFromTheList) {
    Open(0);
    fs::remove(PathOf("b.bmp"));
    fs::remove(PathOf("c.jpg"));
    Key(Qt::Key_PageDown);
    EXPECT_EQ(host.Calls, (std::vector<QString>{"Remove:b.bmp", "Remove:c.jpg"}));
    EXPECT_EQ(Caption(), Shown("a.png"));
    EXPECT_EQ(ph.ImageNames, QStringList{"a.png"});
}

TEST_F(FolderViewerTest, AnUndecodableFileIsOfferedForDeletion) {
    imaging::WritePictureFile(PathOf("b.bmp"), imaging::TByteVector{'n', 'o', 'p', 'e'});
    Open(0);
    host.ConfirmAnswers = {false};
    Key(Qt::Key_PageDown);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_TRUE(host.Messages[0].startsWith("ask:")) << host.Messages[0].toStdString();
    EXPECT_TRUE(host.Messages[0].endsWith(" " + Shown("b.bmp") + " corrupt. Delete?")) << host.Messages[0].toStdString();
    EXPECT_TRUE(fs::exists(PathOf("b.bmp")));
    EXPECT_FALSE(viewer->Picture().HasGraphic());

    host.Messages.clear();
    host.ConfirmAnswers = {true};
    Key(Qt::Key_F5);
    EXPECT_FALSE(fs::exists(PathOf("b.bmp")));
    EXPECT_EQ(host.Calls, std::vector<QString>{"Remove:b.bmp"});
    EXPECT_EQ(Caption(), Shown("c.jpg"));  // the entry after it
}

TEST_F(FolderViewerTest, DeleteAsksWhenConfirmationIsOnAndInsertNever) {
    config->ConfirmDelete = true;
    Open(0);
    host.ConfirmAnswers = {false, true};
    Key(Qt::Key_Delete);
    EXPECT_EQ(host.Messages, std::vector<QString>{"ask:Delete: a.png?"});
    EXPECT_TRUE(fs::exists(PathOf("a.png")));
    Key(Qt::Key_Delete);
    EXPECT_FALSE(fs::exists(PathOf("a.png")));
    EXPECT_EQ(Caption(), Shown("b.bmp"));

    host.Messages.clear();
    Key(Qt::Key_Insert);
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_FALSE(fs::exists(PathOf("b.bmp")));
    EXPECT_EQ(Caption(), Shown("c.jpg"));
    // The only entry left: the viewer ends up empty.
    Key(Qt::Key_Insert);
    EXPECT_TRUE(ph.ImageNames.isEmpty());
    EXPECT_FALSE(viewer->Picture().HasGraphic());
    Key(Qt::Key_Insert);  // nothing left to delete
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(FolderViewerTest, AFileThatCannotBeDeletedIsReported) {
    config->ConfirmDelete = false;
    Open(0);
    fs::remove(PathOf("a.png"));  // gone behind the viewer's back
    viewer->DeleteImage1Click();
    EXPECT_EQ(host.Messages, std::vector<QString>{"msg:Could not delete " + Shown("a.png")});
    EXPECT_EQ(ph.ImageNames.size(), 3);
}

TEST_F(FolderViewerTest, IconsAndMetafilesAreNeitherCroppedNorRotated) {
    for (const char* name : {"i.ico", "w.wmf", "e.emf"}) AddFile(name);
    BrowseFolder({"i.ico", "w.wmf", "e.emf"});
    Open(0);
    for (int i = 0; i < 3; ++i) {
        host.Messages.clear();
        QTest::mousePress(viewer->Image1, Qt::LeftButton, {}, QPoint(1, 1));
        QMouseEvent move(QEvent::MouseMove, QPointF(8, 8), viewer->Image1->mapToGlobal(QPointF(8, 8)), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(viewer->Image1, &move);
        QTest::mouseRelease(viewer->Image1, Qt::LeftButton, {}, QPoint(8, 8));
        ASSERT_TRUE(viewer->Band().Visible());
        Key(Qt::Key_C, Qt::AltModifier);
        Key(Qt::Key_R, Qt::ControlModifier);
        EXPECT_EQ(host.Messages, (std::vector<QString>{"msg:This image type cannot be cropped",
                                                       "msg:This image type cannot be rotated"}));
        EXPECT_TRUE(viewer->Band().Visible());  // the band stays
        EXPECT_FALSE(viewer->Modified());
        Key(Qt::Key_PageDown);
    }
}

class CropTest : public FolderViewerTest {
protected:
    void Drag(QPoint from, QPoint to) { DragOver(viewer->Image1, from, to); }
};

TEST_F(CropTest, ABandOnAHalfSizePictureCropsTwiceItsSizeInEitherDirection) {
    // A picture twice the panel's size is shown at half size.
    Open(0);
    const QSize panel = viewer->Panel1->size();
    AddFile("big.png", 2 * panel.width(), 2 * panel.height(), Qt::green);
    BrowseFolder({"big.png"});
    Key(Qt::Key_F5);
    ASSERT_TRUE(viewer->Image1->Stretch());
    const QSize shown = viewer->Image1->size();
    EXPECT_EQ(shown, panel - QSize(2, 2));

    for (auto [from, to] : {std::pair{QPoint(10, 20), QPoint(60, 60)}, std::pair{QPoint(60, 60), QPoint(10, 20)}}) {
        Key(Qt::Key_F5);
        Drag(from, to);
        EXPECT_EQ(viewer->Shape1->geometry(), QRect(viewer->Image1->pos() + QPoint(10, 20), QSize(50, 40)));
        Key(Qt::Key_C, Qt::AltModifier);
        EXPECT_FALSE(viewer->Band().Visible());
        EXPECT_EQ(viewer->Shape1->size(), QSize(0, 0));
        EXPECT_TRUE(viewer->Modified());
        const QSize cropped(viewer->Picture().Width(), viewer->Picture().Height());
        // MulDiv of 50 x 40 control pixels at a scale of just over 2.
        EXPECT_NEAR(cropped.width(), 100, 1);
        EXPECT_NEAR(cropped.height(), 80, 1);
    }
    // A press on the band hides it; Crop without a band does nothing.
    Drag(QPoint(5, 5), QPoint(30, 30));
    QTest::mouseClick(viewer->Shape1, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_FALSE(viewer->Band().Visible());
    const int width = viewer->Picture().Width();
    Key(Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(viewer->Picture().Width(), width);
}

TEST_F(CropTest, TheBandInvertsWhatLiesUnderIt) {
    AddFile("white.png", 300, 200, Qt::white);
    BrowseFolder({"white.png"});
    config->StretchImageToFit = false;
    Open(0);
    Drag(QPoint(100, 100), QPoint(140, 130));
    const QImage shot = viewer->Panel1->grab().toImage();
    const QPoint corner = viewer->Shape1->geometry().topLeft();
    // Dots on the band's edge are the inverse of the white picture; inside stays white.
    EXPECT_EQ(QColor(shot.pixel(corner)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(corner + QPoint(20, 15))), QColor(Qt::white));
    fs::create_directories("/tmp/viewer-shots");
    viewer->grab().save("/tmp/viewer-shots/band.png");
}

TEST_F(FolderViewerTest, ASmallPictureShowsUnstretchedInAControlTwoPixelsSmaller) {
    Open(0);
    EXPECT_FALSE(viewer->Image1->Stretch());
    EXPECT_EQ(viewer->Image1->size(), QSize(38, 28));
    const QSize panel = viewer->Panel1->size();
    EXPECT_EQ(viewer->Image1->pos(), QPoint(panel.width() / 2 - 19, panel.height() / 2 - 14));
}

TEST_F(FolderViewerTest, RotateAndSaveImageWriteTheFileInItsOwnKind) {
    AddFile("tall.png", 30, 60, Qt::blue);
    BrowseFolder({"tall.png"});
    Open(0);
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(viewer->Modified());
    EXPECT_EQ(viewer->Picture().Width(), 60);
    Key(Qt::Key_S, Qt::AltModifier);
    EXPECT_FALSE(viewer->Modified());
    imaging::TPicture written;
    written.LoadFromFile(PathOf("tall.png"));
    EXPECT_EQ(*written.Kind(), imaging::TGraphicKind::Png);
    EXPECT_EQ(QSize(written.Width(), written.Height()), QSize(60, 30));
    // Showing another entry discards edits without a question.
    Key(Qt::Key_R, Qt::ControlModifier);
    Key(Qt::Key_F5);
    EXPECT_FALSE(viewer->Modified());
    EXPECT_EQ(viewer->Picture().Width(), 60);
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(FolderViewerTest, PasteThenSaveImageAsksForAFileAndLeavesTheEntryAlone) {
    Open(0);
    QGuiApplication::clipboard()->clear();
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(host.Messages, std::vector<QString>{"info:Clipboard does not contain a picture"});
    EXPECT_EQ(Caption(), Shown("a.png"));

    QImage pasted(300, 150, QImage::Format_RGB32);
    pasted.fill(Qt::magenta);
    QGuiApplication::clipboard()->setImage(pasted);
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Caption(), "untitled.bmp");
    EXPECT_EQ(viewer->Picture().Width(), 300);
    EXPECT_FALSE(viewer->Image1->Stretch());
    EXPECT_EQ(viewer->Image1->size(), QSize(300, 150));  // natural size from now on

    const QString target = QString::fromStdString((dir / "other" ).string());
    fs::create_directories(dir / "other");
    // The GIF entry of the filter list: the name's extension follows it.
    host.SaveFileAnswers = {TSaveFileChoice{target + "/pasted.bmp", 1}};
    const QStringList before = ph.ImageNames;
    const QString saveDir = QString::fromStdString(config->LastSaveDir);
    Key(Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(host.SaveFileProposals, std::vector<QString>{saveDir + "untitled.bmp"});
    imaging::TPicture written;
    written.LoadFromFile((target + "/pasted.gif").toStdString());
    EXPECT_EQ(*written.Kind(), imaging::TGraphicKind::Gif);
    EXPECT_EQ(written.Width(), 300);
    EXPECT_EQ(config->LastSaveDir, target.toStdString() + "/");
    EXPECT_EQ(ph.ImageNames, before);
    // The entry shown before the paste is untouched.
    imaging::TPicture original;
    original.LoadFromFile(PathOf("a.png"));
    EXPECT_EQ(original.Width(), 40);
}

TEST_F(FolderViewerTest, CopyPutsTheBitmapOnTheClipboard) {
    Open(2);
    QGuiApplication::clipboard()->clear();
    Key(Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_FALSE(copied.isNull());
    EXPECT_EQ(copied.size(), QSize(40, 30));
    EXPECT_EQ(*viewer->Picture().Kind(), imaging::TGraphicKind::Bitmap);
}

TEST_F(FolderViewerTest, MoveToADatabaseImportsAndRemovesTheFile) {
    config->DataFolder = (dir / "data").string() + "/";
    dm = std::make_unique<store::TDM>(*config, dmHost);
    dm->DataModuleCreate();
    config->BrowseMode = true;
    Open(1);
    host.MoveAnswers = {TMoveChoice{false, "Default", "Cats"}, TMoveChoice{true, "Default", "Dogs"}};
    Key(Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(ph.TargetCategory, "Cats");  // taken even when cancelled
    EXPECT_TRUE(fs::exists(PathOf("b.bmp")));
    Key(Qt::Key_M, Qt::AltModifier);
    EXPECT_FALSE(fs::exists(PathOf("b.bmp")));
    EXPECT_EQ(host.Calls, std::vector<QString>{"Remove:b.bmp"});
    EXPECT_EQ(Caption(), Shown("c.jpg"));
    store::TDM& module = *dm;
    module.tblDest.SetTableName("Default");
    module.tblDest.Open();
    ASSERT_TRUE(module.tblDest.FindKey({"b.bmp", "Dogs"}));
    module.tblDest.Close();
}

TEST_F(FolderViewerTest, HelpAndAboutGoToTheHost) {
    Open(0);
    Key(Qt::Key_F1);
    viewer->About1->trigger();
    EXPECT_EQ(host.Calls, (std::vector<QString>{"Help:50", "About"}));
}

TEST_F(FolderViewerTest, AnimatedGifsPlayWithTheirOwnDelays) {
    fs::copy_file(fs::path(PIXHOLD_SOURCE_DIR) / "tests/imaging/fixtures/gif/anim-delays.gif", PathOf("anim.gif"));
    BrowseFolder({"anim.gif"});
    Open(0);
    ASSERT_TRUE(viewer->Image1->Animating());
    EXPECT_EQ(viewer->Image1->FrameIndex(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(viewer->Image1->FrameIndex(), 1, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(viewer->Image1->FrameIndex(), 2, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(viewer->Image1->FrameIndex(), 0, 2000);  // loops forever
    // The frames' colours are what is drawn.
    QTRY_COMPARE_WITH_TIMEOUT(viewer->Image1->FrameIndex(), 1, 1000);
    EXPECT_EQ(QColor(viewer->Image1->Shown().pixel(viewer->Image1->width() / 2, viewer->Image1->height() / 2)),
              QColor(Qt::green));
}

TEST_F(FolderViewerTest, NeighboursAreDecodedAheadAndStaleOnesDropped) {
    imaging::TWorkerPool workers(2);
    Open(0, &workers);
    ASSERT_NE(viewer->Prefetch(), nullptr);
    EXPECT_EQ(viewer->Prefetch()->Requests(), 2);  // next and previous
    Key(Qt::Key_PageDown);
    EXPECT_EQ(viewer->Prefetch()->Hits(), 1);
    EXPECT_EQ(Caption(), Shown("b.bmp"));
    // c.jpg changes on disk after it was decoded ahead: the new picture shows.
    AddFile("c.jpg", 64, 48, Qt::blue);
    Key(Qt::Key_PageDown);
    EXPECT_EQ(viewer->Picture().Width(), 64);
    // Stepping back shows the kept neighbour at once.
    const int hits = viewer->Prefetch()->Hits();
    Key(Qt::Key_PageUp);
    EXPECT_EQ(viewer->Prefetch()->Hits(), hits + 1);
    EXPECT_EQ(Caption(), Shown("b.bmp"));
}

// ---- database mode -------------------------------------------------------------

class DatabaseViewerTest : public ViewerFixture {};

TEST_F(DatabaseViewerTest, StepsWrapAtBothEndsOfTheView) {
    OpenDatabase({"a.png", "b.png", "c.png"});
    Open(1);
    EXPECT_EQ(Caption(), "b.png");
    EXPECT_TRUE(viewer->ChangeImageCategory1->isEnabled());
    struct Step {
        int key;
        const char* shown;
        int index;
    };
    for (const Step& s : {Step{Qt::Key_PageDown, "c.png", 2}, Step{Qt::Key_PageDown, "a.png", 0},
                          Step{Qt::Key_PageUp, "c.png", 2}, Step{Qt::Key_Home, "a.png", 0},
                          Step{Qt::Key_PageUp, "c.png", 2}, Step{Qt::Key_End, "c.png", 2},
                          Step{Qt::Key_Space, "a.png", 0}}) {
        Key(s.key);
        EXPECT_EQ(Caption(), s.shown) << s.key;
        EXPECT_EQ(ph.ViewerIndex, s.index) << s.key;
        EXPECT_EQ(dm->tblData.FieldByName("FileName").AsString(), s.shown);
    }
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(DatabaseViewerTest, EachViewerKeepsItsOwnEntry) {
    OpenDatabase({"a.png", "b.png", "c.png", "d.png"});
    imaging::TWorkerPool workers(2);
    TfrmViewer* first = Open(0, &workers);
    QPointer<TfrmViewer> second = Open(2, &workers);
    EXPECT_EQ(second->windowTitle(), "c.png");
    QTest::keyClick(second.data(), Qt::Key_PageDown);
    EXPECT_EQ(second->windowTitle(), "d.png");
    first->ShowEntry(1);
    EXPECT_EQ(first->windowTitle(), "b.png");
    second->ShowEntry(-1);
    EXPECT_EQ(second->windowTitle(), "c.png");
    // A delete in one viewer: the other stays on its picture.
    config->ConfirmDelete = false;
    first->DeleteImage1Click();
    EXPECT_EQ(first->windowTitle(), "c.png");
    second->ShowEntry(0);
    EXPECT_EQ(second->windowTitle(), "c.png");
    second->ShowEntry(1);
    EXPECT_EQ(second->windowTitle(), "d.png");
    EXPECT_EQ(ph.ImageNames, (QStringList{"a.png", "c.png", "d.png"}));
    delete second.data();
}

TEST_F(DatabaseViewerTest, MovingIsRefusedUnderAll) {
    OpenDatabase({"a.png", "b.png"}, "Cats");
    config->CurrentCategory = "All";
    dm->ApplyCategoryFilter();
    Open(1);
    host.MoveAnswers = {TMoveChoice{true, "Default", "Dogs"}};
    Key(Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(host.Messages, std::vector<QString>{"msg:Images cannot be moved when in the All category,"});
    EXPECT_EQ(ph.ImageNames, (QStringList{"a.png", "b.png"}));
    EXPECT_EQ(Caption(), "b.png");
    EXPECT_TRUE(dm->tblData.FindKey({"b.png", "Cats"}));
}

TEST_F(DatabaseViewerTest, MovingFromACategoryRemovesTheEntry) {
    OpenDatabase({"a.png", "b.png", "c.png"}, "Cats");
    Open(1);
    host.MoveAnswers = {TMoveChoice{true, "Other", "Dogs"}};
    Key(Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(host.Calls, (std::vector<QString>{"Move:b.png", "Remove:b.png"}));
    EXPECT_EQ(ph.TargetTable, "Other");
    EXPECT_EQ(ph.ImageNames, (QStringList{"a.png", "c.png"}));
    EXPECT_EQ(Caption(), "c.png");
}

TEST_F(DatabaseViewerTest, ChangingTheCategoryTakesTheEntryOutOfTheView) {
    OpenDatabase({"a.png", "b.png", "c.png"}, "Cats");
    host.OnSetCategory = [this](const QString& category) {
        dm->tblData.Edit();
        dm->tblData.FieldByName("Category").SetAsString(category == "All" ? "" : category.toStdString());
        dm->tblData.Post();
    };
    Open(0);
    host.CategoryAnswers = {"\t", "Cats", "Dogs"};
    Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);  // cancelled
    Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);  // the same category
    EXPECT_EQ(ph.ImageNames.size(), 3);
    Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(host.Calls, (std::vector<QString>{"Chooser:assign", "Chooser:assign", "SetCategory:Cats",
                                                "Chooser:assign", "SetCategory:Dogs", "Remove:a.png"}));
    EXPECT_EQ(Caption(), "b.png");
}

TEST_F(DatabaseViewerTest, SwitchingTheCategoryShowsItsFirstRecord) {
    OpenDatabase({"a.png", "b.png"}, "Cats");
    dm->tblData.Append();
    dm->tblData.FieldByName("FileName").SetAsString("z.png");
    dm->tblData.FieldByName("Category").SetAsString("Dogs");
    dm->tblData.FieldByName("Type").SetAsInteger(6);
    dm->tblData.CreateBlobStream(dm->tblData.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)
        ->WriteAll(PictureBytes(20, 10, Qt::blue, "z.png"));
    dm->tblData.Post();
    host.OnFilter = [this] { dm->ApplyCategoryFilter(); };
    Open(1);
    host.CategoryAnswers = {"Dogs"};
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(config->CurrentCategory, "Dogs");
    EXPECT_EQ(ph.ImageNames, QStringList{"z.png"});
    EXPECT_EQ(Caption(), "z.png");
    EXPECT_EQ(viewer->Picture().Width(), 20);
}

TEST_F(DatabaseViewerTest, SaveAsRewritesTheRecordUnderTheNewName) {
    OpenDatabase({"a.png", "b.png"});
    Open(1);
    host.SaveAsAnswers = {std::nullopt, QString("b.gif")};
    viewer->SaveAs1Click();
    EXPECT_TRUE(dm->tblData.FindKey({"b.png"}));
    viewer->SaveAs1Click();
    EXPECT_EQ(host.Calls, (std::vector<QString>{"SaveAs:b.png", "SaveAs:b.png"}));
    EXPECT_FALSE(dm->tblData.FindKey({"b.png"}));
    ASSERT_TRUE(dm->tblData.FindKey({"b.gif"}));
    EXPECT_EQ(dm->tblData.FieldByName("Type").AsInteger(), 1);
    EXPECT_EQ(ph.ImageNames, (QStringList{"a.png", "b.gif"}));
    imaging::TPicture stored;
    dm->LoadRecordPicture(stored);
    EXPECT_EQ(*stored.Kind(), imaging::TGraphicKind::Gif);
    EXPECT_EQ(stored.Width(), 40);
}

// A pasted picture has no record: Save As stores it as a new one, and the
// record shown before the paste keeps its picture.
TEST_F(DatabaseViewerTest, PasteThenSaveAsAddsARecordAndKeepsTheShownOne) {
    OpenDatabase({"a.png", "b.png"}, "Cats");
    host.OnRefresh = [this] { FillFromTable(); };
    Open(1);
    QImage pasted(64, 32, QImage::Format_RGB32);
    pasted.fill(Qt::cyan);
    QGuiApplication::clipboard()->setImage(pasted);
    Key(Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(Caption(), "untitled.bmp");
    host.SaveAsAnswers = {QString("pasted.bmp")};
    Key(Qt::Key_S, Qt::AltModifier);  // Save Image after a paste is Save As

    EXPECT_EQ(host.Calls.back(), "Refresh");
    EXPECT_EQ(ph.ImageNames, (QStringList{"a.png", "b.png", "pasted.bmp"}));
    EXPECT_EQ(Caption(), "pasted.bmp");
    ASSERT_TRUE(dm->tblData.FindKey({"pasted.bmp", "Cats"}));
    imaging::TPicture stored;
    dm->LoadRecordPicture(stored);
    EXPECT_EQ(QSize(stored.Width(), stored.Height()), QSize(64, 32));
    ASSERT_TRUE(dm->tblData.FindKey({"b.png", "Cats"}));
    dm->LoadRecordPicture(stored);
    EXPECT_EQ(*stored.Kind(), imaging::TGraphicKind::Png);
    EXPECT_EQ(stored.Width(), 40);
}

TEST_F(DatabaseViewerTest, RotateAndSaveImageRewriteTheRecord) {
    OpenDatabase({"a.png"});
    Open(0);
    Key(Qt::Key_R, Qt::ControlModifier);
    Key(Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(dm->tblData.FindKey({"a.png"}));
    imaging::TPicture stored;
    dm->LoadRecordPicture(stored);
    EXPECT_EQ(QSize(stored.Width(), stored.Height()), QSize(30, 40));
    EXPECT_EQ(*stored.Kind(), imaging::TGraphicKind::Png);
}

TEST_F(DatabaseViewerTest, AnEmptyTableShowsNothingWithoutError) {
    OpenDatabase({});
    Open(0);
    Key(Qt::Key_PageDown);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Caption(), "Image Viewer");
    EXPECT_TRUE(host.Messages.empty());
}

}  // namespace
}  // namespace pixhold::viewer::test
#include <QMenuBar>
#include <QStatusBar>

namespace pixhold::viewer::test {
namespace {

// The menu and status bars keep the desktop's colours on the black window.
TEST_F(DatabaseViewerTest, MenuAndStatusBarsAreNotBlack) {
    OpenDatabase({"a.png"});
    Open(0);
    const QImage shot = viewer->grab().toImage();
    const QColor desktop = QApplication::palette().color(QPalette::Window);
    const QRect menu = viewer->menuBar()->geometry();
    const QRect status = viewer->statusBar()->geometry();
    EXPECT_EQ(QColor(shot.pixel(menu.right() - 2, menu.center().y())), desktop);
    EXPECT_EQ(QColor(shot.pixel(status.right() - 2, status.center().y())), desktop);
    EXPECT_EQ(QColor(shot.pixel(viewer->centralWidget()->geometry().topLeft() + QPoint(2, 2))), QColor(Qt::black));
}

}  // namespace
}  // namespace pixhold::viewer::test
