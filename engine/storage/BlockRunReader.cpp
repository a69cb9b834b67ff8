#include "BlockRunReader.h"

#include <algorithm>

#include "BlobFile.h"
#include "EngineError.h"

namespace pixhold::engine {

std::uint32_t TBlockRunReader::RunBlocks(std::size_t blockSize) {
    return static_cast<std::uint32_t>(std::max<std::size_t>(1, kRunBytes / blockSize));
}

TBlockRunReader::TBlockRunReader(TBlobFile& file, TCursorContext* cursor)
    : file_(file), cursor_(cursor) {}

bool TBlockRunReader::Get(std::uint32_t n, std::uint32_t ahead, ReadDirection direction, View& view) {
    const std::uint32_t blockCount = file_.BlockCount();
    if (n == 0 || n > blockCount) file_.Raise(err::BlobBuffersCorrupt);
    const std::size_t blockSize = file_.BlockSize();
    if (TBlock* cached = file_.cache_.Peek(n)) {
        view.header = cached->Header;
        view.data = cached->Data();
        view.cached = cached;
        return true;
    }
    if (n < first_ || n - first_ >= count_) {
        if (cursor_ != nullptr && !file_.Owner().StrictChangeDetection() && cursor_->CheckForBlobChanges(true)) {
            count_ = 0;
            return false;
        }
        std::uint32_t count = std::clamp<std::uint32_t>(ahead, 1, RunBlocks(blockSize));
        std::uint32_t start = n;
        if (direction == ReadDirection::Forward) {
            count = std::min(count, blockCount - n + 1);
        } else {
            count = std::min(count, n);
            start = n - count + 1;
        }
        buffer_ = file_.readRun_.Reserve(static_cast<std::size_t>(count) * blockSize);
        headers_.resize(count);
        const std::uint32_t got = file_.ReadRun(start, count, buffer_);
        for (std::uint32_t i = 0; i < got; ++i) {
            std::uint8_t* image = buffer_ + static_cast<std::size_t>(i) * blockSize;
            headers_[i] = DecodeBlockImage(image, blockSize, file_.Encrypted());
            // Cached copies that hold no changes of their own follow the disk.
            if (TBlock* cached = file_.cache_.Peek(start + i);
                cached != nullptr && !cached->Modified() && !cached->Pinned()) {
                cached->Load(image);
            }
        }
        first_ = start;
        count_ = got;
        if (n - start >= got) {
            // Past the end of the file and not cached.
            file_.Raise(file_.ShortReadAllowed() ? err::BlobBuffersCorrupt : err::ReadError);
        }
    }
    const std::uint32_t i = n - first_;
    view.header = headers_[i];
    view.data = buffer_ + static_cast<std::size_t>(i) * blockSize + blobfile::kBlockHeaderSize;
    view.cached = nullptr;
    return true;
}

}  // namespace pixhold::engine
