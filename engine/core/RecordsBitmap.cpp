#include "RecordsBitmap.h"

#include <algorithm>
#include <bit>

namespace pixhold::engine {
namespace {

constexpr std::uint64_t kWordBits = 64;

std::uint64_t RoundUpTo32(std::uint64_t bits) { return (bits + 31) / 32 * 32; }
std::uint64_t WordsFor(std::uint64_t bits) { return (bits + kWordBits - 1) / kWordBits; }
std::uint64_t Bit(std::uint32_t record) { return std::uint64_t{1} << (record % kWordBits); }

}  // namespace

TRecordsBitmap::TRecordsBitmap(std::uint64_t size) { Resize(size); }

void TRecordsBitmap::Resize(std::uint64_t size) {
    size_ = RoundUpTo32(size);
    words_.resize(WordsFor(size_), 0);
    // A shrink may leave positions beyond the size in the last word: clear them.
    const std::uint64_t tail = size_ % kWordBits;
    if (tail != 0) words_.back() &= (std::uint64_t{1} << tail) - 1;
}

void TRecordsBitmap::Set(std::uint32_t record) {
    if (record == 0) return;
    if (record >= size_) {
        // Grow at least geometrically so that setting records one by one stays linear.
        Resize(std::max<std::uint64_t>(std::uint64_t{record} + 1, size_ + size_ / 2));
    }
    words_[record / kWordBits] |= Bit(record);
}

void TRecordsBitmap::Clear(std::uint32_t record) {
    if (record >= size_) return;
    words_[record / kWordBits] &= ~Bit(record);
}

bool TRecordsBitmap::Test(std::uint32_t record) const {
    if (record == 0 || record >= size_) return false;
    return (words_[record / kWordBits] & Bit(record)) != 0;
}

void TRecordsBitmap::ClearAll() { std::fill(words_.begin(), words_.end(), 0); }

std::uint32_t TRecordsBitmap::Count() const {
    std::uint64_t count = 0;
    for (std::uint64_t word : words_) count += static_cast<unsigned>(std::popcount(word));
    return static_cast<std::uint32_t>(count);
}

bool TRecordsBitmap::Empty() const {
    return std::all_of(words_.begin(), words_.end(), [](std::uint64_t w) { return w == 0; });
}

std::uint32_t TRecordsBitmap::CountThrough(std::uint32_t record) const {
    if (size_ == 0) return 0;
    const std::uint64_t last = std::min<std::uint64_t>(record, size_ - 1);
    const std::uint64_t lastWord = last / kWordBits;
    std::uint64_t count = 0;
    for (std::uint64_t w = 0; w < lastWord; ++w) count += static_cast<unsigned>(std::popcount(words_[w]));
    const std::uint64_t shift = kWordBits - 1 - last % kWordBits;
    count += static_cast<unsigned>(std::popcount(words_[lastWord] << shift));
    return static_cast<std::uint32_t>(count);
}

std::uint32_t TRecordsBitmap::NthSet(std::uint32_t k) const {
    if (k == 0) return 0;
    std::uint64_t remaining = k;
    for (std::uint64_t w = 0; w < words_.size(); ++w) {
        std::uint64_t word = words_[w];
        const auto inWord = static_cast<std::uint64_t>(std::popcount(word));
        if (remaining > inWord) {
            remaining -= inWord;
            continue;
        }
        // Drop the lowest set bits until the wanted one is the lowest.
        for (; remaining > 1; --remaining) word &= word - 1;
        return static_cast<std::uint32_t>(w * kWordBits + static_cast<unsigned>(std::countr_zero(word)));
    }
    return 0;
}

std::uint32_t TRecordsBitmap::NextSet(std::uint32_t from) const {
    if (from == 0) from = 1;
    if (from >= size_) return 0;
    std::uint64_t w = from / kWordBits;
    std::uint64_t word = words_[w] & (~std::uint64_t{0} << (from % kWordBits));
    while (word == 0) {
        if (++w == words_.size()) return 0;
        word = words_[w];
    }
    return static_cast<std::uint32_t>(w * kWordBits + static_cast<unsigned>(std::countr_zero(word)));
}

std::uint32_t TRecordsBitmap::PrevSet(std::uint32_t from) const {
    if (from == 0 || size_ == 0) return 0;
    const std::uint64_t start = std::min<std::uint64_t>(from, size_ - 1);
    std::uint64_t w = start / kWordBits;
    const std::uint64_t shift = kWordBits - 1 - start % kWordBits;
    std::uint64_t word = words_[w] & (~std::uint64_t{0} >> shift);
    while (word == 0) {
        if (w == 0) return 0;
        word = words_[--w];
    }
    return static_cast<std::uint32_t>(w * kWordBits + kWordBits - 1 -
                                      static_cast<unsigned>(std::countl_zero(word)));
}

void TRecordsBitmap::And(const TRecordsBitmap& other) {
    const std::size_t common = std::min(words_.size(), other.words_.size());
    for (std::size_t w = 0; w < common; ++w) words_[w] &= other.words_[w];
    std::fill(words_.begin() + static_cast<std::ptrdiff_t>(common), words_.end(), 0);
}

void TRecordsBitmap::AndNot(const TRecordsBitmap& other) {
    const std::size_t common = std::min(words_.size(), other.words_.size());
    for (std::size_t w = 0; w < common; ++w) words_[w] &= ~other.words_[w];
}

void TRecordsBitmap::Or(const TRecordsBitmap& other) {
    if (other.size_ > size_) Resize(other.size_);
    for (std::size_t w = 0; w < other.words_.size(); ++w) words_[w] |= other.words_[w];
}

void TRecordsBitmap::CopyFrom(const TRecordsBitmap& other) {
    if (this == &other) return;
    words_ = other.words_;
    size_ = other.size_;
}

bool TRecordsBitmap::operator==(const TRecordsBitmap& other) const {
    const auto& shorter = words_.size() <= other.words_.size() ? words_ : other.words_;
    const auto& longer = words_.size() <= other.words_.size() ? other.words_ : words_;
    if (!std::equal(shorter.begin(), shorter.end(), longer.begin())) return false;
    return std::all_of(longer.begin() + static_cast<std::ptrdiff_t>(shorter.size()), longer.end(),
                       [](std::uint64_t w) { return w == 0; });
}

}  // namespace pixhold::engine
