// Verification and repair of the BLOB file and of the chain of one value.

#include <algorithm>
#include <string>
#include <unordered_set>

#include "BlobFile.h"
#include "BlockRunReader.h"
#include "EngineError.h"

namespace pixhold::engine {

namespace {

const char* const kNotAligned = "BLOB blocks not aligned on even block size boundaries";
const char* const kBlockCount = "Physical BLOB block count not correct";
const char* const kFreePointer = "Invalid free BLOB block pointer in header";
const char* const kFixed = ", error fixed";

const char* const kInvalidOffset = "Invalid BLOB offset in BLOB file for physical record # ";
const char* const kSizeMismatch = "BLOB size mismatch in BLOB file for physical record # ";
const char* const kInvalidBlockSize = "Invalid block size in BLOB file for physical record # ";
const char* const kInvalidPointer = "Invalid intra-block pointer in BLOB file for physical record # ";
const char* const kRecursivePointer = "Recursive intra-block pointer in BLOB file for physical record # ";

// Keeps a block pinned for a scope.
class Pin {
public:
    Pin(TBlobFile& file, TBlock* block) : file_(file), block_(block) {}
    ~Pin() { file_.ReleaseBlock(block_); }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    TBlock* operator->() const { return block_; }
    TBlock* get() const { return block_; }

private:
    TBlobFile& file_;
    TBlock* block_;
};

}  // namespace

void TBlobFile::Log(TCursorContext& cursor, const std::string& text) { cursor.LogMessage(text); }

bool TBlobFile::RepairFile(TCursorContext& cursor, bool verifyOnly) {
    bool clean = true;
    auto report = [&](const char* text) {
        clean = false;
        Log(cursor, verifyOnly ? std::string(text) : std::string(text) + kFixed);
    };

    const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(0, GetFileSize()));
    const std::uint64_t body = size > blobfile::kHeaderSize ? size - blobfile::kHeaderSize : 0;
    const auto wholeBlocks = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(body / blockSize_, blobfile::kMaxBlocks));

    if (body % blockSize_ != 0) {
        report(kNotAligned);
        if (!verifyOnly) {
            TruncateAt(blobfile::kHeaderSize + static_cast<std::uint64_t>(wholeBlocks) * blockSize_);
            if (owner_.ForceBufferFlush()) FlushFile();
        }
    }
    if (header_.nextBlockNumber != wholeBlocks + 1) {
        report(kBlockCount);
        if (!verifyOnly) header_.nextBlockNumber = wholeBlocks + 1;
    }
    const std::uint32_t firstFree = header_.firstFreeBlock;
    if ((firstFree != 0 && wholeBlocks == 0) || static_cast<std::int32_t>(firstFree) < 0 ||
        firstFree > wholeBlocks) {
        report(kFreePointer);
        if (!verifyOnly) header_.firstFreeBlock = 0;
    }
    if (!verifyOnly) {
        // Cached blocks beyond the whole blocks are gone with the file's tail.
        std::vector<TBlock*> beyond;
        for (const auto& block : cache_.Blocks()) {
            if (block->Number() > wholeBlocks && !block->Pinned()) beyond.push_back(block.get());
        }
        for (TBlock* block : beyond) spare_.Push(cache_.Remove(block));
        header_.formatMark = blobfile::kFormatMark;
        SetHeaderChanged();
    }
    return clean;
}

bool TBlobFile::RepairBlobChain(TCursorContext& cursor, bool verifyOnly, bool adopt,
                                std::uint32_t recordNumber, std::uint32_t owner,
                                std::uint32_t& firstBlock, std::vector<std::uint32_t>* chain) {
    if (firstBlock == 0) return true;
    bool clean = true;
    auto report = [&](const char* start) {
        clean = false;
        std::string text = start + std::to_string(recordNumber);
        if (!verifyOnly) text += kFixed;
        Log(cursor, text);
    };
    const std::uint32_t blockCount = BlockCount();
    const std::uint32_t dataSize = BlockDataSize();

    // A reference to a block the file does not have cannot be followed at all.
    if (firstBlock > blockCount) {
        report(kInvalidOffset);
        if (!verifyOnly) firstBlock = 0;
        return false;
    }
    std::int64_t total = 0;
    {
        Pin first(*this, GetBlock(nullptr, firstBlock));
        if (first->Header.owner != owner) {
            if (!adopt) {
                report(kInvalidOffset);
                if (!verifyOnly) firstBlock = 0;
                return false;
            }
            if (!verifyOnly) {
                first->Header.owner = owner;
                first->SetModified();
            }
        }
        total = static_cast<std::int32_t>(first->Header.totalSize);
        if (total <= 0) {
            report(kSizeMismatch);
            if (!verifyOnly) firstBlock = 0;
            return false;
        }
    }

    std::unordered_set<std::uint32_t> visited{firstBlock};
    // The blocks of the value as the walk leaves it, in chain order.
    std::vector<std::uint32_t> walked{firstBlock};
    std::int64_t sum = 0;
    std::uint32_t previous = 0;
    auto cutAfter = [&](TBlock* block) {
        if (!verifyOnly) {
            block->Header.next = 0;
            block->SetModified();
        }
    };
    TBlock* current = GetBlock(nullptr, firstBlock);
    try {
        for (;;) {
            if (!verifyOnly && current->Header.previous != previous) {
                current->Header.previous = previous;
                current->SetModified();
            }
            const std::int64_t due = std::max<std::int64_t>(0, total - sum);
            std::uint32_t used = current->Header.bytesUsed;
            if (used > dataSize) {
                // More than a block holds (the last block's too): what the
                // value's length leaves for this block is what it holds.
                report(kInvalidBlockSize);
                used = static_cast<std::uint32_t>(std::min<std::int64_t>(dataSize, due));
                if (!verifyOnly) {
                    current->Header.bytesUsed = static_cast<std::uint16_t>(used);
                    current->SetModified();
                }
            }
            sum += used;
            const std::uint32_t next = current->Header.next;
            if (next == 0) break;
            if (used != std::min<std::int64_t>(dataSize, due)) {
                report(kInvalidBlockSize);
                cutAfter(current);
                break;
            }
            if (next > blockCount) {
                report(kInvalidPointer);
                cutAfter(current);
                break;
            }
            if (visited.count(next) != 0) {
                report(kRecursivePointer);
                cutAfter(current);
                break;
            }
            TBlock* following = GetBlock(nullptr, next);
            if (following->Header.owner != owner) {
                if (!adopt) {
                    ReleaseBlock(following);
                    report(kInvalidPointer);
                    cutAfter(current);
                    break;
                }
                if (!verifyOnly) {
                    following->Header.owner = owner;
                    following->SetModified();
                }
            }
            visited.insert(next);
            walked.push_back(next);
            previous = current->Number();
            ReleaseBlock(current);
            current = following;
        }
    } catch (...) {
        ReleaseBlock(current);
        throw;
    }
    ReleaseBlock(current);

    if (sum != total) {
        report(kSizeMismatch);
        // Nothing of the value is left: the reference goes (a value of
        // length 0 is stored as none).
        if (sum == 0) {
            if (!verifyOnly) firstBlock = 0;
            return false;
        }
        if (!verifyOnly) {
            Pin first(*this, GetBlock(nullptr, firstBlock));
            first->Header.totalSize = static_cast<std::uint32_t>(sum);
            first->SetModified();
        }
    }
    if (chain != nullptr) chain->insert(chain->end(), walked.begin(), walked.end());
    return clean;
}

void TBlobFile::ReturnToFreeChain(const std::vector<std::uint32_t>& blocks) {
    if (blocks.empty()) return;
    // Only the next field changes: each block's header as it is now.
    const std::uint32_t runLimit = TBlockRunReader::RunBlocks(blockSize_);
    TBlockRunReader reader(*this, nullptr);
    std::vector<PlannedBlock> plan;
    plan.reserve(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::size_t ahead = 1;
        while (!reader.Holds(blocks[i]) && i + ahead < blocks.size() && ahead < runLimit &&
               blocks[i + ahead] == blocks[i] + ahead)
            ++ahead;
        TBlockRunReader::View view;
        reader.Get(blocks[i], static_cast<std::uint32_t>(ahead), ReadDirection::Forward, view);
        plan.push_back({blocks[i], view.header, nullptr, 0});
    }
    std::uint32_t head = header_.firstFreeBlock;
    for (auto block = plan.rbegin(); block != plan.rend(); ++block) {
        block->header.next = head;
        head = block->number;
    }
    StoreBlocks(plan);
    header_.firstFreeBlock = head;
    SetHeaderChanged();
}

}  // namespace pixhold::engine
