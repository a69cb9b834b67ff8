#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ChildProcess.h"
#include "EngineError.h"
#include "FileHandler.h"
#include "FileList.h"
#include "FileTestHelpers.h"
#include "PhysicalFile.h"
#include "TempDir.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;
using pixhold::test::ChildProcess;
using pixhold::test::TempDir;

namespace {

// ---- Locks inside one process ----------------------------------------------

class RegionLocks : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Describe(file, (dir / "Locks.Dat").string(), GetParam());
        file.CreateFile();
        file.CloseFile();
        file.OpenFile();
        Describe(other, file.Name, GetParam());
        other.OpenFile();
    }
    void TearDown() override {
        other.CloseFile();
        file.CloseFile();
        file.DeleteFile();
    }
    TempDir dir;
    TFileHandler file;
    TFileHandler other;
    // No test waits for the full retry time.
    ScopedLockRetries quick{{3, 0}};
};

struct OverlapCase {
    const char* what;
    std::int64_t heldOffset, heldLength, offset, length;
    bool granted;
};

TEST_P(RegionLocks, OverlappingLocksFailEvenForTheSameHolder) {
    const OverlapCase cases[] = {
        {"same byte", 100, 1, 100, 1, false},
        {"inside", 100, 10, 105, 1, false},
        {"covering", 100, 10, 90, 30, false},
        {"straddling the start", 100, 10, 95, 6, false},
        {"straddling the end", 100, 10, 109, 5, false},
        {"just before", 100, 10, 90, 10, true},
        {"just after", 100, 10, 110, 1, true},
        {"write range over a read byte", lockmap::ReadLockBase - 65535, 1, lockmap::WriteLockOffset,
         lockmap::WriteLockLength, false},
        {"table byte beside the write range", lockmap::WriteLockOffset, lockmap::WriteLockLength,
         lockmap::TableLockByte, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(file.LockRegion(true, c.heldOffset, c.heldLength));
        EXPECT_EQ(file.LockRegion(true, c.offset, c.length), c.granted);
        EXPECT_EQ(other.LockRegion(true, c.offset, c.length), false);  // held by one of the two now
        if (c.granted) {
            EXPECT_TRUE(other.LockRegion(false, c.offset, c.length));
        }
        EXPECT_TRUE(file.LockRegion(false, c.heldOffset, c.heldLength));
        EXPECT_TRUE(file.LockRegion(true, c.offset, c.length));
        EXPECT_TRUE(file.LockRegion(false, c.offset, c.length));
    }
}

TEST_P(RegionLocks, UnlockNeedsTheExactRegion) {
    ASSERT_TRUE(file.LockRegion(true, 1000, 10));
    EXPECT_FALSE(file.LockRegion(false, 1000, 9));
    EXPECT_FALSE(file.LockRegion(false, 1000, 11));
    EXPECT_FALSE(file.LockRegion(false, 1001, 9));
    EXPECT_FALSE(file.LockRegion(false, 2000, 1));
    EXPECT_TRUE(other.LockRegion(false, 1000, 10));  // locks have no owner
    EXPECT_FALSE(file.LockRegion(false, 1000, 10));
}

TEST_P(RegionLocks, EmptyOrNegativeRegionsAreRefused) {
    EXPECT_FALSE(file.LockRegion(true, 10, 0));
    EXPECT_FALSE(file.LockRegion(true, -1, 1));
    EXPECT_FALSE(file.LockRegion(true, 10, -5));
}

TEST_P(RegionLocks, TheLockMapHelpersTakeTheirRegions) {
    ASSERT_TRUE(file.LockTableByte());
    EXPECT_FALSE(other.LockTableByte());
    EXPECT_FALSE(file.LockRegion(true, lockmap::TableLockByte, 1));

    ASSERT_TRUE(file.LockRecordByte(1));
    EXPECT_FALSE(other.LockRecordByte(1));
    EXPECT_TRUE(other.LockRecordByte(2));
    EXPECT_FALSE(file.LockRecordByte(0));
    EXPECT_FALSE(file.LockRegion(true, lockmap::RecordLockBase - 1, 1));
    // Record bytes live in the data file, read bytes and the write range in the
    // index and BLOB files: in one file they would overlap.
    EXPECT_TRUE(file.UnlockRecordByte(1));
    EXPECT_TRUE(other.UnlockRecordByte(2));
    EXPECT_FALSE(file.UnlockRecordByte(1));

    int n1 = 0;
    int n2 = 0;
    ASSERT_TRUE(file.LockReadByte(n1));
    ASSERT_TRUE(other.LockReadByte(n2));
    EXPECT_GE(n1, 1);
    EXPECT_LE(n1, 65535);
    EXPECT_FALSE(file.LockRegion(true, lockmap::ReadLockBase - n1, 1));
    // Readers keep the writer out.
    EXPECT_FALSE(file.LockWriteRange());
    EXPECT_TRUE(file.UnlockReadByte(n1));
    EXPECT_TRUE(other.UnlockReadByte(n2));
    EXPECT_FALSE(other.UnlockReadByte(n2));
    ASSERT_TRUE(file.LockWriteRange());
    EXPECT_FALSE(other.LockReadByte(n2));

    EXPECT_TRUE(file.UnlockWriteRange());
    EXPECT_TRUE(file.UnlockTableByte());
    EXPECT_FALSE(file.UnlockTableByte());
}

TEST_P(RegionLocks, ReadBytesAreDrawnAtRandom) {
    std::set<int> drawn;
    int n = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(file.LockReadByte(n));
        drawn.insert(n);
        ASSERT_TRUE(file.UnlockReadByte(n));
    }
    EXPECT_GT(drawn.size(), 10u);
}

TEST_P(RegionLocks, AReadLockRedrawsItsSlotUntilOneIsFree) {
    // Every slot but one taken: the retries must find the free one.
    ScopedLockRetries patient({2000000, 0});
    constexpr int kFree = 4242;
    ASSERT_TRUE(other.LockRegion(true, lockmap::ReadLockBase - 65535, 65535 - kFree));
    ASSERT_TRUE(other.LockRegion(true, lockmap::ReadLockBase - (kFree - 1), kFree - 1));
    int n = 0;
    ASSERT_TRUE(file.LockReadByte(n));
    EXPECT_EQ(n, kFree);
    EXPECT_TRUE(file.UnlockReadByte(n));
}

TEST_P(RegionLocks, ClosingTheLastHandleDropsTheLocks) {
    ASSERT_TRUE(file.LockTableByte());
    other.CloseFile();
    file.CloseFile();
    if (GetParam()) return;  // an in-memory file keeps its state; nobody else can see it
    file.OpenFile();
    EXPECT_TRUE(file.LockTableByte());
    other.OpenFile();
}

INSTANTIATE_TEST_SUITE_P(Kinds, RegionLocks, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Memory" : "Physical"; });

// ---- Between processes ------------------------------------------------------
// The parent forks before it opens the file, so the child has its own opening.

class ProcessLocks : public ::testing::Test {
protected:
    void SetUp() override {
        path = (dir / "Shared.Dat").string();
        WriteDiskFile(path, "contents");
        Describe(file, path, false);
    }
    void TearDown() override { file.CloseFile(); }
    // A child that opens the file, does `action`, reports 'r' (or 'f' when
    // the action failed) and keeps everything until the parent says 'q'.
    static int HoldInChild(ChildProcess::Channel& parent, const std::string& path, bool exclusive,
                           const std::function<bool(TFileHandler&)>& action) {
        TFileHandler h;
        Describe(h, path, false, exclusive);
        if (CodeOf([&] { h.OpenFile(); }) != 0) {
            parent.Send('e');
            return 2;
        }
        parent.Send(action(h) ? 'r' : 'f');
        while (true) {
            const char command = parent.Receive();
            if (command == 'u') {  // release the table byte and report
                parent.Send(h.UnlockTableByte() ? 'r' : 'f');
                continue;
            }
            break;
        }
        h.CloseFile();
        return 0;
    }
    TempDir dir;
    std::string path;
    TFileHandler file;
    ScopedLockRetries quick{{3, 0}};
};

struct ShareCase {
    const char* what;
    bool childExclusive;
    bool parentExclusive;
    std::uint16_t parentResult;
};

TEST_F(ProcessLocks, ExclusiveAndSharedOpensExcludeEachOther) {
    const ShareCase cases[] = {
        {"shared and shared", false, false, 0},
        {"shared, then exclusive", false, true, err::AccessDenied},
        {"exclusive, then shared", true, false, err::AccessDenied},
        {"exclusive and exclusive", true, true, err::AccessDenied},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ChildProcess child([&](ChildProcess::Channel& parent) {
            return HoldInChild(parent, path, c.childExclusive, [](TFileHandler&) { return true; });
        });
        ASSERT_EQ(child.Receive(), 'r');
        file.Exclusive = c.parentExclusive;
        EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), c.parentResult);
        file.CloseFile();
        child.Send('q');
        EXPECT_EQ(child.Wait(), 0);
        // Once the child has gone, the parent may open in either mode.
        file.OpenFile();
        file.CloseFile();
    }
}

TEST_F(ProcessLocks, AnOpenElsewhereRefusesDeleteRenameAndCreate) {
    ChildProcess child([&](ChildProcess::Channel& parent) {
        return HoldInChild(parent, path, false, [](TFileHandler&) { return true; });
    });
    ASSERT_EQ(child.Receive(), 'r');
    EXPECT_EQ(CodeOf([&] { file.DeleteFile(); }), err::AccessDenied);
    EXPECT_EQ(CodeOf([&] { file.RenameFile((dir / "Moved.Dat").string()); }), err::AccessDenied);
    EXPECT_EQ(CodeOf([&] { file.CreateFile(); }), err::AccessDenied);
    EXPECT_EQ(ReadDiskFile(path), "contents");
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
    file.RenameFile((dir / "Moved.Dat").string());
    file.DeleteFile();
    EXPECT_FALSE(file.FileExists());
}

TEST_F(ProcessLocks, AFileCreatedElsewhereIsShutUntilItsCreatorClosesIt) {
    ChildProcess child([&](ChildProcess::Channel& parent) {
        TFileHandler h;
        Describe(h, path, false);
        h.CreateFile();
        WriteAt(h, 0, "fresh");
        TFileHandler second;  // a second opening in the creating process
        Describe(second, path, false);
        second.OpenFile();
        parent.Send('c');
        parent.Receive();
        h.CloseFile();
        parent.Send('h');  // still held by the second opening
        parent.Receive();
        second.CloseFile();
        parent.Send('x');
        parent.Receive();
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'c');
    EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), err::AccessDenied);
    child.Send('n');
    ASSERT_EQ(child.Receive(), 'h');
    EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), err::AccessDenied);
    child.Send('n');
    ASSERT_EQ(child.Receive(), 'x');
    file.OpenFile();
    EXPECT_EQ(ReadAt(file, 0, 10), "fresh");
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
}

TEST_F(ProcessLocks, ARegionLockedElsewhereIsRefusedUntilReleased) {
    ChildProcess child([&](ChildProcess::Channel& parent) {
        return HoldInChild(parent, path, false, [](TFileHandler& h) { return h.LockTableByte(); });
    });
    ASSERT_EQ(child.Receive(), 'r');
    file.OpenFile();
    EXPECT_FALSE(file.LockTableByte());
    EXPECT_FALSE(file.LockRegion(true, lockmap::TableLockByte - 5, 10));
    EXPECT_TRUE(file.LockRecordByte(1));  // the byte next to it is free
    EXPECT_TRUE(file.UnlockRecordByte(1));
    child.Send('u');
    ASSERT_EQ(child.Receive(), 'r');
    EXPECT_TRUE(file.LockTableByte());
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
}

TEST_F(ProcessLocks, AReaderElsewhereKeepsTheWriterOut) {
    ChildProcess child([&](ChildProcess::Channel& parent) {
        return HoldInChild(parent, path, false, [](TFileHandler& h) {
            int n = 0;
            return h.LockReadByte(n);
        });
    });
    ASSERT_EQ(child.Receive(), 'r');
    file.OpenFile();
    EXPECT_FALSE(file.LockWriteRange());
    int n = 0;
    EXPECT_TRUE(file.LockReadByte(n));  // readers share (on their own bytes)
    EXPECT_TRUE(file.UnlockReadByte(n));
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_TRUE(file.LockWriteRange());
}

TEST_F(ProcessLocks, TheRetriesWaitForALockToBeReleased) {
    ChildProcess child([&](ChildProcess::Channel& parent) {
        return HoldInChild(parent, path, false, [](TFileHandler& h) { return h.LockTableByte(); });
    });
    ASSERT_EQ(child.Receive(), 'r');
    file.OpenFile();
    ScopedLockRetries standard({32767, 3});
    child.Send('u');  // the child lets go while the parent is retrying
    EXPECT_TRUE(file.LockTableByte());
    EXPECT_EQ(child.Receive(), 'r');
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
}

TEST_F(ProcessLocks, LocksDieWithTheProcess) {
    {
        ChildProcess child([&](ChildProcess::Channel& parent) {
            TFileHandler h;
            Describe(h, path, false);
            h.OpenFile();
            parent.Send(h.LockWriteRange() ? 'r' : 'f');
            ::_exit(0);  // no unlock, no close
            return 0;
        });
        ASSERT_EQ(child.Receive(), 'r');
        EXPECT_EQ(child.Wait(), 0);
    }
    file.OpenFile();
    EXPECT_TRUE(file.LockWriteRange());
}

TEST_F(ProcessLocks, AReadOnlyOpeningStillKeepsWritersOut) {
    ::chmod(path.c_str(), 0444);
    ChildProcess child([&](ChildProcess::Channel& parent) {
        return HoldInChild(parent, path, false, [](TFileHandler& h) { return h.ReadOnly() && h.LockTableByte(); });
    });
    ASSERT_EQ(child.Receive(), 'r');
    ::chmod(path.c_str(), 0644);
    file.OpenFile();
    EXPECT_FALSE(file.ReadOnly());
    EXPECT_FALSE(file.LockTableByte());
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
}

TEST_F(ProcessLocks, ARegionOverTheShareModeByteIsRefused) {
    ChildProcess child([&](ChildProcess::Channel& parent) {
        parent.Receive();  // the parent has tried the locks
        TFileHandler h;
        Describe(h, path, false);
        return CodeOf([&] { h.OpenFile(); }) == err::AccessDenied ? 0 : 1;
    });
    file.Exclusive = true;
    file.OpenFile();
    EXPECT_FALSE(file.LockRegion(true, kShareModeByte, 1));
    EXPECT_FALSE(file.LockRegion(true, kShareModeByte - 10, 20));
    EXPECT_FALSE(file.LockRegion(false, kShareModeByte, 1));
    // The exclusive open still shuts other processes out.
    child.Send('g');
    EXPECT_EQ(child.Wait(), 0);
}

TEST(ShareModeByte, LiesBeyondEveryRegionOfTheLockMap) {
    EXPECT_GT(kShareModeByte, lockmap::TableLockByte);
    EXPECT_GT(kShareModeByte, lockmap::ReadLockBase - 1);
    EXPECT_GT(kShareModeByte, lockmap::WriteLockOffset + lockmap::WriteLockLength - 1);
    EXPECT_GT(kShareModeByte, lockmap::RecordLockBase - 1);
}

}  // namespace
