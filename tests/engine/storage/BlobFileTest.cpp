#include <gtest/gtest.h>

#include <cstring>

#include "BlobTestSupport.h"
#include "Cipher.h"
#include "EngineError.h"
#include "BlockRunReader.h"
#include "FaultPlan.h"

using namespace pixhold::engine;
using namespace pixhold::engine::test;

namespace {

std::uint32_t U32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}

std::uint16_t U16(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[at]) |
                                      static_cast<std::uint8_t>(s[at + 1]) << 8);
}

using BlobFile = BlobFileFixture;

// ---- Format ---------------------------------------------------------------

TEST_F(BlobFile, NewFileHasTheHeaderOnly) {
    Create();
    const std::string disk = ReadDiskFile(Path());
    ASSERT_EQ(disk.size(), 512u);
    EXPECT_EQ(U32(disk, 0), 1u) << "the header write moves the change counter";
    EXPECT_EQ(U32(disk, 4), 0u);
    EXPECT_EQ(disk[8], 5);
    EXPECT_EQ(U32(disk, 9), 0u) << "no free block";
    EXPECT_EQ(U32(disk, 13), 1u) << "next block number of an empty file";
    EXPECT_EQ(disk[17], 1) << "the changed mark is stored as it was when written";
    for (std::size_t i = 18; i < 512; ++i) ASSERT_EQ(disk[i], 0) << "byte " << i;
    EXPECT_EQ(file->BlockCount(), 0u);
    EXPECT_EQ(file->BlockDataSize(), 494u);

    Reopen();
    EXPECT_EQ(file->Header().changed, 0) << "cleared on reading";
    EXPECT_EQ(file->Header().changeCounter, 1);
}

TEST_F(BlobFile, BlocksAreLaidOutByteForByte) {
    Create();
    const std::uint32_t ds = file->BlockDataSize();
    const Bytes value = RandomBytes(ds + 1, 7);
    const auto ref = Store(value, {}, 0x01020304);
    Flush();
    const std::string disk = ReadDiskFile(Path());
    ASSERT_EQ(disk.size(), 512u + 2 * 512u);
    EXPECT_EQ(U32(disk, 13), 3u);
    EXPECT_EQ(ref.first, 1u);

    const std::size_t b1 = 512, b2 = 1024;
    EXPECT_EQ(U32(disk, b1 + 0), 0u) << "first block has no previous";
    EXPECT_EQ(U32(disk, b1 + 4), 2u);
    EXPECT_EQ(U16(disk, b1 + 8), ds);
    EXPECT_EQ(U32(disk, b1 + 10), 0x01020304u);
    EXPECT_EQ(U32(disk, b1 + 14), ds + 1) << "total size in the first block";
    EXPECT_EQ(0, std::memcmp(disk.data() + b1 + 18, value.data(), ds));

    EXPECT_EQ(U32(disk, b2 + 0), 1u);
    EXPECT_EQ(U32(disk, b2 + 4), 0u);
    EXPECT_EQ(U16(disk, b2 + 8), 1u);
    EXPECT_EQ(U32(disk, b2 + 10), 0x01020304u);
    EXPECT_EQ(U32(disk, b2 + 14), 0u) << "total size only in the first block";
    EXPECT_EQ(static_cast<std::uint8_t>(disk[b2 + 18]), value[ds]);
    for (std::size_t i = b2 + 19; i < b2 + 512; ++i) ASSERT_EQ(disk[i], 0) << "unused data bytes are 0";
}

TEST_F(BlobFile, EncryptedTablesEncipherHeaderAndBlockPartsSeparately) {
    Create(512, true);
    const Bytes value = RandomBytes(700, 3);
    const auto ref = Store(value, {}, 42);
    Flush();
    std::string disk = ReadDiskFile(Path());
    ASSERT_EQ(disk.size(), 512u + 2 * 512u);

    std::string header = disk.substr(0, 512);
    ScrambleBuffer(header.data(), 512, kDataSeeds);
    EXPECT_EQ(header[8], 5);
    EXPECT_EQ(U32(header, 13), 3u);

    std::string block = disk.substr(512, 512);
    ScrambleBuffer(block.data(), 18, kDataSeeds);
    ScrambleBuffer(block.data() + 18, 494, kDataSeeds);  // the keystream starts again at 18
    EXPECT_EQ(U32(block, 4), 2u);
    EXPECT_EQ(U32(block, 10), 42u);
    EXPECT_EQ(U32(block, 14), 700u);
    EXPECT_EQ(0, std::memcmp(block.data() + 18, value.data(), 494));
    EXPECT_NE(0, std::memcmp(disk.data() + 512 + 18, value.data(), 494)) << "stored enciphered";

    Reopen();
    EXPECT_EQ(Load(ref), value);
}

// ---- Values ---------------------------------------------------------------

TEST_F(BlobFile, ValueSizesUseTheBlocksTheyNeed) {
    struct Case {
        const char* what;
        std::int64_t extra;  // bytes relative to multiples of the data size
        std::uint32_t dataSizes;
        std::uint32_t blocks;
    };
    const Case cases[] = {
        {"one byte", 1, 0, 1},
        {"one block less a byte", -1, 1, 1},
        {"exactly one block", 0, 1, 1},
        {"one byte more", 1, 1, 2},
        {"exactly three blocks", 0, 3, 3},
    };
    for (std::uint32_t blockSize : {512u, 64u, 4096u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", block size " + std::to_string(blockSize));
            Create(blockSize);
            const std::int64_t length = static_cast<std::int64_t>(c.dataSizes) * file->BlockDataSize() + c.extra;
            const Bytes value = RandomBytes(static_cast<std::size_t>(length), c.blocks);
            const auto ref = Store(value, {}, 9);
            EXPECT_EQ(file->BlockCount(), c.blocks);
            const auto chain = ValueChain(ref.first);
            ASSERT_EQ(chain.size(), c.blocks);
            EXPECT_EQ(HeaderOf(chain.back()).next, 0u);
            EXPECT_EQ(Load(ref), value);
            Reopen();
            EXPECT_EQ(Load(ref), value);
            file->CloseFile();
        }
    }
}

TEST_F(BlobFile, EmptyValueFreesItsChainAndLeavesNoReference) {
    Create();
    auto ref = Store(RandomBytes(1200, 1), {}, 5);
    ASSERT_EQ(ValueChain(ref.first).size(), 3u);
    ref = Store({}, ref, 6);
    EXPECT_EQ(ref.first, 0u);
    EXPECT_EQ(FreeChain(), (std::vector<std::uint32_t>{3, 2, 1}));
    EXPECT_TRUE(Load(ref).empty());

    // Reading or deleting no value does nothing.
    Delete(ref);
    EXPECT_EQ(ref.first, 0u);
    EXPECT_EQ(file->BlockCount(), 3u);
}

TEST_F(BlobFile, ShrinkingFreesTheTailWhichIsReusedLastFreedFirst) {
    Create();
    const std::uint32_t ds = file->BlockDataSize();
    auto a = Store(RandomBytes(3 * ds, 1), {}, 1);
    ASSERT_EQ(ValueChain(a.first), (std::vector<std::uint32_t>{1, 2, 3}));

    const Bytes shorter = RandomBytes(10, 2);
    a = Store(shorter, a, 2);
    EXPECT_EQ(ValueChain(a.first), (std::vector<std::uint32_t>{1})) << "the old first block is kept";
    EXPECT_EQ(FreeChain(), (std::vector<std::uint32_t>{3, 2})) << "freed in chain order, so 3 is on top";

    const Bytes next = RandomBytes(2 * ds, 3);
    const auto b = Store(next, {}, 3);
    EXPECT_EQ(ValueChain(b.first), (std::vector<std::uint32_t>{3, 2}));
    EXPECT_TRUE(FreeChain().empty());
    EXPECT_EQ(file->BlockCount(), 3u) << "nothing appended while free blocks remain";
    EXPECT_EQ(HeaderOf(2).previous, 3u);
    EXPECT_EQ(Load(a), shorter);
    EXPECT_EQ(Load(b), next);
}

TEST_F(BlobFile, GrowingReusesTheOldChainInOrderBeforeAllocating) {
    Create();
    const std::uint32_t ds = file->BlockDataSize();
    auto filler = Store(RandomBytes(ds, 1), {}, 1);           // block 1
    auto a = Store(RandomBytes(2 * ds, 2), {}, 2);            // blocks 2, 3
    auto gap = Store(RandomBytes(ds, 3), {}, 3);              // block 4
    Delete(filler);                                           // free: 1
    const Bytes grown = RandomBytes(4 * ds, 4);
    a = Store(grown, a, 4);
    EXPECT_EQ(ValueChain(a.first), (std::vector<std::uint32_t>{2, 3, 1, 5}));
    EXPECT_EQ(Load(a), grown);
    EXPECT_EQ(Load(gap).size(), ds);
    Reopen();
    EXPECT_EQ(Load(a), grown);
}

TEST_F(BlobFile, AStaleOwnerIdentifierFailsWith8708) {
    Create();
    const auto ref = Store(RandomBytes(2000, 1), {}, 100);
    EXPECT_EQ(CodeOf([&] { Load({ref.first, 99}); }), err::RecordChanged);

    // Another user rewrote the value: the old record image no longer matches.
    const auto rewritten = Store(RandomBytes(2000, 2), ref, 101);
    ASSERT_EQ(rewritten.first, ref.first);
    EXPECT_EQ(CodeOf([&] { Load(ref); }), err::RecordChanged);

    // A later block with another owner is caught too.
    TBlock* second = file->GetBlock(nullptr, ValueChain(ref.first)[1]);
    second->Header.owner = 7;
    second->SetModified();
    file->ReleaseBlock(second);
    EXPECT_EQ(CodeOf([&] { Load(rewritten); }), err::RecordChanged);
}

TEST_F(BlobFile, DamagedChainsFailLoudly) {
    Create();
    const std::uint32_t ds = file->BlockDataSize();
    struct Case {
        const char* what;
        void (*damage)(BlobBlockHeader& first, BlobBlockHeader& second);
        std::uint16_t code;
    };
    const Case cases[] = {
        {"next beyond the file", [](BlobBlockHeader&, BlobBlockHeader& s) { s.next = 99; }, err::BlobBuffersCorrupt},
        {"chain ends early", [](BlobBlockHeader&, BlobBlockHeader& s) { s.next = 0; }, err::EndOfBlob},
        {"block gives fewer bytes", [](BlobBlockHeader&, BlobBlockHeader& s) { s.bytesUsed = 3; }, err::EndOfBlob},
        {"bytes used beyond the block", [](BlobBlockHeader&, BlobBlockHeader& s) { s.bytesUsed = 600; },
         err::InvalidBlobLength},
        {"total size beyond the file", [](BlobBlockHeader& f, BlobBlockHeader&) { f.totalSize = 0x7fffffff; },
         err::EndOfBlob},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto ref = Store(RandomBytes(3 * ds, 1), {}, 1);
        const auto chain = ValueChain(ref.first);
        TBlock* first = file->GetBlock(nullptr, chain[0]);
        TBlock* second = file->GetBlock(nullptr, chain[1]);
        c.damage(first->Header, second->Header);
        first->SetModified();
        second->SetModified();
        file->ReleaseBlock(first);
        file->ReleaseBlock(second);
        Reopen();
        EXPECT_EQ(CodeOf([&] { Load(ref); }), c.code);
    }
}

TEST_F(BlobFile, ACircularOldChainIsNotWrittenOver) {
    Create();
    const std::uint32_t ds = file->BlockDataSize();
    const auto ref = Store(RandomBytes(3 * ds, 1), {}, 1);
    TBlock* third = file->GetBlock(nullptr, 3);
    third->Header.next = 1;
    third->SetModified();
    file->ReleaseBlock(third);
    EXPECT_EQ(CodeOf([&] { Store(RandomBytes(5 * ds, 2), ref, 2); }), err::BlobBuffersCorrupt);
    auto copy = ref;
    EXPECT_EQ(CodeOf([&] { Delete(copy); }), err::BlobBuffersCorrupt);
    EXPECT_EQ(file->Header().firstFreeBlock, 0u) << "nothing freed from a damaged chain";
}

TEST_F(BlobFile, FreeingAnotherOwnersChainNeedsAdoption) {
    Create();
    auto ref = Store(RandomBytes(900, 1), {}, 10);
    std::uint32_t first = ref.first;
    EXPECT_EQ(CodeOf([&] { file->FreeBlobChain(&cursor, first, false, 11); }), err::BlobBuffersCorrupt);
    EXPECT_EQ(first, ref.first);
    EXPECT_TRUE(file->FreeBlobChain(&cursor, first, true, 11));
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(FreeChain(), (std::vector<std::uint32_t>{2, 1}));
    EXPECT_EQ(HeaderOf(1).owner, 11u) << "adopted blocks take the owner";
}

TEST_F(BlobFile, AChangeByAnotherUserRestartsTheRead) {
    Create();
    const Bytes value = RandomBytes(40000, 1);
    const auto ref = Store(value, {}, 1);
    Reopen();
    cursor.refreshesLeft = 2;
    EXPECT_EQ(Load(ref), value);
    EXPECT_EQ(cursor.refreshesLeft, 0);
    EXPECT_GE(cursor.checks, 3);
}

TEST_F(BlobFile, ReadsSeeChangesStillInTheCache) {
    Create();
    const std::uint32_t ds = file->BlockDataSize();
    Bytes value = RandomBytes(200 * ds, 8);
    const auto ref = Store(value, {}, 1);
    Reopen();
    // Block 100 changed in memory only: the read must not take the disk's copy.
    TBlock* block = file->GetBlock(nullptr, 100);
    block->Data()[0] ^= 0xff;
    block->SetModified();
    file->ReleaseBlock(block);
    value[99 * ds] ^= 0xff;
    EXPECT_EQ(Load(ref), value);
    file->CloseFile();  // without writing anything back
    file = MakeFile();
    file->OpenFile();
    EXPECT_NE(Load(ref), value) << "the change was never written";
}

// ---- Allocation and the cache ---------------------------------------------

TEST_F(BlobFile, AllocateAndFreeBlocksLastInFirstOut) {
    Create();
    TBlock* a = file->AllocateBlock(&cursor);
    TBlock* b = file->AllocateBlock(&cursor);
    EXPECT_EQ(a->Number(), 1u);
    EXPECT_EQ(b->Number(), 2u);
    EXPECT_EQ(file->Header().nextBlockNumber, 3u);
    file->FreeBlock(a);
    file->FreeBlock(b);
    file->ReleaseBlock(a);
    file->ReleaseBlock(b);
    EXPECT_EQ(FreeChain(), (std::vector<std::uint32_t>{2, 1}));
    TBlock* again = file->AllocateBlock(&cursor);
    EXPECT_EQ(again->Number(), 2u);
    EXPECT_EQ(again->Header, BlobBlockHeader{}) << "an allocated block is cleared";
    EXPECT_EQ(file->Header().firstFreeBlock, 1u);
    file->ReleaseBlock(again);
    EXPECT_EQ(CodeOf([&] { file->GetBlock(&cursor, 0); }), err::BlobBuffersCorrupt);
    EXPECT_EQ(CodeOf([&] { file->GetBlock(&cursor, 9); }), err::BlobBuffersCorrupt);
}

TEST_F(BlobFile, ReadAheadPastTheEndOfTheFile) {
    Create();
    const Bytes value = RandomBytes(100, 1);
    Store(value, {}, 1);  // block 1, on disk
    Flush();
    file->ClearBlockCache();
    TBlock* appended = file->AllocateBlock(&cursor);  // block 2, in the cache only
    ASSERT_EQ(appended->Number(), 2u);
    appended->Data()[0] = 0x5a;
    file->ReleaseBlock(appended);

    // Reading ahead from block 1 runs into block 2, which the disk does not
    // have yet: block 1 comes back and block 2 keeps its change.
    TBlock* first = file->GetBlock(&cursor, 1, 32, true);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Header.totalSize, 100u);
    file->ReleaseBlock(first);
    EXPECT_EQ(HeaderOf(2), BlobBlockHeader{});
    TBlock* second = file->GetBlock(&cursor, 2);
    EXPECT_EQ(second->Data()[0], 0x5a);
    EXPECT_TRUE(second->Modified());
    file->ReleaseBlock(second);

    // A block that is neither on disk nor cached: a read error, or damaged
    // buffers when appended blocks may legitimately live in the cache only.
    Flush();
    file->CloseFile();
    std::string disk = ReadDiskFile(Path());
    disk[13] = 6;  // next block number 6, but 2 blocks in the file
    WriteDiskFile(Path(), disk);
    file = MakeFile();
    file->OpenFile();
    owner.written = false;
    EXPECT_EQ(CodeOf([&] { file->GetBlock(&cursor, 4); }), err::ReadError);
    EXPECT_EQ(CodeOf([&] { Load({4, 1}); }), err::ReadError);
    owner.written = true;
    owner.transactionLock = true;
    EXPECT_EQ(CodeOf([&] { file->GetBlock(&cursor, 4); }), err::BlobBuffersCorrupt);
    owner.transactionLock = false;
}

TEST_F(BlobFile, CacheFollowsTheSessionSettings) {
    for (const auto& [blockSize, capacity, readAhead] :
         {std::tuple{512u, 64u, 32u}, {4096u, 8u, 4u}, {64u, 512u, 256u}, {65535u, 1u, 1u}}) {
        SCOPED_TRACE(blockSize);
        Create(blockSize);
        EXPECT_EQ(file->CacheCapacity(), capacity);
        EXPECT_EQ(file->ReadAheadCount(), readAhead);
        file->CloseFile();
    }
}

TEST_F(BlobFile, DuringATransactionBlocksStayInMemoryUntilTheCommit) {
    Create();
    Reopen();
    owner.transactionLock = true;
    const Bytes value = RandomBytes(100000, 5);
    const auto ref = Store(value, {}, 1);
    EXPECT_EQ(ReadDiskFile(Path()).size(), 512u) << "nothing written before the commit";
    EXPECT_GT(file->CacheCapacity(), 64u) << "the cache grows instead of flushing";
    EXPECT_EQ(Load(ref), value);
    auto copy = ref;
    const auto shorter = Store(RandomBytes(1000, 6), copy, 2);
    EXPECT_EQ(Load(shorter), RandomBytes(1000, 6));
    owner.transactionLock = false;
    Reopen();
    EXPECT_EQ(Load(shorter), RandomBytes(1000, 6));
    EXPECT_EQ(FreeChain().size(), file->BlockCount() - 3);
}

TEST_F(BlobFile, WholeValuesMoveInLargeRuns) {
    for (std::uint32_t blockSize : {512u, 4096u}) {
        SCOPED_TRACE(blockSize);
        Create(blockSize);
        const Bytes value = RandomBytes(16 << 20, 16);
        auto plan = std::make_shared<TFaultPlan>(".Blb");
        ScopedFaultPlan counting(plan);
        const auto ref = Store(value, {}, 1);
        const std::uint64_t fileBytes = static_cast<std::uint64_t>(file->BlockCount()) * blockSize;
        const std::uint64_t runs = (fileBytes + TBlockRunReader::kRunBytes - 1) / TBlockRunReader::kRunBytes;
        // The runs and the header that goes out before them.
        EXPECT_LE(plan->Count(FileOp::Write), runs + 1);
        Flush();
        file->ClearBlockCache();
        const std::uint64_t readsBefore = plan->Count(FileOp::Read);
        EXPECT_EQ(Load(ref), value);
        EXPECT_LE(plan->Count(FileOp::Read) - readsBefore, runs + 1);
        file->CloseFile();
    }
}

// ---- Header checks and limits ---------------------------------------------

TEST_F(BlobFile, HeaderChecks) {
    Create();
    Store(RandomBytes(1000, 1), {}, 1);
    Flush();
    file->CloseFile();

    std::string disk = ReadDiskFile(Path());
    disk[8] = 4;
    WriteDiskFile(Path(), disk);
    file = MakeFile();
    EXPECT_EQ(CodeOf([&] { file->OpenFile(); }), err::WrongVersion);
    EXPECT_FALSE(file->IsOpen());

    disk[8] = 5;
    disk[9] = 4;  // first free block 4 of 3
    WriteDiskFile(Path(), disk);
    file->OpenFile();
    EXPECT_EQ(CodeOf([&] { file->ValidateHeader(); }), err::HeaderCorrupt);
}

TEST_F(BlobFile, HeaderChangedNoticesAnotherWriter) {
    Create();
    Reopen();
    auto other = MakeFile();
    other->OpenFile();
    EXPECT_FALSE(file->HeaderChanged());
    Store(RandomBytes(600, 1), {}, 1);
    Flush();
    EXPECT_TRUE(other->HeaderChanged());
    EXPECT_EQ(other->BlockCount(), 2u);
    EXPECT_FALSE(other->HeaderChanged());
    other->CloseFile();
}

TEST_F(BlobFile, AFullFileRefusesMoreBlocks) {
    Create();
    file->CloseFile();
    std::string disk = ReadDiskFile(Path());
    const std::uint32_t next = 2000000001u;
    for (int i = 0; i < 4; ++i) disk[13 + i] = static_cast<char>(next >> (8 * i));
    WriteDiskFile(Path(), disk);
    file = MakeFile();
    file->OpenFile();
    ASSERT_EQ(file->Header().nextBlockNumber, next);
    EXPECT_EQ(CodeOf([&] { Store(RandomBytes(10, 1), {}, 1); }), err::TableFull);
    EXPECT_EQ(CodeOf([&] { file->AllocateBlock(&cursor); }), err::TableFull);

    // 512 + n x 65535 passes 4000000000 bytes long before 2000000000 blocks.
    Create(65535);
    file->CloseFile();
    disk = ReadDiskFile(Path());
    const std::uint32_t pastSize = 61037u;  // 512 + 61037 x 65535 > 4000000000
    for (int i = 0; i < 4; ++i) disk[13 + i] = static_cast<char>(pastSize >> (8 * i));
    WriteDiskFile(Path(), disk);
    file = MakeFile();
    file->OpenFile();
    EXPECT_EQ(CodeOf([&] { Store(RandomBytes(10, 1), {}, 1); }), err::TableFull);
}

TEST_F(BlobFile, EmptyFileStartsAgain) {
    Create();
    Store(RandomBytes(5000, 1), {}, 1);
    Flush();
    file->EmptyFile();
    EXPECT_EQ(file->BlockCount(), 0u);
    EXPECT_EQ(file->Header().firstFreeBlock, 0u);
    EXPECT_TRUE(file->HeaderIsChanged());
    EXPECT_EQ(ReadDiskFile(Path()).size(), 512u);
    const auto ref = Store(RandomBytes(100, 2), {}, 2);
    EXPECT_EQ(ref.first, 1u);
}

// ---- Faults and locks -----------------------------------------------------

TEST_F(BlobFile, AFailedWriteIsReportedNotSwallowed) {
    Create();
    Reopen();
    auto plan = std::make_shared<TFaultPlan>(".Blb");
    plan->FailNth(FileOp::Write, 1);
    ScopedFaultPlan faults(plan);
    EXPECT_EQ(CodeOf([&] { Store(RandomBytes(100000, 1), {}, 1); }), err::WriteError);
    auto read = std::make_shared<TFaultPlan>(".Blb");
    read->FailNth(FileOp::Read, 1);
    ScopedFaultPlan readFaults(read);
    EXPECT_EQ(CodeOf([&] { file->HeaderChanged(); }), err::ReadError);
}

TEST_F(BlobFile, ReadAndWriteLocksExcludeEachOther) {
    Create();
    Reopen();
    auto other = MakeFile();
    other->OpenFile();
    ScopedLockRetries quick{{2, 0}};
    ASSERT_TRUE(file->LockWrite());
    EXPECT_EQ(other->LockRead(), 0);
    EXPECT_TRUE(file->UnlockWrite());
    const int n = other->LockRead();
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 65535);
    EXPECT_FALSE(file->LockWrite());
    EXPECT_TRUE(other->UnlockRead(n));
    EXPECT_TRUE(file->LockWrite());
    EXPECT_TRUE(file->UnlockWrite());
    other->CloseFile();
}

}  // namespace
