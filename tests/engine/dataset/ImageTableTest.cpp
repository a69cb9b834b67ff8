#include <filesystem>
#include <map>
#include <random>

#include "CofferBlobStream.h"
#include "DataTable.h"
#include "DatasetTestSupport.h"

namespace pixhold::engine::datasettest {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

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
        table->Open();
        return table;
    }

    // Appends one picture the way the import does.
    static void AddPicture(TCofferTable& table, const std::string& name, const std::string& category,
                           const std::vector<std::uint8_t>& image, int type = 0) {
        table.Append();
        table.FieldByName("FileName").SetAsString(name);
        table.FieldByName("Category").SetAsString(category);
        table.FieldByName("Type").SetAsInteger(type);
        {
            auto stream = table.CreateBlobStream(table.FieldByName("Image"), TBlobStreamMode::bmWrite);
            stream->Write(image.data(), image.size());
        }
        {
            const std::vector<std::uint8_t> thumb = Bytes(300, 7);
            auto stream = table.CreateBlobStream(table.FieldByName("Thumb"), TBlobStreamMode::bmWrite);
            stream->Write(thumb.data(), thumb.size());
        }
        table.Post();
    }

    static std::vector<std::string> Names(TCofferTable& table) {
        std::vector<std::string> names;
        for (table.First(); !table.Eof(); table.Next()) {
            names.push_back(table.FieldByName("FileName").AsString() + "/" +
                            table.FieldByName("Category").AsString());
        }
        return names;
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

}  // namespace
}  // namespace pixhold::engine::datasettest
