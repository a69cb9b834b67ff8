#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "EngineError.h"
#include "FileHandler.h"
#include "FileList.h"
#include "FileTestHelpers.h"
#include "TempDir.h"

using namespace pixhold::engine;
using pixhold::test::TempDir;
using namespace pixhold::engine::test;

namespace {

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

// Random transfers through several openings of one file, checked against a
// plain string after every step: the openings must see one file.
TEST_P(FileHandlerKinds, RandomTransfersThroughSeveralOpeningsMatchAModel) {
    file.CreateFile();
    file.CloseFile();
    constexpr int kOpenings = 3;
    TFileHandler openings[kOpenings];
    for (auto& opening : openings) {
        Describe(opening, file.Name, GetParam());
        opening.OpenFile();
    }
    std::string model;
    std::mt19937 random(20261209);
    for (int step = 0; step < 2000; ++step) {
        TFileHandler& h = openings[random() % kOpenings];
        const std::int64_t offset = static_cast<std::int64_t>(random() % 9000);
        switch (random() % 6) {
        case 0:
        case 1:
        case 2: {  // write
            std::string data(random() % 700 + 1, '\0');
            for (auto& ch : data) ch = static_cast<char>('a' + random() % 26);
            WriteAt(h, offset, data);
            if (model.size() < offset + data.size()) model.resize(offset + data.size(), '\0');
            model.replace(static_cast<std::size_t>(offset), data.size(), data);
            break;
        }
        case 3: {  // read, possibly past the end
            const std::size_t count = random() % 1000;
            const std::string expected =
                static_cast<std::size_t>(offset) >= model.size() ? std::string() : model.substr(offset, count);
            ASSERT_EQ(ReadAt(h, offset, count), expected) << "step " << step;
            break;
        }
        case 4:  // truncate, now and then
            if (random() % 8 == 0) {
                WriteAt(h, offset, "");
                model.resize(static_cast<std::size_t>(offset), '\0');
            }
            break;
        case 5:
            ASSERT_EQ(h.GetFileSize(), static_cast<std::int64_t>(model.size())) << "step " << step;
            break;
        }
    }
    EXPECT_EQ(ReadAt(openings[0], 0, model.size() + 10), model);
    for (auto& opening : openings) opening.CloseFile();
}

// The access lock keeps each seek-and-transfer pair whole while two threads
// share the file's one position.
TEST_P(FileHandlerKinds, AccessLockKeepsSeekAndTransferTogetherAcrossThreads) {
    file.CreateFile();
    constexpr int kSlots = 64;
    constexpr int kSlotSize = 32;
    WriteAt(file, 0, std::string(kSlots * kSlotSize, '.'));
    TFileHandler other;
    file.CloseFile();
    Describe(other, file.Name, GetParam());
    file.OpenFile();
    other.OpenFile();
    auto worker = [](TFileHandler* h, char mark, int start, bool* ok) {
        for (int round = 0; round < 300; ++round) {
            const int slot = start + 2 * (round % (kSlots / 2));
            WriteAt(*h, static_cast<std::int64_t>(slot) * kSlotSize, std::string(kSlotSize, mark));
            if (ReadAt(*h, static_cast<std::int64_t>(slot) * kSlotSize, kSlotSize) != std::string(kSlotSize, mark))
                *ok = false;
        }
    };
    bool okA = true;
    bool okB = true;
    std::thread a(worker, &file, 'A', 0, &okA);
    std::thread b(worker, &other, 'B', 1, &okB);
    a.join();
    b.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
    const std::string all = ReadAt(file, 0, kSlots * kSlotSize);
    for (int slot = 0; slot < kSlots; ++slot)
        EXPECT_EQ(all.substr(slot * kSlotSize, kSlotSize), std::string(kSlotSize, slot % 2 ? 'B' : 'A'));
    other.CloseFile();
}

TEST_P(FileHandlerKinds, OperationsWithoutAFileFailQuietlyOrWithTheTransferError) {
    char buf[4] = {};
    EXPECT_EQ(file.SeekFile(SeekOrigin::Begin, 3), 0);
    EXPECT_EQ(file.GetFileSize(), 0);
    EXPECT_FALSE(file.LockRegion(true, 10, 1));
    EXPECT_EQ(CodeOf([&] { file.ReadBuffer(buf, 4, true); }), err::ReadError);
    EXPECT_EQ(CodeOf([&] { file.WriteBuffer(buf, 4); }), err::WriteError);
    EXPECT_EQ(CodeOf([&] { file.FlushFile(); }), err::WriteError);
    file.BeginFileAccess();  // no file: nothing to lock, nothing to fail
    file.EndFileAccess();
}

TEST_P(FileHandlerKinds, ErrorsNameTheFile) {
    try {
        file.OpenFile();
        FAIL() << "opened a missing file";
    } catch (const ECofferEngineError& e) {
        EXPECT_EQ(e.ContextTable(), file.Name);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileHandlerKinds, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& kind) { return kind.param ? "Memory" : "Physical"; });

}  // namespace
