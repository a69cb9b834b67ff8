#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "BlobFormat.h"

namespace pixhold::engine {

class TBlobFile;

// One cached block of a BLOB file: its number (from 1), the header fields and
// the data area, deciphered. A block with pins stays cached; a modified one is
// written back by TBlobFile::FlushBlocks.
class TBlock {
public:
    TBlock(TBlobFile* owner, std::size_t blockSize);
    TBlock(const TBlock&) = delete;
    TBlock& operator=(const TBlock&) = delete;

    TBlobFile* Owner() const { return owner_; }
    std::uint32_t Number() const { return number_; }
    bool Modified() const { return modified_; }
    void SetModified(bool modified = true) { modified_ = modified; }
    std::uint16_t PinCount() const { return pins_; }
    bool Pinned() const { return pins_ != 0; }
    std::size_t BlockSize() const { return blockSize_; }
    std::size_t DataSize() const { return blockSize_ - blobfile::kBlockHeaderSize; }

    // Working copies of the five header fields.
    BlobBlockHeader Header;

    std::uint8_t* Data() { return data_.data(); }
    const std::uint8_t* Data() const { return data_.data(); }

    // Header and data all zero.
    void Clear();
    // Takes header and data from a deciphered block image (block size bytes).
    void Load(const std::uint8_t* image);
    // Writes the block as stored (enciphered when asked) into `image`.
    void Store(std::uint8_t* image, bool encrypted) const;

private:
    friend class TBlockCache;

    TBlobFile* owner_;
    std::size_t blockSize_;
    bool modified_ = false;
    std::uint16_t pins_ = 0;
    std::uint32_t number_ = 0;
    std::vector<std::uint8_t> data_;
    // Links of the most-recently-used chain (front = most recent).
    TBlock* newer_ = nullptr;
    TBlock* older_ = nullptr;
};

// Spare TBlock objects kept for reuse (at most 32).
class TBlockStack {
public:
    static constexpr std::size_t kCapacity = blobfile::kSpareBlocks;

    // A spare block of that size, or a new one when none is kept.
    std::unique_ptr<TBlock> Pop(TBlobFile* owner, std::size_t blockSize);
    // Keeps the block when there is room, else frees it.
    void Push(std::unique_ptr<TBlock> block);
    std::size_t Count() const { return spare_.size(); }
    void Clear() { spare_.clear(); }

private:
    std::vector<std::unique_ptr<TBlock>> spare_;
};

// The cached blocks of one BLOB file, ordered by block number, with a
// most-recently-used chain. It only keeps blocks; reading, writing back and
// deciding what to drop is the file's.
class TBlockCache {
public:
    // The cached block, trying the 4 most recently used first; a hit moves it
    // to the front of the chain. nullptr when not cached.
    TBlock* Find(std::uint32_t number);
    // As Find, without touching the chain.
    TBlock* Peek(std::uint32_t number) const;
    // Caches the block under the number (not cached yet) at the front of the chain.
    TBlock* Insert(std::unique_ptr<TBlock> block, std::uint32_t number);
    // Takes the block out of the cache.
    std::unique_ptr<TBlock> Remove(TBlock* block);
    // Whether any block numbered first..last is cached.
    bool AnyInRange(std::uint32_t first, std::uint32_t last) const {
        const std::size_t i = LowerBound(first);
        return i < blocks_.size() && blocks_[i]->number_ <= last;
    }
    // The least recently used block that is neither modified nor pinned.
    TBlock* LeastRecentlyUsedClean() const;
    void Pin(TBlock* block) { ++block->pins_; }
    void Unpin(TBlock* block) {
        if (block->pins_ > 0) --block->pins_;
    }

    std::size_t Count() const { return blocks_.size(); }
    // Blocks in block-number order.
    const std::vector<std::unique_ptr<TBlock>>& Blocks() const { return blocks_; }
    // Takes every block out (for the spare pool).
    std::vector<std::unique_ptr<TBlock>> TakeAll();

private:
    std::size_t LowerBound(std::uint32_t number) const;
    void LinkFront(TBlock* block);
    void Unlink(TBlock* block);

    std::vector<std::unique_ptr<TBlock>> blocks_;
    TBlock* front_ = nullptr;
    TBlock* back_ = nullptr;
};

}  // namespace pixhold::engine
