#include "Block.h"

#include <algorithm>
#include <cstring>

namespace pixhold::engine {

TBlock::TBlock(TBlobFile* owner, std::size_t blockSize)
    : owner_(owner), blockSize_(blockSize), data_(blockSize - blobfile::kBlockHeaderSize, 0) {}

void TBlock::Clear() {
    Header = BlobBlockHeader{};
    std::fill(data_.begin(), data_.end(), std::uint8_t{0});
}

void TBlock::Load(const std::uint8_t* image) {
    Header = BlobBlockHeader::Decode(image);
    std::memcpy(data_.data(), image + blobfile::kBlockHeaderSize, data_.size());
}

void TBlock::Store(std::uint8_t* image, bool encrypted) const {
    EncodeBlockImage(Header, data_.data(), blockSize_, encrypted, image);
}

std::unique_ptr<TBlock> TBlockStack::Pop(TBlobFile* owner, std::size_t blockSize) {
    while (!spare_.empty()) {
        std::unique_ptr<TBlock> block = std::move(spare_.back());
        spare_.pop_back();
        if (block->Owner() == owner && block->BlockSize() == blockSize) return block;
    }
    return std::make_unique<TBlock>(owner, blockSize);
}

void TBlockStack::Push(std::unique_ptr<TBlock> block) {
    if (block && spare_.size() < kCapacity) spare_.push_back(std::move(block));
}

std::size_t TBlockCache::LowerBound(std::uint32_t number) const {
    auto it = std::lower_bound(blocks_.begin(), blocks_.end(), number,
                               [](const std::unique_ptr<TBlock>& b, std::uint32_t n) {
                                   return b->number_ < n;
                               });
    return static_cast<std::size_t>(it - blocks_.begin());
}

TBlock* TBlockCache::Peek(std::uint32_t number) const {
    const std::size_t i = LowerBound(number);
    if (i < blocks_.size() && blocks_[i]->number_ == number) return blocks_[i].get();
    return nullptr;
}

TBlock* TBlockCache::Find(std::uint32_t number) {
    TBlock* hit = nullptr;
    int tried = 0;
    for (TBlock* b = front_; b != nullptr && tried < 4; b = b->older_, ++tried) {
        if (b->number_ == number) {
            hit = b;
            break;
        }
    }
    if (hit == nullptr) hit = Peek(number);
    if (hit != nullptr && hit != front_) {
        Unlink(hit);
        LinkFront(hit);
    }
    return hit;
}

TBlock* TBlockCache::Insert(std::unique_ptr<TBlock> block, std::uint32_t number) {
    block->number_ = number;
    block->modified_ = false;
    block->pins_ = 0;
    TBlock* raw = block.get();
    const std::size_t i = LowerBound(number);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(i), std::move(block));
    LinkFront(raw);
    return raw;
}

std::unique_ptr<TBlock> TBlockCache::Remove(TBlock* block) {
    const std::size_t i = LowerBound(block->number_);
    if (i >= blocks_.size() || blocks_[i].get() != block) return nullptr;
    Unlink(block);
    std::unique_ptr<TBlock> out = std::move(blocks_[i]);
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
    return out;
}

TBlock* TBlockCache::LeastRecentlyUsedClean() const {
    for (TBlock* b = back_; b != nullptr; b = b->newer_) {
        if (!b->modified_ && b->pins_ == 0) return b;
    }
    return nullptr;
}

std::vector<std::unique_ptr<TBlock>> TBlockCache::TakeAll() {
    std::vector<std::unique_ptr<TBlock>> out = std::move(blocks_);
    blocks_.clear();
    for (auto& b : out) b->newer_ = b->older_ = nullptr;
    front_ = back_ = nullptr;
    return out;
}

void TBlockCache::LinkFront(TBlock* block) {
    block->newer_ = nullptr;
    block->older_ = front_;
    if (front_ != nullptr) front_->newer_ = block;
    front_ = block;
    if (back_ == nullptr) back_ = block;
}

void TBlockCache::Unlink(TBlock* block) {
    if (block->newer_ != nullptr) block->newer_->older_ = block->older_;
    else front_ = block->older_;
    if (block->older_ != nullptr) block->older_->newer_ = block->newer_;
    else back_ = block->newer_;
    block->newer_ = block->older_ = nullptr;
}

}  // namespace pixhold::engine
