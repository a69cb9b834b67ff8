#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "EngineError.h"
#include "FileHandler.h"
#include "FileList.h"
#include "TempDir.h"

using namespace pixhold::engine;
using pixhold::test::TempDir;

namespace {

// Runs fn and returns the engine error code it raised (0 for none).
template <typename Fn>
int CodeOf(Fn fn) {
    try {
        fn();
    } catch (const ECofferEngineError& e) {
        return e.ErrorCode();
    }
    return 0;
}

// Writes `data` at `offset` as the table files do: under the access lock.
void WriteAt(TFileHandler& file, std::int64_t offset, const std::string& data) {
    FileAccessGuard guard(file);
    file.SeekFile(SeekOrigin::Begin, offset);
    file.WriteBuffer(data.data(), data.size());
}

std::string ReadAt(TFileHandler& file, std::int64_t offset, std::size_t count) {
    FileAccessGuard guard(file);
    file.SeekFile(SeekOrigin::Begin, offset);
    std::string data(count, '\0');
    data.resize(file.ReadBuffer(data.data(), count, true));
    return data;
}

// Both kinds of file must behave alike for the handler's users.
class FileHandlerKinds : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        file.InMemory = GetParam();
        file.Name = (dir / "Table.Dat").string();
    }
    void TearDown() override {
        file.CloseFile();
        if (file.FileExists()) file.DeleteFile();
    }
    TempDir dir;
    TFileHandler file;
};

TEST_P(FileHandlerKinds, CreateWriteReadSeekRoundTrip) {
    file.CreateFile();
    ASSERT_TRUE(file.IsOpen());
    EXPECT_GT(file.Handle(), 0u);
    WriteAt(file, 0, "hello");
    WriteAt(file, 10, "world");
    EXPECT_EQ(file.GetFileSize(), 15);
    EXPECT_EQ(ReadAt(file, 0, 15), std::string("hello\0\0\0\0\0world", 15));
    EXPECT_EQ(file.SeekFile(SeekOrigin::End, 0), 15);
    EXPECT_EQ(file.SeekFile(SeekOrigin::Current, -5), 10);
    char buf[5];
    EXPECT_EQ(file.ReadBuffer(buf, 5), 5u);
    EXPECT_EQ(std::string(buf, 5), "world");
}

TEST_P(FileHandlerKinds, ReadPastEndIsAnErrorUnlessShortIsAllowed) {
    file.CreateFile();
    WriteAt(file, 0, "abc");
    file.SeekFile(SeekOrigin::Begin, 1);
    char buf[8];
    EXPECT_EQ(CodeOf([&] { file.ReadBuffer(buf, 8); }), err::ReadError);
    file.SeekFile(SeekOrigin::Begin, 1);
    EXPECT_EQ(file.ReadBuffer(buf, 8, true), 2u);
    EXPECT_EQ(file.ReadBuffer(buf, 8, true), 0u);
}

TEST_P(FileHandlerKinds, ZeroByteWriteTruncatesAtThePosition) {
    file.CreateFile();
    WriteAt(file, 0, "0123456789");
    WriteAt(file, 4, "");
    EXPECT_EQ(file.GetFileSize(), 4);
    // Growing again shows zeros, not the old bytes.
    WriteAt(file, 8, "x");
    EXPECT_EQ(ReadAt(file, 0, 9), std::string("0123\0\0\0\0x", 9));
}

TEST_P(FileHandlerKinds, ReopenKeepsContents) {
    file.CreateFile();
    WriteAt(file, 0, "kept");
    file.CloseFile();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(file.FileExists());
    file.OpenFile();
    EXPECT_EQ(ReadAt(file, 0, 10), "kept");
    EXPECT_FALSE(file.ReadOnly());
}

TEST_P(FileHandlerKinds, OpeningAMissingFileIsTableNotFound) {
    EXPECT_FALSE(file.FileExists());
    const int code = CodeOf([&] { file.OpenFile(); });
    EXPECT_EQ(code, err::TableNotFound);
    EXPECT_FALSE(file.IsOpen());
}

TEST_P(FileHandlerKinds, DeleteRemovesTheFile) {
    file.CreateFile();
    file.CloseFile();
    file.DeleteFile();
    EXPECT_FALSE(file.FileExists());
    EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), err::TableNotFound);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileHandlerKinds, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Memory" : "Physical"; });

}  // namespace
