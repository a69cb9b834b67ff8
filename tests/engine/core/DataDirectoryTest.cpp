#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "FaultPlan.h"
#include "FileList.h"
#include "TableFileNames.h"
#include "TableTestSupport.h"
#include "TempDir.h"

namespace pixhold::engine::coretest {
namespace {

using pixhold::test::TempDir;

class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override { directory = session->OpenDataDirectory("PH", dir.folder()); }

    // Creates a table and closes it again, as the dataset layer's create does.
    void Create(const std::string& name, bool withBlob = false) {
        TDataTable* table = nullptr;
        ASSERT_EQ(directory->CreateTable(name, false, PictureTable(withBlob), table), 0);
        ASSERT_EQ(directory->CloseTable(table), 0);
    }

    TDataTable* Open(const std::string& name, bool exclusive = false) {
        TDataTable* table = nullptr;
        EXPECT_EQ(directory->OpenTable(name, table, exclusive, false), 0);
        return table;
    }

    bool OnDisk(const std::string& file) const { return std::filesystem::exists(dir / file); }

    TempDir dir;
    std::unique_ptr<TDataSession> session = FastSession();
    TDataDirectory* directory = nullptr;
};

struct FileNameCase {
    const char* table;
    const char* extension;
    const char* file;
};

TEST(TableFileNames, TheDataExtensionIsReplacedAnyOtherKept) {
    const FileNameCase cases[] = {
        {"Thumbs.dat", tableext::Data, "/d/Thumbs.DAT"},  {"Thumbs.dat", tableext::Index, "/d/Thumbs.IDX"},
        {"Thumbs.dat", tableext::Blob, "/d/Thumbs.BLB"},  {"Images", tableext::Data, "/d/Images.DAT"},
        {"Images", tableext::Index, "/d/Images.IDX"},     {"  Images.DaT ", tableext::DataBackup, "/d/Images.DBK"},
        {"old.pics", tableext::Index, "/d/old.pics.IDX"}, {"dir.x/Images", tableext::Blob, "/d/dir.x/Images.BLB"},
    };
    for (const auto& c : cases) EXPECT_EQ(TableFileName("/d/", c.table, c.extension), c.file) << c.table;
}

TEST_F(DirectoryTest, CreateMakesTheThreeFilesAndLeavesTheTableOpenExclusively) {
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->CreateTable("Thumbs.dat", false, PictureTable(true), table), 0);
    EXPECT_TRUE(table->IsOpen());
    EXPECT_TRUE(table->Exclusive());
    EXPECT_EQ(table->UseCount(), 1);
    // Complete on disk before the close.
    EXPECT_TRUE(OnDisk("Thumbs.DAT"));
    EXPECT_TRUE(OnDisk("Thumbs.IDX"));
    EXPECT_TRUE(OnDisk("Thumbs.BLB"));
    TDataTable* again = nullptr;
    EXPECT_EQ(directory->OpenTable("thumbs.DAT", again, false, false), -11013);
    EXPECT_EQ(directory->CreateTable("Thumbs.dat", false, PictureTable(), again), -11013);
    ASSERT_EQ(directory->CloseTable(table), 0);
    EXPECT_EQ(directory->TableCount(), 0u);

    TDataTable* opened = Open("Thumbs.dat");
    EXPECT_EQ(opened->Fields().size(), 3u);
    EXPECT_TRUE(opened->PrimaryIndexHasFields());
    EXPECT_TRUE(opened->BlobFileOpen());
    EXPECT_FALSE(opened->IndexRebuildNeeded());
    EXPECT_EQ(TableDriver(*opened).Check().problems, "");
}

TEST_F(DirectoryTest, ATableWithoutBlobFieldsHasNoBlobFile) {
    Create("Images");
    EXPECT_TRUE(OnDisk("Images.DAT"));
    EXPECT_TRUE(OnDisk("Images.IDX"));
    EXPECT_FALSE(OnDisk("Images.BLB"));
}

struct SharingCase {
    bool firstExclusive;
    bool secondExclusive;
    int secondResult;
};

TEST_F(DirectoryTest, ExclusiveOpensConflictSharedOnesShareOneObject) {
    Create("Images");
    const SharingCase cases[] = {{false, false, 0}, {false, true, -11013}, {true, false, -11013}, {true, true, -11013}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.firstExclusive) + std::to_string(c.secondExclusive));
        TDataTable* first = Open("Images", c.firstExclusive);
        ASSERT_NE(first, nullptr);
        TDataTable* second = nullptr;
        EXPECT_EQ(directory->OpenTable("  IMAGES ", second, c.secondExclusive, false), c.secondResult);
        if (c.secondResult == 0) {
            EXPECT_EQ(second, first);
            EXPECT_EQ(first->UseCount(), 2);
            EXPECT_EQ(directory->CloseTable(second), 0);
        } else {
            EXPECT_EQ(second, nullptr);
            EXPECT_EQ(first->UseCount(), 1);
        }
        EXPECT_EQ(directory->CloseTable(first), 0);
        EXPECT_EQ(directory->TableCount(), 0u);
    }
}

TEST_F(DirectoryTest, AnInMemoryTableIsADifferentTableOfTheSameName) {
    Create("Images");
    TDataTable* onDisk = Open("Images");
    TDataTable* inMemory = nullptr;
    ASSERT_EQ(directory->CreateTable("Images", true, PictureTable(), inMemory), 0);
    EXPECT_NE(inMemory, onDisk);
    EXPECT_EQ(directory->FindTable("Images", true), inMemory);
    EXPECT_EQ(directory->FindTable("Images", false), onDisk);
    EXPECT_EQ(directory->CloseTable(inMemory), 0);
    EXPECT_TRUE(directory->TableExists("Images", true));
    EXPECT_EQ(directory->DeleteTable("Images", true), 0);
    EXPECT_FALSE(directory->TableExists("Images", true));
    EXPECT_TRUE(directory->TableExists("Images", false));
    EXPECT_EQ(directory->CloseTable(onDisk), 0);
}

TEST_F(DirectoryTest, TheLastCloseClosesTheFilesAndReleasesEveryLock) {
    Create("Images");
    const std::size_t filesBefore = FileList().Count();
    TDataTable* a = Open("Images");
    TDataTable* b = Open("Images");
    ASSERT_EQ(a, b);
    TableDriver(*a).Append("one", 1);
    a->LockRecord(1);
    a->CursorLockedRecords().Set(1);
    a->BeginRead();

    ASSERT_EQ(directory->CloseTable(a), 0);
    EXPECT_TRUE(b->IsOpen());  // one user left
    EXPECT_TRUE(b->OsLockedRecords().Test(1));
    ASSERT_EQ(directory->CloseTable(b), 0);
    EXPECT_EQ(directory->TableCount(), 0u);
    EXPECT_EQ(FileList().Count(), filesBefore);

    // Another session of the process can now have it exclusively and lock all.
    auto other = FastSession();
    TDataDirectory* otherDir = other->OpenDataDirectory("PH", dir.folder());
    TDataTable* table = nullptr;
    ASSERT_EQ(otherDir->OpenTable("Images", table, true, false), 0);
    ASSERT_EQ(otherDir->CloseTable(table), 0);
    ASSERT_EQ(otherDir->OpenTable("Images", table, false, false), 0);
    EXPECT_NO_THROW(table->LockRecord(1));
    EXPECT_NO_THROW(table->BeginWrite());
    table->EndWrite();
    table->UnlockRecord(1);
}

TEST_F(DirectoryTest, ClosingAnUnknownTableIsTableNotFound) {
    Create("Images");
    TDataTable stranger(*directory, "Images");
    EXPECT_EQ(directory->CloseTable(&stranger), -11010);
}

TEST_F(DirectoryTest, DeleteRemovesTheFilesAndRefusesATableInUse) {
    Create("Images", true);
    TDataTable* table = Open("Images");
    EXPECT_EQ(directory->DeleteTable("images", false), -11013);
    EXPECT_TRUE(OnDisk("Images.DAT"));
    ASSERT_EQ(directory->CloseTable(table), 0);
    EXPECT_EQ(directory->DeleteTable("images", false), 0);
    EXPECT_FALSE(OnDisk("Images.DAT"));
    EXPECT_FALSE(OnDisk("Images.IDX"));
    EXPECT_FALSE(OnDisk("Images.BLB"));
    EXPECT_EQ(CodeOf([&] { (void)directory->DeleteTable("Images", false); }), 11010);
}

TEST_F(DirectoryTest, RenameMovesAllThreeFilesAndRefusesATableInUse) {
    Create("Images", true);
    TDataTable* table = Open("Images");
    EXPECT_EQ(directory->RenameTable("Images", "Pictures", false, false), -11013);
    ASSERT_EQ(directory->CloseTable(table), 0);

    EXPECT_EQ(directory->RenameTable("Images", "Pictures", false, false), 0);
    for (const char* f : {"Pictures.DAT", "Pictures.IDX", "Pictures.BLB"}) EXPECT_TRUE(OnDisk(f)) << f;
    EXPECT_FALSE(directory->TableExists("Images", false));
    EXPECT_EQ(TableDriver(*Open("Pictures")).Check().problems, "");
    ASSERT_EQ(directory->CloseTable(directory->FindTable("Pictures", false)), 0);

    EXPECT_EQ(directory->RenameTable("Pictures.dat", "Pictures", false, true), 0);
    for (const char* f : {"Pictures.DBK", "Pictures.IBK", "Pictures.BBK"}) EXPECT_TRUE(OnDisk(f)) << f;
    EXPECT_EQ(CodeOf([&] { (void)directory->RenameTable("Pictures", "Other", false, false); }), 11010);
}

TEST_F(DirectoryTest, AFailedRenameLeavesTheTableUnderItsOldName) {
    Create("Images", true);
    // The BLOB file cannot take its new name: the two renamed files go back.
    std::filesystem::create_directory(dir / "Pictures.BLB");
    std::filesystem::create_directory(dir / "Pictures.BLB" / "occupied");
    EXPECT_NE(CodeOf([&] { (void)directory->RenameTable("Images", "Pictures", false, false); }), 0);
    for (const char* f : {"Images.DAT", "Images.IDX", "Images.BLB"}) EXPECT_TRUE(OnDisk(f)) << f;
    EXPECT_FALSE(OnDisk("Pictures.DAT"));
    EXPECT_FALSE(OnDisk("Pictures.IDX"));
    EXPECT_EQ(TableDriver(*Open("Images")).Check().problems, "");
}

TEST_F(DirectoryTest, TableExistsForRegisteredTablesAndDataFilesOnDisk) {
    EXPECT_FALSE(directory->TableExists("Images", false));
    TDataTable* table = nullptr;
    ASSERT_EQ(directory->CreateTable("Images", false, PictureTable(), table), 0);
    EXPECT_TRUE(directory->TableExists(" images.DAT", false));
    ASSERT_EQ(directory->CloseTable(table), 0);
    EXPECT_TRUE(directory->TableExists("IMAGES", false));
    EXPECT_FALSE(directory->TableExists("Images", true));
    // Only the data file counts.
    std::filesystem::remove(dir / "Images.DAT");
    EXPECT_FALSE(directory->TableExists("Images", false));
}

TEST_F(DirectoryTest, TemporaryNamesTakeFiveDigitsOfTheThreadAndTheFirstFreeCounter) {
    EXPECT_EQ(directory->MakeTempTableName(false, 1234567), "123450.DAT");
    EXPECT_EQ(directory->MakeTempTableName(false, -1234567), "123450.DAT");
    EXPECT_EQ(directory->MakeTempTableName(false, 42), "420.DAT");
    Create("123450.DAT");
    EXPECT_EQ(directory->MakeTempTableName(false, 1234567), "123451.DAT");
    EXPECT_EQ(directory->MakeTempTableName(true, 1234567), "123450.DAT");
    const std::string own = directory->MakeTempTableName(false);
    EXPECT_FALSE(directory->TableExists(own, false));
    EXPECT_EQ(own.substr(own.size() - 4), ".DAT");
}

TEST_F(DirectoryTest, AFailedCreateLeavesNoFilesAndNothingRegistered) {
    TableDefinition broken = PictureTable(true);
    IndexDescriptor secondary;
    secondary.name = "ByNothing";
    secondary.fieldCount = 1;
    secondary.fieldNumbers[0] = 9;  // no such field
    broken.indexes.push_back(secondary);
    TDataTable* table = nullptr;
    EXPECT_NE(CodeOf([&] { (void)directory->CreateTable("Images", false, broken, table); }), 0);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(directory->TableCount(), 0u);
    for (const char* f : {"Images.DAT", "Images.IDX", "Images.BLB"}) EXPECT_FALSE(OnDisk(f)) << f;
}

TEST_F(DirectoryTest, EveryFailedWriteOfACreateLeavesNoFiles) {
    std::uint64_t writes = 0;
    {
        ScopedFaultPlan counting(std::make_shared<TFaultPlan>());
        Create("Images", true);
        writes = counting->Count(FileOp::Write);
    }
    ASSERT_GT(writes, 3u);
    ASSERT_EQ(directory->DeleteTable("Images", false), 0);
    for (std::uint64_t n = 1; n <= writes; ++n) {
        SCOPED_TRACE(n);
        auto plan = std::make_shared<TFaultPlan>();
        plan->FailNth(FileOp::Write, n);
        {
            ScopedFaultPlan scoped(plan);
            TDataTable* table = nullptr;
            EXPECT_EQ(CodeOf([&] { (void)directory->CreateTable("Images", false, PictureTable(true), table); }), 9218);
        }
        EXPECT_EQ(directory->TableCount(), 0u);
        for (const char* f : {"Images.DAT", "Images.IDX", "Images.BLB"}) EXPECT_FALSE(OnDisk(f)) << f;
    }
}

TEST_F(DirectoryTest, AMissingIndexFileIsMadeAgainAndRefilledFromTheRecords) {
    Create("Images");
    {
        TDataTable* table = Open("Images");
        TableDriver driver(*table);
        for (int i = 0; i < 300; ++i) driver.Append("pic" + std::to_string(i), i);
        driver.Delete(7);
        driver.Delete(250);
        ASSERT_EQ(directory->CloseTable(table), 0);
    }
    std::filesystem::remove(dir / "Images.IDX");

    TDataTable* table = Open("Images");
    EXPECT_TRUE(table->IndexRebuildNeeded());
    EXPECT_TRUE(OnDisk("Images.IDX"));
    // The definitions were lost with the file: only the internal indexes remain.
    EXPECT_FALSE(table->PrimaryIndexHasFields());
    EXPECT_EQ(table->IndexCount(), 1);
    EXPECT_NO_THROW(table->ValidateHeaders());

    table->RebuildDeletedIndex();
    EXPECT_FALSE(table->IndexRebuildNeeded());
    TableDriver driver(*table);
    const auto keys = driver.Keys(kDeletedSlot);
    ASSERT_EQ(keys.size(), 300u);
    std::size_t deleted = 0;
    for (const auto& [key, number] : keys) {
        const TestRecord r = driver.Read(number);
        EXPECT_EQ(key[0] == recordlayout::StatusDeleted, r.deleted) << number;
        deleted += r.deleted ? 1 : 0;
    }
    EXPECT_EQ(deleted, 2u);
    EXPECT_EQ(table->IndexFile().ActiveRecordCount(), 298);
    // A second rebuild (another user got there first) adds nothing.
    table->RebuildDeletedIndex();
    EXPECT_EQ(driver.Keys(kDeletedSlot).size(), 300u);
    ASSERT_EQ(directory->CloseTable(table), 0);
    table = Open("Images");
    EXPECT_FALSE(table->IndexRebuildNeeded());
    EXPECT_EQ(TableDriver(*table).Keys(kDeletedSlot).size(), 300u);
}

TEST_F(DirectoryTest, AMissingBlobFileIsAnError) {
    Create("Images", true);
    std::filesystem::remove(dir / "Images.BLB");
    TDataTable* table = nullptr;
    EXPECT_EQ(CodeOf([&] { (void)directory->OpenTable("Images", table, false, false); }), 11010);
    EXPECT_EQ(directory->TableCount(), 0u);
    // Nothing was left open: the files can be had exclusively.
    EXPECT_NO_THROW((void)directory->DeleteTable("Images", false));
}

TEST_F(DirectoryTest, AnExclusiveTableTakesNoLocksAndWritesOnlyAtClose) {
    Create("Images");
    const std::string dataPath = (dir / "Images.DAT").string();
    const std::string indexPath = (dir / "Images.IDX").string();
    const std::int32_t dataBefore = DiskCounter(dataPath);
    const std::int32_t indexBefore = DiskCounter(indexPath);
    TDataTable* table = Open("Images", true);
    TableDriver driver(*table);
    driver.Append("one", 1);
    driver.Append("two", 2);
    EXPECT_FALSE(table->BeginWrite());
    EXPECT_FALSE(table->WriteLockHeld());
    EXPECT_FALSE(table->LockRecord(1));
    EXPECT_FALSE(table->OsLockedRecords().Test(1));
    EXPECT_TRUE(table->ChangedSinceOpen());
    EXPECT_EQ(DiskCounter(dataPath), dataBefore);
    EXPECT_EQ(DiskCounter(indexPath), indexBefore);
    ASSERT_EQ(directory->CloseTable(table), 0);
    EXPECT_NE(DiskCounter(dataPath), dataBefore);
    EXPECT_NE(DiskCounter(indexPath), indexBefore);
    EXPECT_EQ(TableDriver(*Open("Images")).Check().active.size(), 2u);
}

TEST_F(DirectoryTest, ATableWhoseDataFileIsReadOnlyTakesNoLocks) {
    Create("Images");
    ::chmod((dir / "Images.DAT").c_str(), 0444);
    TDataTable* table = Open("Images");
    EXPECT_TRUE(table->ReadOnly());
    EXPECT_TRUE(table->ReadOnlyAttribute());
    EXPECT_FALSE(table->LockRecord(1));
    EXPECT_FALSE(table->BeginRead());
    EXPECT_FALSE(table->ReadLockHeld());
    EXPECT_FALSE(table->BeginWrite());
    EXPECT_NO_THROW(table->UnlockRecord(1));
    ASSERT_EQ(directory->CloseTable(table), 0);
    ::chmod((dir / "Images.DAT").c_str(), 0644);
}

TEST_F(DirectoryTest, AnIndexBackupPutsTheIndexBackAsItWas) {
    Create("Images");
    TDataTable* table = Open("Images", true);
    TableDriver driver(*table);
    for (int i = 0; i < 50; ++i) driver.Append("before" + std::to_string(i), i);
    table->BackupIndexFile();  // writes the exclusive table's index first
    EXPECT_TRUE(OnDisk("Images.IBK"));
    for (int i = 0; i < 50; ++i) driver.Append("after" + std::to_string(i), i);
    EXPECT_EQ(driver.Keys(kPrimarySlot).size(), 100u);
    const TChangeCounters before = table->ChangeCounters();

    table->RestoreIndexFile(true, true);
    EXPECT_FALSE(OnDisk("Images.IBK"));
    EXPECT_NE(table->ChangeCounters(), before);
    const auto keys = driver.Keys(kPrimarySlot);
    ASSERT_EQ(keys.size(), 50u);
    for (const auto& [key, number] : keys) EXPECT_EQ(driver.Read(number).name.substr(0, 6), "before");
}

struct FlushCase {
    bool sessionForces;
    bool callerForces;
    bool writeFlushes;
    bool explicitFlushes;  // FlushOSBuffers afterwards
};

TEST_F(DirectoryTest, OperatingSystemBuffersAreFlushedWhenTheSessionOrTheCallerAsks) {
    Create("Images");
    TDataTable* table = Open("Images");
    const FlushCase cases[] = {
        {false, false, false, true}, {false, true, true, true}, {true, false, true, false}, {true, true, true, false}};
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(i);
        session->SetForceBufferFlush(c.sessionForces);
        ScopedFaultPlan counting(std::make_shared<TFaultPlan>());
        table->BeginWrite();
        TRecord* record = table->DataFile().AllocateRecord(nullptr);
        table->DataFile().ReleaseRecord(record);
        table->WriteBuffers(false, true, c.callerForces, false, true);
        table->EndWrite();
        EXPECT_EQ(counting->Count(FileOp::Flush) > 0, c.writeFlushes);
        const std::uint64_t afterWrite = counting->Count(FileOp::Flush);
        table->FlushOSBuffers();
        EXPECT_EQ(counting->Count(FileOp::Flush) > afterWrite, c.explicitFlushes);
        ++i;
    }
}

}  // namespace
}  // namespace pixhold::engine::coretest
