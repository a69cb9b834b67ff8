#pragma once

#include <cstdint>
#include <vector>

#include "IndexKey.h"

namespace pixhold::engine {

class TDataCursor;

// Whether the first field of the cursor's current index can give the
// distinct values of that field in ascending order straight from its keys:
// an ascending, case-sensitive index of fields whose key form holds the
// stored value exactly.
bool DistinctScanPossible(const TDataCursor& cursor);

// Reads the distinct values of the first field of the cursor's current index
// without visiting every key: after each value found, one descent from the
// root seeks the first key above every key of that value, so the cost grows
// with the number of distinct values and the height of the tree, not with the
// number of records. Values that the table's collation holds equal count as
// one (the index order cannot tell them apart).
class TSqlDistinctScan {
public:
    explicit TSqlDistinctScan(TDataCursor& cursor) : cursor_(cursor) {}

    // The first part (null flag and value) of the first key of each distinct
    // value, in index order.
    std::vector<std::vector<std::uint8_t>> Run();
    // The index's first part, as the keys hold it.
    const KeyPart& Part() const;

    // What the last run read: keys looked at, and descents from the root.
    std::uint64_t KeysRead() const { return keysRead_; }
    std::uint64_t Descents() const { return descents_; }

private:
    TDataCursor& cursor_;
    std::uint64_t keysRead_ = 0;
    std::uint64_t descents_ = 0;
};

}  // namespace pixhold::engine
