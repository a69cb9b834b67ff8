#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EngineError.h"
#include "FaultPlan.h"
#include "FileHandler.h"
#include "FileTestHelpers.h"
#include "TempDir.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;
using pixhold::test::TempDir;

namespace {

// Scatter reads and gather writes behave as one transfer of the pieces put
// one after the other, on physical and in-memory files alike.
class FilePieces : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Describe(file, (dir / "Pieces.Blb").string(), GetParam());
        file.CreateFile();
    }
    void TearDown() override {
        file.CloseFile();
        file.DeleteFile();
    }
    TempDir dir;
    TFileHandler file;
};

TEST_P(FilePieces, ManySmallPiecesMoveAsOneTransfer) {
    // More pieces than one system call takes, some of them empty.
    std::string expected;
    std::vector<std::string> parts;
    for (int i = 0; i < 3000; ++i) parts.push_back(std::string(static_cast<std::size_t>(i % 7), static_cast<char>('a' + i % 26)));
    std::vector<TConstBufferPiece> out;
    for (const auto& p : parts) {
        out.push_back({p.data(), p.size()});
        expected += p;
    }
    {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, 10);
        file.WritePieces(out.data(), out.size());
    }
    EXPECT_EQ(ReadAt(file, 10, expected.size() + 5), expected);

    std::vector<std::string> back;
    for (const auto& p : parts) back.emplace_back(p.size(), '\0');
    std::vector<TBufferPiece> in;
    for (auto& b : back) in.push_back({b.data(), b.size()});
    {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, 10);
        EXPECT_EQ(file.ReadPieces(in.data(), in.size()), expected.size());
        EXPECT_EQ(file.SeekFile(SeekOrigin::Current, 0), static_cast<std::int64_t>(10 + expected.size()));
    }
    EXPECT_EQ(back, parts);
}

TEST_P(FilePieces, ShortReadsAtTheEndAndWritesOfNothing) {
    WriteAt(file, 0, "0123456789");
    char a[4], b[8];
    TBufferPiece in[] = {{a, 4}, {b, 8}};
    {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, 2);
        EXPECT_EQ(CodeOf([&] { file.ReadPieces(in, 2); }), err::ReadError);
        file.SeekFile(SeekOrigin::Begin, 2);
        EXPECT_EQ(file.ReadPieces(in, 2, true), 8u);
    }
    EXPECT_EQ(std::string(a, 4), "2345");
    EXPECT_EQ(std::string(b, 4), "6789");

    TConstBufferPiece nothing[] = {{a, 0}, {b, 0}};
    {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, 3);
        file.WritePieces(nothing, 2);
    }
    EXPECT_EQ(file.GetFileSize(), 10) << "a gather write of nothing does not truncate";
}

TEST_P(FilePieces, FailedWritesAreReported) {
    auto plan = std::make_shared<TFaultPlan>(".Blb");
    plan->ShortWriteNth(1, 5);
    plan->FailNth(FileOp::Write, 2);
    ScopedFaultPlan faults(plan);
    const std::string x(8, 'x'), y(8, 'y');
    TConstBufferPiece out[] = {{x.data(), x.size()}, {y.data(), y.size()}};
    FileAccessGuard guard(file);
    file.SeekFile(SeekOrigin::Begin, 0);
    EXPECT_EQ(CodeOf([&] { file.WritePieces(out, 2); }), err::WriteError);
    file.SeekFile(SeekOrigin::Begin, 0);
    EXPECT_EQ(CodeOf([&] { file.WritePieces(out, 2); }), err::WriteError);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FilePieces, ::testing::Values(false, true),
                         [](const auto& p) { return std::string(p.param ? "Memory" : "Physical"); });

}  // namespace
