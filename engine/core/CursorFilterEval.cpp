#include "CursorFilterEval.h"

#include <algorithm>
#include <cstring>

#include "BTree.h"
#include "ByteCodec.h"
#include "CursorFilterKeys.h"
#include "DataCursor.h"
#include "DataTable.h"
#include "EngineError.h"
#include "ExpressionEval.h"

namespace pixhold::engine {

namespace {

bool IsNot(const TExpToken& node) { return node.kind == ExpKind::Unary && node.op == ExpOp::Not; }
bool IsAnd(const TExpToken& node) { return node.kind == ExpKind::Binary && node.op == ExpOp::And; }
bool IsOr(const TExpToken& node) { return node.kind == ExpKind::Binary && node.op == ExpOp::Or; }

// A stretch of an index to scan: from the first key whose first part is at or
// above `low` (the start of the index when empty) while the first part stays
// at or below `high` (the end when empty).
struct KeyInterval {
    std::vector<std::uint8_t> low;
    std::vector<std::uint8_t> high;
};

// Whether the keys of the layout sort ascending in every part, so that the
// first part's value alone places a key (bounds can then be used).
bool Ascending(const TKeyLayout& layout) {
    if (layout.descending) return false;
    return std::none_of(layout.parts.begin(), layout.parts.end(), [](const KeyPart& p) { return p.descending; });
}

std::uint32_t ActiveCount(const TDataTable& table) {
    return static_cast<std::uint32_t>(std::max<std::int32_t>(0, table.IndexFile().ActiveRecordCount()));
}

}  // namespace

// ---- planning ------------------------------------------------------------------------------

std::optional<int> TFilterEvaluator::IndexFor(const TIndexableCondition& condition) const {
    if (condition.op == ExpOp::Like || condition.op == ExpOp::NotLike) return std::nullopt;
    const TDataTable& table = *cursor_.table_;
    std::optional<int> found;
    for (int slot = 0; slot < table.IndexCount(); ++slot) {
        if (slot == kPrimarySlot && !table.PrimaryIndexHasFields()) continue;
        const IndexDescriptor& d = table.IndexDefinition(slot);
        const TKeyLayout layout = TKeyLayout::For(d, slot, cursor_.fields_);
        if (layout.kind != TKeyLayout::Kind::Fields || layout.parts.empty()) continue;
        const KeyPart& first = layout.parts.front();
        if (first.fieldNumber != condition.fieldNumber || !KeyPartDecodable(first)) continue;
        // A text index answers only a test that treats letter case as it does.
        if (first.IsString() && d.caseInsensitive != condition.caseInsensitive) continue;
        if (Ascending(layout)) return slot;
        if (!found) found = slot;  // scanned whole, unless an ascending one turns up
    }
    return found;
}

std::optional<int> TFilterEvaluator::IndexOf(const TExpToken& node) const {
    const auto condition = IndexableConditionOf(node);
    if (!condition) return std::nullopt;
    return IndexFor(*condition);
}

int TFilterEvaluator::Level(const TExpToken& node) const {
    if (IsNot(node)) return Level(*node.left);
    if (IsAnd(node)) {
        const int a = Level(*node.left);
        const int b = Level(*node.right);
        if (a == kOptimizeFull && b == kOptimizeFull) return kOptimizeFull;
        return std::max(a, b) > kOptimizeNone ? kOptimizePartial : kOptimizeNone;
    }
    if (IsOr(node)) {
        return Level(*node.left) == kOptimizeFull && Level(*node.right) == kOptimizeFull ? kOptimizeFull
                                                                                         : kOptimizeNone;
    }
    return IndexOf(node) ? kOptimizeFull : kOptimizeNone;
}

std::uint32_t TFilterEvaluator::EstimateOf(const TExpToken& node) {
    if (IsNot(node)) return EstimateOf(*node.left);
    if (IsAnd(node)) return std::min(EstimateOf(*node.left), EstimateOf(*node.right));
    if (IsOr(node)) return std::max(EstimateOf(*node.left), EstimateOf(*node.right));
    const auto slot = IndexOf(node);
    TDataTable& table = *cursor_.table_;
    if (!slot) return ActiveCount(table);
    const TKeyLayout layout = TKeyLayout::For(table.IndexDefinition(*slot), *slot, cursor_.fields_);
    const TKeyComparer comparer(layout, table.DataFile().Header().Locale());
    TIndexTree tree(table.IndexFile(), *slot, comparer, &cursor_);
    if (!tree.HasCounts()) return ActiveCount(table);
    return tree.KeyCount();
}

void TFilterEvaluator::Plan(TFilter& filter) {
    if (filter.kind_ != TFilter::Kind::Expression) {
        filter.optimizeLevel_ = kOptimizeNone;
        filter.estimate_ = ActiveCount(*cursor_.table_);
        return;
    }
    const TExpToken& tree = filter.expression_->Prepared();
    filter.optimizeLevel_ = Level(tree);
    filter.estimate_ = filter.optimizeLevel_ == kOptimizeNone ? ActiveCount(*cursor_.table_)
                                                              : EstimateOf(tree);
}

// ---- evaluating ------------------------------------------------------------------------------

TRecordsBitmap TFilterEvaluator::Evaluate(TFilter& filter, const TRecordsBitmap& candidates) {
    switch (filter.kind_) {
        case TFilter::Kind::Expression: return EvaluateNode(filter, filter.expression_->Prepared(), candidates);
        case TFilter::Kind::Callback:
            return ReadAndTest(filter, candidates, [&](const std::uint8_t* image, std::uint32_t number) {
                return filter.callback_(filter.dataset_, cursor_, image, number);
            });
        case TFilter::Kind::Custom: {
            TRecordsBitmap result;
            result.CopyFrom(candidates);
            filter.custom_->Narrow(cursor_, result);
            return result;
        }
    }
    return TRecordsBitmap();
}

TRecordsBitmap TFilterEvaluator::EvaluateNode(TFilter& filter, const TExpToken& node,
                                              const TRecordsBitmap& candidates) {
    const int level = Level(node);
    if (level == kOptimizeNone) {
        return ReadAndTest(filter, candidates,
                           [&](const std::uint8_t* image, std::uint32_t) { return TestImage(filter, node, image); });
    }
    if (IsNot(node)) {
        TRecordsBitmap result;
        result.CopyFrom(candidates);
        result.AndNot(EvaluateNode(filter, *node.left, candidates));
        return result;
    }
    if (IsAnd(node)) {
        // The operand the indexes answer better goes first; the other sees
        // only what the first kept.
        const bool rightFirst = Level(*node.right) > Level(*node.left);
        const TExpToken& first = rightFirst ? *node.right : *node.left;
        const TExpToken& second = rightFirst ? *node.left : *node.right;
        return EvaluateNode(filter, second, EvaluateNode(filter, first, candidates));
    }
    if (IsOr(node)) {
        // The second part only looks at the records the first did not keep.
        TRecordsBitmap kept = EvaluateNode(filter, *node.left, candidates);
        TRecordsBitmap rest;
        rest.CopyFrom(candidates);
        rest.AndNot(kept);
        kept.Or(EvaluateNode(filter, *node.right, rest));
        return kept;
    }
    return ScanIndex(filter, node, *IndexOf(node), candidates);
}

// Answers one condition from the keys of an index: the field's value is taken
// from each key of the stretches that can hold matches and tested there.
TRecordsBitmap TFilterEvaluator::ScanIndex(TFilter& filter, const TExpToken& node, int slot,
                                           const TRecordsBitmap& candidates) {
    TDataTable& table = *cursor_.table_;
    const IndexDescriptor& descriptor = table.IndexDefinition(slot);
    const TKeyLayout layout = TKeyLayout::For(descriptor, slot, cursor_.fields_);
    const TKeyComparer comparer(layout, table.DataFile().Header().Locale());
    TIndexTree tree(table.IndexFile(), slot, comparer, &cursor_);
    const KeyPart& part = layout.parts.front();
    const std::size_t partLength = part.keySize + 1u;
    const bool languageZero = table.DataFile().Header().languageID == 0;
    TKeyPartReader reader(part, languageZero && part.descending && !layout.descending);
    const TFilterExpression& expression = *filter.expression_;

    std::vector<KeyInterval> intervals;
    const TIndexableCondition condition = *IndexableConditionOf(node);
    if (Ascending(layout)) {
        auto encode = [&](const TExpValue& v) {
            return EncodeKeyPart(part, v, table.DataFile().Locale(), descriptor.caseInsensitive)
                .value_or(std::vector<std::uint8_t>{});
        };
        const std::vector<TExpValue>& c = condition.constants;
        switch (condition.op) {
            case ExpOp::Eq:
                if (c[0].isNull) {
                    // Only the keys of empty fields, which sort first.
                    intervals.push_back({{}, std::vector<std::uint8_t>(partLength, 0)});
                } else {
                    auto bound = encode(c[0]);
                    intervals.push_back({bound, condition.partialLength == 0 ? bound : std::vector<std::uint8_t>{}});
                }
                break;
            case ExpOp::Lt:
            case ExpOp::Le: intervals.push_back({{}, encode(c[0])}); break;
            case ExpOp::Gt:
            case ExpOp::Ge: intervals.push_back({encode(c[0]), {}}); break;
            case ExpOp::Between: intervals.push_back({encode(c[0]), encode(c[1])}); break;
            case ExpOp::In:
                for (const TExpValue& v : c) {
                    auto bound = encode(v);
                    if (v.isNull) intervals.push_back({{}, std::vector<std::uint8_t>(partLength, 0)});
                    else intervals.push_back({bound, bound});
                }
                break;
            default: intervals.push_back({}); break;
        }
        // An unusable bound leaves that end open, so an interval never misses a
        // match; overlapping ones (a list naming a value twice) only cost time.
    } else {
        intervals.push_back({});  // keys of a descending order: the whole index
    }

    TRecordsBitmap result(candidates.Size());
    std::vector<std::uint8_t> seekKey(layout.keyLength, 0);
    for (const KeyInterval& interval : intervals) {
        std::uint32_t number = 0;
        int p = 1;
        if (!interval.low.empty() || Ascending(layout)) {
            std::fill(seekKey.begin(), seekKey.end(), 0);
            if (!interval.low.empty()) std::memcpy(seekKey.data(), interval.low.data(), interval.low.size());
            TIndexPath path;
            bool exact = false;
            if (!tree.Seek(seekKey.data(), path, exact)) throw TDataCursor::Restart{};
            if (path.depth == 0) continue;
            number = path.Leaf().page;
            p = path.Leaf().position;
        } else {
            number = table.IndexFile().GetRootPage(slot);
            for (int depth = 0; number != 0; ++depth) {
                if (depth >= kMaxTreeDepth) RaiseEngineError(err::IndexPagesCorrupt, {.table = cursor_.TableName});
                TPageRef page = cursor_.Page(number, slot);
                if (page->IsLeaf()) break;
                number = page->A(1);
            }
        }
        bool done = false;
        while (number != 0 && !done) {
            TPageRef page = cursor_.Page(number, slot);
            if (!page->IsLeaf()) RaiseEngineError(err::IndexPagesCorrupt, {.table = cursor_.TableName});
            for (; p <= page->Count(); ++p) {
                const std::uint8_t* key = page->Key(p);
                ++filter.keysRead_;
                if (!interval.high.empty() && comparer.CompareKeys(key, interval.high.data(), partLength) > 0) {
                    done = true;
                    break;
                }
                const std::uint32_t record = page->A(p);
                if (!candidates.Test(record)) continue;
                reader.SetKey(key);
                if (EvaluateFilter(node, &reader, expression.Collation(), expression.Table())) result.Set(record);
            }
            number = page->next;
            p = 1;
        }
    }
    return result;
}

TRecordsBitmap TFilterEvaluator::ReadAndTest(
    TFilter& filter, const TRecordsBitmap& candidates,
    const std::function<bool(const std::uint8_t* image, std::uint32_t number)>& test) {
    TDataFile& data = cursor_.table_->DataFile();
    TRecordsBitmap result(candidates.Size());
    std::vector<std::uint8_t> image(cursor_.recordSize_, 0);
    for (std::uint32_t number = candidates.FirstSet(); number != 0; number = candidates.NextSet(number + 1)) {
        TRecord* record = data.GetRecord(&cursor_, number, true, ReadDirection::Forward);
        if (record == nullptr) throw TDataCursor::Restart{};
        ++filter.recordsRead_;
        std::memcpy(image.data(), record->Data(), std::min<std::size_t>(image.size(), record->Size()));
        data.ReleaseRecord(record);
        if (test(image.data(), number)) result.Set(number);
        if (number == UINT32_MAX) break;
    }
    return result;
}

bool TFilterEvaluator::TestImage(TFilter& filter, const TExpToken& node, const std::uint8_t* image) {
    TDataTable& table = *cursor_.table_;
    auto loadBlob = [&](const FieldDescriptor&, const std::vector<std::uint8_t>& slot,
                        std::vector<std::uint8_t>& contents) {
        contents.clear();
        if (slot.size() < 8) return false;
        const std::uint32_t first = bytes::GetU32(slot.data(), 0);
        const std::uint32_t owner = bytes::GetU32(slot.data(), 4);
        if (first == 0) return true;
        if (!table.BlobFileOpen()) return false;
        if (!table.BlobFile().ReadValue(&cursor_, first, owner, contents)) throw TDataCursor::Restart{};
        return true;
    };
    const TRecordImageReader reader(image, cursor_.recordSize_, loadBlob);
    const TFilterExpression& expression = *filter.expression_;
    return EvaluateFilter(node, &reader, expression.Collation(), expression.Table());
}

bool TFilterEvaluator::Passes(TFilter& filter, const std::uint8_t* image, std::uint32_t recordNumber) {
    switch (filter.kind_) {
        case TFilter::Kind::Expression: return TestImage(filter, filter.expression_->Prepared(), image);
        case TFilter::Kind::Callback: return filter.callback_(filter.dataset_, cursor_, image, recordNumber);
        case TFilter::Kind::Custom: {
            TRecordsBitmap one(static_cast<std::uint64_t>(recordNumber) + 1);
            one.Set(recordNumber);
            filter.custom_->Narrow(cursor_, one);
            return one.Test(recordNumber);
        }
    }
    return false;
}

}  // namespace pixhold::engine
