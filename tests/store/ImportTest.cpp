// The import of folder trees into image tables.

#include "DataModuleFixture.h"
#include "ImageTypes.h"
#include "JpegCodec.h"
#include "PictureFile.h"
#include "PngCodec.h"
#include "WorkerPool.h"

#include <QImage>

#include <sys/stat.h>

#include <map>
#include <set>

namespace pixhold::store::test {
namespace {

struct TStored {
    std::string Category;
    int Type = -1;
    imaging::TByteVector Image;
    imaging::TByteVector Thumb;
};

class ImportTest : public DataModuleFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        Start();
        if (GetParam()) dm->SetWorkers(&pool);
        picked = dir / "picked";
        fs::create_directories(picked);
    }

    static imaging::TByteVector Jpeg(int w, int h, QRgb colour) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(colour);
        return imaging::EncodeJpeg(image, 90);
    }
    static imaging::TByteVector Png(int w, int h, QRgb colour) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(colour);
        return imaging::EncodePng(image);
    }
    void Put(const fs::path& path, const imaging::TByteVector& bytes) {
        fs::create_directories(path.parent_path());
        imaging::WritePictureFile(path.string(), bytes);
    }

    // What the current table holds, by "FileName/Category".
    std::map<std::string, TStored> Stored() {
        std::map<std::string, TStored> records;
        engine::TCofferTable& t = dm->tblData;
        t.SetFiltered(false);
        for (t.First(); !t.Eof(); t.Next()) {
            TStored r;
            r.Category = t.FieldByName("Category").AsString();
            r.Type = static_cast<int>(t.FieldByName("Type").AsInteger());
            r.Image = t.CreateBlobStream(t.FieldByName("Image"), engine::TBlobStreamMode::bmRead)->ReadAll();
            r.Thumb = t.CreateBlobStream(t.FieldByName("Thumb"), engine::TBlobStreamMode::bmRead)->ReadAll();
            records[t.FieldByName("FileName").AsString() + "/" + r.Category] = r;
        }
        return records;
    }

    void ImportPicked() {
        host.Clear();
        config->LastImportDir = picked.string();
        // As the Import Images command does after the folder picker.
        dm->ImportFolder(picked.string() + "/", config->CategoryKey());
    }

    imaging::TWorkerPool pool{2};
    fs::path picked;
};

TEST_P(ImportTest, FolderTreesBecomeRecordsWithSubfolderCategories) {
    config->RecurseFoldersOnImport = true;
    config->UseFoldersAsCategoriesOnImport = true;
    config->CurrentCategory = "All";
    const imaging::TByteVector top = Jpeg(300, 100, qRgb(200, 0, 0));
    Put(picked / "top.jpg", top);
    Put(picked / "A" / "a.png", Png(40, 30, qRgb(0, 200, 0)));
    Put(picked / "A" / "B" / "b.JPG", Jpeg(50, 60, qRgb(0, 0, 200)));
    Put(picked / "Holidays2024" / "h.jpeg", Jpeg(20, 20, qRgb(9, 9, 9)));
    std::ofstream(picked / "notes.txt") << "not a picture";

    ImportPicked();
    const auto records = Stored();
    ASSERT_EQ(records.size(), 4u);
    ASSERT_TRUE(records.count("top.jpg/"));
    EXPECT_EQ(records.at("top.jpg/").Image, top) << "the file's bytes, unchanged";
    EXPECT_EQ(records.at("top.jpg/").Type, 0);
    ASSERT_TRUE(records.count("a.png/A"));
    EXPECT_EQ(records.at("a.png/A").Type, 6);
    ASSERT_TRUE(records.count("b.JPG/B")) << "the innermost folder names the category";
    EXPECT_EQ(records.at("b.JPG/B").Type, 0);
    EXPECT_TRUE(records.count("h.jpeg/Holidays20")) << "categories are cut to 10 characters";
    // Thumbnails are 71 x 71 JPEGs.
    for (const auto& [key, record] : records) {
        const QImage thumb = imaging::DecodeJpeg(record.Thumb);
        EXPECT_EQ(thumb.size(), QSize(71, 71)) << key;
    }
    const QImage thumb = imaging::DecodeJpeg(records.at("top.jpg/").Thumb);
    EXPECT_GT(qRed(thumb.pixel(35, 35)), 150);
    EXPECT_TRUE(host.Boxes.empty());
}

TEST_P(ImportTest, WithoutRecursionSubfoldersAreIgnoredAndTheCurrentCategoryIsUsed) {
    config->CurrentCategory = "Sea";
    Put(picked / "one.jpg", Jpeg(10, 10, qRgb(1, 2, 3)));
    Put(picked / "sub" / "two.jpg", Jpeg(10, 10, qRgb(1, 2, 3)));
    ImportPicked();
    const auto records = Stored();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records.count("one.jpg/Sea"));
}

TEST_P(ImportTest, DuplicatesAreNumberedReplacedOrAskedAboutOnce) {
    config->CurrentCategory = "Old";
    Put(picked / "cat.jpg", Jpeg(10, 10, qRgb(1, 1, 1)));
    ImportPicked();
    config->CurrentCategory = "New";

    // No: a numbered new record in the import category.
    host.ReplaceAnswers = {TReplaceAnswer::No};
    ImportPicked();
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Text, "cat.jpg already exists. Replace?");
    // No again: cat1.jpg exists too, so cat2.jpg.
    host.ReplaceAnswers = {TReplaceAnswer::No};
    ImportPicked();
    auto records = Stored();
    EXPECT_TRUE(records.count("cat.jpg/Old"));
    EXPECT_TRUE(records.count("cat1.jpg/New"));
    EXPECT_TRUE(records.count("cat2.jpg/New"));

    // No to All: later duplicates are numbered without a question, also in later imports.
    host.ReplaceAnswers = {TReplaceAnswer::NoToAll};
    ImportPicked();
    ImportPicked();
    EXPECT_TRUE(host.Boxes.empty());
    records = Stored();
    EXPECT_TRUE(records.count("cat3.jpg/New"));
    EXPECT_TRUE(records.count("cat4.jpg/New"));

    // Yes: the existing record is overwritten, its category included.
    dm->ReplaceAnswer = TReplaceAnswer::None;
    const imaging::TByteVector green = Jpeg(12, 12, qRgb(0, 255, 0));
    Put(picked / "cat.jpg", green);
    config->CurrentCategory = "Moved";
    host.ReplaceAnswers = {TReplaceAnswer::Yes};
    ImportPicked();
    records = Stored();
    EXPECT_FALSE(records.count("cat.jpg/Old"));
    ASSERT_TRUE(records.count("cat.jpg/Moved"));
    EXPECT_EQ(records.at("cat.jpg/Moved").Image, green);
    EXPECT_EQ(records.size(), 5u);
}

// The import and the folder browse take a folder's entries in name order
// without regard to case, whatever order the file system keeps them in.
TEST(FolderEntries, NameOrderWithoutRegardToCaseFilesOrFoldersOnly) {
    pixhold::test::TempDir dir;
    const fs::path folder = dir / "mixed";
    for (const char* name : {"b.jpg", "a.jpg", "C.jpg", "A.jpg", "_u.png", "10.gif", "9.gif", ".hidden.jpg"}) {
        fs::create_directories(folder);
        std::ofstream(folder / name) << "x";
    }
    for (const char* name : {"Zoo", "apes", ".cache"}) fs::create_directories(folder / name);
    const std::string path = folder.string() + "/";
    using List = std::vector<std::string>;
    EXPECT_EQ(FolderEntries(path, false),
              (List{".hidden.jpg", "10.gif", "9.gif", "A.jpg", "a.jpg", "b.jpg", "C.jpg", "_u.png"}))
        << "ties between names that differ only in case go in byte order";
    EXPECT_EQ(FolderEntries(path, true), (List{"apes", "Zoo"})) << "hidden folders are left out";
}

TEST_P(ImportTest, AnUndecodableFileStopsTheImportAndNothingAfterItIsStored) {
    for (int i = 0; i < 8; ++i) Put(picked / ("p" + std::to_string(i) + ".jpg"), Jpeg(16, 16, qRgb(i, i, i)));
    // Between p4.jpg and p3.jpg in name order ('-' sorts before '.').
    std::ofstream(picked / "p4-broken.gif") << "GIF89a this is cut short";
    try {
        ImportPicked();
        FAIL() << "the import went on";
    } catch (const std::exception& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    const auto records = Stored();
    const std::set<std::string> expected{"p0.jpg/", "p1.jpg/", "p2.jpg/", "p3.jpg/"};
    std::set<std::string> stored;
    for (const auto& [key, record] : records) stored.insert(key);
    EXPECT_EQ(stored, expected);
    EXPECT_FALSE(dm->tblDest.Active());
}

TEST_P(ImportTest, SourcesAreDeletedOnlyAfterTheirRecordsAndReadOnlyOnesStay) {
    config->DeleteFilesAfterImport = true;
    Put(picked / "a.jpg", Jpeg(8, 8, qRgb(5, 5, 5)));
    Put(picked / "b.jpg", Jpeg(8, 8, qRgb(6, 6, 6)));
    ::chmod((picked / "b.jpg").c_str(), 0444);
    ImportPicked();
    EXPECT_EQ(Stored().size(), 2u);
    EXPECT_FALSE(fs::exists(picked / "a.jpg"));
    EXPECT_TRUE(fs::exists(picked / "b.jpg"));
}

TEST_P(ImportTest, EscStopsTheFolderImportBetweenFilesAndKeepsWhatIsStored) {
    for (int i = 0; i < 6; ++i) Put(picked / ("p" + std::to_string(i) + ".jpg"), Jpeg(16, 16, qRgb(i, i, i)));
    int stored = 0;
    host.OnProcessMessages = [&] {
        if (Stored().size() >= 2 && stored == 0) {
            stored = static_cast<int>(Stored().size());
            host.CancelImport = true;
        }
    };
    host.FolderAnswer = QString::fromStdString(picked.string());
    dm->SelectAndImportFolder();
    host.OnProcessMessages = nullptr;
    const std::size_t count = Stored().size();
    EXPECT_GE(count, 2u);
    EXPECT_LT(count, 6u);
    EXPECT_NE(std::find(host.Calls.begin(), host.Calls.end(), "Refresh"), host.Calls.end());
    bool progress = false;
    for (const std::string& call : host.Calls) progress = progress || call.rfind("Status:Importing 1 of 6: ", 0) == 0;
    EXPECT_TRUE(progress);
}

INSTANTIATE_TEST_SUITE_P(Threads, ImportTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Workers" : "OneThread"; });

}  // namespace
}  // namespace pixhold::store::test
