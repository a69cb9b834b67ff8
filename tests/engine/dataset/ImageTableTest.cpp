#include <filesystem>
#include <map>
#include <random>

#include "CofferBlobStream.h"
#include "DataTable.h"
#include "DatasetTestSupport.h"

namespace pixhold::engine::datasettest {
namespace {

bool FileExists(const std::filesystem::path& folder, const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string a = entry.path().filename().string();
        std::string b = name;
        std::transform(a.begin(), a.end(), a.begin(), ::tolower);
        std::transform(b.begin(), b.end(), b.begin(), ::tolower);
        if (a == b) return true;
    }
    return false;
}

// The image tables of the data module: tblData (filtered on the category
// shown) and a plain handle like tblDest.
class ImageTableTest : public DatasetFixture {
protected:
    void SetUp() override {
        CreateImageTable("Default.dat");
        CreateThumbsTable();
    }

    std::unique_ptr<TCofferTable> OpenData() {
        auto table = Table("default.Dat");
        table->SetFilter(kEmptyCategoryFilter);
        table->SetFiltered(true);
        table->Open();
        return table;
    }

};

TEST_F(ImageTableTest, StartupCreatesBothTablesWithTheirSettings) {
    for (const char* file : {"Default.Dat", "Default.Idx", "Default.Blb", "Thumbs.Dat", "Thumbs.Idx", "Thumbs.Blb"}) {
        EXPECT_TRUE(FileExists(dir_.path(), file)) << file;
    }
    auto data = OpenData();
    EXPECT_TRUE(data->IsEmpty());
    EXPECT_EQ(data->GetTableDescription(), "Default image database");
    EXPECT_EQ(data->GetTablePassword(), "");
    const DataFileHeader& header = data->Handle().Table().DataFile().Header();
    EXPECT_EQ(header.languageID, 1033);
    EXPECT_EQ(header.userMajorVersion, 1);
    EXPECT_EQ(data->Handle().Table().BlobBlockSize(), 512u);
    EXPECT_FALSE(data->Handle().Table().IsEncrypted());
    data->LoadRestructureDefs();
    ASSERT_EQ(data->RestructureIndexDefs.Count(), 2u);
    EXPECT_EQ(data->RestructureIndexDefs[0].fields, "FileName;Category");
    EXPECT_EQ(data->RestructureIndexDefs[1].name, "Category");

    auto thumbs = Table("Thumbs.dat");
    EXPECT_EQ(ErrorCode([&] { thumbs->Open(); }), err::PasswordRequired);
    EXPECT_FALSE(thumbs->Active());
    session_->AddPassword(kCachePassword);
    thumbs->Open();
    EXPECT_TRUE(thumbs->Handle().Table().IsEncrypted());
    EXPECT_EQ(thumbs->GetTablePassword(), kCachePassword);
    EXPECT_EQ(thumbs->GetTableDescription(), "Image thumbnail database");
    EXPECT_EQ(thumbs->FieldCount(), 2u);

    // Creating again changes nothing.
    CreateImageTable("Default.dat");
    EXPECT_TRUE(data->IsEmpty());
}

TEST_F(ImageTableTest, PasswordRequestHandlerOpensTheCache) {
    int asked = 0;
    session_->OnPassword = [&](TCofferSession& session, bool& continueOpen) {
        ++asked;
        session.AddPassword(kCachePassword);
        continueOpen = true;
    };
    auto thumbs = Table("Thumbs.dat");
    thumbs->Open();
    EXPECT_EQ(asked, 1);
    thumbs->Close();
    thumbs->Open();  // the password is known now
    EXPECT_EQ(asked, 1);
}

TEST_F(ImageTableTest, RestructureChecksPasswordAndBlockSize) {
    auto table = Table("Default.dat");
    table->LoadRestructureDefs();
    const std::string invalid = "Coffer Engine Error # 10015 Password provided for the table 'Default.dat' is invalid";
    EXPECT_EQ(ErrorText([&] { table->RestructureTable(1033, 0, true, 0, 512, "d", "", true, 0, 1); }), invalid);
    EXPECT_EQ(ErrorText([&] { table->RestructureTable(1033, 0, true, 0, 512, "d", std::string(16, 'p'), true, 0, 1); }),
              invalid);
    EXPECT_EQ(ErrorCode([&] { table->RestructureTable(1033, 0, true, 0, 32, "d", "", false, 0, 1); }),
              err::BlobFieldLimits);
}

TEST_F(ImageTableTest, ChangingThePasswordTheWayTheDataModuleDoes) {
    {
        auto data = OpenData();
        AddPicture(*data, "kept.jpg", "", Bytes(2000, 9));
    }
    auto change = [this](const std::string& oldPassword, const std::string& newPassword) {
        session_->AddPassword(oldPassword);
        session_->AddPassword(newPassword);
        auto data = Table("default.Dat");
        data->LoadRestructureDefs();
        const std::string description = data->GetTableDescription();
        data->RestructureTable(1033, 0, true, 0, 512, description, newPassword, !newPassword.empty(), 0, 1);
    };
    change("", "Secret1");
    session_->RemoveAllPasswords();
    auto data = Table("default.Dat");
    // The header tells password and description without the password.
    EXPECT_EQ(data->GetTablePassword(), "Secret1");
    EXPECT_EQ(data->GetTableDescription(), "Default image database");
    EXPECT_EQ(ErrorCode([&] { data->Open(); }), err::PasswordRequired);
    session_->AddPassword("Secret1");
    data->Open();
    EXPECT_EQ(data->GetTablePassword(), "Secret1");
    EXPECT_EQ(data->GetTableDescription(), "Default image database");
    EXPECT_EQ(data->FieldByName("Image").AsBytes(), Bytes(2000, 9));
    data->Close();
    change("Secret1", "");
    session_->RemoveAllPasswords();
    data->Open();
    EXPECT_EQ(data->GetTablePassword(), "");
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "kept.jpg");
}

TEST_F(ImageTableTest, CompactingKeepsBackupsAndRecords) {
    {
        auto data = OpenData();
        for (int i = 0; i < 20; ++i) AddPicture(*data, "p" + std::to_string(i), "", Bytes(700, i));
        for (int i = 0; i < 10; ++i) data->Delete();
    }
    auto data = Table("Default.dat");
    data->SetExclusive(true);
    data->OptimizeTable();
    data->SetExclusive(false);
    EXPECT_TRUE(FileExists(dir_.path(), "Default.Dbk"));
    data->Open();
    EXPECT_EQ(data->RecordCount(), 10u);
    EXPECT_EQ(ErrorText([&] { data->RepairTable(); }), "Cannot perform this operation on an open dataset");
    data->Close();
    EXPECT_TRUE(data->RepairTable());
}

TEST_F(ImageTableTest, CategoryFiltersShowTheirRecords) {
    auto data = OpenData();
    AddPicture(*data, "a.jpg", "", Bytes(10, 1));
    AddPicture(*data, "b.jpg", "cats", Bytes(10, 2));
    AddPicture(*data, "c.jpg", "dogs", Bytes(10, 3));
    AddPicture(*data, "a.jpg", "cats", Bytes(10, 4));
    AddPicture(*data, "d.jpg", "", Bytes(10, 5));
    // The empty-category filter shows the records without category.
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"a.jpg/", "d.jpg/"}));
    EXPECT_EQ(data->RecordCount(), 2u);
    data->SetFilter("Category = 'cats'");
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"a.jpg/cats", "b.jpg/cats"}));
    data->SetFiltered(false);
    EXPECT_EQ(data->RecordCount(), 5u);
    data->SetFiltered(true);
    EXPECT_EQ(data->RecordCount(), 2u);

    // Setting Filtered to its value still goes to the first record.
    data->Last();
    data->SetFiltered(true);
    EXPECT_EQ(data->FieldByName("FileName").AsString(), "a.jpg");

    // A bad filter text leaves the previous filter in force.
    EXPECT_EQ(ErrorCode([&] { data->SetFilter("Category = "); }), err::FilterError);
    EXPECT_EQ(data->Filter(), "Category = 'cats'");
    EXPECT_EQ(data->RecordCount(), 2u);

    // A filter set while closed applies at the next open.
    data->Close();
    data->SetFilter("Category = 'dogs'");
    data->Open();
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"c.jpg/dogs"}));
}

TEST_F(ImageTableTest, RecordFilterHandlerSeesEachCandidate) {
    auto data = Table("Default.dat");
    data->Open();
    AddPicture(*data, "a.jpg", "", Bytes(10, 1), 0);
    AddPicture(*data, "b.png", "", Bytes(10, 1), 6);
    AddPicture(*data, "c.png", "x", Bytes(10, 1), 6);
    data->Close();
    int reported = 0;
    TCofferSessionList::Instance().ErrorReport = [&](const std::exception&) { ++reported; };
    data->SetOnFilterRecord([](TCofferDataSet& dataset, bool& accept) {
        EXPECT_EQ(dataset.State(), TDataSetState::dsFilter);
        if (dataset.FieldByName("FileName").AsString() == "c.png") throw std::runtime_error("boom");
        accept = dataset.FieldByName("Type").AsInteger() == 6;
    });
    data->SetFiltered(true);
    data->Open();
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"b.png/", "c.png/x"}));  // the failing one is shown
    EXPECT_GE(reported, 1);
    TCofferSessionList::Instance().ErrorReport = nullptr;
}

TEST_F(ImageTableTest, EditOnAnEmptyFilteredTableStartsAnInsert) {
    auto data = OpenData();
    data->Edit();
    EXPECT_EQ(data->State(), TDataSetState::dsInsert);
    data->Cancel();
    EXPECT_TRUE(data->IsEmpty());
}

TEST_F(ImageTableTest, CategoryWithAQuoteAndTheEmptyCategoryInSingleQuotes) {
    auto data = OpenData();
    AddPicture(*data, "q.jpg", "it's", Bytes(10, 1));
    AddPicture(*data, "n.jpg", "", Bytes(10, 2));
    data->SetFilter("Category = 'it''s'");
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"q.jpg/it's"}));
    data->SetFilter("Category = ''");
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"n.jpg/"}));
}

// The road of pictures through the data module: tblDest imports (a name
// already stored gets a numbered name), tblData shows one category at a time,
// a category change moves a record out of the view, the visible records are
// deleted and the table compacted.
TEST_F(ImageTableTest, PicturesTravelThroughTheDataModuleTables) {
    auto data = OpenData();
    auto dest = Table("default.Dat");
    std::map<std::string, std::vector<std::uint8_t>> stored;
    auto import = [&](std::string name, const std::string& category, unsigned seed) {
        dest->Open();
        if (dest->FindKey({name})) name = "1_" + name;  // numbered new name
        const std::vector<std::uint8_t> bytes = Bytes(3000 + seed * 100, seed);
        AddPicture(*dest, name, category, bytes);
        stored[name] = bytes;
        dest->FlushBuffers();
        dest->Close();
    };
    import("sun.jpg", "", 1);
    import("sun.jpg", "", 2);
    import("moon.png", "sky", 3);
    import("star.gif", "sky", 4);
    data->Refresh();
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"1_sun.jpg/", "sun.jpg/"}));
    for (data->First(); !data->Eof(); data->Next()) {
        auto stream = data->CreateBlobStream(data->FieldByName("Image"), TBlobStreamMode::bmRead);
        EXPECT_EQ(stream->ReadAll(), stored[data->FieldByName("FileName").AsString()]);
    }
    data->SetFilter("Category = 'sky'");
    EXPECT_EQ(data->RecordCount(), 2u);
    ASSERT_TRUE(data->FindKey({"moon.png", "sky"}));
    data->Edit();
    data->FieldByName("Category").SetAsString("night");
    data->Post();
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"star.gif/sky"}));
    data->SetFiltered(false);
    EXPECT_EQ(data->RecordCount(), 4u);
    data->SetFilter("Category = ''");
    data->SetFiltered(true);
    while (!data->IsEmpty()) data->Delete();
    data->Close();
    data->SetExclusive(true);
    data->OptimizeTable();
    data->SetExclusive(false);
    data->SetFiltered(false);
    data->Open();
    EXPECT_EQ(Names(*data), (std::vector<std::string>{"moon.png/night", "star.gif/sky"}));
    ASSERT_TRUE(data->FindKey({"star.gif"}));
    EXPECT_EQ(data->FieldByName("Image").AsBytes(), stored["star.gif"]);
}

}  // namespace
}  // namespace pixhold::engine::datasettest
