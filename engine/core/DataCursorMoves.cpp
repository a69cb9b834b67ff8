// Moving through the records: index order by the leaf chain and the subtree
// counts, physical order by the visible-record set.

#include <algorithm>
#include <cstring>

#include "DataCursor.h"
#include "DataTable.h"
#include "EngineError.h"
#include "IndexBytes.h"

namespace pixhold::engine {

namespace {

// The subtree count (value B) of branch entry p, read straight from the
// entry's decoded slot (key, A, B): the descents add up many of them, and
// this keeps the loop free of calls.
inline std::uint32_t BranchCount(const TPage& page, int p) {
    return indexbytes::GetU32(page.Key(p) + page.KeyLength() + 4);
}

// Leaf entries under branch entries 1 … p − 1.
std::uint32_t CountBeforeEntry(const TPage& page, int p) {
    std::uint32_t sum = 0;
    for (int i = 1; i < p; ++i) sum += BranchCount(page, i);
    return sum;
}

}  // namespace

// ---- pages and ordinals ----------------------------------------------------------------------

TIndexTree TDataCursor::Tree() { return TIndexTree(table_->IndexFile(), slot_, *comparer_, this); }

TPageRef TDataCursor::Page(std::uint32_t number, int slot) {
    TPage* page = table_->IndexFile().GetPage(this, slot < 0 ? slot_ : slot, number);
    if (page == nullptr) throw Restart{};
    TPageRef ref(page);
    if (ref->Count() == 0 || (!ref->IsLeaf() && !ref->IsBranch())) Raise(err::IndexPagesCorrupt, indexName_);
    return ref;
}

bool TDataCursor::HasCounts() const {
    return PageProperties::Of(table_->IndexDefinition(slot_), slot_).HasCounts();
}

std::uint32_t TDataCursor::FirstLeaf() {
    std::uint32_t number = table_->IndexFile().GetRootPage(slot_);
    for (int depth = 0; number != 0; ++depth) {
        if (depth >= kMaxTreeDepth) Raise(err::IndexPagesCorrupt, indexName_);
        TPageRef page = Page(number);
        if (page->IsLeaf()) return number;
        number = page->A(1);
    }
    return 0;
}

std::uint32_t TDataCursor::KeyCountAll() {
    const std::uint32_t root = table_->IndexFile().GetRootPage(slot_);
    if (root == 0) return 0;
    if (HasCounts()) return Page(root)->SubtreeCount();
    // An index without counts has to be walked.
    std::uint32_t count = 0;
    for (std::uint32_t number = FirstLeaf(); number != 0;) {
        TPageRef page = Page(number);
        count += static_cast<std::uint32_t>(page->Count());
        number = page->next;
    }
    return count;
}

std::uint32_t TDataCursor::OrdinalOfPath(const TIndexPath& path) {
    if (HasCounts()) {
        std::uint32_t before = 0;
        for (int l = 0; l < path.depth; ++l)
            before += TIndexTree::CountBefore(*Page(path.levels[l].page), path.levels[l].position);
        return before + 1;
    }
    std::uint32_t before = 0;
    for (std::uint32_t number = FirstLeaf(); number != 0 && number != path.Leaf().page;) {
        TPageRef page = Page(number);
        before += static_cast<std::uint32_t>(page->Count());
        number = page->next;
    }
    return before + static_cast<std::uint32_t>(path.Leaf().position);
}

// Down from the root to the key with that ordinal, adding up the subtree
// counts of the branches passed; false when the index has fewer keys.
bool TDataCursor::DescendOrdinal(std::uint32_t ordinal, TIndexPath& path) {
    path.Clear();
    if (ordinal == 0) return false;
    std::uint32_t remaining = ordinal;
    if (!HasCounts()) {
        for (std::uint32_t number = FirstLeaf(); number != 0;) {
            TPageRef page = Page(number);
            const auto count = static_cast<std::uint32_t>(page->Count());
            if (remaining <= count) {
                path.Push(number, static_cast<int>(remaining), table_->IndexFile());
                return true;
            }
            remaining -= count;
            number = page->next;
        }
        return false;
    }
    std::uint32_t number = table_->IndexFile().GetRootPage(slot_);
    while (number != 0) {
        TPageRef page = Page(number);
        if (page->IsLeaf()) {
            if (remaining > static_cast<std::uint32_t>(page->Count())) return false;
            path.Push(number, static_cast<int>(remaining), table_->IndexFile());
            return true;
        }
        // The child whose keys include the ordinal: one pass over the counts.
        const int count = page->Count();
        int p = 1;
        for (;; ++p) {
            const std::uint32_t below = BranchCount(*page, p);
            if (remaining <= below) break;
            if (p == count) return false;
            remaining -= below;
        }
        path.Push(number, p, table_->IndexFile());
        number = page->A(p);
    }
    return false;
}

bool TDataCursor::RecordVisible(std::uint32_t record) const { return !filterActive_ || visible_.Test(record); }

// ---- standing and stepping in index order --------------------------------------------------------

void TDataCursor::StandAtOrdinal(std::uint32_t ordinal) {
    TIndexPath path;
    if (!DescendOrdinal(ordinal, path)) Raise(err::IndexPagesCorrupt, indexName_);
    StandOnEntry(path.Leaf().page, path.Leaf().position, ordinal);
}

void TDataCursor::StandOnEntry(std::uint32_t number, int p, std::uint32_t ordinal) {
    TPageRef page = Page(number);
    if (!page->IsLeaf() || p < 1 || p > page->Count()) Raise(err::IndexPagesCorrupt, indexName_);
    pos_.bottom = pos_.top = pos_.ahead = false;
    pos_.page = number;
    pos_.slotPosition = p;
    pos_.sequence = ordinal;
    pos_.record = page->A(p);
    pos_.key.assign(page->Key(p), page->Key(p) + page->KeyLength());
}

// One key forward or back along the leaf chain, whatever the range and the
// filters; false at either end of the index.
bool TDataCursor::Step(bool forward) {
    std::uint32_t number = pos_.page;
    int p = pos_.slotPosition;
    {
        TPageRef page = Page(number);
        if (p < 1 || p > page->Count() || std::memcmp(page->Key(p), pos_.key.data(), pos_.key.size()) != 0) {
            // The page no longer holds the key where it was: find it again.
            page.Reset();
            TIndexPath path;
            bool exact = false;
            if (!Tree().Seek(pos_.key.data(), path, exact)) throw Restart{};
            if (!exact) Raise(err::IndexPagesCorrupt, indexName_);
            pos_.sequence = OrdinalOfPath(path);
            pos_.page = number = path.Leaf().page;
            pos_.slotPosition = p = path.Leaf().position;
            page = Page(number);
        }
        if (forward && p < page->Count()) {
            ++p;
        } else if (!forward && p > 1) {
            --p;
        } else {
            number = forward ? page->next : page->previous;
            if (number == 0) return false;
            p = 0;
        }
        if (p != 0) {
            pos_.slotPosition = p;
            pos_.record = page->A(p);
            std::memcpy(pos_.key.data(), page->Key(p), pos_.key.size());
        }
    }
    if (p == 0) {
        TPageRef page = Page(number);
        p = forward ? 1 : page->Count();
        pos_.page = number;
        pos_.slotPosition = p;
        pos_.record = page->A(p);
        std::memcpy(pos_.key.data(), page->Key(p), pos_.key.size());
    }
    pos_.sequence = forward ? pos_.sequence + 1 : pos_.sequence - 1;
    return true;
}

// To the next visible key inside the range; at the end the position stays
// on the last valid key and the result is false.
bool TDataCursor::StepVisible(bool forward) {
    if (physicalOrder_) {
        const std::uint32_t from = pos_.record;
        const std::uint32_t next = forward ? visible_.NextSet(from + 1) : (from > 1 ? visible_.PrevSet(from - 1) : 0);
        if (next == 0) return false;
        pos_.record = next;
        pos_.bottom = pos_.top = pos_.ahead = false;
        return true;
    }
    const Position saved = pos_;
    for (;;) {
        if (!Step(forward) || pos_.sequence < rangeFirst_ || pos_.sequence > rangeLast_) {
            pos_ = saved;
            return false;
        }
        if (RecordVisible(pos_.record)) return true;
    }
}

bool TDataCursor::GoFirst() {
    if (physicalOrder_) {
        const std::uint32_t first = visible_.FirstSet();
        if (first == 0) return false;
        pos_.record = first;
        pos_.bottom = pos_.top = pos_.ahead = false;
        return true;
    }
    if (rangeLast_ < rangeFirst_) return false;
    StandAtOrdinal(rangeFirst_);
    return RecordVisible(pos_.record) || StepVisible(true);
}

bool TDataCursor::GoLast() {
    if (physicalOrder_) {
        const std::uint32_t last = visible_.LastSet();
        if (last == 0) return false;
        pos_.record = last;
        pos_.bottom = pos_.top = pos_.ahead = false;
        return true;
    }
    if (rangeLast_ < rangeFirst_) return false;
    StandAtOrdinal(rangeLast_);
    return RecordVisible(pos_.record) || StepVisible(false);
}

void TDataCursor::SetNothing() {
    pos_ = Position{};
    pos_.bottom = pos_.top = true;
    std::fill(record_.begin(), record_.end(), 0);
}

void TDataCursor::MoveToBegin() {
    if (!GoFirst()) {
        SetNothing();
        return;
    }
    pos_.bottom = true;
}

void TDataCursor::MoveToEnd() {
    if (!GoLast()) {
        SetNothing();
        return;
    }
    pos_.top = true;
}

void TDataCursor::MoveBy(bool forward) {
    lastDirection_ = forward ? ReadDirection::Forward : ReadDirection::Backward;
    if (pos_.bottom && pos_.top) return;
    if (forward ? pos_.bottom : pos_.top) {
        if (forward ? GoFirst() : GoLast()) return;
        SetNothing();
        return;
    }
    if (forward ? pos_.top : pos_.bottom) return;
    if (pos_.ahead) {
        pos_.ahead = false;
        if (forward) return;
    }
    if (!StepVisible(forward)) {
        if (forward) pos_.top = true;
        else pos_.bottom = true;
    }
}

void TDataCursor::SetToBegin() { Guarded([&] { MoveToBegin(); }); }

void TDataCursor::SetToEnd() { Guarded([&] { MoveToEnd(); }); }

// ---- records -------------------------------------------------------------------------------------

std::uint32_t TDataCursor::CurrentRecordNumber() const {
    return (pos_.bottom || pos_.top) ? 0 : pos_.record;
}

int TDataCursor::ReadCurrent(std::uint8_t* buffer) {
    if (pos_.bottom && pos_.top) {
        if (buffer != nullptr) std::memset(buffer, 0, recordSize_);
        return err::NoCurrentRecord;
    }
    if (pos_.bottom || pos_.top) {
        if (buffer != nullptr) std::memset(buffer, 0, recordSize_);
        return pos_.bottom ? err::BeginningOfTable : err::EndOfTable;
    }
    TDataFile& data = table_->DataFile();
    TRecord* record = data.GetRecord(this, pos_.record, true, lastDirection_);
    if (record == nullptr) throw Restart{};
    std::memcpy(record_.data(), record->Data(), std::min<std::size_t>(record_.size(), record->Size()));
    data.ReleaseRecord(record);
    if (buffer != nullptr) std::memcpy(buffer, record_.data(), recordSize_);
    return 0;
}

int TDataCursor::GetNextRecord(std::uint8_t* buffer) {
    int result = 0;
    Guarded([&] {
        MoveBy(true);
        if (pos_.top) {
            if (buffer != nullptr) std::memset(buffer, 0, recordSize_);
            result = err::EndOfTable;
            return;
        }
        result = ReadCurrent(buffer);
    });
    return result;
}

int TDataCursor::GetPriorRecord(std::uint8_t* buffer) {
    int result = 0;
    Guarded([&] {
        MoveBy(false);
        if (pos_.bottom) {
            if (buffer != nullptr) std::memset(buffer, 0, recordSize_);
            result = err::BeginningOfTable;
            return;
        }
        result = ReadCurrent(buffer);
    });
    return result;
}

int TDataCursor::GetCurrentRecord(std::uint8_t* buffer) {
    int result = 0;
    Guarded([&] { result = ReadCurrent(buffer); });
    return result;
}

std::uint32_t TDataCursor::ReadRecordBlock(std::uint32_t count, std::vector<std::uint8_t>& out) {
    std::uint32_t read = 0;
    const std::size_t start = out.size();
    Guarded([&] {
        out.resize(start);  // a restarted block begins again
        read = 0;
        while (read < count) {
            MoveBy(true);
            if (pos_.top) break;
            ReadCurrent(nullptr);
            out.insert(out.end(), record_.begin(), record_.begin() + recordSize_);
            ++read;
        }
    });
    return read;
}

std::uint32_t TDataCursor::SuggestedReadAhead(ReadDirection direction) const {
    if (table_ == nullptr || recordSize_ == 0 || pos_.bottom || pos_.top) return 0;
    const int limit = static_cast<int>(std::max<std::uint32_t>(1, datafile::kReadAheadBytes / recordSize_));
    if (physicalOrder_) {
        // Visible records that follow one another on disk.
        int n = 1;
        std::uint32_t r = pos_.record;
        while (n < limit) {
            r = direction == ReadDirection::Forward ? r + 1 : r - 1;
            if (r == 0 || !visible_.Test(r)) break;
            ++n;
        }
        return static_cast<std::uint32_t>(n);
    }
    // The page is the one the cursor stands on, normally cached; no change
    // check here, as this runs inside a record read. Only an existing page is
    // asked for (the next page number would make a new one), and a failure
    // only costs the suggestion.
    if (pos_.page == 0 || pos_.page > table_->IndexFile().PageCount(slot_)) return 0;
    try {
        TPage* page = table_->IndexFile().GetPage(nullptr, slot_, pos_.page);
        if (page == nullptr) return 0;
        TPageRef ref(page);
        if (!ref->IsLeaf() || pos_.slotPosition < 1 || pos_.slotPosition > ref->Count() ||
            ref->A(pos_.slotPosition) != pos_.record)
            return 0;
        return static_cast<std::uint32_t>(TIndexTree::ConsecutiveRecords(*ref, pos_.slotPosition, direction, limit));
    } catch (const ECofferEngineError&) {
        return 0;
    }
}

// ---- counts and record numbers ---------------------------------------------------------------------

std::uint32_t TDataCursor::KeyCountInRange() const {
    return rangeLast_ >= rangeFirst_ ? rangeLast_ - rangeFirst_ + 1 : 0;
}

std::uint32_t TDataCursor::GetRecordCount() {
    std::uint32_t count = 0;
    Guarded([&] {
        if (!filterActive_) {
            count = KeyCountInRange();
            return;
        }
        if (physicalOrder_ || !rangeActive_) {
            count = visibleCount_;
            return;
        }
        // Filters inside a range: the visible records among the range's keys.
        if (rangeLast_ < rangeFirst_) return;
        const Position saved = pos_;
        StandAtOrdinal(rangeFirst_);
        do {
            if (visible_.Test(pos_.record)) ++count;
        } while (pos_.sequence < rangeLast_ && Step(true));
        pos_ = saved;
    });
    return count;
}

std::uint32_t TDataCursor::GetRecordNo() {
    std::uint32_t number = 0;
    Guarded([&] {
        if (pos_.bottom || pos_.top) return;
        if (physicalOrder_) number = visible_.CountThrough(pos_.record);
        else number = pos_.sequence - rangeFirst_ + 1;
    });
    return number;
}

bool TDataCursor::SetToRecordNo(std::int64_t n) {
    bool reached = false;
    Guarded([&] {
        if (physicalOrder_) {
            if (n < 1) {
                MoveToBegin();
                return;
            }
            const std::uint32_t record = n > UINT32_MAX ? 0 : visible_.NthSet(static_cast<std::uint32_t>(n));
            if (record == 0) {
                MoveToEnd();
                return;
            }
            pos_.bottom = pos_.top = pos_.ahead = false;
            pos_.record = record;
            reached = true;
            return;
        }
        const std::uint32_t count = KeyCountInRange();
        if (count == 0) {
            SetNothing();
            return;
        }
        if (n < 1) {
            MoveToBegin();
            return;
        }
        if (n > static_cast<std::int64_t>(count)) {
            MoveToEnd();
            return;
        }
        StandAtOrdinal(rangeFirst_ + static_cast<std::uint32_t>(n) - 1);
        if (!RecordVisible(pos_.record) && !StepVisible(true) && !StepVisible(false)) {
            SetNothing();
            return;
        }
        reached = pos_.sequence - rangeFirst_ + 1 == static_cast<std::uint32_t>(n);
    });
    return reached;
}

// ---- ranges and visible records -------------------------------------------------------------------

// The number of keys below `key` (or at or below it). With counts this is one
// descent that adds up the counts of the branches passed on the way.
std::uint32_t TDataCursor::CountBelow(const std::uint8_t* key, bool inclusive, KeyPlace* place) {
    if (place != nullptr) *place = KeyPlace{};
    if (HasCounts()) {
        const TIndexTree tree = Tree();
        std::uint32_t before = 0;
        std::uint32_t number = table_->IndexFile().GetRootPage(slot_);
        for (int depth = 0; number != 0; ++depth) {
            if (depth >= kMaxTreeDepth) Raise(err::IndexPagesCorrupt, indexName_);
            TPageRef page = Page(number);
            if (page->IsLeaf()) {
                const int below = tree.FindInsertPosition(*page, key);
                const bool equal = below < page->Count() && comparer_->CompareKeys(page->Key(below + 1), key) == 0;
                if (place != nullptr && below < page->Count()) *place = KeyPlace{number, below + 1};
                return before + static_cast<std::uint32_t>(below) + (inclusive && equal ? 1u : 0u);
            }
            bool exact = false;
            const int p = tree.FindFloorPosition(*page, key, exact);
            before += CountBeforeEntry(*page, p);
            number = page->A(p);
        }
        return 0;
    }
    TIndexPath path;
    bool exact = false;
    if (!Tree().Seek(key, path, exact)) throw Restart{};
    if (path.depth == 0) return 0;
    const std::uint32_t ordinal = OrdinalOfPath(path);
    const int c = comparer_->CompareKeys(Page(path.Leaf().page)->Key(path.Leaf().position), key);
    if (c < 0) return ordinal;  // every key of the leaf is below: the next leaf starts above
    if (c == 0) return inclusive ? ordinal : ordinal - 1;
    return ordinal - 1;
}

void TDataCursor::ComputeRangePositions() {
    rangeFirst_ = 1;
    rangeLast_ = 0;
    if (physicalOrder_) return;
    if (!rangeActive_) {
        rangeLast_ = KeyCountAll();
        return;
    }
    if (comparer_->CompareKeys(rangeLow_.data(), rangeHigh_.data()) > 0) return;
    rangeFirst_ = CountBelow(rangeLow_.data(), false) + 1;
    rangeLast_ = CountBelow(rangeHigh_.data(), true);
    if (rangeLast_ < rangeFirst_) {
        rangeFirst_ = 1;
        rangeLast_ = 0;
    }
}

// The active records, from the "Sys Deleted" index (state byte 0 first), then
// narrowed by the active filters. Nothing is kept while no filter applies.
// With `evaluate`, the matching records of the active filters are built again
// (all of them, or `only` and those evaluated on what it kept); they replace
// the old ones only when every evaluation succeeded.
void TDataCursor::RebuildVisible(bool evaluate, TFilter* only) {
    if (!filterActive_) {
        visible_.ClearAll();
        activeRecords_.ClearAll();
        visibleCount_ = 0;
        return;
    }
    TRecordsBitmap active(static_cast<std::uint64_t>(table_->PhysicalRecordCount()) + 1);
    const std::uint32_t root = table_->IndexFile().GetRootPage(kDeletedSlot);
    if (root != 0) {
        const TKeyLayout layout = TKeyLayout::For(table_->IndexDefinition(kDeletedSlot), kDeletedSlot, fields_);
        const TKeyComparer comparer(layout, table_->DataFile().Header().Locale());
        TIndexTree tree(table_->IndexFile(), kDeletedSlot, comparer, this);
        const std::uint8_t lowest[kDeletedKeyLength] = {recordlayout::StatusActive, 0, 0, 0, 0};
        TIndexPath path;
        bool exact = false;
        if (!tree.Seek(lowest, path, exact)) throw Restart{};
        std::uint32_t number = path.depth == 0 ? 0 : path.Leaf().page;
        int p = path.depth == 0 ? 0 : path.Leaf().position;
        while (number != 0) {
            TPageRef page = Page(number, kDeletedSlot);
            for (; p <= page->Count(); ++p) {
                if (page->Key(p)[0] != recordlayout::StatusActive) {
                    number = 0;
                    break;
                }
                active.Set(page->A(p));
            }
            if (number != 0) number = page->next;
            p = 1;
        }
    }
    if (evaluate) EvaluateFilters(active, only);
    activeRecords_ = std::move(active);
    CombineVisible();
}

void TDataCursor::ReturnTo(const Position& saved) {
    if (saved.bottom) {
        MoveToBegin();
        return;
    }
    if (saved.top) {
        MoveToEnd();
        return;
    }
    // A cursor already standing before a record stays before it.
    if (physicalOrder_) {
        if (StandPhysical(saved.record, true) && (saved.ahead || pos_.record != saved.record)) pos_.ahead = true;
        return;
    }
    if (saved.key.size() != layout_.keyLength) {
        MoveToBegin();
        return;
    }
    if (StandNearest(saved.key.data()) && (saved.ahead || pos_.key != saved.key)) pos_.ahead = true;
}

bool TDataCursor::StandNearest(const std::uint8_t* key) {
    if (rangeLast_ < rangeFirst_) {
        SetNothing();
        return false;
    }
    KeyPlace place;
    const std::uint32_t found = CountBelow(key, false, &place) + 1;
    const std::uint32_t ordinal = std::max(found, rangeFirst_);
    if (ordinal > rangeLast_) {
        MoveToEnd();
        return false;
    }
    // The descent that counted usually ended on the key itself.
    if (ordinal == found && place.page != 0) StandOnEntry(place.page, place.position, ordinal);
    else StandAtOrdinal(ordinal);
    if (RecordVisible(pos_.record) || StepVisible(true)) return true;
    MoveToEnd();
    return false;
}

bool TDataCursor::StandPhysical(std::uint32_t record, bool nearest) {
    if (record != 0 && visible_.Test(record)) {
        pos_.bottom = pos_.top = pos_.ahead = false;
        pos_.record = record;
        return true;
    }
    const std::uint32_t next = nearest ? visible_.NextSet(std::max<std::uint32_t>(record, 1)) : 0;
    if (next == 0) {
        MoveToEnd();
        return false;
    }
    pos_.bottom = pos_.top = pos_.ahead = false;
    pos_.record = next;
    return true;
}

}  // namespace pixhold::engine
