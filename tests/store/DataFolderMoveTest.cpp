// Moving the data folder's tables: every table ends whole in one of the two
// folders, whichever file-system call fails (or the program ends there).

#include "DataFolderMove.h"
#include "TempDir.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

namespace pixhold::store::test {
namespace {

namespace fs = std::filesystem;
using pixhold::test::ReadText;
using pixhold::test::WriteText;

std::string Bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 17) % 253);
    return bytes;
}

// A file system whose n-th call fails (counted over every kind of call), or
// every call from the n-th on (the program ends there), or whose n-th write
// transfers only part of its bytes.
class TFaultyFiles final : public TMoveFileSystem {
public:
    enum class TMode { None, FailOne, FailFromThenOn, ShortWrite };
    TMode Mode = TMode::None;
    std::uint64_t At = 0;
    std::uint64_t Calls = 0, Writes = 0, Faults = 0;
    std::map<std::string, int> Kinds;  // calls of each kind

    int Open(const std::string& path, int flags, int mode) override {
        if (Fails("open")) return -1;
        return TMoveFileSystem::Open(path, flags, mode);
    }
    long Read(int fd, void* buffer, std::size_t count) override {
        if (Fails("read")) return -1;
        return TMoveFileSystem::Read(fd, buffer, count);
    }
    long Write(int fd, const void* buffer, std::size_t count) override {
        ++Writes;
        if (Mode == TMode::ShortWrite && Writes == At && count > 1) {
            ++Faults;
            return TMoveFileSystem::Write(fd, buffer, count / 2);
        }
        if (Fails("write")) return -1;
        return TMoveFileSystem::Write(fd, buffer, count);
    }
    // The faults are the point here, not the disk: flushing is only counted.
    bool Sync(int) override { return !Fails("sync"); }
    bool Close(int fd) override {
        const bool fails = Fails("close");
        const bool closed = TMoveFileSystem::Close(fd);  // the descriptor goes either way
        return !fails && closed;
    }
    bool Rename(const std::string& from, const std::string& to) override {
        return !Fails("rename") && TMoveFileSystem::Rename(from, to);
    }
    bool Remove(const std::string& path) override { return !Fails("remove") && TMoveFileSystem::Remove(path); }
    bool MakeFolders(const std::string& path) override {
        return !Fails("mkdir") && TMoveFileSystem::MakeFolders(path);
    }

private:
    bool Fails(const char* kind) {
        ++Calls;
        ++Kinds[kind];
        const bool fail = (Mode == TMode::FailOne && Calls == At) || (Mode == TMode::FailFromThenOn && Calls >= At);
        if (fail) {
            ++Faults;
            errno = EIO;
        }
        return fail;
    }
};

// The tables of the old folder: display name -> the files' names on disk and contents.
struct TableFiles {
    std::string Dat, Idx, Blb;  // names on disk
    std::string Contents[3];
};

class DataFolderMoveTest : public ::testing::Test {
protected:
    DataFolderMoveTest() {
        oldFolder = root.folder() + "old/";
        newFolder = root.folder() + "deeper/new/";
        fs::create_directories(oldFolder);
        Add("Default", {"Default.Dat", "Default.Idx", "Default.Blb"}, 1);
        Add("Thumbs", {"Thumbs.Dat", "Thumbs.Idx", "Thumbs.Blb"}, 2);
        Add("Holiday 2004", {"holiday 2004.dat", "holiday 2004.idx", "holiday 2004.blb"}, 3);
        WriteText(oldFolder + "Old.Blb", "a lone BLOB file is no table");
    }

    void Add(const std::string& table, std::vector<std::string> names, unsigned seed) {
        TableFiles files{names[0], names[1], names[2], {}};
        for (int i = 0; i < 3; ++i) {
            // The BLOB files are large enough to take many writes.
            files.Contents[i] = Bytes(i == 2 ? 100000 + seed * 1000 : 3000 + seed * 100 + i, seed * 3 + i);
            WriteText(oldFolder + names[i], files.Contents[i]);
        }
        tables[table] = files;
    }

    bool WholeIn(const std::string& folder, const TableFiles& files, const std::string& table, bool moved) {
        const std::string names[3] = {moved ? table + ".Dat" : files.Dat, moved ? table + ".Idx" : files.Idx,
                                      moved ? table + ".BLB" : files.Blb};
        for (int i = 0; i < 3; ++i) {
            if (!fs::is_regular_file(folder + names[i]) || ReadText(folder + names[i]) != files.Contents[i]) {
                return false;
            }
        }
        return true;
    }

    // Every table whole in one folder, and where the result says it is.
    std::string Check(const TDataFolderMove& result, bool leftoversAllowed) {
        std::string problems;
        std::set<std::string> moved(result.Moved.begin(), result.Moved.end());
        std::set<std::string> behind(result.StayedBehind.begin(), result.StayedBehind.end());
        for (const auto& [table, files] : tables) {
            const bool inOld = WholeIn(oldFolder, files, table, false);
            const bool inNew = fs::exists(newFolder) && WholeIn(newFolder, files, table, true);
            if (!inOld && !inNew) problems += table + " is whole in neither folder\n";
            if (moved.count(table) && !inNew) problems += table + " reported moved but not whole in the new folder\n";
            if (behind.count(table) && !inOld) problems += table + " reported behind but not whole in the old folder\n";
            if (moved.count(table) == behind.count(table)) problems += table + " reported neither moved nor behind\n";
        }
        if (!result.StayedBehind.empty() && result.Error.empty()) problems += "no error text\n";
        if (!leftoversAllowed && fs::exists(newFolder)) {
            for (const auto& entry : fs::directory_iterator(newFolder)) {
                if (entry.path().extension() == ".moving") problems += "left " + entry.path().string() + "\n";
            }
        }
        return problems;
    }

    void Restore() {
        fs::remove_all(root.path());
        fs::create_directories(oldFolder);
        WriteText(oldFolder + "Old.Blb", "a lone BLOB file is no table");
        for (const auto& [table, files] : tables) {
            WriteText(oldFolder + files.Dat, files.Contents[0]);
            WriteText(oldFolder + files.Idx, files.Contents[1]);
            WriteText(oldFolder + files.Blb, files.Contents[2]);
        }
    }

    pixhold::test::TempDir root;
    std::string oldFolder, newFolder;
    std::map<std::string, TableFiles> tables;
};

TEST_F(DataFolderMoveTest, MovesTheCacheAndEveryListedTableUnderItsDisplayName) {
    const TDataFolderMove result = MoveDataTables(oldFolder, newFolder);
    EXPECT_EQ(result.Moved, (std::vector<std::string>{"Thumbs", "Default", "Holiday 2004"}));
    EXPECT_TRUE(result.StayedBehind.empty());
    EXPECT_TRUE(result.OldFilesLeft.empty());
    EXPECT_EQ(result.Error, "");
    EXPECT_EQ(Check(result, false), "");
    std::set<std::string> left, arrived;
    for (const auto& entry : fs::directory_iterator(oldFolder)) left.insert(entry.path().filename().string());
    for (const auto& entry : fs::directory_iterator(newFolder)) arrived.insert(entry.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"Old.Blb"}) << "not a table: it stays";
    EXPECT_EQ(arrived, (std::set<std::string>{"Default.BLB", "Default.Dat", "Default.Idx", "Holiday 2004.BLB",
                                              "Holiday 2004.Dat", "Holiday 2004.Idx", "Thumbs.BLB", "Thumbs.Dat",
                                              "Thumbs.Idx"}));
}

TEST_F(DataFolderMoveTest, ReplacesTablesOfTheSameNameInAnyLetterCase) {
    fs::create_directories(newFolder);
    WriteText(newFolder + "default.dat", "old");
    WriteText(newFolder + "Default.Idx", "old");
    const TDataFolderMove result = MoveDataTables(oldFolder, newFolder);
    EXPECT_EQ(Check(result, false), "");
    EXPECT_FALSE(fs::exists(newFolder + "default.dat")) << "it would stand for the table too";
    EXPECT_EQ(result.StayedBehind, std::vector<std::string>{});
}

TEST_F(DataFolderMoveTest, TwoNamesOfOneFolderMoveNothing) {
    const TDataFolderMove result = MoveDataTables(oldFolder, oldFolder + "../old/");
    EXPECT_TRUE(result.Moved.empty());
    EXPECT_TRUE(result.StayedBehind.empty());
    for (const auto& [table, files] : tables) EXPECT_TRUE(WholeIn(oldFolder, files, table, false)) << table;
}

TEST_F(DataFolderMoveTest, AnIncompleteCacheStaysBehindWithoutStoppingTheTables) {
    fs::remove(oldFolder + "Thumbs.Blb");
    tables.erase("Thumbs");
    const TDataFolderMove result = MoveDataTables(oldFolder, newFolder);
    EXPECT_EQ(result.Moved, (std::vector<std::string>{"Default", "Holiday 2004"}));
    EXPECT_EQ(result.StayedBehind, std::vector<std::string>{"Thumbs"});
    EXPECT_TRUE(fs::exists(oldFolder + "Thumbs.Dat"));
}

TEST_F(DataFolderMoveTest, AFolderThatCannotBeMadeKeepsEverything) {
    WriteText(root.folder() + "deeper", "a file where the folder would go");
    const TDataFolderMove result = MoveDataTables(oldFolder, newFolder);
    EXPECT_TRUE(result.Moved.empty());
    EXPECT_EQ(result.StayedBehind, (std::vector<std::string>{"Thumbs", "Default", "Holiday 2004"}));
    EXPECT_NE(result.Error.find("deeper/new"), std::string::npos) << result.Error;
}

TEST_F(DataFolderMoveTest, MovesAcrossFileSystems) {
    struct stat a {}, b {};
    if (::stat("/dev/shm", &b) != 0 || ::stat(oldFolder.c_str(), &a) != 0 || a.st_dev == b.st_dev) {
        GTEST_SKIP() << "no second file system at hand";
    }
    newFolder = "/dev/shm/pixhold-move-" + std::to_string(::getpid()) + "/";
    const TDataFolderMove result = MoveDataTables(oldFolder, newFolder);
    EXPECT_EQ(Check(result, false), "");
    EXPECT_EQ(result.Moved.size(), 3u);
    fs::remove_all(newFolder);
}

TEST_F(DataFolderMoveTest, AFailureAtAnyCallKeepsEveryTableWholeInOneFolder) {
    TFaultyFiles counting;
    ASSERT_EQ(Check(MoveDataTables(oldFolder, newFolder, counting), false), "");
    const std::uint64_t calls = counting.Calls, writes = counting.Writes;
    ASSERT_GT(counting.Kinds["write"], 3);
    ASSERT_GT(counting.Kinds["rename"], 0);
    ASSERT_GT(counting.Kinds["remove"], 0);
    ASSERT_GT(counting.Kinds["sync"], 0);

    int stopped = 0, leftOld = 0;
    for (const auto mode : {TFaultyFiles::TMode::FailOne, TFaultyFiles::TMode::FailFromThenOn}) {
        for (std::uint64_t k = 1; k <= calls; ++k) {
            const bool crash = mode == TFaultyFiles::TMode::FailFromThenOn;
            SCOPED_TRACE((crash ? "calls fail from " : "failing call ") + std::to_string(k) + " of " +
                         std::to_string(calls));
            Restore();
            TFaultyFiles files;
            files.Mode = mode;
            files.At = k;
            const TDataFolderMove result = MoveDataTables(oldFolder, newFolder, files);
            EXPECT_GT(files.Faults, 0u);
            // When the program ends, what it was making may stay; nothing else.
            EXPECT_EQ(Check(result, crash), "");
            if (!result.StayedBehind.empty()) ++stopped;
            if (!result.OldFilesLeft.empty()) ++leftOld;
        }
    }
    EXPECT_GT(stopped, 0);
    EXPECT_GT(leftOld, 0);

    for (std::uint64_t k = 1; k <= writes; ++k) {
        SCOPED_TRACE("short write " + std::to_string(k));
        Restore();
        TFaultyFiles files;
        files.Mode = TFaultyFiles::TMode::ShortWrite;
        files.At = k;
        const TDataFolderMove result = MoveDataTables(oldFolder, newFolder, files);
        EXPECT_EQ(result.Moved.size(), 3u) << "a short write is carried on";
        EXPECT_EQ(Check(result, false), "");
    }
}

}  // namespace
}  // namespace pixhold::store::test
