#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "ChildProcess.h"
#include "FileHandler.h"
#include "TableTestSupport.h"
#include "TempDir.h"

namespace pixhold::engine::coretest {
namespace {

using pixhold::test::ChildProcess;
using pixhold::test::TempDir;
using Clock = std::chrono::steady_clock;

// One process's own session, directory and shared table.
struct ProcessTable {
    explicit ProcessTable(const std::string& folder, std::uint8_t retries = 2, std::int16_t waitMs = 1)
        : session(FastSession(retries, waitMs)), directory(session->OpenDataDirectory("PH", folder)) {
        if (directory->OpenTable("Images", table, false, false) != 0) throw std::runtime_error("open failed");
    }
    std::unique_ptr<TDataSession> session;
    TDataDirectory* directory;
    TDataTable* table = nullptr;
};

std::string BlobFor(char tag, int i) { return std::string(40 + (i * 37) % 1500, tag); }

// Every test makes its table and closes it again before any child is forked:
// a child must not inherit open files of the parent.
class Processes : public ::testing::Test {
protected:
    void SetUp() override {
        auto session = FastSession();
        TDataDirectory* directory = session->OpenDataDirectory("PH", dir.folder());
        TDataTable* table = nullptr;
        ASSERT_EQ(directory->CreateTable("Images", false, PictureTable(true), table), 0);
        TableDriver driver(*table);
        for (int i = 1; i <= 5; ++i) driver.Append("old" + std::to_string(i), i, BlobFor('o', i));
        ASSERT_EQ(directory->CloseTable(table), 0);
    }

    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const char* f : {"Images.DAT", "Images.IDX", "Images.BLB"}) files[f] = FileBytes((dir / f).string());
        return files;
    }

    TempDir dir;
};

TEST_F(Processes, TwoProcessesAppendingAtOnceLoseNoRecord) {
    constexpr int kPerProcess = 120;
    const std::string folder = dir.folder();
    auto appender = [folder](char tag) {
        return [folder, tag](ChildProcess::Channel& parent) {
            ProcessTable mine(folder);
            TableDriver driver(*mine.table);
            parent.Send('R');
            if (parent.Receive() != 'G') return 2;
            for (int i = 0; i < kPerProcess; ++i) {
                driver.Append(std::string(1, tag) + std::to_string(i), i, BlobFor(tag, i));
                // Now and then the whole table, read while the other writes.
                if (i % 40 == 39 && !driver.Check().problems.empty()) return 3;
            }
            parent.Send('D');
            return 0;
        };
    };
    ChildProcess first(appender('a'));
    ChildProcess second(appender('b'));
    ASSERT_EQ(first.Receive(), 'R');
    ASSERT_EQ(second.Receive(), 'R');
    first.Send('G');
    second.Send('G');
    EXPECT_EQ(first.Receive(), 'D');
    EXPECT_EQ(second.Receive(), 'D');
    ASSERT_EQ(first.Wait(), 0);
    ASSERT_EQ(second.Wait(), 0);

    ProcessTable mine(dir.folder());
    TableDriver driver(*mine.table);
    const TableSummary summary = driver.Check();
    EXPECT_EQ(summary.problems, "");
    ASSERT_EQ(summary.active.size(), 5u + 2 * kPerProcess);
    for (char tag : {'a', 'b'}) {
        for (int i = 0; i < kPerProcess; ++i) {
            const auto it = summary.active.find(std::string(1, tag) + std::to_string(i));
            ASSERT_NE(it, summary.active.end()) << tag << i;
            EXPECT_EQ(it->second.num, i);
            EXPECT_EQ(driver.ReadBlob(it->second.number), BlobFor(tag, i)) << tag << i;
        }
    }
    EXPECT_EQ(mine.table->LastRecordID(), 5u + 2 * kPerProcess);
}

TEST_F(Processes, ARecordLockedByAnotherProcessFailsAfterTheRetries) {
    const std::string folder = dir.folder();
    ChildProcess holder([folder](ChildProcess::Channel& parent) {
        ProcessTable mine(folder);
        mine.table->LockRecord(1);
        mine.table->EndRead();
        parent.Send('L');
        if (parent.Receive() != 'u') return 2;
        mine.table->UnlockRecord(1);
        parent.Send('U');
        parent.Receive();
        return 0;
    });
    ASSERT_EQ(holder.Receive(), 'L');

    ProcessTable mine(dir.folder(), 3, 20);
    auto start = Clock::now();
    EXPECT_EQ(CodeOf([&] { mine.table->LockRecord(1); }), 10258);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60)) << "three pauses of 20 ms";
    EXPECT_FALSE(mine.table->ReadLockHeld());
    // No retries: one attempt, no pause.
    mine.session->SetLockRetryCount(0);
    mine.session->SetLockWaitTime(10000);
    start = Clock::now();
    EXPECT_EQ(CodeOf([&] { mine.table->LockRecord(1); }), 10258);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_NO_THROW(mine.table->LockRecord(2));
    mine.table->EndRead();

    holder.Send('u');
    ASSERT_EQ(holder.Receive(), 'U');
    EXPECT_NO_THROW(mine.table->LockRecord(1));
    mine.table->EndRead();
    holder.Send('q');
    EXPECT_EQ(holder.Wait(), 0);
}

TEST_F(Processes, WaitingForARecordLetsItsHolderWriteAndSeesTheChange) {
    const std::string folder = dir.folder();
    ChildProcess holder([folder](ChildProcess::Channel& parent) {
        // A write lock that cannot be had fails in seconds, not minutes.
        ScopedLockRetries bounded(LockRetryPolicy{2000, 3});
        ProcessTable mine(folder);
        mine.table->LockRecord(1);
        mine.table->EndRead();
        parent.Send('L');
        if (parent.Receive() != 'w') return 2;
        {
            // Watch for the parent's read lock, the sign that its lock
            // attempts have begun (a found write range is let go at once).
            ScopedLockRetries once(LockRetryPolicy{1, 0});
            for (int i = 0; i < 20000 && mine.table->IndexFile().LockWrite(); ++i) (void)mine.table->IndexFile().UnlockWrite();
        }
        // The parent waits for record 1 now; between its attempts it must not
        // hold its read lock, which this write needs gone.
        TableDriver(*mine.table).SetNum(1, 111);
        mine.table->UnlockRecord(1);
        parent.Receive();
        return 0;
    });
    ASSERT_EQ(holder.Receive(), 'L');
    ProcessTable mine(dir.folder(), 250, 5);
    TableDriver driver(*mine.table);
    EXPECT_EQ(driver.Read(1).num, 1);
    holder.Send('w');
    EXPECT_TRUE(mine.table->LockRecord(1)) << "the holder's change is seen";
    mine.table->EndRead();
    EXPECT_EQ(driver.Read(1).num, 111);
    holder.Send('q');
    EXPECT_EQ(holder.Wait(), 0);
}

TEST_F(Processes, AChangeIsNoticedAtTheNextLockOrDiskRead) {
    const std::string folder = dir.folder();
    ChildProcess writer([folder](ChildProcess::Channel& parent) {
        ProcessTable mine(folder);
        TableDriver driver(*mine.table);
        parent.Send('O');
        if (parent.Receive() != 'c') return 2;
        driver.SetNum(4, 40);
        driver.Append("from the child", 6);
        parent.Send('C');
        if (parent.Receive() != 'c') return 2;
        driver.SetNum(4, 400);
        parent.Send('C');
        parent.Receive();
        return 0;
    });
    ASSERT_EQ(writer.Receive(), 'O');
    ProcessTable mine(dir.folder());
    TableDriver driver(*mine.table);
    EXPECT_EQ(driver.Read(4).num, 4);
    const TChangeCounters before = mine.table->ChangeCounters();

    writer.Send('c');
    ASSERT_EQ(writer.Receive(), 'C');
    // Nothing is looked at until a lock is taken or the disk is read.
    EXPECT_EQ(driver.Read(4).num, 4);
    EXPECT_EQ(mine.table->ChangeCounters(), before);
    // A cache miss reads the disk: the read lock finds the moved counters,
    // the caches are dropped and the read starts again.
    ReadLockCursor cursor(*mine.table);
    TRecord* record = nullptr;
    while ((record = mine.table->DataFile().GetRecord(&cursor, 2)) == nullptr) {
    }
    mine.table->DataFile().ReleaseRecord(record);
    mine.table->EndRead();
    EXPECT_EQ(cursor.changesSeen, 1);
    EXPECT_NE(mine.table->ChangeCounters(), before);
    EXPECT_EQ(mine.table->PhysicalRecordCount(), 6u);
    EXPECT_EQ(driver.Read(4).num, 40);

    writer.Send('c');
    ASSERT_EQ(writer.Receive(), 'C');
    EXPECT_EQ(driver.Read(4).num, 40);  // still cached
    EXPECT_TRUE(mine.table->LockRecord(4));
    mine.table->EndRead();
    EXPECT_EQ(driver.Read(4).num, 400);
    mine.table->UnlockRecord(4);
    writer.Send('q');
    EXPECT_EQ(writer.Wait(), 0);
}

TEST_F(Processes, ARolledBackTransactionLeavesTheFilesAsTheyWere) {
    const auto before = Snapshot();
    const std::string folder = dir.folder();
    ChildProcess writer([folder](ChildProcess::Channel& parent) {
        ProcessTable mine(folder);
        mine.session->SetBufferLimits(TBufferLimits{2048, 16, 8192, 2048, 16});
        auto changeEverything = [&] {
            TableDriver driver(*mine.table);
            for (int i = 0; i < 200; ++i) driver.Append("new" + std::to_string(i), i, BlobFor('n', i));
            driver.SetNum(2, 2000);
            driver.Delete(3);
            driver.Append("reuses three", 3, BlobFor('r', 3));
        };
        mine.directory->StartTransaction();
        changeEverything();
        parent.Send('T');
        if (parent.Receive() != 'r') return 2;
        mine.directory->Rollback();
        parent.Send('R');
        if (parent.Receive() != 'c') return 2;
        mine.directory->StartTransaction();
        changeEverything();
        mine.directory->Commit(true, true);
        parent.Send('C');
        parent.Receive();
        return 0;
    });
    ASSERT_EQ(writer.Receive(), 'T');
    EXPECT_EQ(Snapshot(), before) << "nothing is written during the transaction";
    {
        ScopedLockRetries quick(LockRetryPolicy{3, 1});
        ProcessTable mine(dir.folder());
        // Writers wait for the transaction; readers see the table as it was.
        EXPECT_EQ(CodeOf([&] { mine.table->BeginWrite(); }), 10249);
        EXPECT_EQ(TableDriver(*mine.table).Check().active.size(), 5u);
    }
    writer.Send('r');
    ASSERT_EQ(writer.Receive(), 'R');
    EXPECT_EQ(Snapshot(), before);

    writer.Send('c');
    ASSERT_EQ(writer.Receive(), 'C');
    ProcessTable mine(dir.folder());
    TableDriver driver(*mine.table);
    const TableSummary summary = driver.Check();
    EXPECT_EQ(summary.problems, "");
    EXPECT_EQ(summary.active.size(), 205u);
    EXPECT_EQ(summary.active.at("old2").num, 2000);
    EXPECT_EQ(driver.ReadBlob(summary.active.at("new199").number), BlobFor('n', 199));
    EXPECT_EQ(driver.ReadBlob(summary.active.at("reuses three").number), BlobFor('r', 3));
    EXPECT_NO_THROW(mine.table->BeginWrite());
    mine.table->EndWrite();
    writer.Send('q');
    EXPECT_EQ(writer.Wait(), 0);
}

}  // namespace
}  // namespace pixhold::engine::coretest
