#include "SqlDistinctScan.h"

#include <algorithm>

#include "BTree.h"
#include "CursorFilterKeys.h"
#include "DataCursor.h"
#include "EngineError.h"

namespace pixhold::engine {

bool DistinctScanPossible(const TDataCursor& cursor) {
    if (!cursor.IsOpen() || cursor.PhysicalOrder()) return false;
    const TKeyLayout& layout = cursor.IndexLayout();
    if (layout.kind != TKeyLayout::Kind::Fields || layout.parts.empty()) return false;
    const KeyPart& part = layout.parts.front();
    return !layout.descending && !part.descending && !layout.caseInsensitive && KeyPartDecodable(part);
}

const KeyPart& TSqlDistinctScan::Part() const { return cursor_.IndexLayout().parts.front(); }

std::vector<std::vector<std::uint8_t>> TSqlDistinctScan::Run() {
    std::vector<std::vector<std::uint8_t>> values;
    cursor_.Guarded([&] {
        // A change by someone else starts the whole scan again.
        values.clear();
        keysRead_ = 0;
        descents_ = 0;
        const TKeyLayout& layout = cursor_.layout_;
        const std::size_t partLength = layout.parts.front().keySize + 1u;
        const int slot = cursor_.slot_;
        const TKeyComparer& comparer = *cursor_.comparer_;
        TIndexTree tree = cursor_.Tree();
        std::vector<std::uint8_t> seek(layout.keyLength, 0);
        for (;;) {
            TIndexPath path;
            bool exact = false;
            ++descents_;
            if (!tree.Seek(seek.data(), path, exact)) throw TDataCursor::Restart{};
            if (path.depth == 0) return;
            std::uint32_t number = path.Leaf().page;
            int p = path.Leaf().position;
            bool found = false;
            // The descent ends on the first key at or above the sought one
            // (or on the last key when all are below); keys of the previous
            // value are passed over here, so the result does not depend on
            // how the filled-up seek key compares under a collation.
            while (number != 0 && !found) {
                TPageRef page = cursor_.Page(number, slot);
                if (!page->IsLeaf()) RaiseEngineError(err::IndexPagesCorrupt, {.table = cursor_.TableName});
                for (; p <= page->Count(); ++p) {
                    const std::uint8_t* key = page->Key(p);
                    ++keysRead_;
                    if (!values.empty() && comparer.CompareKeys(key, values.back().data(), partLength) <= 0) continue;
                    values.emplace_back(key, key + partLength);
                    found = true;
                    break;
                }
                if (!found) {
                    number = page->next;
                    p = 1;
                }
            }
            if (!found) return;
            // Above every key of this value: the value, then the largest
            // bytes for the fields and the record identifier after it.
            std::copy(values.back().begin(), values.back().end(), seek.begin());
            std::fill(seek.begin() + static_cast<std::ptrdiff_t>(partLength), seek.end(), 0xFF);
        }
    });
    return values;
}

}  // namespace pixhold::engine
