#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "BlobFormat.h"
#include "TableContext.h"

namespace pixhold::engine {

class TBlobFile;
class TBlock;

// A buffer for runs of blocks that keeps its memory between transfers and is
// never cleared: every byte is read or written before it is used.
class TRunBuffer {
public:
    std::uint8_t* Reserve(std::size_t bytes) {
        if (bytes > capacity_) {
            bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
            capacity_ = bytes;
        }
        return bytes_.get();
    }
    void Release() {
        bytes_.reset();
        capacity_ = 0;
    }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t capacity_ = 0;
};

// Walks the blocks of a chain without caching them: each miss reads a whole
// run of blocks (as many as the caller expects to need, up to kRunBytes) in one
// transfer. A cached block is always taken from the cache, since it may hold
// changes not yet written. Used for whole values, whose blocks would only push
// everything else out of the small block cache.
class TBlockRunReader {
public:
    // Bytes moved by one transfer of a run (reading or writing).
    static constexpr std::size_t kRunBytes = 256 * 1024;
    static std::uint32_t RunBlocks(std::size_t blockSize);

    // With a cursor, a miss first asks it to check for changes by other users.
    TBlockRunReader(TBlobFile& file, TCursorContext* cursor);

    struct View {
        BlobBlockHeader header;
        const std::uint8_t* data = nullptr;  // block data size bytes
        TBlock* cached = nullptr;            // the cached block, when it came from the cache
    };

    // Block n (1..block count, else 8963). On a miss up to `ahead` blocks are
    // read, starting at n (forward) or ending at n (backward). Returns false
    // when the cursor's change check refreshed the table (start again).
    bool Get(std::uint32_t n, std::uint32_t ahead, ReadDirection direction, View& view);
    // Whether block n came with the last run read (Get then copies nothing new).
    bool Holds(std::uint32_t n) const { return n >= first_ && n - first_ < count_; }

private:
    TBlobFile& file_;
    TCursorContext* cursor_;
    std::uint8_t* buffer_ = nullptr;  // the file's read run buffer
    std::vector<BlobBlockHeader> headers_;
    std::uint32_t first_ = 0;
    std::uint32_t count_ = 0;
};

}  // namespace pixhold::engine
