#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "CursorFilter.h"
#include "ExpToken.h"
#include "ExpressionPrepare.h"
#include "IndexKey.h"
#include "RecordsBitmap.h"

namespace pixhold::engine {

class TDataCursor;

// Decides which records pass one filter of a cursor. Parts of an expression
// that test the first field of an index against constants are answered from
// that index's keys: the field's value is taken out of each key and the test
// evaluated on it, so no record is read; only what remains is evaluated on
// the records themselves. Runs inside one of the cursor's guarded operations
// (a table changed by someone else makes the operation start again).
class TFilterEvaluator {
public:
    explicit TFilterEvaluator(TDataCursor& cursor) : cursor_(cursor) {}

    // Sets the filter's OptimizeLevel and estimate.
    void Plan(TFilter& filter);
    // The records of `candidates` that pass the filter.
    TRecordsBitmap Evaluate(TFilter& filter, const TRecordsBitmap& candidates);
    // Whether one record image passes (the cursor's own changes).
    bool Passes(TFilter& filter, const std::uint8_t* image, std::uint32_t recordNumber);

private:
    // The index slot that answers a condition, when one does.
    std::optional<int> IndexFor(const TIndexableCondition& condition) const;
    std::optional<int> IndexOf(const TExpToken& node) const;
    int Level(const TExpToken& node) const;
    std::uint32_t EstimateOf(const TExpToken& node);

    TRecordsBitmap EvaluateNode(TFilter& filter, const TExpToken& node, const TRecordsBitmap& candidates);
    TRecordsBitmap ScanIndex(TFilter& filter, const TExpToken& node, int slot, const TRecordsBitmap& candidates);
    // Reads each candidate record and keeps those `test` passes.
    TRecordsBitmap ReadAndTest(TFilter& filter, const TRecordsBitmap& candidates,
                               const std::function<bool(const std::uint8_t* image, std::uint32_t number)>& test);
    bool TestImage(TFilter& filter, const TExpToken& node, const std::uint8_t* image);

    TDataCursor& cursor_;
};

}  // namespace pixhold::engine
