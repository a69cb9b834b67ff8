#include <gtest/gtest.h>

#include "CursorEditSupport.h"
#include "EngineError.h"
#include "RecordBuffer.h"

namespace pixhold::engine {
namespace {

using namespace edittest;

TEST(CursorBlob, CallsOnWrongFieldsOrUnopenedBlobsGiveTheirCodes) {
    EditFixture fx;
    auto cursor = fx.Open();
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    cursor->InitRecord(buffer.data());
    std::uint32_t length = 7;
    char data[4] = {};
    std::uint32_t read = 0;
    EXPECT_EQ(cursor->OpenBlob(1, buffer.data(), TBlobOpenMode::Read, length), err::InvalidBlobField);
    EXPECT_EQ(cursor->OpenBlob(9, buffer.data(), TBlobOpenMode::Read, length), err::InvalidBlobField);
    EXPECT_EQ(cursor->GetBlob(5, buffer.data(), 0, 4, data, read), err::InvalidBlobHandle);
    EXPECT_EQ(cursor->PutBlob(5, buffer.data(), 0, 4, data), err::InvalidBlobHandle);
    EXPECT_EQ(cursor->TruncateBlob(5, buffer.data(), 0), err::InvalidBlobHandle);
    EXPECT_EQ(cursor->GetBlobSize(5, buffer.data(), length), err::InvalidBlobHandle);
}

TEST(CursorBlob, WritesGrowTheBlobAndOnlyAnEmptyBlobIsAbsent) {
    EditFixture fx;
    auto cursor = fx.Open();
    const FieldDescriptor& data = cursor->Fields()[4];
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    cursor->InitRecord(buffer.data());
    std::uint32_t length = 99;
    ASSERT_EQ(cursor->OpenBlob(5, buffer.data(), TBlobOpenMode::ReadWrite, length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(cursor->PutBlob(5, buffer.data(), 0, 0, ""), 0);
    EXPECT_FALSE(recordbuffer::IsPresent(data, buffer.data()));
    EXPECT_EQ(cursor->PutBlob(5, buffer.data(), 10, 3, "xyz"), 0);
    EXPECT_TRUE(recordbuffer::IsPresent(data, buffer.data()));
    ASSERT_EQ(cursor->GetBlobSize(5, buffer.data(), length), 0);
    EXPECT_EQ(length, 13u);
    // Opening again gives the same BLOB.
    ASSERT_EQ(cursor->OpenBlob(5, buffer.data(), TBlobOpenMode::Read, length), 0);
    EXPECT_EQ(length, 13u);
    EXPECT_EQ(cursor->OpenBlobCount(), 1u);
    char out[20] = {};
    std::uint32_t read = 0;
    EXPECT_EQ(cursor->GetBlob(5, buffer.data(), 9, 4, out, read), 0);
    EXPECT_EQ(std::string(out, read), std::string("\0xyz", 4));
    EXPECT_EQ(cursor->GetBlob(5, buffer.data(), 11, 10, out, read), err::EndOfBlob);
    EXPECT_EQ(std::string(out, read), "yz");
    EXPECT_EQ(cursor->GetBlob(5, buffer.data(), 14, 1, out, read), err::InvalidBlobOffset);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(cursor->TruncateBlob(5, buffer.data(), 0), 0);
    EXPECT_FALSE(recordbuffer::IsPresent(data, buffer.data()));
    cursor->FreeBlob(5, buffer.data());
    EXPECT_EQ(cursor->OpenBlobCount(), 0u);
    EXPECT_EQ(recordbuffer::GetBlobSlot(data, buffer.data()).firstBlock, 0u);
}

TEST(CursorBlob, AtMost128BlobsAreOpenAtATime) {
    EditFixture fx;
    auto cursor = fx.Open();
    std::vector<std::vector<std::uint8_t>> buffers(kMaxOpenBlobs + 1, std::vector<std::uint8_t>(cursor->RecordSize(), 0));
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < kMaxOpenBlobs; ++i)
        ASSERT_EQ(cursor->OpenBlob(5, buffers[i].data(), TBlobOpenMode::ReadWrite, length), 0) << i;
    EXPECT_EQ(cursor->OpenBlob(5, buffers.back().data(), TBlobOpenMode::ReadWrite, length), err::TooManyBlobsOpen);
    cursor->FreeBlob(5, buffers[3].data());
    EXPECT_EQ(cursor->OpenBlob(5, buffers.back().data(), TBlobOpenMode::ReadWrite, length), 0);
    cursor->FreeAllBlobs();
    EXPECT_EQ(cursor->OpenBlobCount(), 0u);
}

// A stored BLOB read back in pieces, changed, emptied and kept across a
// change that does not touch it.
TEST(CursorBlob, StoredValuesReadBackAndChangeOnlyThroughTheRecord) {
    EditFixture fx;
    auto cursor = fx.Open();
    std::string big(70000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    Append(*cursor, {"p", 1, "p", "", big});
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    ASSERT_TRUE(Seek(*cursor, "p"));
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    EXPECT_EQ(ValuesOf(*cursor, buffer).data, big);
    // Changed in the buffer but never posted: the table keeps the old value.
    std::uint32_t length = 0;
    ASSERT_EQ(cursor->OpenBlob(5, buffer.data(), TBlobOpenMode::ReadWrite, length), 0);
    ASSERT_EQ(cursor->PutBlob(5, buffer.data(), 0, 3, "new"), 0);
    cursor->FreeBlob(5, buffer.data());
    EXPECT_EQ(Inspect(cursor->Table()).rows.at("p").data, big);
    // A change of another field keeps the BLOB.
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data(), true), 0);
    recordbuffer::SetText(cursor->Fields()[3], buffer.data(), "cat");
    cursor->ModifyRecord(buffer.data(), true, true);
    EXPECT_EQ(Inspect(cursor->Table()).rows.at("p").data, big);
    // Emptied through the record: absent, its blocks free again.
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data(), true), 0);
    ASSERT_EQ(cursor->OpenBlob(5, buffer.data(), TBlobOpenMode::ReadWrite, length), 0);
    ASSERT_EQ(cursor->TruncateBlob(5, buffer.data(), 0), 0);
    cursor->ModifyRecord(buffer.data(), true, true);
    const Inspection seen = Inspect(cursor->Table());
    EXPECT_EQ(seen.problems, "");
    EXPECT_EQ(seen.rows.at("p").data, "");
    EXPECT_NE(cursor->Table().BlobFile().Header().firstFreeBlock, 0u);
}

}  // namespace
}  // namespace pixhold::engine
