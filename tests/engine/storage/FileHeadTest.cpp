// The change counter at the start of a file, as the change check reads it
// many times a second: physical files copy it from a shared view of the
// first page, in-memory files read it. Either way it is the file's bytes as
// they are now, the position is left alone, and a failure is an error.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "EngineError.h"
#include "FaultPlan.h"
#include "FileHandler.h"
#include "FileList.h"
#include "FileTestHelpers.h"
#include "TempDir.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;
using pixhold::test::TempDir;

namespace {

std::string Counter(std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>(v >> 24)};
}

class FileHead : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        path = (dir / "Head.Idx").string();
        Describe(file, path, GetParam());
        file.CreateFile();
    }
    void TearDown() override {
        file.CloseFile();
        file.DeleteFile();
    }
    TempDir dir;
    std::string path;
    TFileHandler file;
};

TEST_P(FileHead, TheCounterIsReadAsTheFileHoldsItNow) {
    WriteAt(file, 0, Counter(7) + std::string(60, 'x'));
    EXPECT_EQ(file.ReadChangeCounter(false), 7);
    {
        FileAccessGuard guard(file);
        file.SeekFile(SeekOrigin::Begin, 33);
        EXPECT_EQ(file.ReadChangeCounter(false), 7);
        EXPECT_EQ(file.SeekFile(SeekOrigin::Current, 0), 33) << "the position is left alone";
    }
    // A write through the file shows at once.
    WriteAt(file, 0, Counter(-2));
    EXPECT_EQ(file.ReadChangeCounter(false), -2);
    if (!GetParam()) {
        // So does a write through another descriptor, as another process makes it.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const std::string bytes = Counter(123456789);
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), 4);
        ::close(fd);
        EXPECT_EQ(file.ReadChangeCounter(false), 123456789);
    }
}

TEST_P(FileHead, AFileTooShortOrAFailedReadIsAnError) {
    WriteAt(file, 0, "ab");
    EXPECT_EQ(CodeOf([&] { (void)file.ReadChangeCounter(false); }), err::ReadError);
    // Grown to hold the counter, it is read.
    WriteAt(file, 0, Counter(41) + "rest");
    EXPECT_EQ(file.ReadChangeCounter(false), 41);
    auto plan = std::make_shared<TFaultPlan>(".Idx");
    plan->FailNth(FileOp::Read, 1);
    {
        ScopedFaultPlan faults(plan);
        EXPECT_EQ(CodeOf([&] { (void)file.ReadChangeCounter(false); }), err::ReadError);
        EXPECT_EQ(file.ReadChangeCounter(false), 41);
    }
    EXPECT_EQ(plan->Count(FileOp::Read), 2u) << "each counter read counts as a read";
}

INSTANTIATE_TEST_SUITE_P(PhysicalAndInMemory, FileHead, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "InMemory" : "Physical"; });

}  // namespace
