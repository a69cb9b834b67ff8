#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "FileHandler.h"
#include "TableTestSupport.h"
#include "TempDir.h"

namespace pixhold::engine::coretest {
namespace {

using pixhold::test::TempDir;
using Clock = std::chrono::steady_clock;

// Two sessions of one process on the same table: two table objects whose
// locks meet in the file layer exactly as two processes' locks do.
class TwoUsers : public ::testing::Test {
protected:
    void SetUp() override {
        dirA = sessionA->OpenDataDirectory("PH", dir.folder());
        dirB = sessionB->OpenDataDirectory("PH", dir.folder());
        TDataTable* created = nullptr;
        ASSERT_EQ(dirA->CreateTable("Images", false, PictureTable(true), created), 0);
        ASSERT_EQ(dirA->CloseTable(created), 0);
        ASSERT_EQ(dirA->OpenTable("Images", a, false, false), 0);
        ASSERT_EQ(dirB->OpenTable("Images", b, false, false), 0);
        TableDriver driver(*a);
        for (int i = 1; i <= 5; ++i) driver.Append("pic" + std::to_string(i), i, "blob" + std::to_string(i));
    }

    TempDir dir;
    // Retried file locks give up at once, so a lock that cannot be had fails
    // in milliseconds instead of after 100 seconds.
    ScopedLockRetries quickLocks{LockRetryPolicy{3, 1}};
    std::unique_ptr<TDataSession> sessionA = FastSession(0, 0);
    std::unique_ptr<TDataSession> sessionB = FastSession(0, 0);
    TDataDirectory* dirA = nullptr;
    TDataDirectory* dirB = nullptr;
    TDataTable* a = nullptr;
    TDataTable* b = nullptr;
};

TEST_F(TwoUsers, RecordZeroCannotBeLockedAndRecordsNotHeldCannotBeUnlocked) {
    EXPECT_EQ(CodeOf([&] { a->LockRecord(0); }), 10258);
    EXPECT_EQ(CodeOf([&] { a->UnlockRecord(0); }), 10242);
    EXPECT_EQ(CodeOf([&] { a->UnlockRecord(3); }), 10242);
    a->LockRecord(3);
    a->UnlockRecord(3);
    EXPECT_EQ(CodeOf([&] { a->UnlockRecord(3); }), 10242);
}

struct RetryCase {
    std::uint8_t retries;
    std::int16_t waitMs;
    int minMs;  // the pauses the retries must take at least
    int maxMs;
};

TEST_F(TwoUsers, AHeldRecordFailsAfterTheRetriesAndIsFreeOnceUnlocked) {
    a->LockRecord(2);
    const RetryCase cases[] = {{0, 10000, 0, 5000}, {1, 30, 30, 5000}, {4, 20, 80, 5000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.retries));
        sessionB->SetLockRetryCount(c.retries);
        sessionB->SetLockWaitTime(c.waitMs);
        const auto start = Clock::now();
        EXPECT_EQ(CodeOf([&] { b->LockRecord(2); }), 10258);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, c.maxMs);
        // The waiting user keeps no read lock and no record after giving up.
        EXPECT_FALSE(b->ReadLockHeld());
        EXPECT_FALSE(b->OsLockedRecords().Test(2));
    }
    EXPECT_NO_THROW(b->LockRecord(3));  // other records are free
    a->UnlockRecord(2);
    EXPECT_NO_THROW(b->LockRecord(2));
    EXPECT_EQ(CodeOf([&] { a->LockRecord(2); }), 10258);
}

TEST_F(TwoUsers, ARecordLockTakesTheReadLockAndSeesChanges) {
    a->EndRead();
    TableDriver(*b).Append("from b", 99);
    const TChangeCounters before = a->ChangeCounters();
    EXPECT_TRUE(a->LockRecord(1));
    EXPECT_TRUE(a->ReadLockHeld());  // left for the cursor's operation to end
    EXPECT_NE(a->ChangeCounters(), before);
    a->EndRead();
    EXPECT_FALSE(a->LockRecord(2));  // nothing new since
    a->EndRead();
}

TEST_F(TwoUsers, WriteLockShutsOutReadersAndWritersReadLockOnlyWriters) {
    a->BeginWrite();
    EXPECT_EQ(CodeOf([&] { b->BeginWrite(); }), 10249);
    EXPECT_EQ(CodeOf([&] { b->BeginRead(); }), 10249);
    EXPECT_FALSE(b->WriteLockHeld());
    EXPECT_FALSE(b->ReadLockHeld());
    a->EndWrite();

    a->BeginRead();
    EXPECT_NO_THROW(b->BeginRead());
    EXPECT_EQ(CodeOf([&] { b->EndRead(); b->BeginWrite(); }), 10249);
    a->EndRead();
    EXPECT_NO_THROW(b->BeginWrite());
    b->EndWrite();
}

TEST_F(TwoUsers, AWriterGivesUpItsOwnReadLockForTheWriteAndTakesItBack) {
    // Under strict change detection a cursor holds the read lock for every
    // operation, its writes included.
    sessionA->SetStrictChangeDetection(true);
    a->BeginRead();
    EXPECT_NO_THROW(a->BeginWrite());
    EXPECT_TRUE(a->WriteLockHeld());
    EXPECT_FALSE(a->ReadLockHeld());
    a->EndWrite();
    EXPECT_TRUE(a->ReadLockHeld());
    // The read lock is a real one again: writers stay out until it ends.
    EXPECT_EQ(CodeOf([&] { b->BeginWrite(); }), 10249);
    a->EndRead();
    EXPECT_NO_THROW(b->BeginWrite());
    b->EndWrite();
}

TEST_F(TwoUsers, TheQueryReadLockOutlivesTheCursorsReadLock) {
    a->BeginQueryRead();
    a->BeginRead();
    a->EndRead();
    EXPECT_TRUE(a->QueryReadLockHeld());
    EXPECT_EQ(CodeOf([&] { b->BeginWrite(); }), 10249);
    a->EndQueryRead();
    EXPECT_NO_THROW(b->BeginWrite());
    b->EndWrite();
}

TEST_F(TwoUsers, ChangesAreSeenOnlyAtTheNextLockOrDiskRead) {
    TableDriver driverA(*a);
    TableDriver driverB(*b);
    EXPECT_EQ(driverB.Read(4).num, 4);  // now cached in b
    driverA.SetNum(4, 40);
    const TChangeCounters seen = b->ChangeCounters();
    // A cache hit does not look at the disk.
    EXPECT_EQ(driverB.Read(4).num, 4);
    EXPECT_EQ(b->ChangeCounters(), seen);
    // The next read lock does, and the cached records are dropped.
    EXPECT_TRUE(b->BeginRead());
    b->EndRead();
    EXPECT_NE(b->ChangeCounters(), seen);
    EXPECT_EQ(driverB.Read(4).num, 40);
}

TEST_F(TwoUsers, InsideATransactionAnUnlockedRecordStaysLockedUntilTheEnd) {
    struct EndCase {
        const char* name;
        bool commit;
    };
    for (const EndCase c : {EndCase{"commit", true}, EndCase{"rollback", false}}) {
        SCOPED_TRACE(c.name);
        dirA->StartTransaction();
        a->LockRecord(1);
        a->EndRead();
        a->UnlockRecord(1);
        EXPECT_TRUE(a->DeferredUnlocks().Test(1));
        EXPECT_EQ(CodeOf([&] { b->LockRecord(1); }), 10258);
        // Locking it again inside the transaction is a no-op.
        EXPECT_FALSE(a->LockRecord(1));
        a->UnlockRecord(1);
        // Other processes' writers wait for the transaction; readers do not.
        EXPECT_EQ(CodeOf([&] { b->BeginWrite(); }), 10249);
        EXPECT_NO_THROW(b->BeginRead());
        b->EndRead();
        if (c.commit) dirA->Commit(true, false);
        else dirA->Rollback();
        EXPECT_FALSE(a->OsLockedRecords().Test(1));
        EXPECT_FALSE(a->TransactionLockHeld());
        EXPECT_NO_THROW(b->LockRecord(1));
        b->EndRead();
        b->UnlockRecord(1);
    }
}

TEST_F(TwoUsers, ACommitWithoutEndKeepsTheTransactionButReleasesDeferredRecords) {
    dirA->StartTransaction();
    TableDriver(*a).Append("inside", 100);
    a->LockRecord(2);
    a->UnlockRecord(2);
    dirA->Commit(false, false);
    EXPECT_TRUE(dirA->InTransaction());
    EXPECT_TRUE(a->InTransaction());
    EXPECT_TRUE(a->TransactionLockHeld());
    EXPECT_FALSE(a->WriteLockHeld());
    EXPECT_NO_THROW(b->LockRecord(2));
    b->EndRead();
    // The records written so far are on disk for everybody.
    EXPECT_EQ(TableDriver(*b).Check().active.count("inside"), 1u);
    dirA->Commit(true, false);
    EXPECT_FALSE(a->TransactionLockHeld());
    EXPECT_NO_THROW(b->BeginWrite());
    b->EndWrite();
}

// Random lock, unlock and transaction steps of two users checked against a
// model of who holds which record lock and which releases wait for a
// transaction's end.
TEST_F(TwoUsers, RandomLockSequencesFollowTheModel) {
    struct User {
        TDataTable* table;
        TDataDirectory* directory;
        bool inTransaction = false;
        std::set<std::uint32_t> deferred;
    };
    User users[2] = {{a, dirA, false, {}}, {b, dirB, false, {}}};
    std::map<std::uint32_t, int> holder;  // record -> user index
    std::mt19937 random(20261209);
    for (int step = 0; step < 1500; ++step) {
        const int u = static_cast<int>(random() % 2);
        User& me = users[u];
        User& other = users[1 - u];
        const std::uint32_t n = 1 + random() % 4;
        const auto held = holder.find(n);
        const int op = static_cast<int>(random() % 10);
        SCOPED_TRACE("step " + std::to_string(step) + " user " + std::to_string(u) + " op " + std::to_string(op) +
                     " record " + std::to_string(n));
        if (op < 4) {
            if (held == holder.end()) {
                ASSERT_EQ(CodeOf([&] { me.table->LockRecord(n); }), 0);
                holder[n] = u;
                me.deferred.erase(n);
            } else if (held->second == u && me.inTransaction) {
                ASSERT_EQ(CodeOf([&] { EXPECT_FALSE(me.table->LockRecord(n)); }), 0);
                me.deferred.erase(n);  // locked again: kept past the transaction
            } else {
                ASSERT_EQ(CodeOf([&] { me.table->LockRecord(n); }), 10258);
            }
            me.table->EndRead();
        } else if (op < 8) {
            const int code = CodeOf([&] { me.table->UnlockRecord(n); });
            if (me.inTransaction) {
                ASSERT_EQ(code, 0);
                me.deferred.insert(n);
            } else if (held != holder.end() && held->second == u) {
                ASSERT_EQ(code, 0);
                holder.erase(held);
            } else {
                ASSERT_EQ(code, 10242);
            }
        } else if (op == 8) {
            if (me.inTransaction) continue;
            const int code = CodeOf([&] { me.directory->StartTransaction(); });
            if (other.inTransaction) {
                // The other user's transaction holds the table byte.
                ASSERT_EQ(code, 10249);
                ASSERT_FALSE(me.directory->InTransaction());
                ASSERT_FALSE(me.table->TransactionLockHeld());
            } else {
                ASSERT_EQ(code, 0);
                me.inTransaction = true;
            }
        } else {
            if (!me.inTransaction) continue;
            if (random() % 2 == 0) me.directory->Commit(true, false);
            else me.directory->Rollback();
            for (std::uint32_t d : me.deferred) {
                const auto it = holder.find(d);
                if (it != holder.end() && it->second == u) holder.erase(it);
            }
            me.deferred.clear();
            me.inTransaction = false;
        }
        for (int v = 0; v < 2; ++v) {
            for (std::uint32_t r = 1; r <= 4; ++r) {
                const auto it = holder.find(r);
                ASSERT_EQ(users[v].table->OsLockedRecords().Test(r), it != holder.end() && it->second == v)
                    << "user " << v << " record " << r;
            }
            ASSERT_EQ(users[v].table->TransactionLockHeld(), users[v].inTransaction);
        }
    }
}

}  // namespace
}  // namespace pixhold::engine::coretest
