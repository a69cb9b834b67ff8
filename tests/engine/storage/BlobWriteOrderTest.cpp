// The order in which a value's blocks and the header reach the disk, seen
// through writes that fail or are cut short at each point: until the header
// that takes a new value's blocks is written, the disk keeps the free chain
// and the counted blocks as they were and loses nothing; after it, the only
// blocks that neither a value nor the free chain holds are the new value's.
// Freeing a chain read ahead writes only.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "BlobTestSupport.h"
#include "EngineError.h"
#include "FaultPlan.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;

namespace {

class BlobWriteOrder : public BlobFileFixture {
protected:
    // Values A and C around the freed chain of B: a free chain of 6 blocks
    // running downwards, as a freed value leaves it.
    void Build(std::uint32_t blockSize, bool encrypted, bool withFreeBlocks) {
        Create(blockSize, encrypted);
        b_ = {};
        const std::uint32_t ds = file->BlockDataSize();
        a_ = Store(RandomBytes(3 * ds - 5, 1), {}, 11);
        auto b = Store(RandomBytes(6 * ds, 2), {}, 12);
        c_ = Store(RandomBytes(2 * ds, 3), {}, 13);
        if (withFreeBlocks) Delete(b);
        else b_ = b;
        Reopen();
        freeBefore_ = FreeChain();
        header_ = file->Header();
        disk_ = ReadDiskFile(Path());
    }

    // The disk as Build left it, opened again.
    void Restore() {
        file->CloseFile();
        WriteDiskFile(Path(), disk_);
        file = MakeFile();
        file->OpenFile();
    }

    // The table's file as the disk has it after a failure: the cache and the
    // header in memory are dropped, as a process that ends does.
    void Reread() {
        file->CloseFile();
        file = MakeFile();
        file->OpenFile();
    }

    // Blocks that neither a value nor the free chain holds; a block held twice
    // is a failure.
    std::uint32_t Lost() {
        std::set<std::uint32_t> held;
        auto hold = [&](const std::vector<std::uint32_t>& blocks, const char* what) {
            for (std::uint32_t b : blocks) EXPECT_TRUE(held.insert(b).second) << "block " << b << " twice, in " << what;
        };
        hold(ValueChain(a_.first), "A");
        hold(ValueChain(c_.first), "C");
        if (b_.first != 0) hold(ValueChain(b_.first), "B");
        hold(FreeChain(), "the free chain");
        for (std::uint32_t b : held) EXPECT_LE(b, file->BlockCount());
        return file->BlockCount() - static_cast<std::uint32_t>(held.size());
    }

    Ref a_, b_, c_;
    std::vector<std::uint32_t> freeBefore_;
    BlobFileHeader header_;
    std::string disk_;
};

struct WriteCase {
    const char* name;
    std::uint32_t blockSize;
    bool encrypted;
    bool freeBlocks;      // the free chain holds B's 6 blocks
    std::uint32_t blocks;  // of the new value
};

TEST_F(BlobWriteOrder, ANewValueCutShortAtAnyWriteLosesNoBlockBeforeItsHeaderIsWritten) {
    const WriteCase cases[] = {
        {"from the free chain only", 512, false, true, 4},
        {"the whole free chain", 512, false, true, 6},
        {"free blocks, then new ones", 512, false, true, 10},
        {"new blocks only", 512, false, false, 9},
        {"runs of new blocks", 512, false, true, 1300},
        {"encrypted", 512, true, true, 10},
        {"large blocks", 4096, false, true, 80},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        Build(c.blockSize, c.encrypted, c.freeBlocks);
        const Bytes value = RandomBytes(static_cast<std::size_t>(c.blocks) * file->BlockDataSize() - 1, 9);
        std::uint64_t writes = 0;
        {
            auto counting = std::make_shared<TFaultPlan>(".Blb");
            ScopedFaultPlan plan(counting);
            Store(value, {}, 20);
            writes = counting->Count(FileOp::Write);
        }
        ASSERT_GE(writes, 2u);
        int headerWritten = 0;
        for (std::uint64_t run = 0; run < 2 * writes; ++run) {
            const std::uint64_t k = run % writes + 1;
            const bool torn = run >= writes;
            SCOPED_TRACE(std::string(torn ? "torn" : "failing") + " write " + std::to_string(k));
            Restore();
            {
                auto faults = std::make_shared<TFaultPlan>(".Blb");
                if (torn) faults->ShortWriteNth(k, 7);
                else faults->FailNth(FileOp::Write, k);
                ScopedFaultPlan plan(faults);
                EXPECT_NE(CodeOf([&] { Store(value, {}, 20); }), 0);
                EXPECT_EQ(faults->Count(FileOp::Write), k) << "nothing is written after a failed write";
            }
            Reread();
            // The file opens as it is: the header never counts blocks the file lacks.
            EXPECT_EQ(CodeOf([&] { file->ValidateHeader(); }), 0);
            EXPECT_EQ(Load(a_).size(), 3 * file->BlockDataSize() - 5);
            EXPECT_EQ(Load(c_).size(), 2 * file->BlockDataSize());
            const std::uint32_t lost = Lost();
            if (file->Header().firstFreeBlock == header_.firstFreeBlock &&
                file->Header().nextBlockNumber == header_.nextBlockNumber) {
                EXPECT_EQ(lost, 0u) << "the old header is on the disk";
                EXPECT_EQ(FreeChain(), freeBefore_);
            } else {
                ++headerWritten;
                EXPECT_LE(lost, c.blocks) << "only the new value's blocks";
            }
        }
        // The header goes out late: only the last one or two writes find it written.
        EXPECT_LE(headerWritten, 4);
        Restore();
        const Ref stored = Store(value, {}, 20);
        EXPECT_EQ(Load(stored), value);
    }
}

TEST_F(BlobWriteOrder, AFreeChainPlannedAheadIsFreedWithoutReadingAndOnTopInChainOrder) {
    Build(512, false, false);
    const std::vector<std::uint32_t> b = ValueChain(b_.first);
    TBlobFile::TFreePlan plan;
    file->PlanFreeChain(b_.first, false, b_.owner, plan);
    EXPECT_EQ(plan.blocks.size(), b.size());
    EXPECT_EQ(file->Header().firstFreeBlock, 0u) << "planning changes nothing";

    auto counting = std::make_shared<TFaultPlan>(".Blb");
    {
        ScopedFaultPlan faults(counting);
        file->FreePlanned(plan);
    }
    EXPECT_EQ(counting->Count(FileOp::Read), 0u);
    EXPECT_TRUE(plan.blocks.empty());
    std::vector<std::uint32_t> expected(b.rbegin(), b.rend());
    EXPECT_EQ(FreeChain(), expected) << "the last block on top, as FreeBlobChain leaves it";
    Reopen();
    EXPECT_EQ(FreeChain(), expected);
    // The freed blocks keep their other fields.
    EXPECT_EQ(HeaderOf(b.front()).totalSize, 6 * file->BlockDataSize());
    EXPECT_EQ(HeaderOf(b.front()).owner, b_.owner);

    // A chain met twice in one plan is not freed at all.
    TBlobFile::TFreePlan twice;
    file->PlanFreeChain(a_.first, false, a_.owner, twice);
    file->PlanFreeChain(a_.first, false, a_.owner, twice);
    EXPECT_EQ(CodeOf([&] { file->FreePlanned(twice); }), err::BlobBuffersCorrupt);
    EXPECT_EQ(FreeChain(), expected);
    // A damaged chain is refused before it is planned.
    TBlobFile::TFreePlan foreign;
    EXPECT_EQ(CodeOf([&] { file->PlanFreeChain(c_.first, false, c_.owner + 1, foreign); }), err::BlobBuffersCorrupt);
    EXPECT_TRUE(foreign.blocks.empty());
    EXPECT_EQ(Load(c_).size(), 2 * file->BlockDataSize());
}

}  // namespace
