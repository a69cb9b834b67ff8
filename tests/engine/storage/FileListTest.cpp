#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "EngineError.h"
#include "FileHandler.h"
#include "FileList.h"
#include "FileTestHelpers.h"
#include "MemoryFile.h"
#include "TempDir.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;
using pixhold::test::TempDir;
namespace fs = std::filesystem;

namespace {

// The registry's rules hold alike for files on disk and in memory.
class FileListRules : public ::testing::TestWithParam<bool> {
protected:
    bool InMemory() const { return GetParam(); }
    std::string NameOf(const std::string& leaf) const { return (dir / leaf).string(); }
    // A file with some contents, closed again.
    void Make(const std::string& name, const std::string& contents = "data") {
        TFileHandler h;
        Describe(h, name, InMemory());
        h.CreateFile();
        WriteAt(h, 0, contents);
        h.CloseFile();
    }
    void TearDown() override {
        for (const char* leaf : {"A.Dat", "B.Dat", "Copy.Dat"}) {
            if (FileList().FileExists(NameOf(leaf), InMemory())) {
                EXPECT_EQ(FileList().DeleteFile(NameOf(leaf), InMemory()), 0);
            }
        }
    }
    TempDir dir;
};

TEST_P(FileListRules, OpeningsShareOneFileWithDistinctHandles) {
    Make(NameOf("A.Dat"));
    TFileHandler first;
    TFileHandler second;
    Describe(first, NameOf("A.Dat"), InMemory());
    Describe(second, NameOf("A.Dat"), InMemory());
    first.OpenFile();
    second.OpenFile();
    EXPECT_EQ(first.File(), second.File());
    EXPECT_NE(first.Handle(), second.Handle());
    // Closing one keeps the file for the other.
    first.CloseFile();
    EXPECT_EQ(ReadAt(second, 0, 4), "data");
    second.CloseFile();
}

struct ExclusiveCase {
    const char* what;
    bool firstExclusive;
    bool secondExclusive;
    std::uint16_t secondResult;
};

TEST_P(FileListRules, ExclusiveOpeningsExcludeEveryOtherOpening) {
    const ExclusiveCase cases[] = {
        {"shared then shared", false, false, 0},
        {"shared then exclusive", false, true, err::AccessDenied},
        {"exclusive then shared", true, false, err::AccessDenied},
        {"exclusive then exclusive", true, true, err::AccessDenied},
    };
    Make(NameOf("A.Dat"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TFileHandler first;
        TFileHandler second;
        Describe(first, NameOf("A.Dat"), InMemory(), c.firstExclusive);
        Describe(second, NameOf("A.Dat"), InMemory(), c.secondExclusive);
        first.OpenFile();
        EXPECT_EQ(CodeOf([&] { second.OpenFile(); }), c.secondResult);
        EXPECT_EQ(second.IsOpen(), c.secondResult == 0);
        second.CloseFile();
        first.CloseFile();
    }
}

TEST_P(FileListRules, ACreatedFileIsSharedInsideTheProcessButNotExclusively) {
    TFileHandler creator;
    TFileHandler other;
    Describe(creator, NameOf("A.Dat"), InMemory());
    Describe(other, NameOf("A.Dat"), InMemory(), true);
    creator.CreateFile();
    EXPECT_EQ(CodeOf([&] { other.OpenFile(); }), err::AccessDenied);
    EXPECT_EQ(CodeOf([&] { other.CreateFile(); }), err::AccessDenied);
    other.Exclusive = false;
    other.OpenFile();
    EXPECT_EQ(other.File(), creator.File());
    WriteAt(creator, 0, "seen");
    EXPECT_EQ(ReadAt(other, 0, 4), "seen");
    other.CloseFile();
    creator.CloseFile();
}

TEST_P(FileListRules, DeleteAndRenameOfAnOpenFileAreRefused) {
    Make(NameOf("A.Dat"));
    TFileHandler h;
    Describe(h, NameOf("A.Dat"), InMemory());
    h.OpenFile();
    TFileHandler other;
    Describe(other, NameOf("A.Dat"), InMemory());
    EXPECT_EQ(CodeOf([&] { other.DeleteFile(); }), err::AccessDenied);
    EXPECT_EQ(CodeOf([&] { other.RenameFile(NameOf("B.Dat")); }), err::AccessDenied);
    EXPECT_EQ(other.Name, NameOf("A.Dat"));
    EXPECT_EQ(ReadAt(h, 0, 4), "data");
    h.CloseFile();
    other.RenameFile(NameOf("B.Dat"));
    EXPECT_EQ(other.Name, NameOf("B.Dat"));
    EXPECT_FALSE(FileList().FileExists(NameOf("A.Dat"), InMemory()));
    other.OpenFile();
    EXPECT_EQ(ReadAt(other, 0, 4), "data");
    other.CloseFile();
    other.DeleteFile();
    EXPECT_FALSE(other.FileExists());
}

TEST_P(FileListRules, RenameOntoAFileOpenInTheProcessIsRefused) {
    Make(NameOf("A.Dat"), "aaaa");
    Make(NameOf("B.Dat"), "bbbb");
    TFileHandler b;
    Describe(b, NameOf("B.Dat"), InMemory());
    b.OpenFile();
    EXPECT_EQ(FileList().RenameFile(NameOf("A.Dat"), InMemory(), NameOf("B.Dat")),
              -static_cast<int>(err::AccessDenied));
    EXPECT_EQ(ReadAt(b, 0, 4), "bbbb");
    b.CloseFile();
    // Closed, the target is replaced (old backups give way to new ones).
    EXPECT_EQ(FileList().RenameFile(NameOf("A.Dat"), InMemory(), NameOf("B.Dat")), 0);
    b.OpenFile();
    EXPECT_EQ(ReadAt(b, 0, 4), "aaaa");
    b.CloseFile();
}

TEST_P(FileListRules, NamesMatchTrimmedAndWithoutRegardToCase) {
    Make(NameOf("A.Dat"));
    TFileHandler upper;
    Describe(upper, "  " + NameOf("a.DAT") + " ", InMemory());
    EXPECT_TRUE(upper.FileExists());
    upper.OpenFile();
    EXPECT_EQ(ReadAt(upper, 0, 4), "data");
    TFileHandler exact;
    Describe(exact, NameOf("A.Dat"), InMemory());
    exact.OpenFile();
    EXPECT_EQ(exact.File(), upper.File());
    exact.CloseFile();
    upper.CloseFile();
}

TEST_P(FileListRules, CopiesMoveWholeFilesOfAnySize) {
    // Around the 64 KiB copy block: empty, one byte, exactly one block, just
    // over, and several blocks.
    for (const std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 200000u}) {
        SCOPED_TRACE(size);
        std::string contents(size, '\0');
        for (std::size_t i = 0; i < size; ++i) contents[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        Make(NameOf("A.Dat"), contents);
        TFileHandler source;
        Describe(source, NameOf("A.Dat"), InMemory());
        source.OpenFile();
        source.CopyToFile(NameOf("Copy.Dat"));
        source.CloseFile();

        TFileHandler copy;
        Describe(copy, NameOf("Copy.Dat"), InMemory());
        copy.OpenFile();
        EXPECT_EQ(copy.GetFileSize(), static_cast<std::int64_t>(size));
        EXPECT_TRUE(ReadAt(copy, 0, size + 1) == contents);
        // Copying back over a longer file leaves exactly the source's bytes.
        WriteAt(copy, static_cast<std::int64_t>(size), std::string(70000, 'x'));
        copy.CopyFromFile(NameOf("A.Dat"));
        EXPECT_EQ(copy.GetFileSize(), static_cast<std::int64_t>(size));
        EXPECT_TRUE(ReadAt(copy, 0, size + 1) == contents);
        copy.CloseFile();
    }
}

TEST_P(FileListRules, CopiesNeedAnOpenFileAndAFreeOtherFile) {
    Make(NameOf("A.Dat"));
    Make(NameOf("B.Dat"));
    TFileHandler a;
    Describe(a, NameOf("A.Dat"), InMemory());
    EXPECT_NE(CodeOf([&] { a.CopyToFile(NameOf("Copy.Dat")); }), 0);
    a.OpenFile();
    TFileHandler b;
    Describe(b, NameOf("B.Dat"), InMemory());
    b.OpenFile();
    // The copy source is opened exclusively, the target created afresh.
    EXPECT_EQ(CodeOf([&] { a.CopyFromFile(NameOf("B.Dat")); }), err::AccessDenied);
    EXPECT_EQ(CodeOf([&] { a.CopyToFile(NameOf("B.Dat")); }), err::AccessDenied);
    EXPECT_EQ(ReadAt(b, 0, 4), "data");
    EXPECT_EQ(CodeOf([&] { a.CopyFromFile(NameOf("Missing.Dat")); }), err::TableNotFound);
    b.CloseFile();
    a.CloseFile();
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileListRules, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Memory" : "Physical"; });

// ---- In-memory files -------------------------------------------------------

class MemoryFiles : public ::testing::Test {
protected:
    void SetUp() override { Describe(file, "Mem " + std::to_string(::getpid()) + " " + ::testing::UnitTest::GetInstance()->current_test_info()->name(), true); }
    void TearDown() override {
        file.CloseFile();
        if (file.FileExists()) file.DeleteFile();
    }
    TFileHandler file;
};

TEST_F(MemoryFiles, SurviveTheLastCloseUntilDeleted) {
    const std::size_t before = FileList().Count();
    file.CreateFile();
    WriteAt(file, 0, "still here");
    file.CloseFile();
    EXPECT_EQ(FileList().Count(), before + 1);
    EXPECT_TRUE(file.FileExists());
    file.OpenFile();
    EXPECT_EQ(ReadAt(file, 0, 100), "still here");
    file.CloseFile();
    file.DeleteFile();
    EXPECT_FALSE(file.FileExists());
    EXPECT_EQ(FileList().Count(), before);
}

TEST_F(MemoryFiles, NeverExistOnDiskAndNeverOpenFromDisk) {
    TempDir dir;
    WriteDiskFile((dir / "Disk.Dat").string(), "on disk");
    Describe(file, (dir / "Disk.Dat").string(), true);
    EXPECT_FALSE(file.FileExists());
    EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), err::TableNotFound);
    EXPECT_EQ(CodeOf([&] { file.DeleteFile(); }), err::TableNotFound);
    EXPECT_EQ(ReadDiskFile((dir / "Disk.Dat").string()), "on disk");
}

TEST_F(MemoryFiles, GrowInPageStepsWithZeroedNewBytes) {
    file.CreateFile();
    WriteAt(file, 5000, "x");
    EXPECT_EQ(file.GetFileSize(), 5001);
    const std::string head = ReadAt(file, 0, 5000);
    EXPECT_EQ(head, std::string(5000, '\0'));
    EXPECT_EQ(static_cast<TMemoryFile*>(file.File())->Capacity(), 8192u);
    // Recreating empties it.
    file.CloseFile();
    file.CreateFile();
    EXPECT_EQ(file.GetFileSize(), 0);
    char c;
    EXPECT_EQ(file.ReadBuffer(&c, 1, true), 0u);
}

TEST_F(MemoryFiles, SeekingBeforeTheStartFailsAndKeepsThePosition) {
    file.CreateFile();
    WriteAt(file, 0, "abcdef");
    EXPECT_EQ(file.SeekFile(SeekOrigin::Begin, 2), 2);
    EXPECT_LT(file.SeekFile(SeekOrigin::Current, -5), 0);
    char c;
    file.ReadBuffer(&c, 1);
    EXPECT_EQ(c, 'c');
}

// ---- Files on disk ---------------------------------------------------------

class DiskFiles : public ::testing::Test {
protected:
    std::string NameOf(const std::string& leaf) const { return (dir / leaf).string(); }
    TempDir dir;
};

TEST_F(DiskFiles, OpenFindsAFileWhoseNameDiffersInCase) {
    WriteDiskFile(NameOf("thumbs.dat"), "cached");
    TFileHandler h;
    Describe(h, NameOf("Thumbs.DAT"), false);
    ASSERT_TRUE(h.FileExists());
    h.OpenFile();
    EXPECT_EQ(ReadAt(h, 0, 10), "cached");
    WriteAt(h, 0, "CACHED");
    h.CloseFile();
    EXPECT_EQ(ReadDiskFile(NameOf("thumbs.dat")), "CACHED");
    EXPECT_FALSE(fs::exists(NameOf("Thumbs.DAT")));
}

TEST_F(DiskFiles, CreateUsesTheGivenNameOrReplacesTheFileOfAnyCase) {
    TFileHandler fresh;
    Describe(fresh, NameOf("Images.DAT"), false);
    fresh.CreateFile();
    fresh.CloseFile();
    EXPECT_TRUE(fs::exists(NameOf("Images.DAT")));

    WriteDiskFile(NameOf("old.dat"), "old contents");
    TFileHandler replace;
    Describe(replace, NameOf("OLD.Dat"), false);
    replace.CreateFile();
    WriteAt(replace, 0, "new");
    replace.CloseFile();
    EXPECT_EQ(ReadDiskFile(NameOf("old.dat")), "new");
    EXPECT_FALSE(fs::exists(NameOf("OLD.Dat")));
}

TEST_F(DiskFiles, DeleteAndRenameMatchNamesWithoutRegardToCase) {
    WriteDiskFile(NameOf("table.dat"), "t");
    EXPECT_EQ(FileList().RenameFile(NameOf("TABLE.DAT"), false, NameOf("Table.Dbk")), 0);
    EXPECT_TRUE(fs::exists(NameOf("Table.Dbk")));
    EXPECT_FALSE(fs::exists(NameOf("table.dat")));
    // A change of case only.
    EXPECT_EQ(FileList().RenameFile(NameOf("Table.Dbk"), false, NameOf("TABLE.DBK")), 0);
    EXPECT_TRUE(fs::exists(NameOf("TABLE.DBK")));
    EXPECT_EQ(FileList().DeleteFile(NameOf("table.dbk"), false), 0);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_EQ(FileList().DeleteFile(NameOf("table.dbk"), false), -static_cast<int>(err::TableNotFound));
}

TEST_F(DiskFiles, AFolderIsNotAFile) {
    fs::create_directory(NameOf("Folder.Dat"));
    TFileHandler h;
    Describe(h, NameOf("Folder.Dat"), false);
    EXPECT_FALSE(h.FileExists());
    EXPECT_EQ(CodeOf([&] { h.OpenFile(); }), err::TableNotFound);
    EXPECT_FALSE(FileList().FileExists(NameOf("Missing/Table.Dat"), false));
}

TEST_F(DiskFiles, OpeningThroughAMissingFolderIsTableNotFound) {
    TFileHandler h;
    Describe(h, NameOf("Missing/Table.Dat"), false);
    EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), err::TableNotFound);
    EXPECT_FALSE(h.IsOpen());
}

TEST_F(DiskFiles, AReadOnlyAttributeOpensForReadingWithBothFlags) {
    WriteDiskFile(NameOf("Locked.Dat"), "frozen");
    ::chmod(NameOf("Locked.Dat").c_str(), 0444);
    TFileHandler h;
    Describe(h, NameOf("Locked.Dat"), false);
    h.OpenFile();
    EXPECT_TRUE(h.ReadOnly());
    EXPECT_TRUE(h.ReadOnlyAttribute());
    EXPECT_EQ(ReadAt(h, 0, 10), "frozen");
    EXPECT_EQ(CodeOf([&] { WriteAt(h, 0, "thawed"); }), err::WriteError);
    // A second opening reports the same flags.
    TFileHandler second;
    Describe(second, NameOf("Locked.Dat"), false);
    second.OpenFile();
    EXPECT_TRUE(second.ReadOnly());
    EXPECT_TRUE(second.ReadOnlyAttribute());
    second.CloseFile();
    h.CloseFile();
    EXPECT_EQ(ReadDiskFile(NameOf("Locked.Dat")), "frozen");
}

TEST_F(DiskFiles, AFileThatCannotBeWrittenForAnotherReasonOpensReadOnlyWithoutTheAttribute) {
    // Writable by the group, not by its owner: the attribute is clear, yet
    // the owner cannot open it for writing. Root may write anyway; for root
    // the running test program serves, which nobody may open for writing.
    std::string name = NameOf("Shared.Dat");
    std::string expected = "group";
    WriteDiskFile(name, expected);
    ::chmod(name.c_str(), 0464);
    if (::geteuid() == 0) {
        name = fs::read_symlink("/proc/self/exe").string();
        struct stat st {};
        if (::stat(name.c_str(), &st) != 0 || (st.st_mode & 0222) == 0)
            GTEST_SKIP() << "running as root, and the test program carries no write permission";
        const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            GTEST_SKIP() << "running as root, and the system lets a running program be opened for writing";
        }
        expected = "\x7f" "ELF";
    }
    TFileHandler h;
    Describe(h, name, false);
    h.OpenFile();
    EXPECT_TRUE(h.ReadOnly());
    EXPECT_FALSE(h.ReadOnlyAttribute());
    EXPECT_EQ(ReadAt(h, 0, expected.size()), expected);
    h.CloseFile();
}

TEST_F(DiskFiles, CreatingOverAReadOnlyFileIsRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root from replacing a file";
    WriteDiskFile(NameOf("Locked.Dat"), "frozen");
    ::chmod(NameOf("Locked.Dat").c_str(), 0444);
    TFileHandler h;
    Describe(h, NameOf("Locked.Dat"), false);
    EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), err::AccessDenied);
    EXPECT_EQ(ReadDiskFile(NameOf("Locked.Dat")), "frozen");
}

TEST_F(DiskFiles, ATemporaryFileGoesWithItsLastHandle) {
    TFileHandler h;
    Describe(h, NameOf("Temp.Dat"), false);
    h.Temporary = true;
    h.CreateFile();
    WriteAt(h, 0, "scratch");
    EXPECT_TRUE(fs::exists(NameOf("Temp.Dat")));
    h.CloseFile();
    EXPECT_FALSE(fs::exists(NameOf("Temp.Dat")));
}

TEST_F(DiskFiles, ThePhysicalFileLeavesTheListAtItsLastClose) {
    const std::size_t before = FileList().Count();
    TFileHandler h;
    Describe(h, NameOf("A.Dat"), false);
    h.CreateFile();
    EXPECT_EQ(FileList().Count(), before + 1);
    h.CloseFile();
    EXPECT_EQ(FileList().Count(), before);
    EXPECT_TRUE(h.FileExists());
}

TEST_F(DiskFiles, ClosingAHandleTwiceOrAForeignHandleIsRefused) {
    TFileHandler h;
    Describe(h, NameOf("A.Dat"), false);
    h.CreateFile();
    EXPECT_EQ(FileList().CloseFile(h.File(), false, h.Handle() + 7), -static_cast<int>(err::InvalidFileHandle));
    EXPECT_EQ(FileList().CloseFile(h.File(), true, h.Handle()), -static_cast<int>(err::TableNotFound));
    TAbstractFile* file = h.File();
    const std::uint32_t handle = h.Handle();
    h.CloseFile();
    EXPECT_EQ(FileList().CloseFile(file, false, handle), -static_cast<int>(err::TableNotFound));
}

}  // namespace
