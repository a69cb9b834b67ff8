// The data module's record operations: export, move, category change, delete
// all, and the thumbnail cache's clean-up and the 100 x 100 file copies.

#include "DataFolderMove.h"
#include "DataModuleFixture.h"
#include "TableFiles.h"
#include "TextFile.h"

#include <QImage>

#include <sys/stat.h>

namespace pixhold::store::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

const QString kWriteError = QStringLiteral("Write error");

Bytes ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One picture record with its thumbnail and type code.
void AddRecord(engine::TCofferTable& table, const std::string& name, const std::string& category,
               const Bytes& image, const Bytes& thumb, int type = 0) {
    table.Append();
    table.FieldByName("FileName").SetAsString(name);
    table.FieldByName("Category").SetAsString(category);
    table.FieldByName("Type").SetAsInteger(type);
    table.CreateBlobStream(table.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)->WriteAll(image);
    table.CreateBlobStream(table.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)->WriteAll(thumb);
    table.Post();
}

// A record of a table as read through a handle of its own.
struct Stored {
    std::string Category;
    Bytes Image, Thumb;
    std::int64_t Type = -1;
};

class RecordOpsTest : public DataModuleFixture {
protected:
    void SetUp() override {
        Start();
        host.Clear();
    }

    // Every record of a table of the data folder, "name/category" -> contents.
    std::map<std::string, Stored> Records(const std::string& table) {
        engine::TCofferTable handle;
        handle.SetSessionName("PHSession");
        handle.SetDatabaseName("PH");
        handle.SetTableName(table);
        handle.Open();
        std::map<std::string, Stored> records;
        for (handle.First(); !handle.Eof(); handle.Next()) {
            Stored s;
            s.Category = handle.FieldByName("Category").AsString();
            s.Image = handle.CreateBlobStream(handle.FieldByName("Image"), engine::TBlobStreamMode::bmRead)->ReadAll();
            s.Thumb = handle.CreateBlobStream(handle.FieldByName("Thumb"), engine::TBlobStreamMode::bmRead)->ReadAll();
            s.Type = handle.FieldByName("Type").AsInteger();
            records[handle.FieldByName("FileName").AsString() + "/" + s.Category] = s;
        }
        return records;
    }

    std::vector<std::string> Keys(const std::string& table) {
        std::vector<std::string> keys;
        for (const auto& entry : Records(table)) keys.push_back(entry.first);
        return keys;
    }

    void ShowCategory(const std::string& category) {
        config->CurrentCategory = category;
        dm->ApplyCategoryFilter();
        host.Clear();
    }

    std::vector<QString> BoxTexts() const {
        std::vector<QString> texts;
        for (const auto& box : host.Boxes) texts.push_back(box.Caption + ": " + box.Text);
        return texts;
    }

    pixhold::test::TempDir out;
};

// ---- Export Image Thumbnails ----

TEST_F(RecordOpsTest, ExportThumbnailsWritesEveryThumbnailOfTheViewAsJpg) {
    AddRecord(dm->tblData, "a.gif", "", Picture(300, 1), Picture(40, 11));
    AddRecord(dm->tblData, "a.png", "", Picture(300, 2), Picture(41, 12));
    AddRecord(dm->tblData, "b.png", "", Picture(300, 3), Picture(42, 13));
    AddRecord(dm->tblData, "noext", "", Picture(300, 4), Picture(43, 14));
    AddRecord(dm->tblData, "c.gif", "Cats", Picture(300, 5), Picture(44, 15));
    dm->tblData.First();
    dm->tblData.Next();
    const std::string current = dm->tblData.FieldByName("FileName").AsString();
    host.FolderAnswer = QString::fromStdString(out.folder());

    dm->ExportThumbnails();

    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(config->LastExportDir, out.path().string()) << "kept without its trailing separator";
    // a.gif and a.png both write a.jpg: the later one in index order wins.
    EXPECT_EQ(ReadFileBytes(out / "a.jpg"), Picture(41, 12));
    EXPECT_EQ(ReadFileBytes(out / "b.jpg"), Picture(42, 13));
    EXPECT_EQ(ReadFileBytes(out / "noext.jpg"), Picture(43, 14));
    EXPECT_FALSE(fs::exists(out / "c.jpg")) << "not in the view";
    EXPECT_EQ(dm->tblData.FieldByName("FileName").AsString(), current) << "back on the remembered record";
    EXPECT_EQ(Keys("Default").size(), 5u);
    EXPECT_EQ(host.Calls, std::vector<std::string>{}) << "the list is rebuilt only when records were deleted";
    EXPECT_EQ(host.BusyDepth, 0);
}

TEST_F(RecordOpsTest, ExportThumbnailsWithDeleteAfterExportEmptiesTheViewButKeepsWhatCouldNotBeWritten) {
    config->DeleteFilesAfterExport = true;
    AddRecord(dm->tblData, "a.gif", "", Picture(300, 1), Picture(40, 11));
    AddRecord(dm->tblData, "b.png", "", Picture(300, 2), Picture(41, 12));
    AddRecord(dm->tblData, "c.bmp", "", Picture(300, 3), Picture(42, 13));
    AddRecord(dm->tblData, "d.gif", "Cats", Picture(300, 4), Picture(43, 14));
    fs::create_directory(out / "b.jpg");  // b's thumbnail cannot be written
    host.FolderAnswer = QString::fromStdString(out.folder() + "/");

    dm->ExportThumbnails();

    ASSERT_EQ(host.Boxes.size(), 1u) << ::testing::PrintToString(BoxTexts());
    EXPECT_EQ(host.Boxes[0].Caption, kWriteError);
    EXPECT_TRUE(host.Boxes[0].Text.contains(QStringLiteral("b.jpg"))) << host.Boxes[0].Text.toStdString();
    EXPECT_EQ(config->LastExportDir, out.path().string());
    EXPECT_EQ(ReadFileBytes(out / "a.jpg"), Picture(40, 11));
    EXPECT_EQ(ReadFileBytes(out / "c.jpg"), Picture(42, 13));
    EXPECT_EQ(Keys("Default"), (std::vector<std::string>{"b.png/", "d.gif/Cats"}));
    EXPECT_EQ(host.Calls, std::vector<std::string>{"Refresh"});
}

TEST_F(RecordOpsTest, ExportThumbnailsCancelledWritesNothing) {
    AddRecord(dm->tblData, "a.gif", "", Picture(300, 1), Picture(40, 11));
    config->LastExportDir = "/somewhere";
    for (const bool deleteAfter : {false, true}) {
        host.Clear();
        config->DeleteFilesAfterExport = deleteAfter;
        host.FolderAnswer.reset();
        dm->ExportThumbnails();
        EXPECT_EQ(config->LastExportDir, "/somewhere");
        EXPECT_EQ(Keys("Default").size(), 1u);
        EXPECT_EQ(host.Calls, deleteAfter ? std::vector<std::string>{"Refresh"} : std::vector<std::string>{});
    }
    EXPECT_TRUE(fs::is_empty(out.path()));
}

// ---- ExportImage ----

TEST_F(RecordOpsTest, ExportImageWritesTheStoredBytesOfTheRecordOfTheCurrentCategory) {
    AddRecord(dm->tblData, "x.jpg", "Cats", Picture(500, 1), Picture(40, 2));
    AddRecord(dm->tblData, "x.jpg", "", Picture(600, 3), Picture(40, 4));
    AddRecord(dm->tblData, "y.jpg", "Cats", Picture(700, 5), Picture(40, 6));
    const Bytes cats = Picture(500, 1), none = Picture(600, 3);
    const struct {
        const char* Shown;
        const char* Name;
        const Bytes* Expected;  // nullptr: nothing written
    } cases[] = {
        {"Cats", "x.jpg", &cats},
        {"All", "x.jpg", &none},  // "All" finds only the records without category
        {"All", "y.jpg", nullptr},
        {"", "y.jpg", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Shown) + " " + c.Name);
        pixhold::test::TempDir folder;
        ShowCategory(c.Shown);
        dm->ExportImage(c.Name, folder.folder());
        if (c.Expected == nullptr) {
            EXPECT_TRUE(fs::is_empty(folder.path()));
        } else {
            EXPECT_EQ(ReadFileBytes(folder / c.Name), *c.Expected);
        }
        EXPECT_TRUE(host.Boxes.empty());
    }
    EXPECT_EQ(Keys("Default").size(), 3u);
}

TEST_F(RecordOpsTest, ExportImageDeletesAfterExportOnlyWhatWasWritten) {
    config->DeleteFilesAfterExport = true;
    AddRecord(dm->tblData, "x.jpg", "", Picture(500, 1), Picture(40, 2));
    AddRecord(dm->tblData, "y.jpg", "", Picture(500, 3), Picture(40, 4));
    fs::create_directory(out / "y.jpg");

    dm->ExportImage("x.jpg", out.folder());
    dm->ExportImage("y.jpg", out.folder());
    EXPECT_EQ(ReadFileBytes(out / "x.jpg"), Picture(500, 1));
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Caption, kWriteError);
    EXPECT_EQ(Keys("Default"), std::vector<std::string>{"y.jpg/"});

    // An existing file is replaced.
    fs::remove(out / "y.jpg");
    pixhold::test::WriteText(out / "y.jpg", "old");
    dm->ExportImage("y.jpg", out.folder());
    EXPECT_EQ(ReadFileBytes(out / "y.jpg"), Picture(500, 3));
    EXPECT_TRUE(Keys("Default").empty());
}

TEST_F(RecordOpsTest, AStoredNameWithAFolderIsNeverWrittenOutsideTheExportFolder) {
    AddRecord(dm->tblData, "../escape.jpg", "", Picture(50, 1), Picture(40, 2));
    config->DeleteFilesAfterExport = true;
    pixhold::test::TempDir parent;
    fs::create_directory(parent / "out");
    dm->ExportImage("../escape.jpg", (parent / "out").string() + "/");
    EXPECT_FALSE(fs::exists(parent / "escape.jpg"));
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Caption, kWriteError);
    EXPECT_EQ(Keys("Default").size(), 1u) << "the record is kept";
}

// ---- MoveImageToTable ----

class MoveImageTest : public RecordOpsTest {
protected:
    void SetUp() override {
        RecordOpsTest::SetUp();
        dm->CreateImageTable("PH", "Other.dat");
        AddRecord(dm->tblData, "x.jpg", "Cats", Picture(900, 1), Picture(40, 2), 0);
        AddRecord(dm->tblData, "y.gif", "Cats", Picture(800, 3), Picture(40, 4), 1);
        ShowCategory("Cats");
        host.Clear();
    }
    void AddToOther(const std::string& name, const std::string& category, unsigned seed) {
        dm->tblDest.SetTableName("Other");
        dm->tblDest.Open();
        AddRecord(dm->tblDest, name, category, Picture(100, seed), Picture(20, seed));
        dm->tblDest.Close();
    }
};

TEST_F(MoveImageTest, MovesTheRecordWithItsThumbnailPictureAndType) {
    EXPECT_TRUE(dm->MoveImageToTable("y.gif", "Other", "Birds"));
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_FALSE(dm->tblDest.Active());
    EXPECT_EQ(Keys("Default"), std::vector<std::string>{"x.jpg/Cats"});
    const auto other = Records("Other");
    ASSERT_EQ(other.size(), 1u);
    const Stored& moved = other.at("y.gif/Birds");
    EXPECT_EQ(moved.Image, Picture(800, 3));
    EXPECT_EQ(moved.Thumb, Picture(40, 4));
    EXPECT_EQ(moved.Type, 1);
    EXPECT_EQ(Names(dm->tblData), std::vector<std::string>{"x.jpg/Cats"});
}

TEST_F(MoveImageTest, TheTargetCategoryIsStoredAsGivenAndCutToTenCharacters) {
    EXPECT_TRUE(dm->MoveImageToTable("x.jpg", "other", "All"));
    EXPECT_TRUE(dm->MoveImageToTable("y.gif", "OTHER", "Twelve chars"));
    EXPECT_EQ(Keys("Other"), (std::vector<std::string>{"x.jpg/All", "y.gif/Twelve cha"}));
    EXPECT_TRUE(Keys("Default").empty());
}

TEST_F(MoveImageTest, AMissingTargetTableIsReportedAndNothingChanges) {
    fs::remove(File("Other.Blb"));
    for (const char* table : {"Other", "Nowhere", "../data/Other"}) {
        host.Clear();
        EXPECT_FALSE(dm->MoveImageToTable("x.jpg", table, "Cats")) << table;
        ASSERT_EQ(host.Boxes.size(), 1u);
        EXPECT_EQ(host.Boxes[0].Caption, QStringLiteral("Pixhold"));
        EXPECT_EQ(host.Boxes[0].Text, QStringLiteral("The database: %1 does not exist").arg(table));
        EXPECT_FALSE(host.Boxes[0].Question);
    }
    EXPECT_EQ(Keys("Default").size(), 2u);
}

TEST_F(MoveImageTest, ARecordNotInTheCurrentCategoryIsNotMoved) {
    AddToOther("z.jpg", "", 5);
    EXPECT_TRUE(dm->MoveImageToTable("nothere.jpg", "Other", "Cats"));
    ShowCategory("");
    EXPECT_TRUE(dm->MoveImageToTable("x.jpg", "Other", "Cats")) << "x.jpg is in Cats, not without category";
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(Keys("Default").size(), 2u);
    EXPECT_EQ(Keys("Other"), std::vector<std::string>{"z.jpg/"});
}

TEST_F(MoveImageTest, ADuplicateIsReplacedOrNumberedWithinTheTargetCategory) {
    AddToOther("x.jpg", "Cats", 50);
    AddToOther("x1.jpg", "Cats", 51);
    AddToOther("x2.jpg", "Dogs", 52);  // another category does not count
    AddToOther("y.gif", "Cats", 53);
    host.YesNoAnswers = {false, true};

    EXPECT_TRUE(dm->MoveImageToTable("x.jpg", "Other", "Cats"));
    EXPECT_TRUE(dm->MoveImageToTable("y.gif", "Other", "Cats"));

    ASSERT_EQ(host.Boxes.size(), 2u);
    EXPECT_EQ(host.Boxes[0].Text, QStringLiteral("x.jpg already exists. Replace?"));
    EXPECT_EQ(host.Boxes[0].Caption, ConfirmCaption);
    EXPECT_EQ(host.Boxes[0].Icon, TBoxIcon::Confirmation);
    EXPECT_EQ(host.Boxes[1].Text, QStringLiteral("y.gif already exists. Replace?"));
    const auto other = Records("Other");
    EXPECT_EQ(Keys("Other"), (std::vector<std::string>{"x.jpg/Cats", "x1.jpg/Cats", "x2.jpg/Cats", "x2.jpg/Dogs",
                                                       "y.gif/Cats"}));
    EXPECT_EQ(other.at("x2.jpg/Cats").Image, Picture(900, 1)) << "No: numbered past the names of that category";
    EXPECT_EQ(other.at("x.jpg/Cats").Image, Picture(100, 50));
    EXPECT_EQ(other.at("y.gif/Cats").Image, Picture(800, 3)) << "Yes: the record is overwritten";
    EXPECT_EQ(other.at("y.gif/Cats").Type, 1);
    EXPECT_TRUE(Keys("Default").empty()) << "the source goes in both cases";
}

TEST_F(MoveImageTest, WithinTheCurrentTable) {
    // Into another category: the record changes category.
    EXPECT_TRUE(dm->MoveImageToTable("x.jpg", "Default", "Dogs"));
    EXPECT_EQ(Keys("Default"), (std::vector<std::string>{"x.jpg/Dogs", "y.gif/Cats"}));
    EXPECT_EQ(Records("Default").at("x.jpg/Dogs").Image, Picture(900, 1));
    // Onto itself: nothing to move, nothing asked, nothing lost.
    EXPECT_TRUE(dm->MoveImageToTable("y.gif", "default", "Cats"));
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(Records("Default").at("y.gif/Cats").Image, Picture(800, 3));
    EXPECT_EQ(Names(dm->tblData), std::vector<std::string>{"y.gif/Cats"});
}

// ---- SetImageCategory ----

TEST_F(RecordOpsTest, SetImageCategoryStoresTheTextCutOrEmptyForAll) {
    AddRecord(dm->tblData, "a.jpg", "", Picture(10, 1), Picture(10, 1));
    ShowCategory("All");
    const struct {
        const char* Given;
        const char* Stored;
    } cases[] = {{"Sea", "Sea"}, {"All", ""}, {"A long category", "A long cat"}, {"", ""}};
    for (const auto& c : cases) {
        dm->tblData.First();
        dm->SetImageCategory(c.Given);
        EXPECT_EQ(Keys("Default"), std::vector<std::string>{std::string("a.jpg/") + c.Stored}) << c.Given;
    }
}

TEST_F(RecordOpsTest, SetImageCategoryRefusedByTheKeyLeavesTheRecordAsItWas) {
    AddRecord(dm->tblData, "a.jpg", "", Picture(10, 1), Picture(10, 1));
    AddRecord(dm->tblData, "a.jpg", "Sea", Picture(10, 2), Picture(10, 2));
    ShowCategory("");
    dm->tblData.First();
    EXPECT_EQ(ErrorCode([&] { dm->SetImageCategory("Sea"); }), engine::err::DuplicateKey);
    EXPECT_FALSE(dm->tblData.Editing());
    EXPECT_EQ(Keys("Default"), (std::vector<std::string>{"a.jpg/", "a.jpg/Sea"}));
    // Under a filter the record leaves the view.
    dm->SetImageCategory("Land");
    EXPECT_TRUE(dm->tblData.IsEmpty());
}

// ---- DeleteAllImages ----

TEST_F(RecordOpsTest, DeleteAllImagesEmptiesTheViewOnlyAndCompacts) {
    for (int i = 0; i < 12; ++i) {
        AddRecord(dm->tblData, "c" + std::to_string(i) + ".jpg", "Cats", Picture(700, i), Picture(30, i));
    }
    AddRecord(dm->tblData, "d.jpg", "Dogs", Picture(700, 40), Picture(30, 40));
    AddRecord(dm->tblData, "n.jpg", "", Picture(700, 41), Picture(30, 41));
    ShowCategory("Cats");

    dm->DeleteAllImages();

    EXPECT_EQ(Keys("Default"), (std::vector<std::string>{"d.jpg/Dogs", "n.jpg/"}));
    EXPECT_TRUE(dm->tblData.Active());
    EXPECT_TRUE(dm->tblData.IsEmpty());
    EXPECT_FALSE(File("Default.Dbk").empty()) << "compacted, keeping the previous files";
    EXPECT_EQ(host.Calls, std::vector<std::string>{"Refresh"});
    EXPECT_EQ(host.BusyDepth, 0);

    ShowCategory("All");
    dm->DeleteAllImages();
    EXPECT_TRUE(Keys("Default").empty());
}

// ---- RemoveOrphanedThumbs ----

TEST_F(RecordOpsTest, RemoveOrphanedThumbsDropsTheRowsOfMissingFilesAndCompactsTheCache) {
    const std::string kept = (out / "kept.jpg").string();
    pixhold::test::WriteText(out / "kept.jpg", "x");
    fs::create_directory(out / "folder.jpg");
    for (const std::string& path : {kept, (out / "gone.jpg").string(), (out / "folder.jpg").string(),
                                    std::string("/no/such/place.png")}) {
        dm->tblThumbs.Append();
        dm->tblThumbs.FieldByName("FileName").SetAsString(path);
        dm->tblThumbs.CreateBlobStream(dm->tblThumbs.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)
            ->WriteAll(Picture(100, 1));
        dm->tblThumbs.Post();
    }

    dm->RemoveOrphanedThumbs();

    ASSERT_TRUE(dm->tblThumbs.Active());
    EXPECT_TRUE(dm->tblThumbs.Exclusive());
    std::vector<std::string> left;
    for (dm->tblThumbs.First(); !dm->tblThumbs.Eof(); dm->tblThumbs.Next()) {
        left.push_back(dm->tblThumbs.FieldByName("FileName").AsString());
    }
    EXPECT_EQ(left, std::vector<std::string>{kept});
    for (const char* backup : {"Thumbs.Dbk", "Thumbs.Ibk", "Thumbs.Bbk"}) EXPECT_FALSE(File(backup).empty()) << backup;
    EXPECT_EQ(Keys("Default").size(), 0u) << "image tables are not touched";
    EXPECT_EQ(host.BusyDepth, 0);
    EXPECT_GT(host.BusyCount, 0);
}

// ---- ConvertFileToThumbnail ----

TEST_F(RecordOpsTest, ConvertFileToThumbnailWritesAHundredSquareCopyBesideTheFile) {
    fs::create_directory(out / "pics.png.d");
    const fs::path source = out / "pics.png.d" / "wide.png";
    QImage wide(300, 120, QImage::Format_RGB32);
    wide.fill(Qt::red);
    ASSERT_TRUE(wide.save(QString::fromStdString(source.string())));

    EXPECT_TRUE(dm->ConvertFileToThumbnail(source.string(), "_small"));
    const QImage copy(QString::fromStdString((out / "pics.png.d" / "wide_small.png").string()));
    ASSERT_FALSE(copy.isNull()) << "the folder's own name is not cut";
    EXPECT_EQ(copy.size(), QSize(100, 100));
    EXPECT_EQ(QColor(copy.pixel(50, 50)), QColor(Qt::red)) << "stretched over the whole square";
    EXPECT_EQ(QImage(QString::fromStdString(source.string())).size(), QSize(300, 120));

    // An empty text replaces the file itself.
    EXPECT_TRUE(dm->ConvertFileToThumbnail(source.string(), ""));
    EXPECT_EQ(QImage(QString::fromStdString(source.string())).size(), QSize(100, 100));
    EXPECT_TRUE(host.Boxes.empty());

    // A copy that cannot be written is shown in a "Write error" box.
    fs::create_directory(out / "pics.png.d" / "wide_dir.png");
    EXPECT_TRUE(dm->ConvertFileToThumbnail(source.string(), "_dir"));
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Caption, kWriteError);
}

TEST(PathWithoutExtension, CutsTheFileNameAtTheFirstOccurrenceOfItsExtension) {
    EXPECT_EQ(PathWithoutExtension("/p/a.jpg"), "/p/a");
    EXPECT_EQ(PathWithoutExtension("/p/a.jpg.jpg"), "/p/a");
    EXPECT_EQ(PathWithoutExtension("/p.jpg/a.jpg"), "/p.jpg/a");
    EXPECT_EQ(PathWithoutExtension("/p.d/noext"), "");
    EXPECT_EQ(FileExtension("/p.d/a.b.PNG"), ".PNG");
    EXPECT_EQ(FileExtension("/p.d/noext"), "");
}

}  // namespace
}  // namespace pixhold::store::test

namespace pixhold::store::test {
namespace {

class DataFolderChangeTest : public DataModuleFixture {};

TEST_F(DataFolderChangeTest, TheTablesMoveWhileTheDatabaseIsDisconnectedAndOpenInTheNewFolder) {
    Start();
    AddPicture(dm->tblData, "a.jpg", "", Picture(3000, 1));
    dm->CreateImageTable("PH", "Work.dat");
    dm->DisconnectDatabase();
    EXPECT_FALSE(dm->tblData.Active());
    EXPECT_FALSE(dm->tblThumbs.Active());
    EXPECT_FALSE(dm->DB.Connected());

    const std::string oldFolder = config->DataFolder;
    const std::string newFolder = (dir / "moved" / "here").string() + "/";
    const TDataFolderMove moved = MoveDataTables(oldFolder, newFolder);
    EXPECT_EQ(moved.Moved, (std::vector<std::string>{"Thumbs", "Default", "Work"}));
    EXPECT_TRUE(moved.StayedBehind.empty()) << moved.Error;
    config->DataFolder = newFolder;
    dm->ConnectDatabase();
    EXPECT_EQ(dm->DB.Directory(), newFolder);
    EXPECT_FALSE(dm->tblData.Active()) << "no table is opened by the change";

    ASSERT_TRUE(dm->OpenImageTable("Default"));
    EXPECT_EQ(Names(dm->tblData), std::vector<std::string>{"a.jpg/"});
    EXPECT_TRUE(FindFile(oldFolder, "Default.Dat").empty());
    EXPECT_TRUE(host.Boxes.empty());
}

}  // namespace
}  // namespace pixhold::store::test
