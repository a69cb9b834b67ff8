#include <gtest/gtest.h>

#include "BlobTestSupport.h"
#include "BlockRunReader.h"
#include "EngineError.h"
#include "FaultPlan.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;

namespace {

// Whole values move between the value's own memory and the file in runs of
// blocks (headers gathered around the data, data read straight into the
// value). These tests put the edges of those runs where faults hide.
class BlobRuns : public BlobFileFixture {
protected:
    // Bytes of value one run of blocks holds.
    std::size_t RunValueBytes() const {
        return static_cast<std::size_t>(TBlockRunReader::RunBlocks(file->BlockSize())) * file->BlockDataSize();
    }

    // Reads the value with nothing cached, then again with one block in the
    // middle of the chain cached (the read then goes around it), and compares.
    // The middle block is found by walking the chain unless given.
    void ExpectLoads(Ref ref, const Bytes& value, std::uint32_t middle = 0) {
        file->ClearBlockCache();
        EXPECT_EQ(Load(ref), value) << "nothing cached";
        if (middle == 0) {
            const auto chain = ValueChain(ref.first);
            middle = chain[chain.size() / 2];
        }
        file->ClearBlockCache();
        file->ReleaseBlock(file->GetBlock(nullptr, middle));
        EXPECT_EQ(Load(ref), value) << "block " << middle << " cached";
    }
};

TEST_F(BlobRuns, ValuesAroundRunLengthsRoundTrip) {
    struct Setting {
        std::uint32_t blockSize;
        bool encrypted;
    };
    for (const Setting s : {Setting{512, false}, Setting{64, false}, Setting{4096, false}, Setting{512, true}}) {
        SCOPED_TRACE(std::to_string(s.blockSize) + (s.encrypted ? " encrypted" : ""));
        Create(s.blockSize, s.encrypted);
        const std::size_t run = RunValueBytes();
        const std::size_t ds = file->BlockDataSize();
        for (const std::size_t length : {run - 1, run, run + 1, 2 * run + ds / 2, 3 * run - ds}) {
            SCOPED_TRACE(length);
            const Bytes value = RandomBytes(length, static_cast<std::uint32_t>(length));
            const auto ref = Store(value, {}, static_cast<std::uint32_t>(length));
            Flush();
            // Appended to the file: the chain ascends.
            const auto blocks = static_cast<std::uint32_t>((length + ds - 1) / ds);
            ExpectLoads(ref, value, ref.first + blocks / 2);
            if (HasFailure()) return;
        }
        Reopen();
        file->CloseFile();
    }
}

TEST_F(BlobRuns, ChainsThatTurnBetweenRunsRoundTrip) {
    // A value rewritten into freed blocks runs partly downwards and partly in
    // ascending stretches of different lengths; the new tail comes from the end.
    Create();
    const std::size_t run = RunValueBytes();
    const std::size_t ds = file->BlockDataSize();
    std::vector<Ref> refs;
    for (std::uint32_t i = 0; i < 6; ++i) refs.push_back(Store(RandomBytes(run / 3 + i * ds, i), {}, i + 1));
    Delete(refs[1]);
    Delete(refs[4]);
    Delete(refs[2]);
    const Bytes value = RandomBytes(2 * run + 5, 99);
    auto ref = Store(value, refs[0], 50);
    Flush();
    ExpectLoads(ref, value);
    EXPECT_EQ(Load(refs[3]), RandomBytes(run / 3 + 3 * ds, 3));
    EXPECT_EQ(Load(refs[5]), RandomBytes(run / 3 + 5 * ds, 5));

    // Rewritten in place, shorter and then longer again.
    const Bytes shorter = RandomBytes(run + 7, 100);
    ref = Store(shorter, ref, 51);
    ExpectLoads(ref, shorter);
    const Bytes longer = RandomBytes(3 * run, 101);
    ref = Store(longer, ref, 52);
    Reopen();
    ExpectLoads(ref, longer);
}

TEST_F(BlobRuns, AWriteCutShortInsideARunLeavesAFileThatRepairMends) {
    for (const std::size_t cutInBlock : {std::size_t{0}, std::size_t{11}, std::size_t{300}}) {
        SCOPED_TRACE(cutInBlock);
        Create();
        const Bytes kept = RandomBytes(1200, 1);  // three blocks
        const auto keptRef = Store(kept, {}, 1);
        Flush();
        const std::uint32_t runBlocks = TBlockRunReader::RunBlocks(512);
        {
            // The second run of a new value stops 100 blocks (and some bytes)
            // in; the header that takes the blocks would follow the runs.
            auto plan = std::make_shared<TFaultPlan>(".Blb");
            plan->ShortWriteNth(2, 100 * 512 + cutInBlock);
            ScopedFaultPlan faults(plan);
            EXPECT_EQ(CodeOf([&] { Store(RandomBytes(3 * RunValueBytes(), 2), {}, 2); }), err::WriteError);
        }
        // The table gives up the change; the header on the disk is the old
        // one, and the file holds blocks beyond those it counts.
        file->CloseFile();
        const std::uint32_t whole = 3 + runBlocks + 100;
        EXPECT_EQ(ReadDiskFile(Path()).size(), 512 + whole * 512 + cutInBlock);

        file = MakeFile();
        file->OpenFile();
        std::vector<std::string> expected;
        if (cutInBlock != 0) expected.push_back("BLOB blocks not aligned on even block size boundaries");
        expected.push_back("Physical BLOB block count not correct");
        cursor.messages.clear();
        EXPECT_FALSE(file->RepairFile(cursor, true));
        EXPECT_EQ(cursor.messages, expected);
        cursor.messages.clear();
        EXPECT_FALSE(file->RepairFile(cursor, false));
        Flush();
        EXPECT_EQ(file->BlockCount(), whole);
        EXPECT_EQ(ReadDiskFile(Path()).size(), 512 + whole * 512);
        cursor.messages.clear();
        EXPECT_TRUE(file->RepairFile(cursor, true));

        // What was stored before is intact, and the file takes new values.
        EXPECT_EQ(Load(keptRef), kept);
        const Bytes next = RandomBytes(RunValueBytes() + 1, 3);
        const auto nextRef = Store(next, {}, 3);
        EXPECT_EQ(nextRef.first, whole + 1);
        Reopen();
        EXPECT_EQ(Load(nextRef), next);
        file->CloseFile();
    }
}

TEST_F(BlobRuns, AReadFaultInsideAValueIsReported) {
    Create();
    const auto ref = Store(RandomBytes(3 * RunValueBytes(), 1), {}, 1);
    Reopen();
    // The first block's read-ahead, then the straight runs: fail the third read.
    auto plan = std::make_shared<TFaultPlan>(".Blb");
    plan->FailNth(FileOp::Read, 3);
    ScopedFaultPlan faults(plan);
    EXPECT_EQ(CodeOf([&] { Load(ref); }), err::ReadError);
}

}  // namespace
