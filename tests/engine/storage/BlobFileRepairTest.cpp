#include <gtest/gtest.h>

#include <functional>

#include "BlobTestSupport.h"
#include "EngineError.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;

namespace {

using BlobRepair = BlobFileFixture;

std::vector<std::string> Fixed(const std::vector<std::string>& messages) {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m + ", error fixed");
    return out;
}

void PutU32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// ---- The file as a whole --------------------------------------------------

TEST_F(BlobRepair, FileChecks) {
    const char* notAligned = "BLOB blocks not aligned on even block size boundaries";
    const char* count = "Physical BLOB block count not correct";
    const char* freePointer = "Invalid free BLOB block pointer in header";
    struct Case {
        const char* what;
        std::uint32_t valueBytes;  // stored before the damage
        std::function<void(std::string& disk)> damage;
        std::vector<std::string> messages;
        std::size_t sizeAfter;  // file length after the repair
        std::uint32_t nextAfter;
    };
    const Case cases[] = {
        {"two and a half blocks", 900, [](std::string& d) { d.append(256, 'x'); }, {notAligned}, 512 + 1024, 3},
        {"half a block and no whole one", 0, [](std::string& d) { d.append(100, 'x'); }, {notAligned}, 512, 1},
        {"next block number too high", 900, [](std::string& d) { PutU32(d, 13, 9); }, {count}, 512 + 1024, 3},
        {"next block number too low", 900, [](std::string& d) { PutU32(d, 13, 1); }, {count}, 512 + 1024, 3},
        {"free block beyond the blocks", 900, [](std::string& d) { PutU32(d, 9, 3); }, {freePointer}, 512 + 1024, 3},
        {"negative free block", 900, [](std::string& d) { PutU32(d, 9, 0x80000001u); }, {freePointer},
         512 + 1024, 3},
        {"free block in a file without blocks", 0, [](std::string& d) { PutU32(d, 9, 1); }, {freePointer}, 512, 1},
        {"a tail block lost, count and free pointer with it", 900,
         [](std::string& d) {
             d.resize(512 + 512 + 300);
             PutU32(d, 9, 2);
         },
         {notAligned, count, freePointer}, 512 + 512, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Create();
        if (c.valueBytes > 0) Store(RandomBytes(c.valueBytes, 1), {}, 1);
        Flush();
        file->CloseFile();
        std::string disk = ReadDiskFile(Path());
        c.damage(disk);
        WriteDiskFile(Path(), disk);
        file = MakeFile();
        file->OpenFile();

        cursor.messages.clear();
        EXPECT_FALSE(file->RepairFile(cursor, true));
        EXPECT_EQ(cursor.messages, c.messages);
        EXPECT_EQ(ReadDiskFile(Path()), disk) << "verifying changes nothing";

        cursor.messages.clear();
        EXPECT_FALSE(file->RepairFile(cursor, false));
        EXPECT_EQ(cursor.messages, Fixed(c.messages));
        EXPECT_TRUE(file->HeaderIsChanged());
        Flush();
        EXPECT_EQ(ReadDiskFile(Path()).size(), c.sizeAfter);
        EXPECT_EQ(file->Header().nextBlockNumber, c.nextAfter);

        cursor.messages.clear();
        EXPECT_TRUE(file->RepairFile(cursor, true));
        EXPECT_TRUE(cursor.messages.empty());
        file->ValidateHeader();
        file->CloseFile();
    }
}

// ---- The chain of one value -----------------------------------------------

TEST_F(BlobRepair, ChainChecks) {
    constexpr std::uint32_t kOwner = 5;
    constexpr std::uint32_t kRecord = 17;
    const std::string offset = "Invalid BLOB offset in BLOB file for physical record # 17";
    const std::string size = "BLOB size mismatch in BLOB file for physical record # 17";
    const std::string blockSize = "Invalid block size in BLOB file for physical record # 17";
    const std::string pointer = "Invalid intra-block pointer in BLOB file for physical record # 17";
    const std::string recursive = "Recursive intra-block pointer in BLOB file for physical record # 17";

    // The value fills blocks 1 and 2 and 100 bytes of block 3.
    struct Case {
        const char* what;
        bool adopt;
        std::function<void(BlobBlockHeader* blocks)> damage;  // blocks[0..2] are blocks 1..3
        std::vector<std::string> messages;
        bool referenceKept;
        std::int64_t lengthAfter;  // relative: -1 means the full value
    };
    const std::uint32_t ds = 494;
    const Case cases[] = {
        {"sound chain", false, [](BlobBlockHeader*) {}, {}, true, -1},
        {"first block of another owner", false, [](BlobBlockHeader* b) { b[0].owner = 6; }, {offset}, false, 0},
        {"first block of another owner, adopted", true, [](BlobBlockHeader* b) { b[0].owner = 6; }, {}, true, -1},
        {"total size 0", false, [](BlobBlockHeader* b) { b[0].totalSize = 0; }, {size}, false, 0},
        {"negative total size", false, [](BlobBlockHeader* b) { b[0].totalSize = 0xfffffff0u; }, {size}, false, 0},
        {"middle block short", false, [](BlobBlockHeader* b) { b[1].bytesUsed = ds - 1; }, {blockSize, size}, true,
         2 * ds - 1},
        {"pointer beyond the file", false, [](BlobBlockHeader* b) { b[1].next = 99; }, {pointer, size}, true, 2 * ds},
        {"pointer back into the chain", false, [](BlobBlockHeader* b) { b[2].next = 1; }, {recursive}, true, -1},
        {"next block of another owner", false, [](BlobBlockHeader* b) { b[2].owner = 6; }, {pointer, size}, true,
         2 * ds},
        {"next block of another owner, adopted", true, [](BlobBlockHeader* b) { b[2].owner = 6; }, {}, true, -1},
        {"last block short", false, [](BlobBlockHeader* b) { b[2].bytesUsed = 50; }, {size}, true, 2 * ds + 50},
        {"previous pointers are only mended", false,
         [](BlobBlockHeader* b) {
             b[0].previous = 3;
             b[2].previous = 7;
         },
         {}, true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Create();
        const Bytes value = RandomBytes(2 * ds + 100, 4);
        const auto ref = Store(value, {}, kOwner);
        ASSERT_EQ(ValueChain(ref.first), (std::vector<std::uint32_t>{1, 2, 3}));
        BlobBlockHeader headers[3];
        for (std::uint32_t n = 1; n <= 3; ++n) headers[n - 1] = HeaderOf(n);
        c.damage(headers);
        for (std::uint32_t n = 1; n <= 3; ++n) {
            TBlock* b = file->GetBlock(nullptr, n);
            b->Header = headers[n - 1];
            b->SetModified();
            file->ReleaseBlock(b);
        }
        Reopen();

        std::uint32_t first = ref.first;
        cursor.messages.clear();
        EXPECT_EQ(file->RepairBlobChain(cursor, true, c.adopt, kRecord, kOwner, first), c.messages.empty());
        EXPECT_EQ(cursor.messages, c.messages);
        EXPECT_EQ(first, ref.first) << "verifying keeps the reference";
        for (std::uint32_t n = 1; n <= 3; ++n) EXPECT_EQ(HeaderOf(n), headers[n - 1]) << "verifying mends nothing";

        cursor.messages.clear();
        EXPECT_EQ(file->RepairBlobChain(cursor, false, c.adopt, kRecord, kOwner, first), c.messages.empty());
        EXPECT_EQ(cursor.messages, Fixed(c.messages));
        Reopen();
        if (!c.referenceKept) {
            EXPECT_EQ(first, 0u);
            file->CloseFile();
            continue;
        }
        ASSERT_EQ(first, ref.first);
        cursor.messages.clear();
        EXPECT_TRUE(file->RepairBlobChain(cursor, true, false, kRecord, kOwner, first));
        EXPECT_TRUE(cursor.messages.empty());
        const auto chain = ValueChain(first);
        for (std::size_t i = 0; i < chain.size(); ++i) {
            EXPECT_EQ(HeaderOf(chain[i]).previous, i == 0 ? 0u : chain[i - 1]);
        }
        const Bytes read = Load({first, kOwner});
        const std::size_t expected = c.lengthAfter < 0 ? value.size() : static_cast<std::size_t>(c.lengthAfter);
        ASSERT_EQ(read.size(), expected);
        EXPECT_TRUE(std::equal(read.begin(), read.end(), value.begin()));
        file->CloseFile();
    }
}

TEST_F(BlobRepair, AReferenceBeyondTheFileIsAnInvalidOffset) {
    Create();
    Store(RandomBytes(100, 1), {}, 1);
    std::uint32_t first = 5;
    EXPECT_FALSE(file->RepairBlobChain(cursor, false, true, 3, 1, first));
    EXPECT_EQ(cursor.messages,
              std::vector<std::string>{"Invalid BLOB offset in BLOB file for physical record # 3, error fixed"});
    EXPECT_EQ(first, 0u);
    std::uint32_t none = 0;
    EXPECT_TRUE(file->RepairBlobChain(cursor, true, false, 3, 1, none));
}

}  // namespace
