#include "Page.h"

#include <algorithm>
#include <cstring>

#include "IndexBytes.h"

namespace pixhold::engine {

using namespace indexbytes;

namespace {
constexpr std::uint8_t kMaxRunCount = 254;  // most leading or trailing bytes one entry may drop
}  // namespace

PageProperties PageProperties::Of(const IndexDescriptor& d, int slotNumber) {
    PageProperties p;
    p.keyLength = d.keyLength;
    p.descending = d.descending;
    p.unique = d.unique;
    p.caseInsensitive = d.caseInsensitive;
    p.noCounts = d.noCounts;
    p.textIndex = slotNumber == kTextSlot;
    p.compression = d.compression <= 3 ? static_cast<KeyCompression>(d.compression) : KeyCompression::None;
    return p;
}

void TPage::Reset(TIndexFile* ownerFile, int slotNumber, std::uint32_t number, const PageProperties& properties) {
    owner = ownerFile;
    slot = slotNumber;
    pageNumber = number;
    properties_ = properties;
    modified = false;
    pins = 0;
    freed = false;
    type = PageType::Leaf;
    previous = 0;
    next = 0;
    mruPrev = nullptr;
    mruNext = nullptr;
    ClearEntries();
    raw_.clear();
}

void TPage::ClearEntries() {
    count_ = 0;
    bytesUsed = 0;
    entries_.clear();
}

void TPage::MakeRaw() {
    ClearEntries();
    type = PageType::Raw;
    raw_.assign(kPageDataSize, 0);
}

std::uint32_t TPage::A(int position) const { return GetU32(Slot(position) + properties_.keyLength); }
std::uint32_t TPage::B(int position) const { return GetU32(Slot(position) + properties_.keyLength + 4); }
void TPage::SetA(int position, std::uint32_t value) { PutU32(Slot(position) + properties_.keyLength, value); }
void TPage::SetB(int position, std::uint32_t value) { PutU32(Slot(position) + properties_.keyLength + 4, value); }

void TPage::SetKey(int position, const std::uint8_t* key) {
    std::memcpy(Slot(position), key, properties_.keyLength);
    if (IsCompressedLeaf()) RecomputeRange(position, position + 1);
}

std::uint32_t TPage::SubtreeCount() const {
    if (!IsBranch()) return static_cast<std::uint32_t>(count_);
    std::uint32_t sum = 0;
    for (int i = 1; i <= count_; ++i) sum += B(i);
    return sum;
}

int TPage::Capacity() const {
    const int k = properties_.keyLength;
    if (IsBranch()) return static_cast<int>(kPageDataSize) / (k + (properties_.HasCounts() ? 8 : 4));
    return static_cast<int>(kPageDataSize) / (k + 4);
}

bool TPage::Overfull() const {
    if (IsCompressedLeaf()) return bytesUsed > static_cast<int>(kPageDataSize);
    return count_ > Capacity();
}

bool TPage::Underflow() const {
    if (IsCompressedLeaf()) return count_ == 0;
    return count_ < Capacity() / 2;
}

// ---- entries ----------------------------------------------------------------

void TPage::InsertAt(int position, const std::uint8_t* key, std::uint32_t a, std::uint32_t b) {
    const std::size_t size = SlotSize();
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(position * size), size, 0);
    ++count_;
    const int at = position + 1;
    std::memcpy(Slot(at), key, properties_.keyLength);
    SetA(at, a);
    SetB(at, b);
    if (IsCompressedLeaf()) {
        bytesUsed += EntrySize(at);  // p = t = 0 for now; corrected just below
        RecomputeRange(at, at + 1);
    }
}

void TPage::RemoveAt(int position) {
    if (IsCompressedLeaf()) bytesUsed -= EntrySize(position);
    const std::size_t size = SlotSize();
    auto first = entries_.begin() + static_cast<std::ptrdiff_t>((position - 1) * size);
    entries_.erase(first, first + static_cast<std::ptrdiff_t>(size));
    --count_;
    if (IsCompressedLeaf()) RecomputeRange(position, position);
}

void TPage::MoveLastTo(TPage& right, int n) {
    if (n <= 0) return;
    const std::size_t size = SlotSize();
    const int from = count_ - n + 1;
    int movedBytes = 0;
    if (IsCompressedLeaf())
        for (int i = from; i <= count_; ++i) movedBytes += EntrySize(i);
    auto first = entries_.begin() + static_cast<std::ptrdiff_t>((from - 1) * size);
    right.entries_.insert(right.entries_.begin(), first, entries_.end());
    entries_.erase(first, entries_.end());
    count_ -= n;
    right.count_ += n;
    if (IsCompressedLeaf()) bytesUsed -= movedBytes;
    if (right.IsCompressedLeaf()) {
        right.bytesUsed += movedBytes;
        right.RecomputeRange(1, n + 1);
    }
}

void TPage::TakeFirstFrom(TPage& right, int n) {
    if (n <= 0) return;
    const std::size_t size = SlotSize();
    int movedBytes = 0;
    if (right.IsCompressedLeaf())
        for (int i = 1; i <= n; ++i) movedBytes += right.EntrySize(i);
    auto last = right.entries_.begin() + static_cast<std::ptrdiff_t>(n * size);
    entries_.insert(entries_.end(), right.entries_.begin(), last);
    right.entries_.erase(right.entries_.begin(), last);
    const int oldCount = count_;
    count_ += n;
    right.count_ -= n;
    if (right.IsCompressedLeaf()) {
        right.bytesUsed -= movedBytes;
        right.RecomputeRange(1, 1);
    }
    if (IsCompressedLeaf()) {
        bytesUsed += movedBytes;
        RecomputeRange(oldCount + 1, oldCount + n);
    }
}

// ---- compression ------------------------------------------------------------

int TPage::EntrySize(int position) const {
    const int k = properties_.keyLength;
    switch (properties_.compression) {
        case KeyCompression::Duplicate: return k - Leading(position) + 5;
        case KeyCompression::Trailing: return k - Trailing(position) + 5;
        case KeyCompression::Full: return k - Leading(position) - Trailing(position) + 6;
        case KeyCompression::None: break;
    }
    return k + 4;
}

std::uint8_t TPage::ComputeLeading(int position) const {
    if (position == 1 || properties_.compression == KeyCompression::Trailing) return 0;
    const std::uint8_t* a = Key(position - 1);
    const std::uint8_t* b = Key(position);
    int k = properties_.keyLength;
    int p = 0;
    while (p < k && p < kMaxRunCount && a[p] == b[p]) ++p;
    return static_cast<std::uint8_t>(p);
}

std::uint8_t TPage::ComputeTrailing(int position, std::uint8_t leading) const {
    const int k = properties_.keyLength;
    // The record identifier ending a non-unique key is always stored whole.
    const int end = properties_.unique ? k : k - 4;
    int start = 0;
    if (properties_.compression == KeyCompression::Duplicate) return 0;
    if (properties_.compression == KeyCompression::Full) {
        start = leading;
        if (!properties_.unique && k - leading < 5) return 0;
    }
    const std::uint8_t* key = Key(position);
    int t = 0;
    for (int i = end - 1; i >= start && key[i] == 0 && t < kMaxRunCount; --i) ++t;
    return static_cast<std::uint8_t>(t);
}

void TPage::RecomputeRange(int first, int last) {
    first = std::max(first, 1);
    last = std::min(last, count_);
    for (int i = first; i <= last; ++i) {
        bytesUsed -= EntrySize(i);
        const std::uint8_t p = ComputeLeading(i);
        SetLeading(i, p);
        SetTrailing(i, ComputeTrailing(i, p));
        bytesUsed += EntrySize(i);
    }
}

void TPage::RecomputeCompression() {
    if (!IsCompressedLeaf()) {
        bytesUsed = 0;
        for (int i = 1; i <= count_; ++i) {
            SetLeading(i, 0);
            SetTrailing(i, 0);
        }
        return;
    }
    bytesUsed = 0;
    for (int i = 1; i <= count_; ++i) {
        const std::uint8_t p = ComputeLeading(i);
        SetLeading(i, p);
        SetTrailing(i, ComputeTrailing(i, p));
        bytesUsed += EntrySize(i);
    }
}

// ---- page image -------------------------------------------------------------

namespace {
constexpr std::size_t kTypeAt = 0;
constexpr std::size_t kCountAt = 1;
constexpr std::size_t kPreviousAt = 3;
constexpr std::size_t kNextAt = 7;
constexpr std::size_t kBytesUsedAt = 11;
}  // namespace

bool TPage::Decode(const std::uint8_t* image, bool entries) {
    if (image[kTypeAt] > static_cast<std::uint8_t>(PageType::Raw)) return false;
    type = static_cast<PageType>(image[kTypeAt]);
    const int count = GetU16(image + kCountAt);
    previous = GetU32(image + kPreviousAt);
    next = GetU32(image + kNextAt);
    const int stored = GetU16(image + kBytesUsedAt);
    freed = false;
    ClearEntries();
    raw_.clear();
    if (!entries) return true;
    const std::uint8_t* data = image + kPageHeaderSize;
    if (type == PageType::Raw) {
        raw_.assign(data, data + kPageDataSize);
        return true;
    }
    count_ = count;
    entries_.assign(static_cast<std::size_t>(count) * SlotSize(), 0);
    if (IsCompressedLeaf()) {
        if (stored > static_cast<int>(kPageDataSize) || !DecodeEntries(data)) return false;
        return bytesUsed == stored;
    }
    const int k = properties_.keyLength;
    const int entrySize = IsBranch() && properties_.HasCounts() ? k + 8 : k + 4;
    if (static_cast<std::size_t>(count) * static_cast<std::size_t>(entrySize) > kPageDataSize) return false;
    for (int i = 1; i <= count; ++i) {
        const std::uint8_t* e = data + (i - 1) * entrySize;
        std::memcpy(Slot(i), e, static_cast<std::size_t>(k));
        SetA(i, GetU32(e + k));
        SetB(i, entrySize == k + 8 ? GetU32(e + k + 4) : 0);
    }
    return true;
}

bool TPage::DecodeEntries(const std::uint8_t* data) {
    const int k = properties_.keyLength;
    const int limit = static_cast<int>(kPageDataSize);
    const bool full = properties_.compression == KeyCompression::Full;
    const bool duplicate = properties_.compression == KeyCompression::Duplicate;
    int at = 0;
    bytesUsed = 0;
    for (int i = 1; i <= count_; ++i) {
        std::uint8_t* key = Slot(i);
        int p = 0;
        int t = 0;
        if (duplicate || full) {
            if (at >= limit) return false;
            p = data[at++];
        }
        if (!duplicate) {
            if (at >= limit) return false;
            t = data[at++];
        }
        if (p > k || (i == 1 && p != 0)) return false;
        // Bytes p … end − 1 are stored, where the id of a non-unique key, when
        // it is stored apart, follows them.
        const bool idApart = !properties_.unique && !duplicate && !(full && k - p < 5);
        const int valueEnd = idApart ? k - 4 : k;
        const int storedEnd = valueEnd - t;
        if (storedEnd < p) return false;
        const int need = (storedEnd - p) + (idApart ? 4 : 0) + 4;
        if (at + need > limit) return false;
        if (p > 0) std::memcpy(key, Slot(i - 1), static_cast<std::size_t>(p));
        std::memcpy(key + p, data + at, static_cast<std::size_t>(storedEnd - p));
        at += storedEnd - p;
        std::memset(key + storedEnd, 0, static_cast<std::size_t>(t));
        if (idApart) {
            std::memcpy(key + k - 4, data + at, 4);
            at += 4;
        }
        SetA(i, GetU32(data + at));
        at += 4;
        SetB(i, 0);
        SetLeading(i, static_cast<std::uint8_t>(p));
        SetTrailing(i, static_cast<std::uint8_t>(t));
        bytesUsed += EntrySize(i);
    }
    return true;
}

void TPage::Encode(std::uint8_t* image) const {
    std::memset(image, 0, kIndexPageSize);
    image[kTypeAt] = static_cast<std::uint8_t>(type);
    PutU32(image + kPreviousAt, previous);
    PutU32(image + kNextAt, next);
    if (freed) return;  // a freed page keeps nothing: count 0, no entries
    std::uint8_t* data = image + kPageHeaderSize;
    if (type == PageType::Raw) {
        if (!raw_.empty()) std::memcpy(data, raw_.data(), kPageDataSize);
        return;
    }
    PutU16(image + kCountAt, static_cast<std::uint16_t>(count_));
    if (IsCompressedLeaf()) {
        PutU16(image + kBytesUsedAt, static_cast<std::uint16_t>(bytesUsed));
        EncodeEntries(data);
        return;
    }
    const int k = properties_.keyLength;
    const int entrySize = IsBranch() && properties_.HasCounts() ? k + 8 : k + 4;
    for (int i = 1; i <= count_; ++i) {
        std::uint8_t* e = data + (i - 1) * entrySize;
        std::memcpy(e, Key(i), static_cast<std::size_t>(k));
        PutU32(e + k, A(i));
        if (entrySize == k + 8) PutU32(e + k + 4, B(i));
    }
}

void TPage::EncodeEntries(std::uint8_t* data) const {
    const int k = properties_.keyLength;
    const bool full = properties_.compression == KeyCompression::Full;
    const bool duplicate = properties_.compression == KeyCompression::Duplicate;
    int at = 0;
    for (int i = 1; i <= count_; ++i) {
        const std::uint8_t* key = Key(i);
        const int p = Leading(i);
        const int t = Trailing(i);
        if (duplicate || full) data[at++] = static_cast<std::uint8_t>(p);
        if (!duplicate) data[at++] = static_cast<std::uint8_t>(t);
        const bool idApart = !properties_.unique && !duplicate && !(full && k - p < 5);
        const int storedEnd = (idApart ? k - 4 : k) - t;
        std::memcpy(data + at, key + p, static_cast<std::size_t>(storedEnd - p));
        at += storedEnd - p;
        if (idApart) {
            std::memcpy(data + at, key + k - 4, 4);
            at += 4;
        }
        PutU32(data + at, A(i));
        at += 4;
    }
}

// ---- spare pages ------------------------------------------------------------

std::unique_ptr<TPage> TPageStack::Pop() {
    if (pages_.empty()) return std::make_unique<TPage>();
    auto page = std::move(pages_.back());
    pages_.pop_back();
    return page;
}

void TPageStack::Push(std::unique_ptr<TPage> page) {
    if (pages_.size() < capacity_) pages_.push_back(std::move(page));
}

}  // namespace pixhold::engine
