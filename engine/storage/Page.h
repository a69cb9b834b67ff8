#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "IndexHeader.h"

namespace pixhold::engine {

class TIndexFile;

inline constexpr std::size_t kPageHeaderSize = 13;
inline constexpr std::size_t kPageDataSize = kIndexPageSize - kPageHeaderSize;  // 4083

enum class PageType : std::uint8_t { RootBranch = 0, Branch = 1, Leaf = 2, RootLeaf = 3, Raw = 4 };

// What a page needs to know of its index to lay out and count its entries.
struct PageProperties {
    std::uint16_t keyLength = 0;
    bool descending = false;
    bool unique = false;
    bool caseInsensitive = false;
    bool noCounts = false;
    bool textIndex = false;
    KeyCompression compression = KeyCompression::None;

    // Branch entries carry the subtree count unless the index has no counts;
    // the text index never has them.
    bool HasCounts() const { return !noCounts && !textIndex; }
    static PageProperties Of(const IndexDescriptor& slot, int slotNumber);
};

// One cached index page. Its entries are decoded into fixed slots of K + 10
// bytes (key, value A, value B, leading-bytes count p, trailing-bytes count t)
// and positions are numbered from 1. Value A is the child page of a branch
// entry and the physical record number of a leaf entry; value B is the subtree
// count of a branch entry.
//
// Compressed leaves keep their byte count (`BytesUsed`) up to date with every
// change, so a page knows at once whether it still fits.
class TPage {
public:
    TPage() = default;
    TPage(const TPage&) = delete;
    TPage& operator=(const TPage&) = delete;

    // Makes the page an empty page of `slot` with number `pageNumber`.
    void Reset(TIndexFile* owner, int slot, std::uint32_t pageNumber, const PageProperties& properties);

    // The one reader and the one writer of the 4096-byte page image (plain
    // bytes; the file enciphers). `Decode` returns false when the image cannot
    // be a page of this index. A page read for a new allocation takes only the
    // page header (`entries` false).
    bool Decode(const std::uint8_t* image, bool entries = true);
    void Encode(std::uint8_t* image) const;

    // Entries.
    int Count() const { return count_; }
    const std::uint8_t* Key(int position) const { return Slot(position); }
    std::uint32_t A(int position) const;
    std::uint32_t B(int position) const;
    std::uint8_t Leading(int position) const { return Slot(position)[properties_.keyLength + 8]; }
    std::uint8_t Trailing(int position) const { return Slot(position)[properties_.keyLength + 9]; }
    void SetA(int position, std::uint32_t value);
    void SetB(int position, std::uint32_t value);
    void SetKey(int position, const std::uint8_t* key);
    // Inserts after `position` (0 … count): the new entry becomes position + 1.
    void InsertAt(int position, const std::uint8_t* key, std::uint32_t a, std::uint32_t b);
    void RemoveAt(int position);
    // Moves `n` entries from the end of this page to the front of `right`, or
    // from the front of `right` to the end of this page.
    void MoveLastTo(TPage& right, int n);
    void TakeFirstFrom(TPage& right, int n);
    // Drops every entry (a freed or newly allocated page).
    void ClearEntries();

    // Sum of B over the entries of a branch, or the entry count of a leaf: the
    // number of leaf entries below this page.
    std::uint32_t SubtreeCount() const;

    bool IsBranch() const { return type == PageType::RootBranch || type == PageType::Branch; }
    bool IsLeaf() const { return type == PageType::Leaf || type == PageType::RootLeaf; }
    bool IsRoot() const { return type == PageType::RootBranch || type == PageType::RootLeaf; }
    bool IsCompressedLeaf() const { return IsLeaf() && properties_.compression != KeyCompression::None; }
    // Most entries a branch or an uncompressed leaf may hold.
    int Capacity() const;
    // More entries than the capacity, or more than 4083 bytes in a compressed leaf.
    bool Overfull() const;
    bool Underflow() const;

    // p and t of every entry and the bytes used, from scratch.
    void RecomputeCompression();

    // The 4083 data bytes of a raw data page (type 4).
    std::uint8_t* RawData() { return raw_.data(); }
    const std::uint8_t* RawData() const { return raw_.data(); }
    void MakeRaw();

    const PageProperties& Properties() const { return properties_; }
    std::uint16_t KeyLength() const { return properties_.keyLength; }
    std::size_t SlotSize() const { return properties_.keyLength + 10u; }

    // Identity and state, managed by the index file.
    TIndexFile* owner = nullptr;
    std::uint32_t pageNumber = 0;
    int slot = 0;
    bool modified = false;
    std::uint16_t pins = 0;
    bool freed = false;
    // Page header.
    PageType type = PageType::Leaf;
    std::uint32_t previous = 0;
    std::uint32_t next = 0;
    // Encoded size of the entries of a compressed leaf (0 otherwise); stored
    // as 16 bits, which always suffices for a page that fits.
    int bytesUsed = 0;
    // Most-recently-used chain of the slot's cache.
    TPage* mruPrev = nullptr;
    TPage* mruNext = nullptr;

private:
    std::uint8_t* Slot(int position) { return entries_.data() + (position - 1) * SlotSize(); }
    const std::uint8_t* Slot(int position) const { return entries_.data() + (position - 1) * SlotSize(); }
    void SetLeading(int position, std::uint8_t p) { Slot(position)[properties_.keyLength + 8] = p; }
    void SetTrailing(int position, std::uint8_t t) { Slot(position)[properties_.keyLength + 9] = t; }
    // Recomputes p and t of the entries first … last (clipped to the page)
    // and adjusts the bytes used.
    void RecomputeRange(int first, int last);
    int EntrySize(int position) const;
    std::uint8_t ComputeLeading(int position) const;
    std::uint8_t ComputeTrailing(int position, std::uint8_t leading) const;
    bool DecodeEntries(const std::uint8_t* data);
    void EncodeEntries(std::uint8_t* data) const;

    PageProperties properties_;
    int count_ = 0;
    std::vector<std::uint8_t> entries_;
    std::vector<std::uint8_t> raw_;
};

// Spare pages kept for reuse, so that the caches do not allocate for every miss.
class TPageStack {
public:
    explicit TPageStack(std::size_t capacity = 64) : capacity_(capacity) {}
    std::unique_ptr<TPage> Pop();
    void Push(std::unique_ptr<TPage> page);
    std::size_t Size() const { return pages_.size(); }

private:
    std::size_t capacity_;
    std::vector<std::unique_ptr<TPage>> pages_;
};

}  // namespace pixhold::engine
