#include <gtest/gtest.h>

#include <map>
#include <random>
#include <memory>
#include <string>

#include "FaultPlan.h"
#include "FileHandler.h"
#include "FileList.h"
#include "TableTestSupport.h"
#include "TempDir.h"

namespace pixhold::engine::coretest {
namespace {

using pixhold::test::TempDir;

const char* const kFiles[] = {"Images.DAT", "Images.IDX", "Images.BLB", "Thumbs.DAT", "Thumbs.IDX"};

class Transactions : public ::testing::Test {
protected:
    void SetUp() override {
        // Small caches, so that a long transaction must grow them rather than write.
        sessionA->SetBufferLimits(TBufferLimits{2048, 16, 8192, 2048, 16});
        dirA = sessionA->OpenDataDirectory("PH", dir.folder());
        dirB = sessionB->OpenDataDirectory("PH", dir.folder());
        for (const auto& [name, blob] : {std::pair{"Images", true}, std::pair{"Thumbs", false}}) {
            TDataTable* table = nullptr;
            ASSERT_EQ(dirA->CreateTable(name, false, PictureTable(blob), table), 0);
            TableDriver driver(*table);
            for (int i = 1; i <= 5; ++i) driver.Append("old" + std::to_string(i), i, blob ? "old blob" : "");
            ASSERT_EQ(dirA->CloseTable(table), 0);
        }
        images = OpenA("Images");
    }

    TDataTable* OpenA(const std::string& name) {
        TDataTable* table = nullptr;
        EXPECT_EQ(dirA->OpenTable(name, table, false, false), 0);
        return table;
    }

    TDataTable* OpenB(const std::string& name) {
        TDataTable* table = nullptr;
        EXPECT_EQ(dirB->OpenTable(name, table, false, false), 0);
        return table;
    }

    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const char* f : kFiles) files[f] = FileBytes((dir / f).string());
        return files;
    }

    // Appends, changes and deletes in both tables, BLOBs included.
    void ChangeEverything(TDataTable* thumbs) {
        TableDriver driver(*images);
        for (int i = 0; i < 300; ++i) driver.Append("new" + std::to_string(i), i, std::string(700 + i, 'x'));
        driver.SetNum(2, 2000);
        driver.Delete(3);
        driver.Append("reuses three", 3);
        TableDriver(*thumbs).Append("thumb", 1);
    }

    TempDir dir;
    ScopedLockRetries quickLocks{LockRetryPolicy{3, 1}};
    std::unique_ptr<TDataSession> sessionA = FastSession(0, 0);
    std::unique_ptr<TDataSession> sessionB = FastSession(0, 0);
    TDataDirectory* dirA = nullptr;
    TDataDirectory* dirB = nullptr;
    TDataTable* images = nullptr;
};

TEST_F(Transactions, ARollbackLeavesTheFilesAsTheyWere) {
    TDataTable* thumbs = OpenA("Thumbs");
    const auto before = Snapshot();
    dirA->StartTransaction();
    ChangeEverything(thumbs);
    EXPECT_EQ(TableDriver(*images).Check().active.size(), 305u);
    const TChangeCounters during = images->ChangeCounters();
    EXPECT_EQ(Snapshot(), before) << "nothing reaches the files before the commit";
    // Another user still reads the old table.
    EXPECT_EQ(TableDriver(*OpenB("Images")).Check().active.size(), 5u);

    dirA->Rollback();
    EXPECT_FALSE(dirA->InTransaction());
    EXPECT_FALSE(images->TransactionLockHeld());
    EXPECT_EQ(Snapshot(), before);
    EXPECT_NE(images->ChangeCounters(), during) << "cursors must notice the rollback";
    const TableSummary summary = TableDriver(*images).Check();
    EXPECT_EQ(summary.problems, "");
    EXPECT_EQ(summary.active.size(), 5u);
    EXPECT_EQ(summary.active.at("old2").num, 2);
    EXPECT_EQ(TableDriver(*thumbs).Check().active.size(), 5u);
}

TEST_F(Transactions, ACommitWritesEveryTableAndOthersSeeIt) {
    TDataTable* thumbs = OpenA("Thumbs");
    TDataTable* imagesB = OpenB("Images");
    EXPECT_EQ(TableDriver(*imagesB).Check().active.size(), 5u);
    dirA->StartTransaction();
    ChangeEverything(thumbs);
    dirA->Commit(true, true);
    EXPECT_FALSE(images->InTransaction());
    EXPECT_FALSE(images->WriteLockHeld());

    const TableSummary seen = TableDriver(*imagesB).Check();
    EXPECT_EQ(seen.problems, "");
    EXPECT_EQ(seen.active.size(), 305u);
    EXPECT_EQ(seen.active.at("old2").num, 2000);
    EXPECT_EQ(seen.active.count("old3"), 0u);
    EXPECT_EQ(TableDriver(*OpenB("Thumbs")).Check().active.size(), 6u);
    EXPECT_NO_THROW(imagesB->BeginWrite());
    imagesB->EndWrite();
}

TEST_F(Transactions, StartingTwiceKeepsTheFirstTransaction) {
    const auto before = Snapshot();
    dirA->StartTransaction();
    TableDriver(*images).Append("inside", 1);
    dirA->StartTransaction();
    EXPECT_TRUE(images->InTransaction());
    EXPECT_EQ(Snapshot(), before);
    dirA->Rollback();
    EXPECT_EQ(TableDriver(*images).Check().active.count("inside"), 0u);
}

TEST_F(Transactions, TablesJoinWhenOpenedAndStayUntilTheEndWhenClosed) {
    dirA->StartTransaction();
    TDataTable* thumbs = OpenA("Thumbs");
    EXPECT_TRUE(thumbs->InTransaction());
    EXPECT_TRUE(thumbs->TransactionLockHeld());
    TableDriver(*thumbs).Append("late", 7);
    ASSERT_EQ(dirA->CloseTable(thumbs), 0);
    // Kept by the transaction, open, with its changes still in memory.
    EXPECT_EQ(dirA->FindTable("Thumbs", false), thumbs);
    EXPECT_TRUE(thumbs->IsOpen());
    EXPECT_EQ(thumbs->UseCount(), 0);
    // Opened again, even exclusively, it is the same object.
    TDataTable* again = nullptr;
    ASSERT_EQ(dirA->OpenTable("Thumbs", again, true, false), 0);
    EXPECT_EQ(again, thumbs);
    ASSERT_EQ(dirA->CloseTable(again), 0);

    const std::size_t files = FileList().Count();
    dirA->Commit(true, false);
    EXPECT_EQ(dirA->FindTable("Thumbs", false), nullptr);
    EXPECT_EQ(FileList().Count(), files - 2);
    EXPECT_EQ(TableDriver(*OpenB("Thumbs")).Check().active.count("late"), 1u);
}

TEST_F(Transactions, AFailedCommitWriteStillEndsTheTransactionAndFreesTheLocks) {
    TDataTable* thumbs = OpenA("Thumbs");
    dirA->StartTransaction();
    ChangeEverything(thumbs);
    {
        auto plan = std::make_shared<TFaultPlan>(".DAT");
        plan->FailNth(FileOp::Write, 1);
        ScopedFaultPlan scoped(plan);
        EXPECT_EQ(CodeOf([&] { dirA->Commit(true, false); }), 9218);
    }
    EXPECT_FALSE(dirA->InTransaction());
    for (TDataTable* t : {images, thumbs}) {
        EXPECT_FALSE(t->InTransaction());
        EXPECT_FALSE(t->TransactionLockHeld());
        EXPECT_FALSE(t->WriteLockHeld());
    }
    TDataTable* imagesB = OpenB("Images");
    EXPECT_NO_THROW(imagesB->BeginWrite());
    imagesB->EndWrite();
}

TEST_F(Transactions, AFailedWriteLockLeavesTheTransactionForARollbackAndHoldsNoWriteLock) {
    TDataTable* thumbs = OpenA("Thumbs");
    TDataTable* imagesB = OpenB("Images");
    TDataTable* thumbsB = OpenB("Thumbs");
    dirA->StartTransaction();
    ChangeEverything(thumbs);
    // Thumbs is locked first (last to first); Images then fails on b's read lock.
    imagesB->BeginRead();
    EXPECT_EQ(CodeOf([&] { dirA->Commit(true, false); }), 10249);
    EXPECT_TRUE(dirA->InTransaction());
    EXPECT_FALSE(thumbs->WriteLockHeld());
    EXPECT_NO_THROW(thumbsB->BeginRead());
    thumbsB->EndRead();
    imagesB->EndRead();
    dirA->Rollback();
    EXPECT_EQ(TableDriver(*imagesB).Check().active.size(), 5u);
    EXPECT_NO_THROW(thumbsB->BeginWrite());
    thumbsB->EndWrite();
}

TEST_F(Transactions, FreeingTheDirectoryRollsBack) {
    const auto before = Snapshot();
    dirA->StartTransaction();
    TableDriver(*images).Append("inside", 1);
    sessionA->CloseDataDirectory(dirA);
    EXPECT_EQ(sessionA->DirectoryCount(), 0u);
    EXPECT_EQ(Snapshot(), before);
    TDataTable* imagesB = OpenB("Images");
    EXPECT_NO_THROW(imagesB->BeginWrite());
    imagesB->EndWrite();
}

// The names a user reads from the table, or the error the reading raised.
std::string View(TDataTable& table) {
    std::string names;
    const int code = CodeOf([&] {
        for (const auto& [name, record] : TableDriver(table).Check().active) names += name + ",";
    });
    return std::to_string(code) + ":" + names;
}

TEST(TransactionFaults, AFailedWriteAnywhereInACommitLeavesNoLockAndTheSameViewForEveryone) {
    ScopedLockRetries quickLocks{LockRetryPolicy{3, 1}};
    auto run = [](const std::shared_ptr<TFaultPlan>& plan) {
        TempDir dir;
        auto sessionA = FastSession(0, 0);
        auto sessionB = FastSession(0, 0);
        TDataDirectory* dirA = sessionA->OpenDataDirectory("PH", dir.folder());
        TDataDirectory* dirB = sessionB->OpenDataDirectory("PH", dir.folder());
        TDataTable* a = nullptr;
        EXPECT_EQ(dirA->CreateTable("Images", false, PictureTable(true), a), 0);
        EXPECT_EQ(dirA->CloseTable(a), 0);
        EXPECT_EQ(dirA->OpenTable("Images", a, false, false), 0);
        TDataTable* b = nullptr;
        EXPECT_EQ(dirB->OpenTable("Images", b, false, false), 0);
        TableDriver(*a).Append("before", 1, "blob");
        dirA->StartTransaction();
        TableDriver driver(*a);
        for (int i = 0; i < 30; ++i) driver.Append("in" + std::to_string(i), i, std::string(600, 'x'));
        driver.Delete(1);
        int code = 0;
        {
            ScopedFaultPlan scoped(plan);
            code = CodeOf([&] { dirA->Commit(true, false); });
        }
        EXPECT_FALSE(dirA->InTransaction());
        EXPECT_FALSE(a->TransactionLockHeld());
        EXPECT_FALSE(a->WriteLockHeld());
        EXPECT_NO_THROW(b->BeginWrite());
        b->EndWrite();
        EXPECT_EQ(View(*a), View(*b));
        return code;
    };
    auto counting = std::make_shared<TFaultPlan>();
    ASSERT_EQ(run(counting), 0);
    const std::uint64_t writes = counting->Count(FileOp::Write);
    ASSERT_GT(writes, 3u);
    for (std::uint64_t n = 1; n <= writes; ++n) {
        SCOPED_TRACE("write " + std::to_string(n));
        auto plan = std::make_shared<TFaultPlan>();
        plan->FailNth(FileOp::Write, n);
        EXPECT_EQ(run(plan), 9218);
    }
}

// Random changes inside and outside transactions that end in commits and
// rollbacks, checked against a model of the committed records, against what
// a second user reads, and against the bytes of the files.
TEST_F(Transactions, RandomTransactionsFollowTheModel) {
    TDataTable* imagesB = OpenB("Images");
    TableDriver driver(*images);
    TableDriver observer(*imagesB);
    std::mt19937 random(4711);
    std::map<std::string, std::int32_t> committed;
    for (int i = 1; i <= 5; ++i) committed["old" + std::to_string(i)] = i;
    std::map<std::string, std::int32_t> current = committed;
    std::map<std::string, std::string> atStart;
    int nextName = 0;
    auto numberOf = [&](const std::string& name) { return driver.Check().active.at(name).number; };
    for (int step = 0; step < 120; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const int op = static_cast<int>(random() % 10);
        if (op < 4 || current.empty()) {
            const int count = 1 + static_cast<int>(random() % 12);
            for (int k = 0; k < count; ++k) {
                const std::string name = "n" + std::to_string(nextName++);
                const auto num = static_cast<std::int32_t>(random() % 1000);
                driver.Append(name, num, random() % 2 ? std::string(1 + random() % 2000, 'b') : std::string{});
                current[name] = num;
            }
        } else if (op < 6) {
            auto it = std::next(current.begin(), static_cast<long>(random() % current.size()));
            it->second = static_cast<std::int32_t>(random() % 1000);
            driver.SetNum(numberOf(it->first), it->second);
        } else if (op < 7) {
            auto it = std::next(current.begin(), static_cast<long>(random() % current.size()));
            driver.Delete(numberOf(it->first));
            current.erase(it);
        } else if (!dirA->InTransaction()) {
            committed = current;
            atStart = Snapshot();
            dirA->StartTransaction();
        } else if (op < 9) {
            dirA->Commit(true, false);
            committed = current;
        } else {
            dirA->Rollback();
            current = committed;
            ASSERT_EQ(Snapshot(), atStart);
        }
        if (!dirA->InTransaction()) committed = current;

        const TableSummary mine = driver.Check();
        ASSERT_EQ(mine.problems, "");
        ASSERT_EQ(mine.active.size(), current.size());
        for (const auto& [name, num] : current) ASSERT_EQ(mine.active.at(name).num, num) << name;
        const TableSummary theirs = observer.Check();
        ASSERT_EQ(theirs.problems, "");
        ASSERT_EQ(theirs.active.size(), committed.size());
        for (const auto& [name, num] : committed) ASSERT_EQ(theirs.active.at(name).num, num) << name;
    }
    if (dirA->InTransaction()) dirA->Commit(true, false);
}

}  // namespace
}  // namespace pixhold::engine::coretest
