#pragma once

#include <cstdint>
#include <vector>

namespace pixhold::engine {

// A growable bit set over physical record numbers: bit n stands for record n.
// Records are numbered from 1, so bit 0 is never set and 0 doubles as "none"
// in the searches. Bits at or beyond Size() are always clear.
class TRecordsBitmap {
public:
    // Room for the first 8192 record numbers before the first resize.
    static constexpr std::uint64_t kInitialSize = 8192;

    explicit TRecordsBitmap(std::uint64_t size = kInitialSize);

    // Number of bit positions held (record numbers 0 .. Size() - 1); always a
    // multiple of 32.
    std::uint64_t Size() const { return size_; }
    // Sets the number of positions, rounded up to a multiple of 32. Records at
    // or beyond the new size are dropped; new positions are clear.
    void Resize(std::uint64_t size);

    // Set grows the bitmap as needed; record 0 is ignored.
    void Set(std::uint32_t record);
    void Clear(std::uint32_t record);
    bool Test(std::uint32_t record) const;
    void ClearAll();

    std::uint32_t Count() const;
    bool Empty() const;
    // The number of set records in 1 .. record (the rank of a set record).
    std::uint32_t CountThrough(std::uint32_t record) const;
    // The k-th set record (k from 1), or 0 when fewer are set.
    std::uint32_t NthSet(std::uint32_t k) const;

    // The lowest set record >= from, or 0 when there is none.
    std::uint32_t NextSet(std::uint32_t from) const;
    // The highest set record <= from, or 0 when there is none.
    std::uint32_t PrevSet(std::uint32_t from) const;
    std::uint32_t FirstSet() const { return NextSet(1); }
    std::uint32_t LastSet() const { return PrevSet(UINT32_MAX); }

    // Keeps only records also set in `other` (records beyond its size are cleared).
    void And(const TRecordsBitmap& other);
    // Clears every record set in `other`.
    void AndNot(const TRecordsBitmap& other);
    // Adds every record set in `other`, growing to its size when larger.
    void Or(const TRecordsBitmap& other);
    // Makes this an exact copy of `other`, size included.
    void CopyFrom(const TRecordsBitmap& other);

    // Equal when the same records are set, whatever the sizes.
    bool operator==(const TRecordsBitmap& other) const;

private:
    std::vector<std::uint64_t> words_;
    std::uint64_t size_ = 0;
};

}  // namespace pixhold::engine
