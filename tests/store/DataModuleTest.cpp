// The data module: start-up, opening with repair, compacting, passwords.

#include "DataModuleFixture.h"
#include "DataTable.h"
#include "ImageTableDefs.h"

namespace pixhold::store::test {
namespace {

class DataModuleTest : public DataModuleFixture {};

using engine::TFieldType;

const QString kErrorCaption = QStringLiteral("Error");

// ---- start-up ----

TEST_F(DataModuleTest, FreshDataFolderGetsBothTablesAndOpensTheDefaultOne) {
    config->BrowseMode = true;
    config->CurrentTable = "Default";
    Start();

    for (const char* file : {"Default.Dat", "Default.Idx", "Default.Blb", "Thumbs.Dat", "Thumbs.Idx", "Thumbs.Blb"}) {
        EXPECT_FALSE(File(file).empty()) << file;
    }
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(host.Calls, (std::vector<std::string>{"Refresh", "Status:Database: Default", "FillCategories",
                                                    "ViewStyle"}));
    EXPECT_EQ(host.BusyDepth, 0);
    EXPECT_EQ(host.ProcessMessagesCount, 1);
    EXPECT_EQ(config->CurrentTable, "Default");
    EXPECT_FALSE(config->BrowseMode);

    // The image table: shown filtered on the empty category, its layout.
    engine::TCofferTable& data = dm->tblData;
    ASSERT_TRUE(data.Active());
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_TRUE(data.Filtered());
    EXPECT_EQ(data.Filter(), "Category = \"\"");
    ASSERT_EQ(data.FieldCount(), 5u);
    const std::pair<const char*, TFieldType> fields[] = {{"FileName", TFieldType::ftString},
                                                         {"Category", TFieldType::ftString},
                                                         {"Thumb", TFieldType::ftGraphic},
                                                         {"Image", TFieldType::ftGraphic},
                                                         {"Type", TFieldType::ftSmallint}};
    data.Close();
    data.LoadRestructureDefs();
    ASSERT_EQ(data.RestructureFieldDefs.Count(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(data.RestructureFieldDefs[i].name, fields[i].first);
        EXPECT_EQ(data.RestructureFieldDefs[i].dataType, fields[i].second) << fields[i].first;
    }
    EXPECT_EQ(data.RestructureFieldDefs[0].size, 250);
    EXPECT_TRUE(data.RestructureFieldDefs[0].required);
    EXPECT_EQ(data.RestructureFieldDefs[1].size, 10);
    EXPECT_FALSE(data.RestructureFieldDefs[1].required);
    ASSERT_EQ(data.RestructureIndexDefs.Count(), 2u);
    EXPECT_EQ(data.RestructureIndexDefs[0].name, "");
    EXPECT_EQ(data.RestructureIndexDefs[0].fields, "FileName;Category");
    EXPECT_EQ(data.RestructureIndexDefs[0].options & (engine::ixopt::Primary | engine::ixopt::Unique),
              engine::ixopt::Primary | engine::ixopt::Unique);
    EXPECT_EQ(data.RestructureIndexDefs[1].name, "Category");
    EXPECT_EQ(data.RestructureIndexDefs[1].fields, "Category");
    EXPECT_EQ(data.RestructureIndexDefs[1].options & engine::ixopt::Unique, 0);
    data.Open();
    EXPECT_EQ(data.GetTableDescription(), "Default image database");
    EXPECT_EQ(data.GetTablePassword(), "");
    const engine::TDataTable& table = data.Handle().Table();
    EXPECT_FALSE(table.IsEncrypted());
    EXPECT_EQ(table.BlobBlockSize(), 512u);
    EXPECT_EQ(table.DataFile().Header().languageID, 1033);
    EXPECT_EQ(table.DataFile().Header().userMajorVersion, 1);
    EXPECT_EQ(table.DataFile().Header().userMinorVersion, 0);

    // The cache: open, enciphered under its fixed password.
    engine::TCofferTable& thumbs = dm->tblThumbs;
    ASSERT_TRUE(thumbs.Active());
    EXPECT_TRUE(thumbs.Handle().Table().IsEncrypted());
    EXPECT_EQ(thumbs.GetTablePassword(), "quorvi");
    EXPECT_EQ(thumbs.GetTableDescription(), "Image thumbnail database");
    ASSERT_EQ(thumbs.FieldCount(), 2u);
    EXPECT_EQ(thumbs.Fields(0).FieldName(), "FileName");
    EXPECT_EQ(thumbs.Fields(1).FieldName(), "Thumb");
    thumbs.Close();
    thumbs.LoadRestructureDefs();
    ASSERT_EQ(thumbs.RestructureIndexDefs.Count(), 1u);
    EXPECT_EQ(thumbs.RestructureIndexDefs[0].fields, "FileName");
}

TEST_F(DataModuleTest, StartingAgainKeepsTheTablesAndOpensTheLastOne) {
    Start();
    dm->NewImageTable("Holiday.Dat");
    AddPicture(dm->tblData, "beach.jpg", "", Picture(100, 1));
    EXPECT_EQ(config->CurrentTable, "Holiday");
    Stop();

    struct Case {
        std::string current;
        std::string opened;
    };
    for (const Case& c : {Case{"Holiday", "Holiday"}, Case{"holiday", "holiday"}, Case{"Gone", "Default"},
                          Case{"", "Default"}, Case{"../data/Holiday", "Default"}}) {
        config->CurrentTable = c.current;
        host.Clear();
        Start();
        EXPECT_EQ(config->CurrentTable, c.opened) << c.current;
        EXPECT_TRUE(dm->tblData.Active());
        EXPECT_EQ(host.StatusText, QString::fromStdString("Database: " + c.opened));
        EXPECT_EQ(dm->tblData.RecordCount(), c.opened == "Default" ? 0u : 1u) << c.current;
        EXPECT_TRUE(host.Boxes.empty());
        Stop();
    }
}

TEST_F(DataModuleTest, ATableThatCannotBeOpenedAtStartUpClosesTheMainWindow) {
    Start();
    dm->NewImageTable("Busy.Dat");
    Stop();
    OtherUser other(DataFolder());
    auto held = other.Table("Busy.Dat");
    held->SetExclusive(true);
    held->Open();

    config->CurrentTable = "Busy";
    host.Clear();
    Start();
    EXPECT_FALSE(dm->tblData.Active());
    EXPECT_TRUE(dm->tblThumbs.Active());
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Caption, kErrorCaption);
    EXPECT_TRUE(host.Boxes[0].Text.startsWith(QStringLiteral("Coffer Engine Error # "))) << host.Boxes[0].Text.toStdString();
    EXPECT_EQ(host.Calls, (std::vector<std::string>{"FillCategories", "Close", "ViewStyle"}));
    EXPECT_EQ(config->CurrentTable, "Busy");
    dm.reset();
}

// ---- opening with repair ----

TEST_F(DataModuleTest, DamagedIndexPagesAreRepairedWithoutAMessage) {
    Start();
    for (int i = 0; i < 30; ++i) AddPicture(dm->tblData, "p" + std::to_string(i) + ".jpg", "", Picture(600, i));
    Stop();
    // Every page after the index header becomes rubbish.
    const fs::path index = File("Default.Idx");
    const auto size = fs::file_size(index);
    ASSERT_GT(size, 4096u);
    Overwrite(index, 4096, std::string(size - 4096, '\xEE'));

    host.Clear();
    Start();
    EXPECT_TRUE(host.Boxes.empty());
    ASSERT_TRUE(dm->tblData.Active());
    EXPECT_EQ(dm->tblData.RecordCount(), 30u);
    ASSERT_TRUE(dm->tblData.FindKey({"p7.jpg"}));
    auto stream = dm->tblData.CreateBlobStream(dm->tblData.FieldByName("Image"), engine::TBlobStreamMode::bmRead);
    EXPECT_EQ(stream->ReadAll(), Picture(600, 7));
    // The optimise after the repair keeps the previous files.
    EXPECT_FALSE(File("Default.Ibk").empty());
    EXPECT_EQ(host.BusyDepth, 0);
}

TEST_F(DataModuleTest, AnOlderTableFormatGoesToTheUpgradeWhoseErrorIsPassedOn) {
    Start();
    dm->NewImageTable("Old.Dat");
    dm->OpenImageTable("Default");
    Stop();
    Overwrite(File("Old.Dat"), 8, std::string(1, '\x04'));

    Start();
    host.Clear();
    // This engine knows no older layout, so the upgrade refuses it; that
    // error is not the open's and reaches the caller.
    EXPECT_EQ(ErrorCode([&] { dm->OpenImageTable("Old"); }), engine::err::WrongVersion);
    EXPECT_FALSE(dm->tblData.Active());
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(host.BusyDepth, 0);
    EXPECT_EQ(config->CurrentTable, "Default");
}

TEST_F(DataModuleTest, OtherOpenErrorsAreShownAndLeaveTheTableClosed) {
    Start();
    dm->NewImageTable("Work.Dat");
    dm->OpenImageTable("Default.Dat");
    host.Clear();

    OtherUser other(DataFolder());
    auto held = other.Table("Work.Dat");
    held->SetExclusive(true);
    held->Open();
    std::string expected;
    {
        auto mine = std::make_unique<engine::TCofferTable>();
        mine->SetSessionName("PHSession");
        mine->SetDatabaseName("PH");
        mine->SetTableName("Work");
        try {
            mine->Open();
        } catch (const std::exception& error) {
            expected = error.what();
        }
    }
    ASSERT_FALSE(expected.empty());

    EXPECT_FALSE(dm->OpenImageTable("Work"));
    EXPECT_FALSE(dm->tblData.Active());
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Caption, kErrorCaption);
    EXPECT_EQ(host.Boxes[0].Text, QString::fromStdString(expected));
    EXPECT_EQ(host.Boxes[0].Icon, TBoxIcon::None);
    EXPECT_FALSE(host.Boxes[0].Question);
    // The main list and the status are left as they were.
    EXPECT_TRUE(host.Calls.empty());
    EXPECT_EQ(config->CurrentTable, "Default");
    EXPECT_EQ(host.BusyDepth, 0);

    // A missing table is such an error too.
    host.Clear();
    EXPECT_FALSE(dm->OpenImageTable("Nowhere.Dat"));
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_TRUE(host.Boxes[0].Text.startsWith(QStringLiteral("Coffer Engine Error # 11010")));
}

TEST_F(DataModuleTest, ATableNameWithAFolderIsRefused) {
    Start();
    const std::string outside = (dir / "pictures").string() + "/";
    // A table of the same name in another folder must not be reached.
    {
        OtherUser other(outside);
        CreateImageTable("OtherSession", "OtherDB", "Stray.Dat");
    }
    host.Clear();
    for (const std::string& name : std::vector<std::string>{"../Stray", outside + "Stray.Dat", "..\\Stray"}) {
        EXPECT_FALSE(dm->OpenImageTable(name)) << name;
        EXPECT_FALSE(dm->tblData.Active());
    }
    ASSERT_EQ(host.Boxes.size(), 3u);
    EXPECT_EQ(host.Boxes[0].Text, QStringLiteral("Coffer Engine Error # 11010 Table '../Stray' does not exist"));
    EXPECT_TRUE(dm->OpenImageTable("Default"));
    EXPECT_EQ(dm->tblData.DatabaseName(), "PH");
}

// ---- records ----

TEST_F(DataModuleTest, AFileNameIsUniquePerCategory) {
    Start();
    engine::TCofferTable& data = dm->tblData;
    AddPicture(data, "cat.jpg", "", Picture(50, 1));
    AddPicture(data, "cat.jpg", "pets", Picture(50, 2));
    AddPicture(data, "cat.jpg", "zoo", Picture(50, 3));
    EXPECT_EQ(ErrorCode([&] { AddPicture(data, "cat.jpg", "pets", Picture(50, 4)); }), engine::err::DuplicateKey);
    data.Cancel();
    EXPECT_EQ(ErrorCode([&] { AddPicture(data, "cat.jpg", "", Picture(50, 5)); }), engine::err::DuplicateKey);
    data.Cancel();
    EXPECT_EQ(Names(data), (std::vector<std::string>{"cat.jpg/"}));
    data.SetFiltered(false);
    EXPECT_EQ(Names(data), (std::vector<std::string>{"cat.jpg/", "cat.jpg/pets", "cat.jpg/zoo"}));
    // A partial key finds the lowest category.
    ASSERT_TRUE(data.FindKey({"cat.jpg"}));
    EXPECT_EQ(data.FieldByName("Category").AsString(), "");
    ASSERT_TRUE(data.FindKey({"cat.jpg", "zoo"}));
}

// ---- compacting ----

TEST_F(DataModuleTest, CompactingKeepsTheViewAndBackups) {
    Start();
    for (int i = 0; i < 12; ++i) AddPicture(dm->tblData, "p" + std::to_string(i), i % 2 ? "odd" : "", Picture(900, i));
    dm->tblData.SetFilter("Category = 'odd'");
    for (int i = 0; i < 3; ++i) dm->tblData.Delete();
    host.Clear();

    dm->CompactImageTable();
    ASSERT_TRUE(dm->tblData.Active());
    EXPECT_FALSE(dm->tblData.Exclusive());
    EXPECT_EQ(dm->tblData.Filter(), "Category = 'odd'");
    EXPECT_EQ(dm->tblData.RecordCount(), 3u);
    for (const char* backup : {"Default.Dbk", "Default.Ibk", "Default.Bbk"}) {
        EXPECT_FALSE(File(backup).empty()) << backup;
    }
    EXPECT_TRUE(host.Calls.empty());
    EXPECT_TRUE(host.Boxes.empty());
    EXPECT_EQ(host.BusyCount, 1);
    EXPECT_EQ(host.BusyDepth, 0);
}

TEST_F(DataModuleTest, AFailedCompactLeavesTheTableOpenAndShared) {
    Start();
    AddPicture(dm->tblData, "a.jpg", "", Picture(10, 1));
    OtherUser other(DataFolder());
    auto reader = other.Table("Default.Dat");
    reader->Open();

    EXPECT_NE(ErrorCode([&] { dm->CompactImageTable(); }), 0);
    EXPECT_EQ(host.BusyDepth, 0);
    EXPECT_FALSE(dm->tblData.Exclusive());
    ASSERT_TRUE(dm->tblData.Active());
    EXPECT_EQ(dm->tblData.RecordCount(), 1u);
    // Shared as before: a second handle opens it too.
    dm->tblDest.Open();
    dm->tblDest.Close();
}

// ---- passwords ----

TEST_F(DataModuleTest, ChangingThePasswordAndRemovingItAgain) {
    Start();
    AddPicture(dm->tblData, "kept.jpg", "", Picture(3000, 9));
    host.Clear();

    dm->ChangeTablePassword("", "Secret1");
    ASSERT_TRUE(dm->tblData.Active());
    EXPECT_TRUE(dm->tblData.Handle().Table().IsEncrypted());
    EXPECT_EQ(dm->tblData.GetTablePassword(), "Secret1");
    EXPECT_EQ(dm->tblData.GetTableDescription(), "Default image database");
    EXPECT_TRUE(dm->tblData.Filtered());
    EXPECT_EQ(host.BusyDepth, 0);

    // A later run must give the password.
    Stop();
    host.PasswordAnswers = {QStringLiteral("Secret1")};
    Start();
    ASSERT_TRUE(dm->tblData.Active());
    EXPECT_EQ(std::count(host.Calls.begin(), host.Calls.end(), "Password"), 1);

    dm->ChangeTablePassword("Secret1", "");
    EXPECT_EQ(dm->tblData.GetTablePassword(), "");
    EXPECT_FALSE(dm->tblData.Handle().Table().IsEncrypted());
    Stop();

    // Readable without any password now.
    host.Clear();
    config->RemoveOldPasswordOnOpen = true;
    Start();
    ASSERT_TRUE(dm->tblData.Active());
    EXPECT_EQ(Names(dm->tblData), (std::vector<std::string>{"kept.jpg/"}));
    auto stream = dm->tblData.CreateBlobStream(dm->tblData.FieldByName("Image"), engine::TBlobStreamMode::bmRead);
    EXPECT_EQ(stream->ReadAll(), Picture(3000, 9));
    EXPECT_TRUE(host.Boxes.empty());
}

TEST_F(DataModuleTest, AFailedPasswordChangeReopensTheTable) {
    Start();
    host.Clear();
    // Longer than an enciphered table's password may be.
    EXPECT_EQ(ErrorCode([&] { dm->ChangeTablePassword("", std::string(16, 'p')); }), engine::err::InvalidPassword);
    EXPECT_TRUE(dm->tblData.Active());
    EXPECT_EQ(dm->tblData.GetTablePassword(), "");
    EXPECT_EQ(host.BusyDepth, 0);
}

TEST_F(DataModuleTest, RemovingOldPasswordsOnOpenAsksAgain) {
    Start();
    dm->NewImageTable("Private.Dat");
    dm->ChangeTablePassword("", "pw");
    dm->OpenImageTable("Default");
    host.Clear();

    // Known in this run: no prompt while old passwords are kept.
    EXPECT_TRUE(dm->OpenImageTable("Private"));
    EXPECT_TRUE(dm->OpenImageTable("Default"));
    EXPECT_EQ(std::count(host.Calls.begin(), host.Calls.end(), "Password"), 0);

    config->RemoveOldPasswordOnOpen = true;
    host.PasswordAnswers = {QStringLiteral("pw")};
    EXPECT_TRUE(dm->OpenImageTable("Private"));
    EXPECT_EQ(std::count(host.Calls.begin(), host.Calls.end(), "Password"), 1);
    EXPECT_TRUE(dm->OpenImageTable("Default"));

    // A wrong password asks again; cancelling shows the engine's password error.
    host.Clear();
    host.PasswordAnswers = {QStringLiteral("PW"), std::nullopt};
    EXPECT_FALSE(dm->OpenImageTable("Private"));
    EXPECT_EQ(std::count(host.Calls.begin(), host.Calls.end(), "Password"), 2);
    EXPECT_FALSE(dm->tblData.Active());
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Caption, kErrorCaption);
    EXPECT_TRUE(host.Boxes[0].Text.startsWith(QStringLiteral("Coffer Engine Error # 10498 Insufficient rights")))
        << host.Boxes[0].Text.toStdString();
    EXPECT_EQ(config->CurrentTable, "Default");
    EXPECT_EQ(host.BusyDepth, 0);
}

}  // namespace
}  // namespace pixhold::store::test
