// BLOB blocks that neither a value nor the free chain holds: the space a
// write cut short leaves behind. Verify reports it, repair puts it on the
// free chain, where the next values take it; a block of a value or of the
// free chain is never counted as unused.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "BlobCensus.h"
#include "EngineError.h"
#include "FaultPlan.h"
#include "MaintenanceTestSupport.h"

namespace pixhold::engine::coretest {
namespace {

const char* const kUnused = "Unused BLOB blocks not on the free chain";

class BlobSpaceRepair : public MaintenanceFixture {
protected:
    // A value written to the BLOB file as an insert killed before its record
    // was written leaves it: its blocks taken, no record naming them.
    std::vector<std::uint32_t> Orphan(std::size_t length) {
        TDataTable* table = nullptr;
        EXPECT_EQ(directory->OpenTable("Pics", table, false, false), 0);
        std::vector<std::uint32_t> blocks;
        if (table == nullptr) return blocks;
        table->BeginWrite();
        const std::string bytes(length, 'o');
        std::uint32_t first = 0;
        table->BlobFile().WriteValue(nullptr, first, 0x7000, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                     bytes.size());
        table->WriteBlobBuffers(true);
        for (std::uint32_t b = first; b != 0;) {
            blocks.push_back(b);
            TBlock* block = table->BlobFile().GetBlock(nullptr, b);
            b = block->Header.next;
            table->BlobFile().ReleaseBlock(block);
        }
        table->EndWrite();
        (void)directory->CloseTable(table);
        std::sort(blocks.begin(), blocks.end());
        return blocks;
    }

    BlobCensus Census() {
        TDataTable* table = nullptr;
        EXPECT_EQ(directory->OpenTable("Pics", table, false, false), 0);
        if (table == nullptr) return {};
        const BlobCensus census = TakeBlobCensus(*table);
        (void)directory->CloseTable(table);
        return census;
    }

    // The free chain from its head.
    std::vector<std::uint32_t> FreeChain() {
        std::vector<std::uint32_t> chain;
        for (std::uint32_t b = Le32At(".BLB", 9); b != 0 && chain.size() < 100000; b = Le32At(".BLB", BlockOffset(b) + 4))
            chain.push_back(b);
        return chain;
    }
};

TEST_F(BlobSpaceRepair, BlocksNoValueHoldsAreReportedAndGoBackOnTheFreeChainForTheNextValues) {
    Fill(9, true, 4);  // records 4 and 8 deleted: their blocks are free
    const PictureRows before = Rows();
    const std::vector<std::uint32_t> free = FreeChain();
    ASSERT_FALSE(free.empty());
    const std::vector<std::uint32_t> orphan = Orphan(5000);
    ASSERT_GT(orphan.size(), free.size()) << "free blocks, then new ones";
    BlobCensus census = Census();
    EXPECT_EQ(census.neither, orphan.size());

    // Verify reports it and changes nothing.
    const std::string disk = FileBytes(File(".BLB").string());
    ClearLog();
    EXPECT_FALSE(maintenance.VerifyTable());
    EXPECT_EQ(Findings(), std::vector<std::string>{kUnused});
    EXPECT_EQ(FileBytes(File(".BLB").string()), disk);

    ClearLog();
    EXPECT_FALSE(maintenance.RepairTable());
    EXPECT_EQ(Findings(), std::vector<std::string>{std::string(kUnused) + ", error fixed"});
    ClearLog();
    EXPECT_TRUE(maintenance.VerifyTable());
    ExpectRows(before);
    census = Census();
    EXPECT_EQ(census.problems, "");
    EXPECT_EQ(census.neither, 0u);
    // On top of the free chain, in ascending order.
    EXPECT_EQ(FreeChain(), orphan);

    // The next pictures take the space again: the file does not grow.
    const auto size = Size(".BLB");
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
    TableDriver driver(*table);
    driver.Append("New", 1, std::string(5000, 'n'));
    (void)directory->CloseTable(table);
    EXPECT_EQ(Size(".BLB"), size);
    EXPECT_EQ(Rows().at("New").blob, std::string(5000, 'n'));
}

TEST_F(BlobSpaceRepair, ARepairOfASoundTableChangesNoBlock) {
    Fill(12, true, 3);
    ASSERT_FALSE(FreeChain().empty());
    const std::string before = FileBytes(File(".BLB").string());
    ClearLog();
    EXPECT_TRUE(maintenance.VerifyTable());
    EXPECT_TRUE(maintenance.RepairTable());
    const std::string after = FileBytes(File(".BLB").string());
    ASSERT_EQ(after.size(), before.size());
    // The header's change counter (0..3) and changed mark (17) may move.
    EXPECT_EQ(after.substr(8, 9), before.substr(8, 9)) << "format mark, free chain head, block count";
    EXPECT_TRUE(after.compare(512, std::string::npos, before, 512, std::string::npos) == 0) << "a block changed";
}

TEST_F(BlobSpaceRepair, TheRestOfACutFreeChainGoesBackWithoutTouchingAValue) {
    Fill(9, true, 3);  // records 3, 6 and 9 deleted
    const PictureRows before = Rows();
    const std::vector<std::uint32_t> free = FreeChain();
    ASSERT_GE(free.size(), 4u);
    // The second free block runs into record 2's picture.
    const std::uint32_t value = Le32At(".DAT", static_cast<std::uint32_t>(RecordOffset(2)) + 36 + 1);
    PutLe32(".BLB", BlockOffset(free[1]) + 4, value);
    ClearLog();
    EXPECT_FALSE(maintenance.VerifyTable());
    EXPECT_EQ(Findings(), (std::vector<std::string>{"Invalid free BLOB block chain", kUnused}));
    EXPECT_FALSE(maintenance.RepairTable());
    ClearLog();
    EXPECT_TRUE(maintenance.VerifyTable()) << ::testing::PrintToString(log);
    ExpectRows(before);
    const BlobCensus census = Census();
    EXPECT_EQ(census.problems, "");
    EXPECT_EQ(census.neither, 0u);
    EXPECT_EQ(census.free, free.size());
}

// A record the scan could not read may hold blocks that look unused: a
// repair with a failed step gives nothing back, and no picture loses a block.
TEST_F(BlobSpaceRepair, ARepairWhoseScanFailedFreesNothing) {
    auto build = [this] {
        for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(File(ext));
        Fill(10, true, 4);
        Orphan(3000);
    };
    build();
    const PictureRows before = Rows();
    // Reads of the BLOB file: the chain walks of the scan.
    auto counter = std::make_shared<TFaultPlan>(".BLB");
    {
        ScopedFaultPlan scope(counter);
        maintenance.RepairTable();
    }
    const std::uint64_t reads = counter->Count(FileOp::Read);
    ASSERT_GT(reads, 2u);
    int failedSteps = 0;
    for (std::uint64_t n = 1; n <= reads; ++n) {
        SCOPED_TRACE("read " + std::to_string(n));
        build();
        ClearLog();
        auto plan = std::make_shared<TFaultPlan>(".BLB");
        plan->FailNth(FileOp::Read, n);
        {
            ScopedFaultPlan scope(plan);
            try {
                maintenance.RepairTable();
            } catch (const ECofferEngineError&) {
            }
        }
        const bool stepFailed = std::any_of(log.begin(), log.end(), [](const std::string& m) {
            return m.rfind("Unexpected error ", 0) == 0;
        });
        if (stepFailed) {
            ++failedSteps;
            EXPECT_FALSE(Logged(std::string(kUnused) + ", error fixed"));
        }
        // A new picture takes whatever the free chain holds.
        TDataTable* table = nullptr;
        ASSERT_EQ(directory->OpenTable("Pics", table, false, false), 0);
        TableDriver(*table).Append("Later", 99, std::string(6000, 'L'));
        (void)directory->CloseTable(table);
        PictureRows expected = before;
        expected["Later"].num = 99;
        expected["Later"].blob = std::string(6000, 'L');
        ClearLog();
        maintenance.RepairTable();
        EXPECT_EQ(Census().neither, 0u);
        ExpectRows(expected);
    }
    EXPECT_GT(failedSteps, 0);
}

}  // namespace
}  // namespace pixhold::engine::coretest
