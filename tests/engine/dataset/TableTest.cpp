#include "DatasetTestSupport.h"

#include "CofferBlobStream.h"
#include "DataDirectory.h"

namespace pixhold::engine::datasettest {
namespace {

class TableTest : public DatasetFixture {
protected:
    // The image table as CreateTable alone makes it.
    void CreatePlainImageTable(const std::string& name = "Default.dat") {
        auto table = Table(name);
        table->SetExclusive(true);
        DefineImageTable(*table);
        table->CreateTable();
    }
};

TEST_F(TableTest, CreatedTableHasTheDefinedFieldsAndIndexes) {
    CreatePlainImageTable();
    auto table = Table("default.Dat");
    EXPECT_TRUE(table->TableExists());
    table->LoadRestructureDefs();
    ASSERT_EQ(table->RestructureFieldDefs.Count(), 5u);
    const TRestructureFieldDef& name = table->RestructureFieldDefs[0];
    EXPECT_EQ(name.name, "FileName");
    EXPECT_EQ(name.dataType, TFieldType::ftString);
    EXPECT_EQ(name.size, 250);
    EXPECT_TRUE(name.required);
    EXPECT_EQ(table->RestructureFieldDefs[2].dataType, TFieldType::ftGraphic);
    EXPECT_EQ(table->RestructureFieldDefs[4].dataType, TFieldType::ftSmallint);
    EXPECT_FALSE(table->RestructureFieldDefs[1].required);
    ASSERT_EQ(table->RestructureIndexDefs.Count(), 2u);
    EXPECT_EQ(table->RestructureIndexDefs[0].name, "");
    EXPECT_EQ(table->RestructureIndexDefs[0].fields, "FileName;Category");
    EXPECT_EQ(table->RestructureIndexDefs[0].options, ixopt::Primary | ixopt::Unique);
    EXPECT_EQ(table->RestructureIndexDefs[1].name, "Category");
    EXPECT_EQ(table->RestructureIndexDefs[1].fields, "Category");
    EXPECT_EQ(table->RestructureIndexDefs[1].options, 0);
    EXPECT_EQ(table->GetTableDescription(), "");
    EXPECT_EQ(table->GetTablePassword(), "");
}

TEST_F(TableTest, PrimaryIndexDefinedLaterIsMovedToTheFront) {
    auto table = Table("Later.dat");
    DefineImageTable(*table);
    table->IndexDefs.Clear();
    table->IndexDefs.Add({"Category", "Category", 0, 0});
    table->IndexDefs.Add({"", "FileName;Category", ixopt::Primary | ixopt::Unique, 0});
    table->CreateTable();
    table->LoadRestructureDefs();
    ASSERT_EQ(table->RestructureIndexDefs.Count(), 2u);
    EXPECT_EQ(table->RestructureIndexDefs[0].fields, "FileName;Category");
    EXPECT_EQ(table->RestructureIndexDefs[1].name, "Category");
}

TEST_F(TableTest, WithoutPrimaryOptionEveryIndexIsSecondary) {
    auto table = Table("NoPrimary.dat");
    DefineImageTable(*table);
    table->IndexDefs.Clear();
    table->IndexDefs.Add({"ByName", "FileName", 0, 0});
    table->CreateTable();
    table->Open();
    EXPECT_TRUE(table->Handle().PhysicalOrder());
    EXPECT_EQ(ErrorText([&] { table->FindKey({"x"}); }), "No fields defined for the current index.");
    table->SetIndexName("ByName");
    EXPECT_FALSE(table->FindKey({"x"}));
}

TEST_F(TableTest, DefinitionErrorsHaveTheirTexts) {
    struct Case {
        const char* what;
        std::function<void(TCofferTable&)> define;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"no name", [](TCofferTable& t) { t.FieldDefs.Add({"", TFieldType::ftInteger, 0, false}); },
         "Field name missing"},
        {"same name", [](TCofferTable& t) { t.FieldDefs.Add({"filename", TFieldType::ftInteger, 0, false}); },
         "Duplicate field name 'filename'"},
        // Case folded as the engine folds it, not byte by byte.
        {"same name, other case beyond ASCII",
         [](TCofferTable& t) {
             t.FieldDefs.Add({"Äpfel", TFieldType::ftInteger, 0, false});
             t.FieldDefs.Add({"äpfel", TFieldType::ftInteger, 0, false});
         },
         "Duplicate field name 'äpfel'"},
        {"string 0", [](TCofferTable& t) { t.FieldDefs.Add({"S", TFieldType::ftString, 0, false}); },
         "Invalid field size"},
        {"string 251", [](TCofferTable& t) { t.FieldDefs.Add({"S", TFieldType::ftString, 251, false}); },
         "Invalid field size"},
        {"sized integer", [](TCofferTable& t) { t.FieldDefs.Add({"I", TFieldType::ftInteger, 4, false}); },
         "Invalid field size"},
        {"index twice", [](TCofferTable& t) { t.IndexDefs.Add({"category", "Category", 0, 0}); },
         "Duplicate index name 'category'"},
        {"unknown field", [](TCofferTable& t) { t.IndexDefs.Add({"ByX", "X", 0, 0}); }, "Field 'X' not found"},
    };
    for (const Case& c : cases) {
        auto table = Table("Bad.dat");
        DefineImageTable(*table);
        c.define(*table);
        EXPECT_EQ(ErrorText([&] { table->CreateTable(); }), c.text) << c.what;
        EXPECT_FALSE(table->TableExists()) << c.what;
    }
}

TEST_F(TableTest, OpeningAnEmptyTableShowsNoRecordsAndItsFields) {
    CreatePlainImageTable();
    auto table = Table("Default.dat");
    int afterOpen = 0;
    table->AfterOpen = [&](TCofferDataSet&) { ++afterOpen; };
    table->Open();
    EXPECT_EQ(afterOpen, 1);
    EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
    EXPECT_TRUE(table->Eof());
    EXPECT_TRUE(table->Bof());
    EXPECT_EQ(table->RecordCount(), 0u);
    EXPECT_EQ(table->RecNo(), 0u);
    ASSERT_EQ(table->FieldCount(), 5u);
    EXPECT_EQ(table->FieldByName("filename").FieldName(), "FileName");
    EXPECT_EQ(table->FieldByName("Category").Size(), 10);
    EXPECT_TRUE(table->FieldByName("Image").IsBlob());
    EXPECT_EQ(table->FieldByName("Type").DataType(), TFieldType::ftSmallint);
    EXPECT_EQ(ErrorText([&] { table->FieldByName("Nope"); }), "Field 'Nope' not found");
    EXPECT_TRUE(table->FieldByName("FileName").IsNull());
    EXPECT_FALSE(table->FindKey({"a.jpg"}));
    EXPECT_TRUE(table->TableExists());
    EXPECT_EQ(table->GetBookmark(), TBookmark{});
}

TEST_F(TableTest, MisuseOfAnOpenOrBrowsingTableIsRefused) {
    CreatePlainImageTable();
    auto table = Table("Default.dat");
    table->Open();
    const std::string open = "Cannot perform this operation on an open dataset";
    EXPECT_EQ(ErrorText([&] { table->SetTableName("Other.dat"); }), open);
    EXPECT_EQ(ErrorText([&] { table->SetExclusive(true); }), open);
    EXPECT_EQ(ErrorText([&] { table->SetReadOnly(true); }), open);
    EXPECT_EQ(ErrorText([&] { table->SetDatabaseName("X"); }), open);
    EXPECT_EQ(ErrorText([&] { table->OptimizeTable(); }), open);
    EXPECT_EQ(ErrorText([&] { table->DeleteTable(); }), open);
    EXPECT_EQ(ErrorText([&] { table->CreateTable(); }), open);
    EXPECT_EQ(ErrorText([&] { table->FieldByName("FileName").SetAsString("x"); }),
              "Table is not in edit or insert mode.");
    EXPECT_EQ(ErrorText([&] { table->CreateBlobStream(table->FieldByName("Image"), TBlobStreamMode::bmWrite); }),
              "Table is not in edit or insert mode.");
    EXPECT_EQ(ErrorText([&] { table->FindKey({"a", "b", "c"}); }), "Field index out of range.");
    table->Close();
    table->SetTableName("Other.dat");
    EXPECT_EQ(table->TableName(), "Other.dat");
}

TEST_F(TableTest, FailedOpenLeavesTheDatasetClosedAndTheDatabaseReleased) {
    session_->SetKeepConnections(false);
    auto noName = Table("");
    EXPECT_EQ(ErrorText([&] { noName->Open(); }), "Missing table name.");
    EXPECT_FALSE(noName->Active());
    EXPECT_EQ(noName->Database(), nullptr);
    EXPECT_EQ(db_->UseCount(), 0);

    auto missing = Table("Missing.dat");
    EXPECT_EQ(ErrorCode([&] { missing->Open(); }), err::TableNotFound);
    EXPECT_FALSE(missing->Active());
    EXPECT_EQ(db_->DataSetCount(), 0u);
}

TEST_F(TableTest, ExclusiveOpenConflictsWithAnyOtherOpen) {
    CreatePlainImageTable();
    auto first = Table("Default.dat");
    first->Open();
    auto second = Table("Default.dat");
    second->SetExclusive(true);
    EXPECT_EQ(ErrorCode([&] { second->Open(); }), err::AccessDenied);
    first->Close();
    second->Open();
    EXPECT_EQ(ErrorCode([&] { first->Open(); }), err::AccessDenied);
}

TEST_F(TableTest, TableNameWithAFolderNamesATemporaryDatabase) {
    CreatePlainImageTable();
    session_->SetKeepConnections(false);
    TCofferTable table;
    table.SetSessionName("PHSession");
    table.SetTableName(dir_.folder() + "Default.dat");
    EXPECT_EQ(table.TableName(), "Default.dat");
    EXPECT_EQ(table.DatabaseName(), dir_.folder());
    const std::size_t databases = session_->DatabaseCount();
    table.Open();
    ASSERT_NE(table.Database(), nullptr);
    EXPECT_TRUE(table.Database()->Temporary());
    EXPECT_EQ(session_->DatabaseCount(), databases + 1);
    table.Close();
    EXPECT_EQ(session_->DatabaseCount(), databases);  // freed with its last dataset
}

TEST_F(TableTest, KeptConnectionOfATemporaryDatabaseOutlivesItsDataset) {
    CreatePlainImageTable();
    session_->SetKeepConnections(true);
    TCofferTable table;
    table.SetSessionName("PHSession");
    table.SetDatabaseName(dir_.folder());
    table.SetTableName("Default.dat");
    const std::size_t databases = session_->DatabaseCount();
    table.Open();
    table.Close();
    ASSERT_EQ(session_->DatabaseCount(), databases + 1);
    EXPECT_TRUE(session_->FindDatabase(dir_.folder())->Connected());
}

TEST_F(TableTest, DisconnectingTheDatabaseClosesItsTables) {
    CreatePlainImageTable();
    CreatePlainImageTable("Second.dat");
    auto a = Table("Default.dat");
    auto b = Table("Second.dat");
    a->Open();
    b->Open();
    EXPECT_EQ(db_->DataSetCount(), 2u);
    db_->Close();
    EXPECT_FALSE(a->Active());
    EXPECT_FALSE(b->Active());
    EXPECT_EQ(db_->DataSetCount(), 0u);
    a->Open();  // connects again
    EXPECT_TRUE(db_->Connected());
}

TEST_F(TableTest, DeleteTableRemovesItsFiles) {
    CreatePlainImageTable("Gone.dat");
    auto table = Table("Gone.dat");
    table->DeleteTable();
    EXPECT_FALSE(table->TableExists());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Gone.DAT"));
}

}  // namespace
}  // namespace pixhold::engine::datasettest
