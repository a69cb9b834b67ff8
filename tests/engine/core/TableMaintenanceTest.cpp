#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "EngineError.h"
#include "MaintenanceTestSupport.h"
#include "TableDefinitionCheck.h"

namespace pixhold::engine::coretest {
namespace {

using MaintenanceTest = MaintenanceFixture;

// ---- progress ----

struct MeterCase {
    std::int16_t steps;
    std::uint64_t total;
    std::vector<int> sent;
};

TEST(ProgressMeter, SendsWhenTheRoundedPercentageMovesOnByAStepAndOneHundredOnce) {
    const MeterCase cases[] = {
        {20, 1000, {5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100}},
        {0, 1000, {100}},
        {-3, 10, {100}},
        {4, 3, {33, 67, 100}},       // each record moves the percentage by more than a step
        {3, 7, {43, 86, 100}},       // a step of 33: 14, 29, 57 and 71 are not far enough
        {200, 4, {25, 50, 75, 100}}, // more than 100 steps: every change is sent
        {20, 0, {100}},
    };
    for (const MeterCase& c : cases) {
        std::vector<int> sent;
        TProgressMeter meter([&](int p) { sent.push_back(p); }, c.steps, c.total);
        for (std::uint64_t i = 0; i < c.total; ++i) meter.Advance();
        meter.Finish();
        EXPECT_EQ(sent, c.sent) << "steps " << c.steps << " total " << c.total;
    }
}

// ---- create ----

struct DefinitionCase {
    const char* what;
    std::function<void(TableDefinition&)> change;
    std::uint16_t code;
};

IndexDescriptor Secondary(const std::string& name, std::initializer_list<std::uint16_t> fields) {
    IndexDescriptor d;
    d.name = name;
    for (std::uint16_t f : fields) d.fieldNumbers[d.fieldCount++] = f;
    return d;
}

TEST_F(MaintenanceTest, ABadDefinitionIsRefusedBeforeAnyFileIsMade) {
    const DefinitionCase cases[] = {
        {"encrypted without password", [](TableDefinition& d) { d.params.encrypted = true; }, err::InvalidPassword},
        {"password of 16", [](TableDefinition& d) { d.params.encrypted = true; d.params.password = std::string(16, 'x'); },
         err::InvalidPassword},
        {"blank password", [](TableDefinition& d) { d.params.encrypted = true; d.params.password = "   "; },
         err::InvalidPassword},
        {"unknown locale", [](TableDefinition& d) { d.params.languageID = 0x7FFF; }, err::LanguageNotAvailable},
        {"BLOB block of 32", [](TableDefinition& d) { d.params.blobBlockSize = 32; }, err::BlobFieldLimits},
        {"empty field name", [](TableDefinition& d) { d.fields[1].name = "  "; }, err::InvalidFieldName},
        {"name with a digit first", [](TableDefinition& d) { d.fields[1].name = "1Num"; }, err::InvalidFieldName},
        {"same name in other case", [](TableDefinition& d) { d.fields[1].name = " NAME "; }, err::InvalidFieldName},
        {"field without type", [](TableDefinition& d) { d.fields.push_back(MakeField("X", 0)); }, err::InvalidFieldDefinition},
        {"string of 0", [](TableDefinition& d) { d.fields.push_back(MakeField("X", fieldtype::String, 0)); },
         err::InvalidFieldDefinition},
        {"string of 251", [](TableDefinition& d) { d.fields.push_back(MakeField("X", fieldtype::String, 251)); },
         err::InvalidFieldDefinition},
        {"two fields numbered alike",
         [](TableDefinition& d) {
             d.fields[0].number = 2;
             d.fields[1].number = 2;
         },
         err::InvalidFieldDefinition},
        {"bad default", [](TableDefinition& d) { d.fields[1].defaultValue = "many"; }, err::InvalidValidityCheck},
        {"bad maximum", [](TableDefinition& d) { d.fields[1].maximum = "1.5.2"; }, err::InvalidValidityCheck},
        {"index on a missing field", [](TableDefinition& d) { d.indexes.push_back(Secondary("ByX", {9})); },
         err::InvalidIndexFieldNumber},
        {"index with a gap",
         [](TableDefinition& d) {
             IndexDescriptor i = Secondary("ByX", {2});
             i.fieldCount = 2;
             i.fieldNumbers[0] = 0;
             i.fieldNumbers[1] = 2;
             d.indexes.push_back(i);
         },
         err::InvalidIndexFieldNumber},
        {"index on a BLOB", [](TableDefinition& d) { d.indexes.push_back(Secondary("ByData", {3})); },
         err::InvalidIndexField},
        {"index name with a digit first", [](TableDefinition& d) { d.indexes.push_back(Secondary("9", {2})); },
         err::InvalidIndexName},
        {"index named twice",
         [](TableDefinition& d) {
             d.indexes.push_back(Secondary("ByNum", {2}));
             d.indexes.push_back(Secondary("bynum ", {1}));
         },
         err::IndexExists},
        {"secondary without fields", [](TableDefinition& d) { d.indexes.push_back(Secondary("Empty", {})); },
         err::InvalidKeySize},
        {"key too long",
         [](TableDefinition& d) {
             for (int i = 0; i < 3; ++i) d.fields.push_back(MakeField("S" + std::to_string(i), fieldtype::String, 250));
             d.indexes.push_back(Secondary("Long", {4, 5, 6}));
         },
         err::InvalidKeySize},
        {"31 secondary indexes",
         [](TableDefinition& d) {
             for (int i = 0; i < 31; ++i) d.indexes.push_back(Secondary("I" + std::to_string(i), {2}));
         },
         err::IndexLimits},
        {"text index on a number",
         [](TableDefinition& d) { d.textIndex = Secondary("Sys Text", {2}); },
         err::InvalidIndexField},
    };
    for (const DefinitionCase& c : cases) {
        TableDefinition d = PictureTable(true);
        c.change(d);
        EXPECT_EQ(CodeOf([&] { maintenance.CreateTable(d); }), c.code) << c.what;
        EXPECT_FALSE(Exists(".DAT")) << c.what;
        EXPECT_FALSE(Exists(".IDX")) << c.what;
    }
}

TEST_F(MaintenanceTest, CreateTrimsNamesStoresDefaultTextParametersAndLeavesTheTableClosed) {
    TableDefinition d = PictureTable(true);
    d.fields[1].name = "  Num  ";
    d.indexes.push_back(Secondary(" ByNum ", {2}));
    maintenance.CreateTable(d);
    EXPECT_EQ(directory->TableCount(), 0u);
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    EXPECT_EQ(table->Fields()[1].name, "Num");
    EXPECT_EQ(table->IndexDefinition(1).name, "ByNum");
    EXPECT_EQ(table->IndexFile().ReadTextIndexParameters(nullptr), DefaultTextIndexParameters());
    (void)directory->CloseTable(table);
    EXPECT_EQ(DefaultTextIndexParameters().stopWords.size(), 22u);
}

TEST_F(MaintenanceTest, AnExistingTableIsReplacedOnlyWhenAsked) {
    Fill(5, true);
    EXPECT_EQ(CodeOf([&] { maintenance.CreateTable(PictureTable(false)); }), err::TableExists);
    EXPECT_EQ(Rows().size(), 5u);
    maintenance.CreateTable(PictureTable(false), true);
    EXPECT_EQ(Rows().size(), 0u);
    EXPECT_FALSE(Exists(".BLB"));
}

// ---- delete, rename, empty ----

TEST_F(MaintenanceTest, DeleteRemovesTheFilesAndRefusesATableInUse) {
    Fill(3, true);
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    EXPECT_EQ(CodeOf([&] { maintenance.DeleteTable(); }), err::AccessDenied);
    (void)directory->CloseTable(table);
    maintenance.DeleteTable();
    EXPECT_FALSE(Exists(".DAT"));
    EXPECT_FALSE(Exists(".IDX"));
    EXPECT_FALSE(Exists(".BLB"));
}

TEST_F(MaintenanceTest, RenameMovesAllThreeFiles) {
    Fill(4, true, 2);
    const PictureRows before = Rows();
    maintenance.RenameTable("Holiday");
    EXPECT_FALSE(Exists(".DAT"));
    EXPECT_TRUE(Exists(".BLB", "Holiday"));
    EXPECT_EQ(Rows("Holiday"), before);
    EXPECT_EQ(Problems("Holiday"), "");
}

TEST_F(MaintenanceTest, EmptyKeepsTheDefinitionsAndDropsEveryRecord) {
    Fill(30, true, 4);
    maintenance.EmptyTable();
    EXPECT_EQ(PhysicalCount(), 0u);
    EXPECT_EQ(Size(".DAT"), kPictureDataStart);
    EXPECT_EQ(Size(".IDX"), 2u * 4096);  // the header and the text-index parameters
    EXPECT_EQ(Size(".BLB"), 512u);
    EXPECT_EQ(Problems(), "");
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    EXPECT_EQ(table->IndexDefinition(0).fieldCount, 1);
    EXPECT_EQ(TableDriver(*table).Append("Again", 1, PictureBytes(1)), 1u);
    (void)directory->CloseTable(table);
    EXPECT_TRUE(maintenance.VerifyTable());
}

// ---- upgrade ----

TEST_F(MaintenanceTest, UpgradeOfACurrentTableOnlyLogs) {
    Fill(3, true);
    const std::string before = FileBytes(File(".DAT").string());
    maintenance.UpgradeTable();
    EXPECT_EQ(log, std::vector<std::string>{"Pics is already at the highest table version of 5, upgrade aborted"});
    EXPECT_EQ(FileBytes(File(".DAT").string()), before);
}

TEST_F(MaintenanceTest, UpgradeRefusesOlderVersionsAndLeavesNewerOnes) {
    Fill(3, true);
    Overwrite(".DAT", 8, std::string(1, '\x06'));
    maintenance.UpgradeTable();
    EXPECT_EQ(log, std::vector<std::string>{
                       "Pics is already at a higher table version then the current engine version, upgrade aborted"});
    Overwrite(".DAT", 8, std::string(1, '\x04'));
    EXPECT_EQ(CodeOf([&] { maintenance.UpgradeTable(); }), err::WrongVersion);
}

}  // namespace
}  // namespace pixhold::engine::coretest
