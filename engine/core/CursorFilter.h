#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ExpToken.h"
#include "FilterExpression.h"
#include "RecordsBitmap.h"

namespace pixhold::engine {

class TDataCursor;

// A filter narrows the records a cursor shows by a rule of its own (the query
// processor's filters): it clears from `records` every record it hides.
class TCursorFilter {
public:
    virtual ~TCursorFilter() = default;
    // Clears from `records` every record this filter hides.
    virtual void Narrow(TDataCursor& cursor, TRecordsBitmap& records) = 0;
    // The same filter for another cursor of the table (cursor cloning).
    virtual std::unique_ptr<TCursorFilter> Clone() const = 0;
};

// Asked per record by a callback filter: true keeps the record. `record` is
// the record image (the cursor's record size), `recordNumber` its physical
// number.
using TRecordFilterCallback =
    std::function<bool(void* dataset, TDataCursor& cursor, const std::uint8_t* record, std::uint32_t recordNumber)>;

struct TCursorFilterOptions {
    bool caseInsensitive = false;
    // A "*" at the end of a compared text is an ordinary character.
    bool noPartialCompare = false;
    // Evaluated only on the records the filters before it kept.
    bool onKeptRecords = false;
};

// How much of an expression the table's indexes answer.
inline constexpr int kOptimizeNone = 0;
inline constexpr int kOptimizePartial = 1;
inline constexpr int kOptimizeFull = 2;

// The most filters one cursor carries.
inline constexpr std::size_t kMaxCursorFilters = 64;

// One filter of a cursor: an expression, a callback or a rule of its own,
// with its options, how far indexes answer it, whether it is active, and the
// records that pass it (kept current while it is active).
class TFilter {
public:
    enum class Kind { Expression, Callback, Custom };

    TDataCursor& Cursor() const { return cursor_; }
    // A number for the filter, unique among the filters of its cursor (from
    // 1), for callers that keep filters by number.
    int Handle() const { return handle_; }
    Kind FilterKind() const { return kind_; }
    const TCursorFilterOptions& Options() const { return options_; }
    // kOptimizeNone, kOptimizePartial or kOptimizeFull.
    int OptimizeLevel() const { return optimizeLevel_; }
    // The matching records the indexes' key counts suggest (informative only).
    std::uint32_t Estimate() const { return estimate_; }
    bool Active() const { return active_; }
    // The records that pass (current while the filter is active).
    const TRecordsBitmap& MatchingRecords() const { return matching_; }
    // The prepared expression (expression filters only).
    const TFilterExpression* Expression() const { return expression_.get(); }

    // What building the matching records cost: records read and evaluated,
    // and index keys looked at instead.
    std::uint64_t RecordsRead() const { return recordsRead_; }
    std::uint64_t KeysRead() const { return keysRead_; }

private:
    friend class TDataCursor;
    friend class TFilterEvaluator;

    explicit TFilter(TDataCursor& cursor) : cursor_(cursor) {}

    TDataCursor& cursor_;
    int handle_ = 0;
    Kind kind_ = Kind::Expression;
    TCursorFilterOptions options_;
    // Expression filters: the text or the parsed tree it came from (cursor
    // cloning adds it again), and the prepared expression.
    std::string text_;
    std::unique_ptr<TExpToken> parsed_;
    std::unique_ptr<TFilterExpression> expression_;
    TRecordFilterCallback callback_;
    void* dataset_ = nullptr;
    std::unique_ptr<TCursorFilter> custom_;

    int optimizeLevel_ = kOptimizeNone;
    std::uint32_t estimate_ = 0;
    bool active_ = false;
    TRecordsBitmap matching_;
    std::uint64_t recordsRead_ = 0;
    std::uint64_t keysRead_ = 0;
};

}  // namespace pixhold::engine
