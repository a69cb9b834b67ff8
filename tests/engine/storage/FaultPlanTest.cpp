#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "EngineError.h"
#include "FaultPlan.h"
#include "FileHandler.h"
#include "FileList.h"
#include "FileTestHelpers.h"
#include "TempDir.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;
using pixhold::test::TempDir;

namespace {

class FaultPlans : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Describe(data, (dir / "Table.Dat").string(), GetParam());
        Describe(index, (dir / "Table.Idx").string(), GetParam());
        data.CreateFile();
        index.CreateFile();
    }
    void TearDown() override {
        FileList().SetFaultPlan(nullptr);
        for (TFileHandler* h : {&data, &index}) {
            h->CloseFile();
            h->DeleteFile();
        }
    }
    // One "operation": three writes to each file in turn, then a read back.
    void Operation() {
        for (int i = 0; i < 3; ++i) {
            WriteAt(data, i * 10, "data-" + std::to_string(i));
            WriteAt(index, i * 10, "index-" + std::to_string(i));
        }
        ReadAt(index, 0, 5);
    }
    TempDir dir;
    TFileHandler data;
    TFileHandler index;
};

TEST_P(FaultPlans, APlanWithoutFaultsOnlyCountsTheFilesItCovers) {
    ScopedFaultPlan plan(std::make_shared<TFaultPlan>(".idx"));
    Operation();
    EXPECT_EQ(plan->Count(FileOp::Write), 3u);
    EXPECT_EQ(plan->Count(FileOp::Read), 1u);
    EXPECT_EQ(plan->Count(FileOp::Flush), 0u);
    EXPECT_EQ(plan->BytesWritten(), 21u);
    EXPECT_EQ(plan->FaultsInjected(), 0u);
}

TEST_P(FaultPlans, EachWriteOfAnOperationCanBeFailedInTurn) {
    std::uint64_t writes = 0;
    {
        ScopedFaultPlan counting(std::make_shared<TFaultPlan>(".Idx"));
        Operation();
        writes = counting->Count(FileOp::Write);
    }
    for (std::uint64_t n = 1; n <= writes; ++n) {
        SCOPED_TRACE(n);
        auto plan = std::make_shared<TFaultPlan>(".Idx");
        plan->FailNth(FileOp::Write, n);
        ScopedFaultPlan scoped(plan);
        EXPECT_EQ(CodeOf([&] { Operation(); }), err::WriteError);
        EXPECT_EQ(plan->Count(FileOp::Write), n);  // stopped at the failing write
        EXPECT_EQ(plan->FaultsInjected(), 1u);
    }
    // Past the last write nothing fails.
    auto plan = std::make_shared<TFaultPlan>(".Idx");
    plan->FailNth(FileOp::Write, writes + 1);
    ScopedFaultPlan scoped(plan);
    EXPECT_EQ(CodeOf([&] { Operation(); }), 0);
}

TEST_P(FaultPlans, FromTheNthWriteOnEveryWriteFailsAsIfTheProcessHadEnded) {
    auto plan = std::make_shared<TFaultPlan>();
    plan->FailFrom(FileOp::Write, 2);
    ScopedFaultPlan scoped(plan);
    WriteAt(data, 0, "first");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CodeOf([&] { WriteAt(data, 0, "later"); }), err::WriteError);
        EXPECT_EQ(CodeOf([&] { WriteAt(index, 0, "later"); }), err::WriteError);
    }
    EXPECT_EQ(ReadAt(data, 0, 5), "first") << "reads go on";
    EXPECT_EQ(plan->FaultsInjected(), 6u);
}

TEST_P(FaultPlans, AFailedReadIsAReadError) {
    WriteAt(data, 0, "0123456789");
    auto plan = std::make_shared<TFaultPlan>();
    plan->FailNth(FileOp::Read, 2);
    ScopedFaultPlan scoped(plan);
    EXPECT_EQ(ReadAt(data, 0, 4), "0123");
    EXPECT_EQ(CodeOf([&] { ReadAt(data, 0, 4); }), err::ReadError);
    EXPECT_EQ(ReadAt(data, 0, 4), "0123");
}

TEST_P(FaultPlans, AFailedFlushIsAWriteError) {
    auto plan = std::make_shared<TFaultPlan>(".dat");
    plan->FailNth(FileOp::Flush, 1);
    ScopedFaultPlan scoped(plan);
    EXPECT_EQ(CodeOf([&] { index.FlushFile(); }), 0);
    EXPECT_EQ(CodeOf([&] { data.FlushFile(); }), err::WriteError);
    EXPECT_EQ(CodeOf([&] { data.FlushFile(); }), 0);
}

TEST_P(FaultPlans, AShortWriteStoresItsFirstBytesAndIsAWriteError) {
    WriteAt(data, 0, "..........");
    auto plan = std::make_shared<TFaultPlan>();
    plan->ShortWriteNth(1, 3);
    ScopedFaultPlan scoped(plan);
    EXPECT_EQ(CodeOf([&] { WriteAt(data, 2, "abcdef"); }), err::WriteError);
    EXPECT_EQ(ReadAt(data, 0, 10), "..abc.....");
}

TEST_P(FaultPlans, AFullDiskTakesWhatFitsThenRefusesEverything) {
    auto plan = std::make_shared<TFaultPlan>();
    plan->DiskFullAfter(8);
    ScopedFaultPlan scoped(plan);
    WriteAt(data, 0, "12345");
    EXPECT_EQ(CodeOf([&] { WriteAt(data, 5, "67890"); }), err::WriteError);
    EXPECT_EQ(CodeOf([&] { WriteAt(index, 0, "x"); }), err::WriteError);
    EXPECT_EQ(ReadAt(data, 0, 10), "12345678");
    EXPECT_EQ(plan->BytesWritten(), 8u);
}

TEST_P(FaultPlans, ATruncationCountsAsAWriteAndCanFail) {
    WriteAt(data, 0, "0123456789");
    auto plan = std::make_shared<TFaultPlan>(".Dat");
    plan->FailNth(FileOp::Write, 1);
    ScopedFaultPlan scoped(plan);
    EXPECT_EQ(CodeOf([&] { WriteAt(data, 4, ""); }), err::WriteError);
    EXPECT_EQ(data.GetFileSize(), 10);
}

TEST_P(FaultPlans, CopiesGoThroughThePlanToo) {
    WriteAt(data, 0, std::string(150000, 'c'));
    auto plan = std::make_shared<TFaultPlan>(".Bak");
    plan->FailNth(FileOp::Write, 2);
    ScopedFaultPlan scoped(plan);
    const std::string target = (dir / "Table.Bak").string();
    // The copy passes on the failed write's operating-system error.
    EXPECT_EQ(CodeOf([&] { data.CopyToFile(target); }), err::UnknownOsError);
    EXPECT_EQ(plan->Count(FileOp::Write), 2u);
    EXPECT_EQ(FileList().DeleteFile(target, GetParam()), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultPlans, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Memory" : "Physical"; });

TEST(FaultPlan, CoversNamesBySuffixWithoutRegardToCase) {
    const TFaultPlan idx(".Idx");
    EXPECT_TRUE(idx.Covers("/data/Images.IDX"));
    EXPECT_TRUE(idx.Covers("images.idx"));
    EXPECT_FALSE(idx.Covers("/data/Images.Dat"));
    EXPECT_FALSE(idx.Covers("dx"));
    EXPECT_TRUE(TFaultPlan().Covers("anything"));
}

}  // namespace
