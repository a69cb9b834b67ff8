#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "EngineError.h"
#include "MaintenanceTestSupport.h"

namespace pixhold::engine::coretest {
namespace {

using Loss = std::tuple<TDataLossCause, std::string>;

class RestructureTest : public MaintenanceFixture {
public:
    RestructureTest() {
        maintenance.Events.OnDataLost = [this](TDataLossCause cause, const std::string& context, bool& go,
                                               bool& stopAsking) {
            losses.emplace_back(cause, context);
            go = answerContinue;
            stopAsking = answerStopAsking;
        };
    }

    // The picture table with its fields numbered as they are now.
    static TableDefinition Current(bool withBlob = true) {
        TableDefinition d = PictureTable(withBlob);
        for (std::size_t i = 0; i < d.fields.size(); ++i) d.fields[i].number = static_cast<std::int16_t>(i + 1);
        return d;
    }

    std::string Records() const { return FileBytes(File(".DAT").string()).substr(kPictureDataStart); }

    std::vector<Loss> losses;
    bool answerContinue = true;
    bool answerStopAsking = false;
};

TEST_F(RestructureTest, RenamingAFieldOrChangingItsDefaultRewritesNoRecord) {
    Fill(20, true, 4);
    const PictureRows before = Rows();
    const std::string records = Records();
    TableDefinition d = Current();
    d.fields[1].name = "Number";
    d.fields[1].defaultValue = "7";
    d.params.description = "Holiday pictures";
    d.params.userMajorVersion = 2;
    maintenance.RestructureTable(d);
    EXPECT_EQ(Records(), records);
    EXPECT_FALSE(Exists(".DBK"));
    EXPECT_EQ(Rows(), before);
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    EXPECT_EQ(table->Fields()[1].name, "Number");
    EXPECT_EQ(table->Fields()[1].defaultValue, "7");
    EXPECT_EQ(table->DataFile().GetDescription(), "Holiday pictures");
    EXPECT_EQ(table->DataFile().Header().userMajorVersion, 2);
    EXPECT_EQ(table->LastRecordID(), 20u);
    (void)directory->CloseTable(table);
    EXPECT_TRUE(losses.empty());
}

TEST_F(RestructureTest, APasswordChangeOfAnEncryptedTableKeepsItsRecords) {
    TableDefinition d = Current();
    d.params.encrypted = true;
    d.params.password = "old";
    session->AddPassword("old");
    maintenance.CreateTable(d);
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    TableDriver(*table).Append("A", 1, PictureBytes(1));
    (void)directory->CloseTable(table);
    d.params.password = "new";
    maintenance.RestructureTable(d);
    session->RemoveAllPasswords();
    EXPECT_EQ(CodeOf([&] { maintenance.VerifyTable(); }), err::PasswordRequired);
    session->AddPassword("new");
    EXPECT_TRUE(maintenance.VerifyTable());
    EXPECT_EQ(Rows().at("A").blob, PictureBytes(1));
}

TEST_F(RestructureTest, EncryptingRewritesTheTableAndKeepsEveryPicture) {
    Fill(12, true, 5);
    const PictureRows before = Rows();
    TableDefinition d = Current();
    d.params.encrypted = true;
    d.params.password = "pics";
    maintenance.RestructureTable(d);
    EXPECT_TRUE(Exists(".DBK"));
    EXPECT_EQ(CodeOf([&] { maintenance.VerifyTable(); }), err::PasswordRequired);
    session->AddPassword("pics");
    EXPECT_TRUE(maintenance.VerifyTable());
    EXPECT_EQ(Rows(), before);
    EXPECT_EQ(Problems(), "");
}

TEST_F(RestructureTest, ARemovedFieldIsALossAndANewFieldTakesItsDefault) {
    Fill(5, true);
    TableDefinition d = Current();
    d.fields.erase(d.fields.begin() + 1);  // Num goes
    FieldDescriptor added;
    added.name = "Rating";
    added.type = fieldtype::Integer;
    added.defaultValue = "3";
    d.fields.push_back(added);
    answerStopAsking = true;
    maintenance.RestructureTable(d, -1, true);
    EXPECT_EQ(losses, (std::vector<Loss>{{TDataLossCause::dlFieldDelete, "Num"}}));
    EXPECT_FALSE(Exists(".DBK"));
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    ASSERT_EQ(table->Fields().size(), 3u);
    EXPECT_EQ(table->Fields()[1].name, "Data");
    std::vector<std::uint8_t> value;
    TRecord* record = table->DataFile().GetRecord(nullptr, 4);
    ASSERT_TRUE(table->DataFile().GetField(*record, 3, value));
    EXPECT_EQ(value, (std::vector<std::uint8_t>{3, 0, 0, 0}));
    ASSERT_TRUE(table->DataFile().GetField(*record, 2, value));
    EXPECT_EQ(record->RecordID(), 4u);
    table->DataFile().ReleaseRecord(record);
    (void)directory->CloseTable(table);
}

TEST_F(RestructureTest, AUniqueIndexOverDuplicatesAsksAndContinuingDropsTheLaterRecords) {
    Fill(6, true);
    // Num 1, 2, 3, 1, 2, 3.
    for (std::uint32_t n = 4; n <= 6; ++n) PutLe32(".DAT", RecordOffset(n) + 32, n - 3);
    TableDefinition d = Current();
    IndexDescriptor byNum;
    byNum.name = "ByNum";
    byNum.unique = true;
    byNum.fieldCount = 1;
    byNum.fieldNumbers[0] = 2;
    d.indexes.push_back(byNum);

    answerContinue = false;
    const std::string before = FileBytes(File(".DAT").string());
    maintenance.RestructureTable(d);
    EXPECT_EQ(losses, (std::vector<Loss>{{TDataLossCause::dlKeyViolation, "ByNum"}}));
    EXPECT_EQ(FileBytes(File(".DAT").string()), before);
    EXPECT_TRUE(std::filesystem::is_empty(privateDir));

    losses.clear();
    answerContinue = true;
    maintenance.RestructureTable(d);
    EXPECT_EQ(losses.size(), 3u);
    const PictureRows rows = Rows();
    EXPECT_EQ(rows.size(), 3u);
    for (const char* kept : {"P0001", "P0002", "P0003"}) {
        ASSERT_EQ(rows.count(kept), 1u) << kept;
        EXPECT_EQ(rows.at(kept).blob, PictureBytes(rows.at(kept).num));
    }
    EXPECT_TRUE(maintenance.VerifyTable());
}

TEST_F(RestructureTest, AValueThatDoesNotFitItsNewFieldIsALossOfConversion) {
    Fill(3, false);
    const std::uint64_t numOffset = 127 + 2 * 768 + 2 * 36 + 32;  // record 3's Num
    PutLe32(".DAT", numOffset, 1234);
    TableDefinition d = PictureTable(false);
    d.fields[0].number = 1;
    d.fields[1].number = 2;
    d.fields[1].type = fieldtype::String;
    d.fields[1].size = 2;
    maintenance.RestructureTable(d, -1, true);
    EXPECT_EQ(losses, (std::vector<Loss>{{TDataLossCause::dlFieldConversion, "Num"}}));
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    std::vector<std::uint8_t> value;
    for (std::uint32_t n = 1; n <= 3; ++n) {
        TRecord* record = table->DataFile().GetRecord(nullptr, n);
        const bool present = table->DataFile().GetField(*record, 2, value);
        table->DataFile().ReleaseRecord(record);
        if (n < 3) {
            EXPECT_TRUE(present);
            EXPECT_EQ(std::string(value.begin(), value.begin() + 1), std::to_string(n));
        } else {
            EXPECT_FALSE(present);
        }
    }
    (void)directory->CloseTable(table);
}

TEST_F(RestructureTest, TheLastIdentifierNeverGoesBackAndAFieldlessTextIndexChangesNothing) {
    Fill(8, true, 3);
    const std::string records = Records();
    TableDefinition d = Current();
    d.textIndex = IndexDescriptor{};
    d.textIndex->name = "Sys Text";
    d.params.description = "x";
    maintenance.RestructureTable(d, 0);
    EXPECT_EQ(Records(), records);
    EXPECT_EQ(Le32At(".DAT", 17), 8u);
    maintenance.RestructureTable(d, 50);
    EXPECT_EQ(Le32At(".DAT", 17), 50u);
    // A rewrite keeps it as well.
    d.params.blobBlockSize = 1024;
    maintenance.RestructureTable(d, 0);
    EXPECT_EQ(Le32At(".DAT", 17), 50u);
    EXPECT_TRUE(maintenance.VerifyTable());
}

TEST_F(RestructureTest, ALastAutoIncrementBelowMinusOneIsRefused) {
    Fill(1, false);
    EXPECT_EQ(CodeOf([&] { maintenance.RestructureTable(Current(false), -2); }), err::FieldLimits);
}

}  // namespace
}  // namespace pixhold::engine::coretest
