#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CursorTestSupport.h"
#include "DataCursor.h"
#include "EngineError.h"
#include "FaultPlan.h"
#include "MaintenanceTestSupport.h"

namespace pixhold::engine::coretest {
namespace {

using OptimizeTest = MaintenanceFixture;

bool PrivateDirEmpty(const std::filesystem::path& folder) {
    return std::filesystem::is_empty(folder);
}

TEST_F(OptimizeTest, DeletedRecordsGoAndEveryActiveRecordKeepsItsIdentifierAndPicture) {
    Fill(120, true, 3);
    const PictureRows before = Rows();
    const auto dataSize = Size(".DAT");
    const auto indexSize = Size(".IDX");
    const auto blobSize = Size(".BLB");
    ASSERT_EQ(PhysicalCount(), 120u);

    maintenance.OptimizeTable();

    EXPECT_EQ(PhysicalCount(), 80u);
    EXPECT_EQ(Rows(), before);
    EXPECT_EQ(Problems(), "");
    EXPECT_LT(Size(".DAT"), dataSize);
    EXPECT_LE(Size(".IDX"), indexSize);
    EXPECT_LT(Size(".BLB"), blobSize);
    // The replaced files are the backups.
    EXPECT_EQ(Size(".DBK"), dataSize);
    EXPECT_EQ(Size(".IBK"), indexSize);
    EXPECT_EQ(Size(".BBK"), blobSize);
    EXPECT_TRUE(maintenance.VerifyTable());
    EXPECT_TRUE(PrivateDirEmpty(privateDir));
    // The last identifier given stays, so that no identifier comes back.
    EXPECT_EQ(Le32At(".DAT", 17), 120u);
}

TEST_F(OptimizeTest, WithoutBackupNoBackupFilesAreLeftAndOlderOnesAreReplacedOtherwise) {
    Fill(10, true, 2);
    maintenance.OptimizeTable({}, true);
    EXPECT_FALSE(Exists(".DBK"));
    EXPECT_FALSE(Exists(".IBK"));
    EXPECT_FALSE(Exists(".BBK"));
    EXPECT_EQ(Rows().size(), 5u);

    maintenance.OptimizeTable();
    const auto firstBackup = Size(".DBK");
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    TableDriver(*table).Append("More", 1, PictureBytes(1));
    (void)directory->CloseTable(table);
    maintenance.OptimizeTable();
    EXPECT_GT(Size(".DBK"), firstBackup);
    EXPECT_EQ(Rows().size(), 6u);
}

TEST_F(OptimizeTest, ProgressIsSentAtEachStepOnceAndOnlyOneHundredWithoutSteps) {
    Fill(200, false);
    maintenance.OptimizeTable({}, true);
    std::vector<int> expected;
    for (int p = 5; p <= 100; p += 5) expected.push_back(p);
    EXPECT_EQ(progress, expected);

    progress.clear();
    session->SetProgressSteps(0);
    maintenance.OptimizeTable({}, true);
    EXPECT_EQ(progress, std::vector<int>{100});

    progress.clear();
    session->SetProgressSteps(3);  // a step of 33
    maintenance.OptimizeTable({}, true);
    EXPECT_EQ(progress, (std::vector<int>{33, 66, 99, 100}));
}

TEST_F(OptimizeTest, AnEmptyTableStaysEmptyAndSendsOneHundred) {
    Fill(0, true);
    maintenance.OptimizeTable();
    EXPECT_EQ(progress, std::vector<int>{100});
    EXPECT_EQ(PhysicalCount(), 0u);
    EXPECT_EQ(Problems(), "");
}

TEST_F(OptimizeTest, AnUnknownIndexNameChangesNothing) {
    Fill(10, true, 2);
    const std::string before = FileBytes(File(".DAT").string());
    EXPECT_EQ(CodeOf([&] { maintenance.OptimizeTable("NoSuchIndex"); }), err::InvalidIndexName);
    EXPECT_EQ(FileBytes(File(".DAT").string()), before);
    EXPECT_FALSE(Exists(".DBK"));
    EXPECT_TRUE(PrivateDirEmpty(privateDir));
}

TEST_F(OptimizeTest, AFailureWhileCopyingLeavesTheTableAsItWasAndNoTemporaryTable) {
    Fill(10, true);
    // Record 6's BLOB reference names another owner: its value cannot be read.
    PutLe32(".DAT", RecordOffset(6) + 36 + 1 + 4, 777);
    const std::string before = FileBytes(File(".DAT").string());
    EXPECT_EQ(CodeOf([&] { maintenance.OptimizeTable(); }), err::RecordChanged);
    EXPECT_EQ(FileBytes(File(".DAT").string()), before);
    EXPECT_FALSE(Exists(".DBK"));
    EXPECT_TRUE(PrivateDirEmpty(privateDir));
    // Repair, then optimise: the way back for a damaged table.
    maintenance.RepairTable();
    maintenance.OptimizeTable();
    EXPECT_EQ(Rows().size(), 10u);
}

TEST_F(OptimizeTest, RecordsAreRewrittenInTheOrderOfTheChosenIndex) {
    cursortest::CursorFixture fixture;
    fixture.Session().SetPrivateDir(fixture.Folder());
    const int nums[] = {50, 10, 40, 20, 30, 60};
    for (int i = 0; i < 6; ++i) fixture.Append("N" + std::to_string(i), nums[i], "c");
    fixture.Delete(1);
    fixture.ReleaseWriter();
    TTableMaintenance pics(fixture.Directory(), fixture.TableName);
    pics.OptimizeTable("ByNum", true);

    TDataCursor cursor(fixture.Directory());
    cursor.TableName = fixture.TableName;
    cursor.ResultCursor = true;  // physical order
    cursor.OpenCursor();
    std::vector<std::int32_t> physical;
    std::vector<std::uint8_t> image(cursor.RecordSize());
    cursor.SetToBegin();
    while (cursor.GetNextRecord(image.data()) == 0) physical.push_back(cursortest::RowOf(cursor, image).num);
    EXPECT_EQ(physical, (std::vector<std::int32_t>{10, 20, 30, 40, 60}));
    // Every index still finds every record.
    for (const std::string& index : cursortest::IndexNames()) {
        cursor.SetIndexName(index);
        EXPECT_EQ(cursor.GetRecordCount(), 5u) << index;
    }
    cursor.CloseCursor();
}

}  // namespace
}  // namespace pixhold::engine::coretest

namespace pixhold::engine::coretest {
namespace {

// A write that fails anywhere in an optimise leaves the table whole, with
// every record and picture, and nothing in the private directory.
TEST_F(OptimizeTest, AFailedWriteAnywhereLeavesEveryRecordAndNoTemporaryTable) {
    Fill(15, true, 3);
    const PictureRows before = Rows();
    auto counter = std::make_shared<TFaultPlan>();
    {
        ScopedFaultPlan scope(counter);
        maintenance.OptimizeTable({}, true);
    }
    const std::uint64_t writes = counter->Count(FileOp::Write);
    ASSERT_GT(writes, 3u);
    for (std::uint64_t n = 1; n <= writes; n += 1 + writes / 30) {
        SCOPED_TRACE("write " + std::to_string(n));
        auto plan = std::make_shared<TFaultPlan>();
        plan->FailNth(FileOp::Write, n);
        {
            ScopedFaultPlan scope(plan);
            try {
                maintenance.OptimizeTable({}, true);
            } catch (const ECofferEngineError&) {
            }
        }
        EXPECT_EQ(plan->FaultsInjected(), 1u);
        EXPECT_EQ(Rows(), before);
        EXPECT_EQ(Problems(), "");
        EXPECT_TRUE(PrivateDirEmpty(privateDir));
    }
}

TEST(OptimizeInMemory, AnInMemoryTableIsOptimisedInTheMemoryDirectory) {
    auto session = FastSession();
    TDataDirectory* memory = session->OpenDataDirectory("Memory", "");
    TTableMaintenance pics(*memory, "Pics", true);
    pics.CreateTable(PictureTable(true));
    TDataTable* table = nullptr;
    ASSERT_EQ(memory->OpenTable("Pics", table, false, true), 0);
    TableDriver driver(*table);
    for (int i = 0; i < 9; ++i) driver.Append("M" + std::to_string(i), i, PictureBytes(i));
    driver.Delete(4);
    (void)memory->CloseTable(table);
    pics.OptimizeTable();
    ASSERT_EQ(memory->OpenTable("Pics", table, false, true), 0);
    TableDriver after(*table);
    EXPECT_EQ(table->PhysicalRecordCount(), 8u);
    EXPECT_EQ(after.Check().problems, "");
    EXPECT_EQ(after.ReadBlob(1), PictureBytes(0));
    (void)memory->CloseTable(table);
    EXPECT_TRUE(pics.VerifyTable());
    session->CloseDataDirectory(memory);
}

}  // namespace
}  // namespace pixhold::engine::coretest
