#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "BlobFormat.h"
#include "Block.h"
#include "BlockRunReader.h"
#include "FileHandler.h"
#include "TableContext.h"

namespace pixhold::engine {

// The BLOB file of one shared open table: the header, the block cache, the
// chain of free blocks and the file's read and write locks. One value is a
// doubly linked chain of blocks that all carry the value's owner identifier.
//
// The owning table sets the block size and the encrypted flag from the data
// file header (BlobBlockSize(), IsEncrypted()) before opening or creating.
class TBlobFile : public TFileHandler {
public:
    explicit TBlobFile(TTableOwner& owner);
    ~TBlobFile() override;

    // 0 means 512.
    void SetBlockSize(std::uint32_t blockSize);
    void SetEncrypted(bool encrypted) { encrypted_ = encrypted; }
    std::uint32_t BlockSize() const { return blockSize_; }
    bool Encrypted() const { return encrypted_; }

    // Opens and reads the header (12035 for a wrong format mark); sets up the
    // cache. Any failure closes the file again.
    void OpenFile() override;
    // Drops all cached blocks (writing nothing), then closes.
    void CloseFile() override;
    // Creates the file with a fresh header in memory (marked changed).
    void CreateFile() override;

    void ReadHeader();
    // Reads the header; true (and the new header taken) when its change counter moved.
    bool HeaderChanged();
    // Writes when the changed mark is set or force is given; returns whether it wrote.
    bool WriteHeader(bool force = false);
    void MarkHeaderChanged();
    // Sets only the changed mark (the counter moves when the header is written).
    void SetHeaderChanged() { header_.changed = 1; }
    bool HeaderIsChanged() const { return header_.changed != 0; }
    // 12035 for a wrong format mark, 8961 for an invalid first free block or
    // a block count beyond the blocks the file holds.
    void ValidateHeader();
    // Truncates to the header and starts a fresh block numbering.
    void EmptyFile();
    const BlobFileHeader& Header() const { return header_; }
    // Sets the head of the free chain (a repair cuts a damaged chain short).
    void SetFirstFreeBlock(std::uint32_t block) {
        header_.firstFreeBlock = block;
        SetHeaderChanged();
    }

    // A pinned block, or nullptr when the cursor's change check found the table
    // changed and refreshed (the caller starts again). With readAhead, up to
    // min(ReadAheadCount(), readAheadCount) blocks are fetched in one read,
    // starting at the block (forward) or ending at it (backward).
    // Errors 8963, 9479.
    TBlock* GetBlock(TCursorContext* cursor, std::uint32_t blockNumber,
                     std::uint32_t readAheadCount = 1, bool readAhead = false,
                     ReadDirection direction = ReadDirection::Forward);
    void ReleaseBlock(TBlock* block);
    // A pinned, cleared, modified block: the head of the free chain or a new
    // block at the end.
    TBlock* AllocateBlock(TCursorContext* cursor);
    // Pushes the block on the free chain (last in, first out).
    void FreeBlock(TBlock* block);
    // Frees the chain starting at firstBlock and sets firstBlock to 0. A block
    // owned by someone else is error 8963 unless adopting. The whole chain is
    // checked before anything is freed. Returns whether anything was freed.
    bool FreeBlobChain(TCursorContext* cursor, std::uint32_t& firstBlock, bool adopt,
                       std::uint32_t owner);

    // One block as it is to be written: number, header and data (data null:
    // the block keeps the data it has).
    struct PlannedBlock {
        std::uint32_t number;
        BlobBlockHeader header;
        const std::uint8_t* data;
        std::size_t dataLength;
    };
    // A chain read and checked ahead of its freeing, so that the freeing
    // itself only writes: the blocks, in chain order, with their data.
    struct TFreePlan {
        std::vector<PlannedBlock> blocks;
        std::vector<std::uint8_t> data;
    };
    // The first half of FreeBlobChain: reads and checks the chain (the same
    // errors) and adds it to the plan; nothing changes yet.
    void PlanFreeChain(std::uint32_t firstBlock, bool adopt, std::uint32_t owner, TFreePlan& plan);
    // The second half: puts the planned blocks on the free chain (each block
    // in turn on top, as FreeBlock does) and empties the plan. The header is
    // marked changed, not written.
    void FreePlanned(TFreePlan& plan);
    // Writes modified, unpinned blocks in runs of consecutive numbers.
    bool FlushBlocks();
    void TrimBlockCache();
    void ClearBlockCache();

    // Whole values, used by TBlobBuffer. ReadValue returns false when the
    // cursor refreshed after a change by another user (the caller starts again).
    [[nodiscard]] bool ReadValue(TCursorContext* cursor, std::uint32_t firstBlock, std::uint32_t owner,
                   std::vector<std::uint8_t>& value);
    // Stores length > 0 bytes under the new owner, reusing the old chain in order.
    void WriteValue(TCursorContext* cursor, std::uint32_t& firstBlock, std::uint32_t owner,
                    const std::uint8_t* data, std::size_t length);

    // The file's inter-process locks: the write range and one read byte.
    [[nodiscard]] bool LockWrite();
    [[nodiscard]] bool UnlockWrite();
    // The read byte's slot n (1..65535), or 0 when the lock could not be taken.
    [[nodiscard]] int LockRead();
    [[nodiscard]] bool UnlockRead(int n);

    // Verification and repair; the findings go to the cursor's message log.
    // True when nothing was found.
    bool RepairFile(TCursorContext& cursor, bool verifyOnly);
    // With `chain`, the blocks the value holds after the check are added to it
    // (in verify, as far as the walk went); none when the reference is, or in
    // repair would be, cleared.
    bool RepairBlobChain(TCursorContext& cursor, bool verifyOnly, bool adopt,
                         std::uint32_t recordNumber, std::uint32_t owner,
                         std::uint32_t& firstBlock, std::vector<std::uint32_t>* chain = nullptr);
    // Puts blocks that neither a value nor the free chain holds on the free
    // chain, the highest first, so that the chain then runs through them in
    // ascending order. `blocks` ascending, each within the block count.
    void ReturnToFreeChain(const std::vector<std::uint32_t>& blocks);

    // The blocks the header counts (a damaged next block number of 0 counts none).
    std::uint32_t BlockCount() const { return header_.nextBlockNumber == 0 ? 0 : header_.nextBlockNumber - 1; }
    // The whole blocks the file holds.
    std::uint32_t WholeBlocks();
    std::uint32_t BlockDataSize() const { return blockSize_ - blobfile::kBlockHeaderSize; }

    // Cache figures, for the table and for tests.
    std::uint32_t CacheCapacity() const { return cacheCapacity_; }
    std::size_t CachedBlockCount() const { return cache_.Count(); }
    std::uint32_t ReadAheadCount() const { return readAheadCount_; }

    TTableOwner& Owner() const { return owner_; }

private:
    friend class TBlockRunReader;

    std::uint64_t BlockOffset(std::uint32_t blockNumber) const;
    bool FirstFreeValid(std::uint32_t blockCount) const;
    // A block object for a new cache entry, making room as the cache rule says.
    std::unique_ptr<TBlock> TakeBlockObject();
    TBlock* CacheBlock(std::uint32_t blockNumber);
    TBlock* AppendBlock();
    void ReadBlocks(TCursorContext* cursor, std::uint32_t blockNumber, std::uint32_t count,
                    ReadDirection direction);
    // Reads `count` blocks from `first` in one transfer; the number of whole
    // blocks that were in the file.
    std::uint32_t ReadRun(std::uint32_t first, std::uint32_t count, std::uint8_t* buffer);
    void WriteRun(std::uint32_t first, std::uint32_t count, const std::uint8_t* buffer);
    // Writes a run of blocks put together from pieces, in one transfer.
    void WriteRunPieces(std::uint32_t first, const std::vector<TConstBufferPiece>& pieces);
    // Reads `count` blocks from `first` in one transfer, the data areas straight
    // into `dest` (block i's at i x data size; bytes beyond `room` are dropped)
    // and the headers, decoded, into `headers`. The number of whole blocks read.
    std::uint32_t ReadStraight(std::uint32_t first, std::uint32_t count, std::uint8_t* dest,
                               std::uint64_t room, std::vector<BlobBlockHeader>& headers);
    bool ShortReadAllowed() const;
    // Writes the blocks (number, header, data) straight to the file in runs,
    // or into the cache while buffers must stay in memory.
    void StoreBlocks(std::vector<PlannedBlock>& blocks);
    // Blocks from..to-1 of a value's chain, its bytes `data` of `length`.
    void StoreChain(const std::vector<std::uint32_t>& chain, bool ascending, std::uint32_t owner,
                    const std::uint8_t* data, std::size_t length, std::size_t from, std::size_t to);
    // Blocks from..to-1 of a value's chain in ascending block order, written
    // straight from the value in runs (plain tables, outside a transaction).
    void StoreAscendingChain(const std::vector<std::uint32_t>& chain, std::uint32_t owner,
                             const std::uint8_t* data, std::size_t length, std::size_t from, std::size_t to);
    // Adds one block of a gather write to writePieces_: its header encoded at
    // `headerImage` and its data where it is, or, when the block is cached, the
    // cached block updated and its whole image at `blockImage` (null when no
    // block of the run is cached).
    void GatherBlock(std::uint32_t number, const BlobBlockHeader& header, const std::uint8_t* data,
                     std::size_t dataLength, std::uint8_t* headerImage, std::uint8_t* blockImage);
    // Room for the header images of a gather write of blocks first..last, side
    // by side; `blockImages` gets room for whole images when any of them is
    // cached, else null.
    std::uint8_t* GatherImages(std::uint32_t first, std::uint32_t last, std::uint8_t*& blockImages);
    // The number of a block for a value: the head of the free chain (whose next
    // becomes the head) or a new block at the end. `lastFree` tracks the
    // previous block taken from the free chain, for the read direction.
    std::uint32_t AllocateNumber(TBlockRunReader& reader, std::uint32_t ahead, std::uint32_t& lastFree);
    bool BuffersStayInMemory() const { return owner_.TransactionLockHeld(); }
    void SetCacheCapacity();
    void TruncateAt(std::uint64_t size);
    void CloseQuietly();
    void Log(TCursorContext& cursor, const std::string& text);
    [[noreturn]] void Raise(std::uint16_t code) const;

    TTableOwner& owner_;
    std::uint32_t blockSize_ = blobfile::kDefaultBlockSize;
    bool encrypted_ = false;
    BlobFileHeader header_;

    // Run buffers kept between transfers: one for reading whole values, one for
    // writing runs of blocks.
    TRunBuffer readRun_;
    TRunBuffer writeRun_;
    TRunBuffer straightRun_;
    TRunBuffer headerRun_;
    std::vector<TBufferPiece> readPieces_;
    std::vector<BlobBlockHeader> straight_;  // headers of the last straight read
    std::vector<TConstBufferPiece> writePieces_;
    TBlockCache cache_;
    TBlockStack spare_;
    std::uint32_t cacheCapacity_ = 0;
    std::uint32_t readAheadCount_ = 1;
    // The block range of a read-ahead in progress; FlushBlocks leaves it alone.
    std::uint32_t readAheadFirst_ = 0;
    std::uint32_t readAheadLast_ = 0;
};

}  // namespace pixhold::engine
