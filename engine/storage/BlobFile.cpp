#include "BlobFile.h"

#include <algorithm>
#include <cstring>

#include "BlockRunReader.h"
#include "Cipher.h"
#include "EngineError.h"

namespace pixhold::engine {

namespace {

// Marks a block range as being read ahead for a scope.
class ReadAheadScope {
public:
    ReadAheadScope(std::uint32_t& first, std::uint32_t& last, std::uint32_t from, std::uint32_t to)
        : first_(first), last_(last) {
        first_ = from;
        last_ = to;
    }
    ~ReadAheadScope() { first_ = last_ = 0; }
    ReadAheadScope(const ReadAheadScope&) = delete;
    ReadAheadScope& operator=(const ReadAheadScope&) = delete;

private:
    std::uint32_t& first_;
    std::uint32_t& last_;
};

}  // namespace

TBlobFile::TBlobFile(TTableOwner& owner) : owner_(owner) {}

TBlobFile::~TBlobFile() { CloseQuietly(); }

void TBlobFile::SetBlockSize(std::uint32_t blockSize) {
    blockSize_ = blockSize == 0 ? blobfile::kDefaultBlockSize : blockSize;
}

void TBlobFile::Raise(std::uint16_t code) const { RaiseTableError(code, Name); }

void TBlobFile::CloseQuietly() {
    try {
        CloseFile();
    } catch (...) {
        // Closing after a failed open must not hide the open's error.
    }
}

void TBlobFile::OpenFile() {
    if (IsOpen()) return;
    TFileHandler::OpenFile();
    try {
        ClearBlockCache();
        ReadHeader();
        if (header_.formatMark != blobfile::kFormatMark) Raise(err::WrongVersion);
        SetCacheCapacity();
    } catch (...) {
        CloseQuietly();
        throw;
    }
}

void TBlobFile::CloseFile() {
    ClearBlockCache();
    readRun_.Release();
    writeRun_.Release();
    straightRun_.Release();
    headerRun_.Release();
    TFileHandler::CloseFile();
}

void TBlobFile::CreateFile() {
    TFileHandler::CreateFile();
    ClearBlockCache();
    header_ = BlobFileHeader{};
    header_.changed = 1;
    SetCacheCapacity();
}

void TBlobFile::SetCacheCapacity() {
    const std::uint32_t byBytes = owner_.BlobCacheBytes() / blockSize_;
    cacheCapacity_ = std::max<std::uint32_t>(1, std::min(byBytes, owner_.BlobCacheMaxBlocks()));
    readAheadCount_ = std::max<std::uint32_t>(1, blobfile::kReadAheadBytes / blockSize_);
}

// ---------------------------------------------------------------------------
// Header
// ---------------------------------------------------------------------------

void TBlobFile::ReadHeader() {
    std::uint8_t bytes[blobfile::kHeaderSize];
    {
        FileAccessGuard access(*this);
        SeekFile(SeekOrigin::Begin, 0);
        ReadBuffer(bytes, sizeof bytes);
    }
    if (encrypted_) ScrambleBuffer(bytes, sizeof bytes, kDataSeeds);
    header_ = BlobFileHeader::Decode(bytes);
    header_.changed = 0;
}

bool TBlobFile::HeaderChanged() {
    // The counter alone first: the whole header only when it moved.
    if (ReadChangeCounter(encrypted_) == header_.changeCounter) return false;
    const std::int32_t held = header_.changeCounter;
    const BlobFileHeader mine = header_;
    ReadHeader();
    if (header_.changeCounter != held) return true;
    header_ = mine;  // unchanged on disk: keep what is held, changed mark included
    return false;
}

bool TBlobFile::WriteHeader(bool force) {
    if (header_.changed == 0 && !force) return false;
    ++header_.changeCounter;
    std::uint8_t bytes[blobfile::kHeaderSize];
    header_.Encode(bytes);
    if (encrypted_) ScrambleBuffer(bytes, sizeof bytes, kDataSeeds);
    {
        FileAccessGuard access(*this);
        SeekFile(SeekOrigin::Begin, 0);
        WriteBuffer(bytes, sizeof bytes);
    }
    owner_.MarkWrittenTo();
    header_.changed = 0;
    if (owner_.ForceBufferFlush()) FlushFile();
    return true;
}

void TBlobFile::MarkHeaderChanged() {
    ++header_.changeCounter;
    header_.changed = 1;
    owner_.MarkWrittenTo();
}

bool TBlobFile::FirstFreeValid(std::uint32_t blockCount) const {
    const std::uint32_t first = header_.firstFreeBlock;
    return first == 0 || (blockCount > 0 && first <= blockCount);
}

std::uint32_t TBlobFile::WholeBlocks() {
    const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(0, GetFileSize()));
    const std::uint64_t body = size > blobfile::kHeaderSize ? size - blobfile::kHeaderSize : 0;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(body / blockSize_, blobfile::kMaxBlocks));
}

void TBlobFile::ValidateHeader() {
    if (header_.formatMark != blobfile::kFormatMark) Raise(err::WrongVersion);
    if (!FirstFreeValid(BlockCount())) Raise(err::HeaderCorrupt);
    // New blocks would be written far past the end of the file.
    if (header_.nextBlockNumber == 0 || BlockCount() > WholeBlocks()) Raise(err::HeaderCorrupt);
}

void TBlobFile::TruncateAt(std::uint64_t size) {
    FileAccessGuard access(*this);
    SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(size));
    WriteBuffer(nullptr, 0);
}

void TBlobFile::EmptyFile() {
    ClearBlockCache();
    TruncateAt(blobfile::kHeaderSize);
    header_.formatMark = blobfile::kFormatMark;
    header_.nextBlockNumber = 1;
    header_.firstFreeBlock = 0;
    header_.changed = 1;
    owner_.MarkWrittenTo();
    if (owner_.ForceBufferFlush()) FlushFile();
}

// ---------------------------------------------------------------------------
// Block cache
// ---------------------------------------------------------------------------

std::uint64_t TBlobFile::BlockOffset(std::uint32_t blockNumber) const {
    return blobfile::kHeaderSize + static_cast<std::uint64_t>(blockNumber - 1) * blockSize_;
}

std::unique_ptr<TBlock> TBlobFile::TakeBlockObject() {
    if (cache_.Count() >= cacheCapacity_) {
        TBlock* victim = cache_.LeastRecentlyUsedClean();
        if (victim == nullptr && !owner_.TransactionLockHeld()) {
            FlushBlocks();
            victim = cache_.LeastRecentlyUsedClean();
        }
        if (victim != nullptr) return cache_.Remove(victim);
        // During a transaction modified blocks stay in memory until the commit.
        cacheCapacity_ += blobfile::kCacheGrowth;
    }
    return spare_.Pop(this, blockSize_);
}

TBlock* TBlobFile::CacheBlock(std::uint32_t blockNumber) {
    return cache_.Insert(TakeBlockObject(), blockNumber);
}

TBlock* TBlobFile::AppendBlock() {
    const std::uint32_t number = header_.nextBlockNumber;
    if (number > blobfile::kMaxBlocks ||
        blobfile::kHeaderSize + static_cast<std::uint64_t>(number) * blockSize_ > blobfile::kMaxFileSize) {
        Raise(err::TableFull);
    }
    TBlock* block = CacheBlock(number);
    block->Clear();
    block->SetModified();
    ++header_.nextBlockNumber;
    SetHeaderChanged();
    return block;
}

bool TBlobFile::ShortReadAllowed() const {
    return (Exclusive || owner_.TransactionLockHeld()) && owner_.WrittenTo();
}

std::uint32_t TBlobFile::ReadRun(std::uint32_t first, std::uint32_t count, std::uint8_t* buffer) {
    const std::size_t bytes = static_cast<std::size_t>(count) * blockSize_;
    std::size_t got = 0;
    {
        FileAccessGuard access(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(BlockOffset(first)));
        // Blocks at the end may exist only in the cache; the caller decides
        // whether a missing block is an error.
        got = ReadBuffer(buffer, bytes, true);
    }
    return static_cast<std::uint32_t>(got / blockSize_);
}

void TBlobFile::WriteRun(std::uint32_t first, std::uint32_t count, const std::uint8_t* buffer) {
    {
        FileAccessGuard access(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(BlockOffset(first)));
        WriteBuffer(buffer, static_cast<std::size_t>(count) * blockSize_);
    }
    owner_.MarkWrittenTo();
}

void TBlobFile::WriteRunPieces(std::uint32_t first, const std::vector<TConstBufferPiece>& pieces) {
    {
        FileAccessGuard access(*this);
        SeekFile(SeekOrigin::Begin, static_cast<std::int64_t>(BlockOffset(first)));
        WritePieces(pieces.data(), pieces.size());
    }
    owner_.MarkWrittenTo();
}

void TBlobFile::ReadBlocks(TCursorContext* /*cursor*/, std::uint32_t blockNumber, std::uint32_t count,
                           ReadDirection direction) {
    const std::uint32_t first =
        direction == ReadDirection::Forward ? blockNumber : blockNumber - count + 1;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count) * blockSize_);
    ReadAheadScope scope(readAheadFirst_, readAheadLast_, first, first + count - 1);
    const std::uint32_t got = ReadRun(first, count, buffer.data());
    if (blockNumber - first >= got && !ShortReadAllowed()) Raise(err::ReadError);

    // The block asked for goes in last, so that making room for the others
    // cannot drop it again.
    auto take = [&](std::uint32_t i) {
        std::uint8_t* image = buffer.data() + static_cast<std::size_t>(i) * blockSize_;
        const std::uint32_t number = first + i;
        TBlock* cached = cache_.Peek(number);
        if (cached != nullptr && (cached->Modified() || cached->Pinned())) return;
        DecodeBlockImage(image, blockSize_, encrypted_);
        if (cached == nullptr) cached = CacheBlock(number);
        cached->Load(image);
    };
    for (std::uint32_t i = 0; i < got; ++i) {
        if (first + i != blockNumber) take(i);
    }
    if (blockNumber - first < got) take(blockNumber - first);
}

TBlock* TBlobFile::GetBlock(TCursorContext* cursor, std::uint32_t blockNumber,
                            std::uint32_t readAheadCount, bool readAhead, ReadDirection direction) {
    if (blockNumber == 0) Raise(err::BlobBuffersCorrupt);
    if (blockNumber == header_.nextBlockNumber) {
        TBlock* block = AppendBlock();
        cache_.Pin(block);
        return block;
    }
    if (TBlock* block = cache_.Find(blockNumber)) {
        cache_.Pin(block);
        return block;
    }
    if (cursor != nullptr && !owner_.StrictChangeDetection() && cursor->CheckForBlobChanges(true)) {
        return nullptr;
    }
    if (blockNumber > BlockCount()) Raise(err::BlobBuffersCorrupt);
    std::uint32_t count = 1;
    if (readAhead) {
        const std::uint32_t room =
            direction == ReadDirection::Forward ? header_.nextBlockNumber - blockNumber : blockNumber;
        count = std::max<std::uint32_t>(1, std::min({readAheadCount_, readAheadCount, room}));
    }
    ReadBlocks(cursor, blockNumber, count, direction);
    TBlock* block = cache_.Find(blockNumber);
    if (block == nullptr) Raise(err::BlobBuffersCorrupt);
    cache_.Pin(block);
    return block;
}

void TBlobFile::ReleaseBlock(TBlock* block) {
    if (block != nullptr) cache_.Unpin(block);
}

TBlock* TBlobFile::AllocateBlock(TCursorContext* cursor) {
    for (;;) {
        const std::uint32_t first = header_.firstFreeBlock;
        if (first == 0) {
            TBlock* block = AppendBlock();
            cache_.Pin(block);
            return block;
        }
        if (first > BlockCount()) Raise(err::BlobBuffersCorrupt);
        TBlock* block = GetBlock(cursor, first);
        if (block == nullptr) continue;  // refreshed: the free chain may have moved
        header_.firstFreeBlock = block->Header.next;
        SetHeaderChanged();
        block->Clear();
        block->SetModified();
        return block;
    }
}

void TBlobFile::FreeBlock(TBlock* block) {
    block->Header.next = header_.firstFreeBlock;
    block->SetModified();
    header_.firstFreeBlock = block->Number();
    SetHeaderChanged();
}

bool TBlobFile::FlushBlocks() {
    const std::uint32_t runLimit = TBlockRunReader::RunBlocks(blockSize_);
    std::vector<TBlock*> dirty;
    for (const auto& block : cache_.Blocks()) {
        if (!block->Modified() || block->Pinned()) continue;
        if (block->Number() >= readAheadFirst_ && block->Number() <= readAheadLast_) continue;
        dirty.push_back(block.get());
    }
    if (dirty.empty()) return false;
    std::size_t i = 0;
    while (i < dirty.size()) {
        std::size_t j = i + 1;
        while (j < dirty.size() && j - i < runLimit &&
               dirty[j]->Number() == dirty[j - 1]->Number() + 1) {
            ++j;
        }
        const auto count = static_cast<std::uint32_t>(j - i);
        std::uint8_t* buffer = writeRun_.Reserve(static_cast<std::size_t>(count) * blockSize_);
        for (std::size_t k = i; k < j; ++k) {
            dirty[k]->Store(buffer + (k - i) * blockSize_, encrypted_);
        }
        WriteRun(dirty[i]->Number(), count, buffer);
        for (std::size_t k = i; k < j; ++k) dirty[k]->SetModified(false);
        i = j;
    }
    return true;
}

void TBlobFile::TrimBlockCache() {
    const std::uint32_t byBytes = owner_.BlobCacheBytes() / blockSize_;
    const std::uint32_t target = std::max<std::uint32_t>(1, std::min(byBytes, owner_.BlobCacheMaxBlocks()));
    while (cache_.Count() > target) {
        TBlock* victim = cache_.LeastRecentlyUsedClean();
        if (victim == nullptr) break;
        spare_.Push(cache_.Remove(victim));
    }
    SetCacheCapacity();
}

void TBlobFile::ClearBlockCache() {
    for (auto& block : cache_.TakeAll()) spare_.Push(std::move(block));
}

// ---------------------------------------------------------------------------
// Locks
// ---------------------------------------------------------------------------

bool TBlobFile::LockWrite() { return LockWriteRange(); }
bool TBlobFile::UnlockWrite() { return UnlockWriteRange(); }

int TBlobFile::LockRead() {
    int n = 0;
    return LockReadByte(n) ? n : 0;
}

bool TBlobFile::UnlockRead(int n) { return UnlockReadByte(n); }

}  // namespace pixhold::engine
