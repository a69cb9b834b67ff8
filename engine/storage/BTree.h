#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "IndexFile.h"
#include "IndexKey.h"
#include "Page.h"
#include "TableContext.h"

namespace pixhold::engine {

inline constexpr int kMaxTreeDepth = 64;

// A descent from the root: per level the page and the position taken in it
// (from 1). Level 0 is the root; the entry at a level's position leads to the
// page of the next level.
struct TIndexPath {
    struct Level {
        std::uint32_t page = 0;
        int position = 0;
    };
    std::array<Level, kMaxTreeDepth> levels{};
    int depth = 0;

    void Clear() { depth = 0; }
    // Error 8965 when the tree is deeper than 64 levels.
    void Push(std::uint32_t page, int position, const TIndexFile& file);
    Level& Leaf() { return levels[depth - 1]; }
    const Level& Leaf() const { return levels[depth - 1]; }
};

// The B+-tree operations on one index of an index file (docs/index-tree.md):
// position searches in a page, insertion with splits and new roots, deletion
// with merging and redistribution, separator and subtree-count upkeep, and
// the helpers for read-ahead and ranges. The cursor owns the descent; the
// Insert/Delete/Seek members below are the descents it makes.
//
// After InsertEntry or DeleteEntry the path below the changed level is no
// longer valid: a new descent starts from the root.
class TIndexTree {
public:
    // `cursor` may be null (no change check on a page miss, as under the
    // table's write lock).
    TIndexTree(TIndexFile& file, int slot, const TKeyComparer& comparer, TCursorContext* cursor = nullptr);

    // ---- searches in one page (binary searches; an empty page is 8965) ----
    // The number of entries below the key (0 … count).
    int FindInsertPosition(const TPage& page, const std::uint8_t* key) const;
    // The last entry at or below the key, at least 1; `exact` when a leaf holds the key.
    int FindFloorPosition(const TPage& page, const std::uint8_t* key, bool& exact) const;
    // Leaf: the first entry at or above the key (the last when all are below);
    // branch: as FindFloorPosition.
    int FindCeilingPosition(const TPage& page, const std::uint8_t* key) const;
    // Leaf entries before position p: Σ B of entries 1 … p − 1 in a branch, p − 1 in a leaf.
    static std::uint32_t CountBefore(const TPage& page, int p);

    // ---- changes of one page, with their effects upwards ----
    // Inserts after position p of `page` (at level `level` of the path) and
    // splits pages as needed.
    void InsertEntry(TPage& page, TIndexPath& path, int level, int p, const std::uint8_t* key, std::uint32_t a,
                     std::uint32_t b);
    // Deletes entry p of `page` and merges or redistributes as needed.
    void DeleteEntry(TPage& page, TIndexPath& path, int level, int p);

    // ---- read-ahead and ranges ----
    // Entries from p on (forward) or back (backward) whose record numbers run
    // consecutively, at most `limit`.
    static int ConsecutiveRecords(const TPage& page, int p, ReadDirection direction, int limit);
    // Marks the record numbers of the entries from p on while their keys stay
    // at or below `bound` (compared over `boundLength` bytes); true when the
    // page ended first.
    bool CollectRecords(const TPage& page, int p, const std::uint8_t* bound, std::size_t boundLength,
                        const std::function<void(std::uint32_t)>& mark) const;

    // ---- whole descents ----
    // Inserts the key of a record (the cursor has checked uniqueness).
    void InsertKey(const std::uint8_t* key, std::uint32_t recordNumber);
    // Deletes the key; false when the index does not hold it.
    bool DeleteKey(const std::uint8_t* key);
    // Descends to the first key at or above `key` and fills `path` (depth 0 for
    // an empty index). Returns false when the cursor's change check asked to
    // start again. `exact` tells whether that key equals the one sought.
    bool Seek(const std::uint8_t* key, TIndexPath& path, bool& exact);
    // The leaf entries of the whole index (Σ B of the root, or the root's count).
    std::uint32_t KeyCount();
    // The ordinal (from 1) of the leaf entry at the end of a path.
    std::uint32_t OrdinalOf(const TIndexPath& path);
    // Descends to the entry with ordinal n (1 … KeyCount()); false when out of range.
    bool SeekOrdinal(std::uint32_t n, TIndexPath& path);

    int Slot() const { return slot_; }
    bool HasCounts() const;

private:
    // A pinned page. Changes never ask the cursor (they run under the write
    // lock); searches do, and get an empty reference when it refreshed.
    TPageRef Get(std::uint32_t page, bool search = false);
    // Page count as the parent's B records it (0 without counts).
    std::uint32_t CountOf(const TPage& page) const;
    // The parent of the page at `level`, checked to point at it.
    TPageRef Parent(const TIndexPath& path, int level, std::uint32_t child);
    void ReplaceSeparator(TIndexPath& path, int level, const std::uint8_t* key);
    void Split(TPage& page, TIndexPath& path, int level);
    void Rebalance(TPage& page, TIndexPath& path, int level);
    void ShrinkRoot(TPage& page);
    [[noreturn]] void Corrupt() const;

    TIndexFile& file_;
    int slot_;
    const TKeyComparer& comparer_;
    TCursorContext* cursor_;
};

}  // namespace pixhold::engine
