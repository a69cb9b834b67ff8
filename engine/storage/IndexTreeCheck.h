#pragma once

#include <cstdint>

#include "IndexFile.h"
#include "IndexKey.h"

namespace pixhold::engine {

// Walks the whole B+-tree of one index and checks the invariants of
// docs/index-tree.md: page kinds and levels, key order within pages and across
// leaves, branch keys equal to their child's first key, subtree counts, the
// links between the pages of a level, no page reached twice, and leaf entries
// that point at records 1 … recordCount. True when the tree is sound;
// `keyCount` receives the leaf entries found. Read failures count as unsound.
bool CheckIndexTree(TIndexFile& file, int slot, const TKeyComparer& comparer, std::uint32_t recordCount,
                    std::uint32_t& keyCount);

}  // namespace pixhold::engine
