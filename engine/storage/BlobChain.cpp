// Whole values: reading, writing and freeing the block chain of one value.

#include <algorithm>
#include <array>
#include <cstring>

#include "BlobFile.h"
#include "BlockRunReader.h"
#include "Cipher.h"
#include "EngineError.h"

namespace pixhold::engine {

namespace {

// The unused end of a value's last block.
const std::array<std::uint8_t, blobfile::kMaxBlockSize> kZeros{};

// Blocks up to this size are read straight through a staging buffer (see ReadStraight).
constexpr std::uint32_t kStagedBlockSize = 2048;

// The most data of blocks to be freed that a free plan keeps; the blocks
// beyond it are read again when they are freed.
constexpr std::size_t kKeptFreeData = 16u << 20;

std::uint32_t BlocksFor(std::uint64_t bytes, std::uint32_t dataSize) {
    return static_cast<std::uint32_t>((bytes + dataSize - 1) / dataSize);
}

// The direction in which the chain is likely to go on: chains written into
// freed blocks run downwards, since the free chain hands blocks out last in,
// first out.
ReadDirection DirectionOf(std::uint32_t from, std::uint32_t to) {
    return to + 1 == from ? ReadDirection::Backward : ReadDirection::Forward;
}

}  // namespace

bool TBlobFile::ReadValue(TCursorContext* cursor, std::uint32_t firstBlock, std::uint32_t owner,
                          std::vector<std::uint8_t>& value) {
    if (firstBlock == 0) {
        value.clear();
        return true;
    }
    // The header and the cached blocks may be from before another user's
    // change when a read lock was taken without looking at this file.
    if (cursor != nullptr && !owner_.StrictChangeDetection() && cursor->CheckForBlobChanges(false)) return false;
    if (firstBlock > BlockCount()) Raise(err::BlobBuffersCorrupt);
    const std::uint32_t dataSize = BlockDataSize();
    TBlockRunReader reader(*this, cursor);
    TBlockRunReader::View view;
    if (!reader.Get(firstBlock, readAheadCount_, ReadDirection::Forward, view)) return false;
    if (view.header.owner != owner) Raise(err::RecordChanged);
    const std::uint64_t length = view.header.totalSize;
    // A length the file cannot hold ends prematurely: say so before allocating it.
    if (length > static_cast<std::uint64_t>(BlockCount()) * dataSize) Raise(err::EndOfBlob);
    // Sized, not cleared first: a buffer that already has the length is reused as it is.
    value.resize(length);

    std::uint64_t copied = 0;
    // Takes the block in hand: its data, when not null, is copied into the
    // value; when null it already lies there (a straight read) and is only
    // deciphered. False when the value ends with this block.
    auto take = [&](const BlobBlockHeader& header, const std::uint8_t* data) {
        if (header.owner != owner) Raise(err::RecordChanged);
        if (header.bytesUsed > dataSize) Raise(err::InvalidBlobLength);
        const std::uint64_t want = std::min<std::uint64_t>(dataSize, length - copied);
        const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(want, header.bytesUsed));
        if (data != nullptr) {
            if (got > 0) std::memcpy(value.data() + copied, data, got);
        } else if (encrypted_) {
            ScrambleBuffer(value.data() + copied, got, kDataSeeds);
        }
        copied += got;
        if (copied == length || header.next == 0 || got < want) return false;
        if (header.next > BlockCount()) Raise(err::BlobBuffersCorrupt);
        return true;
    };

    std::uint32_t current = firstBlock;
    for (;;) {
        if (view.cached != nullptr && view.cached->Pinned()) Raise(err::BlobBuffersCorrupt);
        if (!take(view.header, view.data)) break;
        std::uint32_t next = view.header.next;

        // While the chain runs on through consecutive blocks that are neither
        // cached (a cached block may hold changes not yet written) nor already
        // read, their data are read straight into the value, run by run.
        bool ended = false;
        while (next == current + 1 && !reader.Holds(next)) {
            const std::uint32_t count = std::min(
                {BlocksFor(length - copied, dataSize), TBlockRunReader::RunBlocks(blockSize_), BlockCount() - next + 1});
            if (cache_.AnyInRange(next, next + count - 1)) break;
            if (cursor != nullptr && !owner_.StrictChangeDetection() && cursor->CheckForBlobChanges(true)) return false;
            const std::uint32_t got = ReadStraight(next, count, value.data() + copied, length - copied, straight_);
            if (got == 0) break;  // the block fetch below reports the missing block
            for (std::uint32_t t = 0;; ++t) {
                const BlobBlockHeader& header = straight_[t];
                current = next + t;
                if (!take(header, nullptr)) {
                    ended = true;
                    break;
                }
                if (header.next != current + 1 || t + 1 == got) {
                    next = header.next;
                    break;
                }
            }
            if (ended) break;
        }
        if (ended) break;
        if (!reader.Get(next, BlocksFor(length - copied, dataSize), DirectionOf(current, next), view)) return false;
        current = next;
    }
    if (copied != length) Raise(err::EndOfBlob);
    return true;
}

std::uint32_t TBlobFile::ReadStraight(std::uint32_t first, std::uint32_t count, std::uint8_t* dest,
                                      std::uint64_t room, std::vector<BlobBlockHeader>& headers) {
    const std::size_t dataSize = BlockDataSize();
    if (blockSize_ <= kStagedBlockSize) {
        // Small blocks: the kernel copies each piece of a scatter read on its
        // own, and with 512-byte blocks that cost is the limit. One plain
        // read of the run into a staging buffer, the headers then stripped
        // here, moves the same bytes in one piece.
        std::uint8_t* staged = straightRun_.Reserve(static_cast<std::size_t>(count) * blockSize_);
        const std::uint32_t blocks = ReadRun(first, count, staged);
        headers.resize(blocks);
        for (std::uint32_t i = 0; i < blocks; ++i) {
            std::uint8_t* image = staged + static_cast<std::size_t>(i) * blockSize_;
            if (encrypted_) ScrambleBuffer(image, blobfile::kBlockHeaderSize, kDataSeeds);
            headers[i] = BlobBlockHeader::Decode(image);
            const std::uint64_t offset = static_cast<std::uint64_t>(i) * dataSize;
            if (offset >= room) continue;
            const auto inValue = static_cast<std::size_t>(std::min<std::uint64_t>(dataSize, room - offset));
            std::memcpy(dest + offset, image + blobfile::kBlockHeaderSize, inValue);
        }
        return blocks;
    }
    std::uint8_t* headerBytes = straightRun_.Reserve(count * blobfile::kBlockHeaderSize + dataSize);
    std::uint8_t* dropped = headerBytes + count * blobfile::kBlockHeaderSize;
    readPieces_.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        readPieces_.push_back({headerBytes + i * blobfile::kBlockHeaderSize, blobfile::kBlockHeaderSize});
        const std::uint64_t offset = static_cast<std::uint64_t>(i) * dataSize;
        const std::size_t inValue = offset < room ? static_cast<std::size_t>(std::min<std::uint64_t>(dataSize, room - offset)) : 0;
        if (inValue > 0) readPieces_.push_back({dest + offset, inValue});
        if (inValue < dataSize) readPieces_.push_back({dropped, dataSize - inValue});
    }
    std::size_t got = 0;
    {
        FileAccessGuard access(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(BlockOffset(first)));
        got = ReadPieces(readPieces_.data(), readPieces_.size(), true);
    }
    const auto blocks = static_cast<std::uint32_t>(got / blockSize_);
    headers.resize(blocks);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        std::uint8_t* bytes = headerBytes + i * blobfile::kBlockHeaderSize;
        if (encrypted_) ScrambleBuffer(bytes, blobfile::kBlockHeaderSize, kDataSeeds);
        headers[i] = BlobBlockHeader::Decode(bytes);
    }
    return blocks;
}

std::uint32_t TBlobFile::AllocateNumber(TBlockRunReader& reader, std::uint32_t ahead,
                                        std::uint32_t& lastFree) {
    const std::uint32_t first = header_.firstFreeBlock;
    if (first != 0) {
        if (first > BlockCount()) Raise(err::BlobBuffersCorrupt);
        TBlockRunReader::View view;
        reader.Get(first, ahead, lastFree != 0 ? DirectionOf(lastFree, first) : ReadDirection::Backward,
                   view);
        lastFree = first;
        header_.firstFreeBlock = view.header.next;
        SetHeaderChanged();
        return first;
    }
    const std::uint32_t number = header_.nextBlockNumber;
    if (number > blobfile::kMaxBlocks ||
        blobfile::kHeaderSize + static_cast<std::uint64_t>(number) * blockSize_ > blobfile::kMaxFileSize) {
        Raise(err::TableFull);
    }
    ++header_.nextBlockNumber;
    SetHeaderChanged();
    return number;
}

void TBlobFile::WriteValue(TCursorContext* cursor, std::uint32_t& firstBlock, std::uint32_t owner,
                           const std::uint8_t* data, std::size_t length) {
    const std::uint32_t dataSize = BlockDataSize();
    const std::uint32_t needed = BlocksFor(length, dataSize);
    // Writers hold the write lock: no change check while the chain is planned.
    TBlockRunReader reader(*this, nullptr);
    std::vector<std::uint32_t> chain;
    chain.reserve(needed);

    // The old chain is reused in order.
    std::uint32_t rest = 0;
    if (firstBlock != 0) {
        if (firstBlock > BlockCount()) Raise(err::BlobBuffersCorrupt);
        TBlockRunReader::View view;
        reader.Get(firstBlock, std::min(needed, readAheadCount_), ReadDirection::Forward, view);
        const std::uint32_t oldBlocks = BlocksFor(view.header.totalSize, dataSize);
        chain.push_back(firstBlock);
        while (chain.size() < needed && view.header.next != 0) {
            const std::uint32_t next = view.header.next;
            if (next > BlockCount()) Raise(err::BlobBuffersCorrupt);
            const auto taken = static_cast<std::uint32_t>(chain.size());
            const std::uint32_t ahead =
                std::max<std::uint32_t>(1, std::min(needed, oldBlocks > taken ? oldBlocks : needed) - taken);
            reader.Get(next, ahead, DirectionOf(chain.back(), next), view);
            chain.push_back(next);
        }
        if (chain.size() == needed) rest = view.header.next;
    }
    // Then blocks of the free chain, last freed first, then new blocks at the end.
    const std::size_t reused = chain.size();
    std::size_t taken = 0;  // from the free chain
    std::uint32_t lastFree = 0;
    while (chain.size() < needed) {
        if (header_.firstFreeBlock != 0) ++taken;
        chain.push_back(AllocateNumber(reader, needed - static_cast<std::uint32_t>(chain.size()), lastFree));
    }
    // A block met twice means a damaged chain: writing it would lose data.
    const bool ascending = std::is_sorted(chain.begin(), chain.end(), std::less_equal<>());
    if (!ascending) {
        std::vector<std::uint32_t> sorted = chain;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) Raise(err::BlobBuffersCorrupt);
    }

    if (BuffersStayInMemory() || reused > 0) {
        // The header goes out before the blocks: the blocks just taken from
        // the free chain (and those added at the end) are then no longer free
        // on the disk, whatever of the rewritten old value the blocks hold.
        if (!BuffersStayInMemory()) WriteHeader();
        StoreChain(chain, ascending, owner, data, length, 0, needed);
    } else {
        // A new chain. The blocks taken from the free chain are its head and
        // the value uses them in the order the free chain runs through them,
        // so writing them changes no link of the free chain on the disk but
        // the last one's; blocks added at the end lie beyond the blocks the
        // header on the disk counts. All the others therefore go out before
        // the header that takes them, and that last one after it: a failure
        // before the header leaves the free chain and the counted blocks as
        // they were, with nothing lost, and one after it only blocks that no
        // record names yet. The header first instead would lose the whole
        // value's blocks to a failure during the write of its bytes.
        const std::size_t last = taken > 0 ? taken - 1 : needed;
        StoreChain(chain, ascending, owner, data, length, 0, std::min<std::size_t>(last, needed));
        if (last + 1 < needed) StoreChain(chain, ascending, owner, data, length, last + 1, needed);
        WriteHeader();
        if (last < needed) StoreChain(chain, ascending, owner, data, length, last, last + 1);
    }
    firstBlock = chain.front();
    // The old value was longer: the rest of its chain goes to the free chain.
    if (rest != 0) FreeBlobChain(cursor, rest, true, owner);
}

void TBlobFile::StoreChain(const std::vector<std::uint32_t>& chain, bool ascending, std::uint32_t owner,
                           const std::uint8_t* data, std::size_t length, std::size_t from, std::size_t to) {
    if (from >= to) return;
    if (ascending && !encrypted_ && !BuffersStayInMemory()) {
        // The common case (a value appended, or rewritten in place): straight
        // from the value to the file without a plan per block.
        StoreAscendingChain(chain, owner, data, length, from, to);
        return;
    }
    const std::uint32_t dataSize = BlockDataSize();
    const std::size_t n = chain.size();
    std::vector<PlannedBlock> plan;
    plan.reserve(to - from);
    for (std::size_t i = from; i < to; ++i) {
        const std::size_t offset = i * dataSize;
        const std::size_t part = std::min<std::size_t>(dataSize, length - offset);
        PlannedBlock& block = plan.emplace_back();
        block.number = chain[i];
        block.header.previous = i == 0 ? 0 : chain[i - 1];
        block.header.next = i + 1 < n ? chain[i + 1] : 0;
        block.header.bytesUsed = static_cast<std::uint16_t>(part);
        block.header.owner = owner;
        block.header.totalSize = i == 0 ? static_cast<std::uint32_t>(length) : 0;
        block.data = data + offset;
        block.dataLength = part;
    }
    StoreBlocks(plan);
}

bool TBlobFile::FreeBlobChain(TCursorContext* /*cursor*/, std::uint32_t& firstBlock, bool adopt,
                              std::uint32_t owner) {
    if (firstBlock == 0) return false;
    // The whole chain is checked before any block is freed, so a damaged chain
    // leaves the free chain as it was.
    TFreePlan plan;
    PlanFreeChain(firstBlock, adopt, owner, plan);
    FreePlanned(plan);
    firstBlock = 0;
    return true;
}

void TBlobFile::PlanFreeChain(std::uint32_t firstBlock, bool adopt, std::uint32_t owner, TFreePlan& plan) {
    if (firstBlock == 0) return;
    const std::size_t dataSize = BlockDataSize();
    const std::size_t start = plan.blocks.size();
    TBlockRunReader reader(*this, nullptr);
    std::uint32_t number = firstBlock;
    std::uint32_t previous = 0;
    std::uint32_t expected = 0;  // blocks the first block's total size calls for
    try {
        for (;;) {
            if (number == 0 || number > BlockCount()) Raise(err::BlobBuffersCorrupt);
            const auto taken = static_cast<std::uint32_t>(plan.blocks.size() - start);
            // A chain longer than the file has blocks runs in a circle.
            if (taken >= BlockCount()) Raise(err::BlobBuffersCorrupt);
            TBlockRunReader::View view;
            const std::uint32_t ahead = taken == 0 ? readAheadCount_ : expected > taken ? expected - taken : 1;
            reader.Get(number, ahead, previous != 0 ? DirectionOf(previous, number) : ReadDirection::Forward,
                       view);
            if (view.cached != nullptr && view.cached->Pinned()) Raise(err::BlobBuffersCorrupt);
            if (view.header.owner != owner && !adopt) Raise(err::BlobBuffersCorrupt);
            if (taken == 0) expected = BlocksFor(view.header.totalSize, BlockDataSize());
            PlannedBlock block{number, view.header, nullptr, 0};
            block.header.owner = owner;
            plan.blocks.push_back(block);
            // The data stays as it is. Kept here (up to a bound), the freeing
            // need not read it again.
            if (plan.data.size() + dataSize <= kKeptFreeData && plan.data.size() == (plan.blocks.size() - 1) * dataSize)
                plan.data.insert(plan.data.end(), view.data, view.data + dataSize);
            previous = number;
            number = view.header.next;
            if (number == 0) break;
        }
    } catch (...) {
        plan.blocks.resize(start);
        plan.data.resize(std::min(plan.data.size(), start * dataSize));
        throw;
    }
}

void TBlobFile::FreePlanned(TFreePlan& plan) {
    if (plan.blocks.empty()) return;
    const std::size_t dataSize = BlockDataSize();
    // Chains that share a block (a damaged table) would put it on the free
    // chain twice, which then runs in a circle.
    std::vector<std::uint32_t> numbers;
    numbers.reserve(plan.blocks.size());
    for (const PlannedBlock& block : plan.blocks) numbers.push_back(block.number);
    std::sort(numbers.begin(), numbers.end());
    if (std::adjacent_find(numbers.begin(), numbers.end()) != numbers.end()) Raise(err::BlobBuffersCorrupt);
    // Each block in turn goes on top of the free chain.
    std::uint32_t head = header_.firstFreeBlock;
    for (std::size_t i = 0; i < plan.blocks.size(); ++i) {
        PlannedBlock& block = plan.blocks[i];
        if (block.number == 0 || block.number > BlockCount()) Raise(err::BlobBuffersCorrupt);
        block.header.next = head;
        if ((i + 1) * dataSize <= plan.data.size()) {
            block.data = plan.data.data() + i * dataSize;
            block.dataLength = dataSize;
        }
        head = block.number;
    }
    StoreBlocks(plan.blocks);
    header_.firstFreeBlock = head;
    SetHeaderChanged();
    plan.blocks.clear();
    plan.data.clear();
}

void TBlobFile::GatherBlock(std::uint32_t number, const BlobBlockHeader& header, const std::uint8_t* data,
                            std::size_t dataLength, std::uint8_t* headerImage, std::uint8_t* blockImage) {
    const std::size_t dataSize = BlockDataSize();
    if (TBlock* cached = blockImage != nullptr ? cache_.Peek(number) : nullptr) {
        // The cached copy follows what is written now.
        cached->Header = header;
        std::memcpy(cached->Data(), data, dataLength);
        std::memset(cached->Data() + dataLength, 0, dataSize - dataLength);
        cached->Store(blockImage, false);
        cached->SetModified(false);
        writePieces_.push_back({blockImage, blockSize_});
        return;
    }
    header.Encode(headerImage);
    writePieces_.push_back({headerImage, blobfile::kBlockHeaderSize});
    writePieces_.push_back({data, dataLength});
    if (dataLength < dataSize) writePieces_.push_back({kZeros.data(), dataSize - dataLength});
}

std::uint8_t* TBlobFile::GatherImages(std::uint32_t first, std::uint32_t last, std::uint8_t*& blockImages) {
    const std::size_t count = static_cast<std::size_t>(last - first) + 1;
    // Block images are needed only for blocks that are cached.
    blockImages = cache_.AnyInRange(first, last) ? writeRun_.Reserve(count * blockSize_) : nullptr;
    return headerRun_.Reserve(count * blobfile::kBlockHeaderSize);
}

void TBlobFile::StoreAscendingChain(const std::vector<std::uint32_t>& chain, std::uint32_t owner,
                                    const std::uint8_t* data, std::size_t length, std::size_t from,
                                    std::size_t to) {
    const std::size_t dataSize = BlockDataSize();
    const std::uint32_t runLimit = TBlockRunReader::RunBlocks(blockSize_);
    const std::size_t n = chain.size();
    std::size_t i = from;
    while (i < to) {
        std::size_t j = i + 1;
        while (j < to && j - i < runLimit && chain[j] == chain[j - 1] + 1) ++j;
        std::uint8_t* blockImages = nullptr;
        std::uint8_t* headerImages = GatherImages(chain[i], chain[j - 1], blockImages);
        writePieces_.clear();
        for (std::size_t k = i; k < j; ++k) {
            const std::size_t offset = k * dataSize;
            const std::size_t part = std::min(dataSize, length - offset);
            BlobBlockHeader header;
            header.previous = k == 0 ? 0 : chain[k - 1];
            header.next = k + 1 < n ? chain[k + 1] : 0;
            header.bytesUsed = static_cast<std::uint16_t>(part);
            header.owner = owner;
            header.totalSize = k == 0 ? static_cast<std::uint32_t>(length) : 0;
            GatherBlock(chain[k], header, data + offset, part, headerImages + (k - i) * blobfile::kBlockHeaderSize,
                        blockImages != nullptr ? blockImages + (k - i) * blockSize_ : nullptr);
        }
        WriteRunPieces(chain[i], writePieces_);
        i = j;
    }
}

void TBlobFile::StoreBlocks(std::vector<PlannedBlock>& blocks) {
    const std::size_t dataSize = BlockDataSize();
    auto fill = [dataSize](std::uint8_t* area, const PlannedBlock& block) {
        if (block.dataLength > 0) std::memcpy(area, block.data, block.dataLength);
        std::memset(area + block.dataLength, 0, dataSize - block.dataLength);
    };

    if (BuffersStayInMemory()) {
        // During a transaction nothing reaches the file before the commit.
        for (const PlannedBlock& block : blocks) {
            TBlock* cached = cache_.Find(block.number);
            if (cached == nullptr) {
                if (block.data == nullptr) {
                    cached = GetBlock(nullptr, block.number);
                    ReleaseBlock(cached);
                } else {
                    cached = CacheBlock(block.number);
                }
            }
            cached->Header = block.header;
            if (block.data != nullptr) fill(cached->Data(), block);
            cached->SetModified();
        }
        return;
    }

    // Straight to the file, one transfer per run of consecutive blocks.
    std::vector<const PlannedBlock*> order;
    order.reserve(blocks.size());
    bool keepsData = false;  // some block keeps its data (freeing): runs are read first
    for (const PlannedBlock& block : blocks) {
        order.push_back(&block);
        keepsData = keepsData || block.data == nullptr;
    }
    auto byNumber = [](const PlannedBlock* a, const PlannedBlock* b) { return a->number < b->number; };
    if (!std::is_sorted(order.begin(), order.end(), byNumber)) std::sort(order.begin(), order.end(), byNumber);
    const std::uint32_t runLimit = TBlockRunReader::RunBlocks(blockSize_);
    std::size_t i = 0;
    while (i < order.size()) {
        std::size_t j = i + 1;
        while (j < order.size() && j - i < runLimit && order[j]->number == order[j - 1]->number + 1) ++j;
        const std::uint32_t first = order[i]->number;
        const auto count = static_cast<std::uint32_t>(j - i);
        if (!keepsData && !encrypted_) {
            // The value's bytes go from where they are: only the block headers
            // (and cached blocks) are put together here.
            std::uint8_t* blockImages = nullptr;
            std::uint8_t* headerImages = GatherImages(first, order[j - 1]->number, blockImages);
            writePieces_.clear();
            for (std::size_t k = i; k < j; ++k) {
                const PlannedBlock& block = *order[k];
                GatherBlock(block.number, block.header, block.data, block.dataLength,
                            headerImages + (k - i) * blobfile::kBlockHeaderSize,
                            blockImages != nullptr ? blockImages + (k - i) * blockSize_ : nullptr);
            }
            WriteRunPieces(first, writePieces_);
            i = j;
            continue;
        }
        std::uint8_t* buffer = writeRun_.Reserve(static_cast<std::size_t>(count) * blockSize_);
        bool needRead = false;
        for (std::size_t k = i; k < j; ++k) {
            if (order[k]->data == nullptr && cache_.Peek(order[k]->number) == nullptr) needRead = true;
        }
        const std::uint32_t got = needRead ? ReadRun(first, count, buffer) : 0;
        for (std::size_t k = i; k < j; ++k) {
            const PlannedBlock& block = *order[k];
            std::uint8_t* image = buffer + (k - i) * blockSize_;
            std::uint8_t* area = image + blobfile::kBlockHeaderSize;
            if (TBlock* cached = cache_.Peek(block.number)) {
                // The cached copy follows what is written now.
                cached->Header = block.header;
                if (block.data != nullptr) fill(cached->Data(), block);
                cached->Store(image, encrypted_);
                cached->SetModified(false);
            } else if (block.data != nullptr) {
                fill(area, block);
                EncodeBlockImage(block.header, area, blockSize_, encrypted_, image);
            } else {
                if (k - i >= got) Raise(err::BlobBuffersCorrupt);
                DecodeBlockImage(image, blockSize_, encrypted_);
                EncodeBlockImage(block.header, area, blockSize_, encrypted_, image);
            }
        }
        WriteRun(first, count, buffer);
        i = j;
    }
}

}  // namespace pixhold::engine
