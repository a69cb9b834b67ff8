// A cursor's filters: adding, activating, dropping, the matching records of
// each active filter and the visible records they leave, kept current while
// the cursor itself changes records.

#include <algorithm>

#include "CursorFilterEval.h"
#include "DataCursor.h"
#include "DataTable.h"
#include "EngineError.h"

namespace pixhold::engine {

namespace {

// A filter evaluated on what the filters before it kept, unless the indexes
// answer it whole (then it is evaluated on its own).
bool DependsOnEarlier(const TFilter& filter) {
    return filter.Options().onKeptRecords && filter.OptimizeLevel() != kOptimizeFull;
}

}  // namespace

// ---- adding ------------------------------------------------------------------------------

TFilter* TDataCursor::AddFilter(std::string_view text, const TCursorFilterOptions& options, bool insertAtEnd) {
    CheckOpen();
    if (filters_.size() >= kMaxCursorFilters) Raise(err::TooManyFilters);
    std::unique_ptr<TFilter> filter(new TFilter(*this));
    filter->kind_ = TFilter::Kind::Expression;
    filter->options_ = options;
    filter->text_ = std::string(text);
    filter->expression_ = std::make_unique<TFilterExpression>(
        text, fields_, TableName, table_->DataFile().Header().Locale(),
        TFilterPrepareOptions{options.caseInsensitive, options.noPartialCompare});
    return JoinFilter(std::move(filter), insertAtEnd);
}

TFilter* TDataCursor::AddFilter(std::unique_ptr<TExpToken> parsed, const TCursorFilterOptions& options, bool insertAtEnd) {
    CheckOpen();
    if (filters_.size() >= kMaxCursorFilters) Raise(err::TooManyFilters);
    if (!parsed) RaiseFilterError(TableName, "filter expression must be a boolean expression");
    std::unique_ptr<TFilter> filter(new TFilter(*this));
    filter->kind_ = TFilter::Kind::Expression;
    filter->options_ = options;
    filter->parsed_ = parsed->Clone();
    filter->expression_ = std::make_unique<TFilterExpression>(
        std::move(parsed), fields_, TableName, table_->DataFile().Header().Locale(),
        TFilterPrepareOptions{options.caseInsensitive, options.noPartialCompare});
    return JoinFilter(std::move(filter), insertAtEnd);
}

TFilter* TDataCursor::AddFilter(TRecordFilterCallback callback, void* dataset, const TCursorFilterOptions& options,
                                bool insertAtEnd) {
    CheckOpen();
    if (filters_.size() >= kMaxCursorFilters) Raise(err::TooManyFilters);
    if (!callback) RaiseFilterError(TableName, "A filter needs an expression or a callback");
    std::unique_ptr<TFilter> filter(new TFilter(*this));
    filter->kind_ = TFilter::Kind::Callback;
    filter->options_ = options;
    filter->callback_ = std::move(callback);
    filter->dataset_ = dataset;
    return JoinFilter(std::move(filter), insertAtEnd);
}

TFilter* TDataCursor::AddFilter(std::unique_ptr<TCursorFilter> custom, const TCursorFilterOptions& options,
                                bool insertAtEnd) {
    CheckOpen();
    if (filters_.size() >= kMaxCursorFilters) Raise(err::TooManyFilters);
    if (!custom) RaiseFilterError(TableName, "A filter needs an expression or a callback");
    std::unique_ptr<TFilter> filter(new TFilter(*this));
    filter->kind_ = TFilter::Kind::Custom;
    filter->options_ = options;
    filter->custom_ = std::move(custom);
    return JoinFilter(std::move(filter), insertAtEnd);
}

TFilter* TDataCursor::JoinFilter(std::unique_ptr<TFilter> filter, bool insertAtEnd) {
    Guarded([&] { TFilterEvaluator(*this).Plan(*filter); });
    filter->handle_ = ++lastFilterHandle_;
    auto at = filters_.end();
    if (!insertAtEnd) {
        at = std::find_if(filters_.begin(), filters_.end(),
                          [](const std::unique_ptr<TFilter>& f) { return f->Options().onKeptRecords; });
    }
    return filters_.insert(at, std::move(filter))->get();
}

// ---- activating and dropping ----------------------------------------------------------------

std::size_t TDataCursor::FilterIndex(TFilter* filter) const {
    for (std::size_t i = 0; i < filters_.size(); ++i)
        if (filters_[i].get() == filter) return i;
    Raise(err::InvalidFilterHandle);
}

TFilter* TDataCursor::FindFilter(int handle) const {
    for (const auto& f : filters_)
        if (f->handle_ == handle) return f.get();
    return nullptr;
}

void TDataCursor::ActivateFilter(TFilter* filter) { ChangeFilters(filter, true, false); }

void TDataCursor::DeactivateFilter(TFilter* filter) { ChangeFilters(filter, false, false); }

void TDataCursor::DropFilter(TFilter* filter) { ChangeFilters(filter, false, true); }

// Marks the filter (or all) active or not, rebuilds what that changes and goes
// back to the record the cursor stood on, or the nearest visible one. A
// failed evaluation leaves the filters and the visible records as they were.
void TDataCursor::ChangeFilters(TFilter* filter, bool activate, bool drop) {
    CheckOpen();
    if (filter != nullptr) FilterIndex(filter);
    std::vector<bool> wasActive;
    for (const auto& f : filters_) wasActive.push_back(f->active_);
    const bool wasFilterActive = filterActive_;
    try {
        Guarded([&] {
            for (const auto& f : filters_)
                if (filter == nullptr || f.get() == filter) f->active_ = activate;
            filterActive_ = physicalOrder_ || std::any_of(filters_.begin(), filters_.end(),
                                                          [](const std::unique_ptr<TFilter>& f) { return f->active_; });
            const Position saved = pos_;
            // Switching on evaluates the filter; switching off only re-evaluates
            // the filters that saw just what it kept.
            if (activate || filter != nullptr) RebuildVisible(true, filter);
            else RebuildVisible(false);
            ReturnTo(saved);
            if (!saved.ahead) pos_.ahead = false;
        });
    } catch (...) {
        for (std::size_t i = 0; i < filters_.size(); ++i) filters_[i]->active_ = wasActive[i];
        filterActive_ = wasFilterActive;
        throw;
    }
    if (!drop) return;
    if (filter == nullptr) filters_.clear();
    else filters_.erase(filters_.begin() + static_cast<std::ptrdiff_t>(FilterIndex(filter)));
}

// ---- matching and visible records --------------------------------------------------------------

void TDataCursor::EvaluateFilters(const TRecordsBitmap& active, TFilter* only) {
    TFilterEvaluator evaluator(*this);
    std::vector<TRecordsBitmap> built(filters_.size());
    std::vector<bool> evaluated(filters_.size(), false);
    bool passedOnly = false;
    for (std::size_t i = 0; i < filters_.size(); ++i) {
        TFilter& f = *filters_[i];
        const bool isOnly = &f == only;
        const bool evaluate = only == nullptr || isOnly || (passedOnly && DependsOnEarlier(f));
        passedOnly = passedOnly || isOnly;
        if (!f.active_ || !evaluate) continue;
        TRecordsBitmap candidates;
        candidates.CopyFrom(active);
        if (DependsOnEarlier(f)) {
            for (std::size_t j = 0; j < i; ++j) {
                if (!filters_[j]->active_) continue;
                candidates.And(evaluated[j] ? built[j] : filters_[j]->matching_);
            }
        }
        built[i] = evaluator.Evaluate(f, candidates);
        evaluated[i] = true;
    }
    for (std::size_t i = 0; i < filters_.size(); ++i)
        if (evaluated[i]) filters_[i]->matching_ = std::move(built[i]);
}

void TDataCursor::CombineVisible() {
    visible_.CopyFrom(activeRecords_);
    for (const auto& f : filters_)
        if (f->active_) visible_.And(f->matching_);
    visibleCount_ = visible_.Count();
}

void TDataCursor::RecordChangedForFilters(std::uint32_t record, const std::uint8_t* /*oldImage*/,
                                          const std::uint8_t* newImage) {
    if (!IsOpen() || !filterActive_ || record == 0) return;
    const bool wasVisible = visible_.Test(record);
    bool keptByAll = newImage != nullptr;
    if (newImage == nullptr) {
        activeRecords_.Clear(record);
        for (const auto& f : filters_) f->matching_.Clear(record);
    } else {
        activeRecords_.Set(record);
        TFilterEvaluator evaluator(*this);
        for (const auto& f : filters_) {
            if (!f->active_) continue;  // built afresh when it is switched on
            bool passes = false;
            try {
                passes = evaluator.Passes(*f, newImage, record);
            } catch (const ECofferEngineError&) {
                // The record is written already; one the filter cannot
                // evaluate is simply not shown through it.
                passes = false;
            }
            const bool bit = passes && (!DependsOnEarlier(*f) || keptByAll);
            if (bit) f->matching_.Set(record);
            else f->matching_.Clear(record);
            keptByAll = keptByAll && bit;
        }
    }
    if (keptByAll) visible_.Set(record);
    else visible_.Clear(record);
    if (wasVisible && !keptByAll) --visibleCount_;
    if (!wasVisible && keptByAll) ++visibleCount_;
}

}  // namespace pixhold::engine
