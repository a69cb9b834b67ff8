#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "DataCursor.h"
#include "EngineError.h"
#include "RecordBuffer.h"
#include "FaultPlan.h"
#include "MaintenanceTestSupport.h"

namespace pixhold::engine::coretest {
namespace {

constexpr int kRecords = 40;
constexpr const char* kFixed = ", error fixed";

using RepairTest = MaintenanceFixture;

// The form a repair message takes when only verifying (nothing for the
// messages that report a mend).
std::string VerifyForm(const std::string& message) {
    for (const std::string& ending : {std::string(kFixed), std::string(", starting to fix indexes")})
        if (message.size() > ending.size() && message.compare(message.size() - ending.size(), ending.size(), ending) == 0)
            return message.substr(0, message.size() - ending.size());
    return message == "Invalid indexes fixed" ? std::string{} : message;
}

struct DamageCase {
    const char* name;
    std::function<void(MaintenanceFixture&)> damage;
    std::vector<std::string> messages;  // as the repair logs them
    // What repair leaves of the records: the rows before the damage, adjusted.
    std::function<void(PictureRows&)> expected;
    bool primaryIndexKept = true;
    // Messages that only the repair logs (verify meets the damage otherwise).
    std::vector<std::string> repairOnly = {};
};

std::uint32_t BlobSlot(std::uint32_t n) { return static_cast<std::uint32_t>(RecordOffset(n)) + 36 + 1; }

std::vector<DamageCase> DamageCases() {
    const std::string indexesInvalid = "Indexes do not match record data and are invalid, starting to fix indexes";
    const std::string indexesFixed = "Invalid indexes fixed";
    return {
        {"truncated data file",
         [](MaintenanceFixture& f) { f.Truncate(".DAT", RecordOffset(kRecords) + 20); },
         {"Physical records not aligned on even record size boundaries, error fixed",
          "Physical record count not correct, error fixed", indexesInvalid, indexesFixed},
         [](PictureRows& rows) { rows.erase("P0040"); }},
        // Page 1 holds the text-index parameters, page 2 the primary index.
        {"overwritten index page",
         [](MaintenanceFixture& f) { f.Overwrite(".IDX", 2 * 4096, std::string(4096, '\xAB')); },
         {indexesInvalid, indexesFixed},
         [](PictureRows&) {}},
        {"overwritten text-index parameters",
         [](MaintenanceFixture& f) { f.Overwrite(".IDX", 4096 + 20, std::string(200, '\x7F')); },
         {"Invalid or corrupt text indexing parameters in index, error fixed", indexesInvalid, indexesFixed},
         [](PictureRows&) {}},
        {"broken BLOB chain",
         [](MaintenanceFixture& f) {
             const std::uint32_t first = f.Le32At(".DAT", BlobSlot(10));
             f.PutLe32(".BLB", BlockOffset(first) + 4, 999999);
         },
         {"Invalid intra-block pointer in BLOB file for physical record # 10, error fixed",
          "BLOB size mismatch in BLOB file for physical record # 10, error fixed"},
         // The record keeps what its first block holds.
         [](PictureRows& rows) { rows["P0010"].blob = PictureBytes(10).substr(0, 494); }},
        // A BLOB field count of 0 keeps the BLOB file closed at open: the
        // repair that gives the count back checks the values in it.
        {"BLOB field count lost, and a chain broken",
         [](MaintenanceFixture& f) {
             f.Overwrite(".DAT", 25, std::string(2, '\0'));
             const std::uint32_t first = f.Le32At(".DAT", BlobSlot(10));
             f.PutLe32(".BLB", BlockOffset(first) + 4, 999999);
         },
         {"Invalid BLOB field count in table header, error fixed",
          "Invalid intra-block pointer in BLOB file for physical record # 10, error fixed",
          "BLOB size mismatch in BLOB file for physical record # 10, error fixed"},
         [](PictureRows& rows) { rows["P0010"].blob = PictureBytes(10).substr(0, 494); },
         true,
         {"Invalid intra-block pointer in BLOB file for physical record # 10, error fixed",
          "BLOB size mismatch in BLOB file for physical record # 10, error fixed"}},
        {"BLOB of another owner",
         [](MaintenanceFixture& f) { f.PutLe32(".DAT", BlobSlot(12) + 4, 999); },
         {"Invalid BLOB offset in BLOB file for physical record # 12, error fixed"},
         [](PictureRows& rows) { rows["P0012"].blob.clear(); }},
        // Record 10's picture (1050 bytes) fills two blocks and 62 bytes of a third.
        {"last BLOB block claiming more than a block holds",
         [](MaintenanceFixture& f) {
             f.Overwrite(".BLB", BlockOffset(f.Le32At(".DAT", BlobSlot(10)) + 2) + 8, std::string("\x00\x21", 2));
         },
         {"Invalid block size in BLOB file for physical record # 10, error fixed"},
         // The value's length says what the block holds: the picture is whole.
         [](PictureRows&) {}},
        {"first BLOB block with nothing left",
         [](MaintenanceFixture& f) {
             f.Overwrite(".BLB", BlockOffset(f.Le32At(".DAT", BlobSlot(12))), std::string(10, '\0'));
         },
         {"BLOB size mismatch in BLOB file for physical record # 12, error fixed"},
         [](PictureRows& rows) { rows["P0012"].blob.clear(); }},
        // Name is a string of 20 (physical size 21); the layout still fits 21.
        {"declared size that disagrees with the layout",
         [](MaintenanceFixture& f) { f.Overwrite(".DAT", 127 + 86, std::string(1, '\x17')); },
         {"Invalid field length for field Name in table header (23), error fixed"},
         [](PictureRows&) {}},
        {"BLOB present without blocks",
         [](MaintenanceFixture& f) { f.PutLe32(".DAT", BlobSlot(16), 0); },
         {"Invalid BLOB offset into BLOB file for physical record # 16, error fixed"},
         [](PictureRows& rows) { rows["P0016"].blob.clear(); }},
        {"BLOB reference beyond the file",
         [](MaintenanceFixture& f) { f.PutLe32(".DAT", BlobSlot(15), 100000); },
         {"Invalid BLOB offset into BLOB file for physical record # 15, error fixed"},
         [](PictureRows& rows) { rows["P0015"].blob.clear(); }},
        {"truncated BLOB file",
         [](MaintenanceFixture& f) { f.Truncate(".BLB", f.Size(".BLB") - 512 - 256); },
         {"BLOB blocks not aligned on even block size boundaries, error fixed",
          "Physical BLOB block count not correct, error fixed",
          "Invalid intra-block pointer in BLOB file for physical record # 40, error fixed"},
         // Verify reads the chain against the uncorrected block count.
         [](PictureRows& rows) { rows["P0040"].blob = PictureBytes(40).substr(0, 2 * 494); },
         true,
         {"Invalid intra-block pointer in BLOB file for physical record # 40, error fixed"}},
        {"deleted index file",
         [](MaintenanceFixture& f) { std::filesystem::remove(f.File(".IDX")); },
         {"Logical record ID for physical record # 1 is invalid, error fixed", indexesInvalid, indexesFixed},
         // The first record is found without its "Sys Deleted" key and gets a new identifier.
         [](PictureRows& rows) { rows["P0001"].id = kRecords + 1; },
         false},
        {"index file header of another version",
         [](MaintenanceFixture& f) { f.Overwrite(".IDX", 8, "\x09"); },
         {"Invalid or corrupt index file header, error fixed",
          "Logical record ID for physical record # 1 is invalid, error fixed", indexesInvalid, indexesFixed},
         // Set aside as the index backup; the table goes on as with a lost index file.
         [](PictureRows& rows) { rows["P0001"].id = kRecords + 1; },
         false,
         {"Logical record ID for physical record # 1 is invalid, error fixed", indexesInvalid}},
        // Cut short inside its header: nothing of it can be read, and nothing
        // it held is lost, since the records give every key back.
        {"index file cut short inside its header",
         [](MaintenanceFixture& f) { f.Truncate(".IDX", 2048); },
         {"Invalid or corrupt index file header, error fixed",
          "Logical record ID for physical record # 1 is invalid, error fixed", indexesInvalid, indexesFixed},
         [](PictureRows& rows) { rows["P0001"].id = kRecords + 1; },
         false,
         {"Logical record ID for physical record # 1 is invalid, error fixed", indexesInvalid}},
        {"index file header with too many indexes",
         [](MaintenanceFixture& f) { f.Overwrite(".IDX", 13, "\x63"); },
         {"Invalid or corrupt index file header, error fixed",
          "Logical record ID for physical record # 1 is invalid, error fixed", indexesInvalid, indexesFixed},
         [](PictureRows& rows) { rows["P0001"].id = kRecords + 1; },
         false,
         {"Logical record ID for physical record # 1 is invalid, error fixed", indexesInvalid}},
        // Key length, flags and field count of slot 0 zeroed: the unique
        // mark goes back before the key length is derived from it.
        {"primary index slot without its figures",
         [](MaintenanceFixture& f) { f.Overwrite(".IDX", 14 + 31, std::string(7, '\0')); },
         {"Invalid key size of 0 for index , error fixed", "Invalid key field count of 0 for index , error fixed",
          indexesInvalid, indexesFixed},
         [](PictureRows&) {}},
        {"duplicated record identifier",
         [](MaintenanceFixture& f) { f.PutLe32(".DAT", RecordOffset(5) + 5, 2); },
         {"Logical record ID for physical record # 5 is invalid, error fixed", indexesInvalid, indexesFixed},
         [](PictureRows& rows) { rows["P0005"].id = kRecords + 1; }},
        {"header with wrong counts",
         [](MaintenanceFixture& f) {
             f.PutLe32(".DAT", 13, kRecords + 5);
             TDataTable* table = nullptr;
             ASSERT_EQ(f.directory->OpenTable("Pics", table, true, false), 0);
             table->IndexFile().SetActiveRecords(kRecords + 3);
             table->IndexFile().SetHeaderChanged();
             ASSERT_EQ(f.directory->CloseTable(table), 0);
         },
         {"Physical record count not correct, error fixed", indexesInvalid, indexesFixed},
         [](PictureRows&) {}},
        {"two records with one key",
         [](MaintenanceFixture& f) { f.Overwrite(".DAT", RecordOffset(7) + 1 + 9, "P0003"); },
         {indexesInvalid, "Error rebuilding index keys for physical record # 7, error fixed but physical record deleted",
          indexesFixed},
         // A unique index cannot hold both: the later record goes.
         [](PictureRows& rows) { rows.erase("P0007"); },
         true,
         {"Error rebuilding index keys for physical record # 7, error fixed but physical record deleted"}},
    };
}

TEST_F(RepairTest, ASoundTableVerifiesAndRepairsCleanAndKeepsEveryRecord) {
    Fill(kRecords, true, 4);
    const PictureRows before = Rows();
    EXPECT_TRUE(maintenance.VerifyTable());
    EXPECT_TRUE(maintenance.RepairTable());
    EXPECT_TRUE(Findings().empty()) << Findings().front();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].rfind("Repair of table Pics started at ", 0), 0u) << log[0];
    EXPECT_EQ(log[1].rfind("Repair of table Pics completed at ", 0), 0u) << log[1];
    EXPECT_EQ(Rows(), before);
    EXPECT_EQ(Problems(), "");
}

TEST_F(RepairTest, EachDamageIsFoundByVerifyAndMendedByRepairWithoutLosingIntactRecords) {
    for (const DamageCase& c : DamageCases()) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(File(".DAT"));
        std::filesystem::remove(File(".IDX"));
        std::filesystem::remove(File(".BLB"));
        Fill(kRecords, true);
        PictureRows expected = Rows();
        c.damage(*this);
        c.expected(expected);

        ClearLog();
        EXPECT_FALSE(maintenance.VerifyTable());
        for (const std::string& m : c.messages) {
            if (std::find(c.repairOnly.begin(), c.repairOnly.end(), m) != c.repairOnly.end()) continue;
            const std::string verify = VerifyForm(m);
            if (!verify.empty()) {
                EXPECT_TRUE(Logged(verify)) << "verify did not report: " << verify;
            }
        }

        ClearLog();
        EXPECT_FALSE(maintenance.RepairTable());
        for (const std::string& m : c.messages) EXPECT_TRUE(Logged(m)) << "repair did not log: " << m;

        ClearLog();
        EXPECT_TRUE(maintenance.VerifyTable());
        for (const std::string& m : Findings()) ADD_FAILURE() << "still found after repair: " << m;
        EXPECT_EQ(Rows(), expected);
        if (c.primaryIndexKept) {
            EXPECT_EQ(Problems(), "");
        }
    }
}

TEST_F(RepairTest, DeletedRecordsGoBackOnTheFreeChainAndTheirSpaceIsReused) {
    Fill(20, false, 3);
    // The header repair empties the free chain; the record scan rebuilds it.
    PutLe32(".DAT", 9, 0);
    maintenance.RepairTable();
    EXPECT_EQ(Problems(), "");
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    TableDriver driver(*table);
    for (int i = 0; i < 6; ++i) EXPECT_LE(driver.Append("N" + std::to_string(i), i), 20u);
    EXPECT_EQ(table->PhysicalRecordCount(), 20u);
    (void)directory->CloseTable(table);
    EXPECT_EQ(Problems(), "");
}

TEST_F(RepairTest, AFlagAgainstRecordReuseSetByDamageIsClearedBeforeTheFreeChainIsRebuilt) {
    Fill(20, false, 3);
    Overwrite(".IDX", 3978, std::string(1, '\1'));  // the no-primary-fields flag
    EXPECT_FALSE(maintenance.RepairTable());
    EXPECT_TRUE(Logged("Invalid internal primary index flag in header, error fixed")) << ::testing::PrintToString(log);
    // Every deleted record is on the free chain again, not only the last one freed.
    EXPECT_EQ(Problems(), "");
    EXPECT_TRUE(maintenance.VerifyTable());
}

// The BLOB file cannot be read once the count says it is there: the repair
// says so rather than reporting a table whose pictures cannot be reached.
TEST_F(RepairTest, ABlobFileCutInsideItsHeaderBehindALostBlobFieldCountFailsTheRepair) {
    Fill(6, true);
    Overwrite(".DAT", 25, std::string(2, '\0'));
    Truncate(".BLB", 459);
    EXPECT_EQ(CodeOf([&] { maintenance.RepairTable(); }), err::ReadError);
}

// The repair gives slot 0 an empty name and its unique mark without a
// message; verify still reports the header the open refuses.
TEST_F(RepairTest, APrimarySlotWithANameIsReportedByVerifyAndMendedByRepair) {
    Fill(8, true);
    const PictureRows before = Rows();
    Overwrite(".IDX", 14, std::string("\x01X", 2));
    EXPECT_FALSE(maintenance.VerifyTable());
    EXPECT_TRUE(Logged("Invalid or corrupt index file header")) << ::testing::PrintToString(log);
    maintenance.RepairTable();
    EXPECT_EQ(Rows(), before);
    EXPECT_TRUE(maintenance.VerifyTable());
    EXPECT_EQ(Problems(), "");
}

// Bytes of a stored header that no engine writes: the open and the repair
// read past them, and the table stays whole.
TEST_F(RepairTest, AStoredTemporaryMarkOnAnIndexSlotIsNotTaken) {
    for (const int slot : {0, 31, 32}) {
        SCOPED_TRACE(slot);
        for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(File(ext));
        Fill(12, true, 4);
        const PictureRows before = Rows();
        Overwrite(".IDX", 14 + 120 * slot + 101, std::string(1, '\1'));
        EXPECT_EQ(Rows(), before);
        EXPECT_TRUE(maintenance.VerifyTable());
        maintenance.RepairTable(true);
        EXPECT_EQ(Rows(), before);
        EXPECT_EQ(Problems(), "");
        EXPECT_TRUE(maintenance.VerifyTable());
    }
}

// Figures of the data file's header that nothing else in the files gives
// back: the text ordering, without which the indexes cannot be ordered, and
// the BLOB block size, without which no block can be read. Verify and repair
// refuse them with the open's error and change nothing.
TEST_F(RepairTest, HeaderFiguresThatCannotBeDerivedAreRefusedByVerifyAndRepair) {
    struct Case {
        const char* name;
        std::uint64_t offset;
        std::string bytes;
        std::uint16_t code;
    };
    const Case cases[] = {
        {"language that is not installed", 103, std::string("\x7f\x7f\x7f\x7f", 4), err::LanguageNotAvailable},
        {"BLOB blocks smaller than their own header", 4, std::string("\x04\0\0\0", 4), err::HeaderCorrupt},
        {"BLOB blocks of 70000 bytes", 4, std::string("\x70\x11\x01\0", 4), err::HeaderCorrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(File(ext));
        Fill(6, true, 3);
        Overwrite(".DAT", c.offset, c.bytes);
        const std::string data = FileBytes(File(".DAT").string());
        const std::string index = FileBytes(File(".IDX").string());
        const std::string blob = FileBytes(File(".BLB").string());
        EXPECT_EQ(CodeOf([&] { maintenance.VerifyTable(); }), c.code);
        EXPECT_EQ(CodeOf([&] { maintenance.RepairTable(); }), c.code);
        EXPECT_EQ(FileBytes(File(".DAT").string()), data);
        EXPECT_EQ(FileBytes(File(".IDX").string()), index);
        EXPECT_EQ(FileBytes(File(".BLB").string()), blob);
    }
}

TEST_F(RepairTest, AForcedRebuildIsNotAFindingAndReportsItsSteps) {
    Fill(kRecords, true, 5);
    const PictureRows before = Rows();
    session->SetProgressSteps(4);
    EXPECT_TRUE(maintenance.RepairTable(true));
    EXPECT_TRUE(Findings().empty());
    EXPECT_EQ(Rows(), before);
    EXPECT_EQ(Problems(), "");
    const std::vector<std::pair<std::string, int>> expected = {
        {"Repairing headers", 0},
        {"Repairing headers", 100},
        {"Repairing record, index, and BLOB data", 25},
        {"Repairing record, index, and BLOB data", 50},
        {"Repairing record, index, and BLOB data", 75},
        {"Repairing record, index, and BLOB data", 100},
    };
    ASSERT_GE(stepped.size(), expected.size());
    EXPECT_EQ(std::vector(stepped.begin(), stepped.begin() + 6), expected);
    EXPECT_EQ(stepped.back(), std::make_pair(std::string("Rebuilding indexes"), 100));
}

TEST_F(RepairTest, ALowRecordIDCounterIsRaisedToTheLargestIdentifier) {
    Fill(10, false);
    PutLe32(".DAT", 17, 3);
    EXPECT_FALSE(maintenance.RepairTable());
    EXPECT_EQ(Findings(), std::vector<std::string>{"Invalid next available record ID (auto-increment), error fixed"});
    EXPECT_EQ(Le32At(".DAT", 17), 10u);
}

TEST_F(RepairTest, TwoRecordsSharingOneChainEachKeepTheirOwnCopy) {
    Fill(6, true);
    // Record 4 made a byte-for-byte copy of record 2's BLOB reference.
    std::string slot(8, '\0');
    for (int i = 0; i < 8; ++i) slot[static_cast<std::size_t>(i)] = static_cast<char>(Le32At(".DAT", BlobSlot(2) + (i / 4) * 4) >> (8 * (i % 4)));
    Overwrite(".DAT", BlobSlot(4), slot);
    EXPECT_FALSE(maintenance.RepairTable());
    EXPECT_TRUE(Logged("Shared BLOB block chain for physical record # 4, error fixed"));
    const PictureRows rows = Rows();
    EXPECT_EQ(rows.at("P0004").blob, PictureBytes(2));
    EXPECT_EQ(rows.at("P0002").blob, PictureBytes(2));
    EXPECT_NE(Le32At(".DAT", BlobSlot(4)), Le32At(".DAT", BlobSlot(2)));
    ClearLog();
    EXPECT_TRUE(maintenance.VerifyTable());
}

// A damaged reference into the middle of another record's chain is not a
// copy: the record whose owner identifier does not match loses its value,
// whichever of the two comes first, and the other keeps its picture whole.
TEST_F(RepairTest, AReferenceIntoAnotherRecordsChainIsCutAndThatRecordKeepsItsPicture) {
    for (const auto& [damaged, other] : {std::pair<std::uint32_t, std::uint32_t>{5, 2}, {2, 5}}) {
        SCOPED_TRACE("record " + std::to_string(damaged) + " into record " + std::to_string(other));
        for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(File(ext));
        Fill(6, true);
        PictureRows expected = Rows();
        // Record 2's picture (800 bytes) and record 5's (1550) take more than one block.
        PutLe32(".DAT", BlobSlot(damaged), Le32At(".DAT", BlobSlot(other)) + 1);
        ClearLog();
        EXPECT_FALSE(maintenance.RepairTable());
        const std::string number = std::to_string(damaged);
        EXPECT_TRUE(Logged("Invalid BLOB offset into BLOB file for physical record # " + number + ", error fixed") ||
                    Logged("Invalid BLOB offset in BLOB file for physical record # " + number + ", error fixed"))
            << ::testing::PrintToString(log);
        EXPECT_FALSE(Logged("Shared BLOB block chain for physical record # " + number + ", error fixed"));
        expected["P000" + number].blob.clear();
        ExpectRows(expected);
        ClearLog();
        EXPECT_TRUE(maintenance.VerifyTable());
        EXPECT_EQ(Problems(), "");
    }
}

// A repair in which a step could not mend its record does not succeed: it
// raises the failure once it has done what it could, and a repair that
// returns leaves a table that verifies clean.
TEST_F(RepairTest, ARepairWithAFailedStepRaisesInsteadOfReportingSuccess) {
    auto damage = [this] {
        for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(File(ext));
        Fill(24, true, 5);
        PutLe32(".DAT", RecordOffset(9) + 5, 3);
    };
    damage();
    auto counter = std::make_shared<TFaultPlan>();
    {
        ScopedFaultPlan scope(counter);
        maintenance.RepairTable();
    }
    const std::uint64_t reads = counter->Count(FileOp::Read);
    ASSERT_GT(reads, 4u);
    int failedSteps = 0;
    for (std::uint64_t n = 1; n <= reads; ++n) {
        SCOPED_TRACE("read " + std::to_string(n));
        damage();
        ClearLog();
        auto plan = std::make_shared<TFaultPlan>();
        plan->FailNth(FileOp::Read, n);
        bool returned = false;
        {
            ScopedFaultPlan scope(plan);
            try {
                maintenance.RepairTable();
                returned = true;
            } catch (const ECofferEngineError&) {
            }
        }
        const bool stepFailed = std::any_of(log.begin(), log.end(), [](const std::string& m) {
            return m.rfind("Unexpected error ", 0) == 0;
        });
        if (stepFailed) {
            ++failedSteps;
            EXPECT_FALSE(returned) << "a repair with a failed step reported success";
        }
        if (returned) {
            ClearLog();
            EXPECT_TRUE(maintenance.VerifyTable()) << ::testing::PrintToString(log);
        }
    }
    EXPECT_GT(failedSteps, 0);
}

// A descriptor that no longer says where its field lies (its type gone) cannot
// be mended: the repair refuses with 8961 and leaves every file as it was.
TEST_F(RepairTest, ADescriptorWithoutATypeIsRefusedAndNothingIsChanged) {
    Fill(6, true);
    Overwrite(".DAT", 127 + 768 + 84, std::string(1, '\0'));  // field 2 (Num): type 0
    const std::string data = FileBytes(File(".DAT").string());
    const std::string blob = FileBytes(File(".BLB").string());
    EXPECT_EQ(CodeOf([&] { maintenance.RepairTable(); }), err::HeaderCorrupt);
    EXPECT_TRUE(Logged("Invalid field data type (Unknown) for field Num in table header")) << ::testing::PrintToString(log);
    EXPECT_EQ(FileBytes(File(".DAT").string()), data);
    EXPECT_EQ(FileBytes(File(".BLB").string()), blob);
}

TEST_F(RepairTest, AFreeChainRunningIntoAValueIsCutSoNoPictureIsOverwritten) {
    Fill(6, true);
    // The free chain claims the first block of record 3's picture.
    PutLe32(".BLB", 9, Le32At(".DAT", BlobSlot(3)));
    ClearLog();
    EXPECT_FALSE(maintenance.VerifyTable());
    EXPECT_TRUE(Logged("Invalid free BLOB block chain"));
    EXPECT_FALSE(maintenance.RepairTable());
    EXPECT_EQ(Le32At(".BLB", 9), 0u);
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    TableDriver(*table).Append("New", 1, PictureBytes(99));
    (void)directory->CloseTable(table);
    EXPECT_EQ(Rows().at("P0003").blob, PictureBytes(3));
}

TEST_F(RepairTest, AnEncryptedTableNeedsItsPassword) {
    TableDefinition d = PictureTable(true);
    d.params.encrypted = true;
    d.params.password = "secret";
    maintenance.CreateTable(d);
    EXPECT_EQ(CodeOf([&] { maintenance.RepairTable(); }), err::PasswordRequired);
    int asked = 0;
    maintenance.Events.OnPasswordRequest = [&] {
        ++asked;
        session->AddPassword("secret");
        return true;
    };
    EXPECT_TRUE(maintenance.RepairTable());
    EXPECT_EQ(asked, 1);
}

TEST_F(RepairTest, AMissingTableIsAnErrorBeforeAnythingIsLogged) {
    EXPECT_NE(CodeOf([&] { maintenance.RepairTable(); }), 0);
    EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace pixhold::engine::coretest

namespace pixhold::engine::coretest {
namespace {

// A repair that a failed write stops can be run again: the second run mends
// the table and every record keeps its values and picture.
TEST_F(RepairTest, ARepairStoppedByAFailedWriteIsFinishedByTheNextOne) {
    auto damage = [this] {
        std::filesystem::remove(File(".DAT"));
        std::filesystem::remove(File(".IDX"));
        std::filesystem::remove(File(".BLB"));
        Fill(24, true, 5);
        Overwrite(".IDX", 2 * 4096, std::string(4096, '\x55'));
        PutLe32(".DAT", RecordOffset(9) + 5, 3);
    };
    damage();
    const PictureRows before = Rows();
    auto counter = std::make_shared<TFaultPlan>();
    {
        ScopedFaultPlan scope(counter);
        maintenance.RepairTable();
    }
    const std::uint64_t writes = counter->Count(FileOp::Write);
    ASSERT_GT(writes, 2u);
    for (std::uint64_t n = 1; n <= writes; n += 1 + writes / 12) {
        SCOPED_TRACE("write " + std::to_string(n));
        damage();
        auto plan = std::make_shared<TFaultPlan>();
        plan->FailNth(FileOp::Write, n);
        {
            ScopedFaultPlan scope(plan);
            try {
                maintenance.RepairTable();
            } catch (const ECofferEngineError&) {
            }
        }
        ExpectRepairedWhole(before);
    }
}

}  // namespace
}  // namespace pixhold::engine::coretest

namespace pixhold::engine::coretest {
namespace {

// Tables changed through cursors (appends with pictures, changes, deletes)
// are what the verify takes as sound, and survive an optimise whole.
TEST_F(RepairTest, ATableEditedThroughCursorsVerifiesCleanAndOptimisesWhole) {
    maintenance.CreateTable(PictureTable(true));
    {
        TDataCursor cursor(*directory);
        cursor.TableName = "Pics";
        cursor.OpenCursor();
        const std::vector<FieldDescriptor>& fields = cursor.Fields();
        std::vector<std::uint8_t> buffer(cursor.RecordSize());
        for (int i = 1; i <= 30; ++i) {
            cursor.InitRecord(buffer.data());
            recordbuffer::SetText(fields[0], buffer.data(), "C" + std::to_string(i));
            const std::int32_t num = i;
            recordbuffer::SetValue(fields[1], buffer.data(),
                                   std::span(reinterpret_cast<const std::uint8_t*>(&num), sizeof num));
            const std::string picture = PictureBytes(i);
            std::uint32_t length = 0;
            ASSERT_EQ(cursor.OpenBlob(3, buffer.data(), TBlobOpenMode::ReadWrite, length), 0);
            ASSERT_EQ(cursor.PutBlob(3, buffer.data(), 0, static_cast<std::uint32_t>(picture.size()), picture.data()), 0);
            cursor.AppendRecord(buffer.data(), true);
            cursor.FreeAllBlobs();
        }
        // Every third record goes, every fifth gets a new number.
        cursor.SetToBegin();
        int seen = 0;
        while (cursor.GetNextRecord(buffer.data()) == 0) {
            ++seen;
            if (seen % 3 == 0) {
                cursor.DeleteRecord(buffer.data(), true);
            } else if (seen % 5 == 0) {
                ASSERT_EQ(cursor.GetCurrentRecord(buffer.data(), true), 0);
                const std::int32_t num = 1000 + seen;
                recordbuffer::SetValue(fields[1], buffer.data(),
                                       std::span(reinterpret_cast<const std::uint8_t*>(&num), sizeof num));
                cursor.ModifyRecord(buffer.data(), true, true);
            }
        }
        cursor.CloseCursor();
    }
    const PictureRows before = Rows();
    EXPECT_EQ(before.size(), 20u);
    EXPECT_TRUE(maintenance.VerifyTable());
    for (const std::string& m : Findings()) ADD_FAILURE() << m;
    maintenance.OptimizeTable();
    EXPECT_EQ(Rows(), before);
    ClearLog();
    EXPECT_TRUE(maintenance.VerifyTable());
    for (const std::string& m : Findings()) ADD_FAILURE() << m;
    EXPECT_EQ(Problems(), "");
}

}  // namespace
}  // namespace pixhold::engine::coretest
