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

// A gather write of more pieces than one system call takes, cut short by a
// fault at various places: the bytes before the cut are stored, nothing after
// it, and the write is reported as failed. Either kind of file counts the
// whole transfer as one write.
TEST_P(FilePieces, AGatherWriteCutShortStoresExactlyTheBytesBeforeTheCut) {
    std::string expected;
    std::vector<std::string> parts;
    for (int i = 0; i < 2500; ++i) {
        // Block-like pieces: a short header, a longer data area, now and then nothing.
        const std::size_t size = i % 2 == 0 ? 18 : (i % 11 == 0 ? 0 : 200 + static_cast<std::size_t>(i % 13));
        parts.push_back(std::string(size, static_cast<char>('a' + i % 26)));
        expected += parts.back();
    }
    std::vector<TConstBufferPiece> out;
    for (const auto& p : parts) out.push_back({p.data(), p.size()});
    // Bytes in the first 1024 pieces (one system call's worth).
    std::size_t firstBatch = 0;
    for (std::size_t i = 0; i < 1024; ++i) firstBatch += parts[i].size();

    enum class Fault { Short, DiskFull, Fail };
    struct Case {
        const char* what;
        Fault fault;
        std::size_t cut;  // bytes that reach the file
    };
    const Case cases[] = {
        {"inside the first piece", Fault::Short, 5},
        {"at a piece boundary", Fault::Short, 18 + 200},
        {"inside a piece of the first batch", Fault::Short, 1000},
        {"at the end of the first batch", Fault::Short, firstBatch},
        {"inside the second batch", Fault::Short, firstBatch + 777},
        {"one byte before the end", Fault::Short, expected.size() - 1},
        {"disk full inside the second batch", Fault::DiskFull, firstBatch + 3},
        {"failed outright", Fault::Fail, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            FileAccessGuard guard(file);
            file.SeekFile(SeekOrigin::Begin, 0);
            file.WriteBuffer(nullptr, 0);
        }
        WriteAt(file, 0, "0123456789");
        auto plan = std::make_shared<TFaultPlan>(".Blb");
        if (c.fault == Fault::Short) plan->ShortWriteNth(1, c.cut);
        if (c.fault == Fault::DiskFull) plan->DiskFullAfter(c.cut);
        if (c.fault == Fault::Fail) plan->FailNth(FileOp::Write, 1);
        {
            ScopedFaultPlan faults(plan);
            FileAccessGuard guard(file);
            file.SeekFile(SeekOrigin::Begin, 10);
            EXPECT_EQ(CodeOf([&] { file.WritePieces(out.data(), out.size()); }), err::WriteError);
        }
        EXPECT_EQ(plan->Count(FileOp::Write), 1u);
        EXPECT_EQ(file.GetFileSize(), static_cast<std::int64_t>(10 + c.cut));
        EXPECT_EQ(ReadAt(file, 0, expected.size() + 20), "0123456789" + expected.substr(0, c.cut));
    }
}

TEST_P(FilePieces, EmptyPiecesAnywhereAreSkipped) {
    // Whole system calls' worth of empty pieces before, between and after the bytes.
    const std::string a = "abc", b = "defgh";
    std::vector<TConstBufferPiece> out(1100, TConstBufferPiece{a.data(), 0});
    out.push_back({a.data(), a.size()});
    out.insert(out.end(), 1024, TConstBufferPiece{b.data(), 0});
    out.push_back({b.data(), b.size()});
    out.insert(out.end(), 2000, TConstBufferPiece{b.data(), 0});
    {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, 0);
        file.WritePieces(out.data(), out.size());
        EXPECT_EQ(file.SeekFile(SeekOrigin::Current, 0), 8);
    }
    EXPECT_EQ(ReadAt(file, 0, 100), "abcdefgh");

    char x[3], y[5];
    std::vector<TBufferPiece> in(1500, TBufferPiece{x, 0});
    in.push_back({x, 3});
    in.insert(in.end(), 1030, TBufferPiece{y, 0});
    in.push_back({y, 5});
    FileAccessGuard guard(file);
    file.SeekFile(SeekOrigin::Begin, 0);
    EXPECT_EQ(file.ReadPieces(in.data(), in.size()), 8u);
    EXPECT_EQ(std::string(x, 3) + std::string(y, 5), "abcdefgh");
}

INSTANTIATE_TEST_SUITE_P(Kinds, FilePieces, ::testing::Values(false, true),
                         [](const auto& p) { return std::string(p.param ? "Memory" : "Physical"); });

}  // namespace
