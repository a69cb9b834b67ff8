#include "BTree.h"

#include <cstring>

#include "EngineError.h"

namespace pixhold::engine {

void TIndexPath::Push(std::uint32_t page, int position, const TIndexFile& file) {
    if (depth >= kMaxTreeDepth) file.Raise(err::IndexPagesCorrupt);
    levels[depth].page = page;
    levels[depth].position = position;
    ++depth;
}

TIndexTree::TIndexTree(TIndexFile& file, int slot, const TKeyComparer& comparer, TCursorContext* cursor)
    : file_(file), slot_(slot), comparer_(comparer), cursor_(cursor) {}

void TIndexTree::Corrupt() const { file_.Raise(err::IndexPagesCorrupt, file_.GetIndexDescriptor(slot_).name); }

bool TIndexTree::HasCounts() const {
    return PageProperties::Of(file_.GetIndexDescriptor(slot_), slot_).HasCounts();
}

TPageRef TIndexTree::Get(std::uint32_t page, bool search) {
    TPage* p = file_.GetPage(search ? cursor_ : nullptr, slot_, page);
    if (p == nullptr && !search) Corrupt();
    return TPageRef(p);
}

std::uint32_t TIndexTree::CountOf(const TPage& page) const {
    return page.Properties().HasCounts() ? page.SubtreeCount() : 0;
}

// ---- searches ---------------------------------------------------------------------

int TIndexTree::FindInsertPosition(const TPage& page, const std::uint8_t* key) const {
    if (page.Count() == 0) Corrupt();
    int lo = 0;  // entries 1 … lo are below the key
    int hi = page.Count();
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (comparer_.CompareKeys(page.Key(mid), key) < 0) lo = mid;
        else hi = mid - 1;
    }
    return lo;
}

int TIndexTree::FindFloorPosition(const TPage& page, const std::uint8_t* key, bool& exact) const {
    if (page.Count() == 0) Corrupt();
    int lo = 0;  // entries 1 … lo are at or below the key
    int hi = page.Count();
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (comparer_.CompareKeys(page.Key(mid), key) <= 0) lo = mid;
        else hi = mid - 1;
    }
    exact = page.IsLeaf() && lo >= 1 && comparer_.CompareKeys(page.Key(lo), key) == 0;
    return lo < 1 ? 1 : lo;
}

int TIndexTree::FindCeilingPosition(const TPage& page, const std::uint8_t* key) const {
    if (page.IsBranch()) {
        bool exact;
        return FindFloorPosition(page, key, exact);
    }
    const int below = FindInsertPosition(page, key);
    return below < page.Count() ? below + 1 : page.Count();
}

std::uint32_t TIndexTree::CountBefore(const TPage& page, int p) {
    if (!page.IsBranch()) return static_cast<std::uint32_t>(p > 0 ? p - 1 : 0);
    std::uint32_t sum = 0;
    for (int i = 1; i < p; ++i) sum += page.B(i);
    return sum;
}

// ---- upkeep of parents ----------------------------------------------------------------

TPageRef TIndexTree::Parent(const TIndexPath& path, int level, std::uint32_t child) {
    if (level <= 0 || level > path.depth) Corrupt();
    const TIndexPath::Level& up = path.levels[level - 1];
    TPageRef parent = Get(up.page);
    if (!parent->IsBranch() || up.position < 1 || up.position > parent->Count() || parent->A(up.position) != child)
        Corrupt();
    return parent;
}

// The first key of the page at `level` changed: the parent's entry for it
// follows, and so on upwards while the changed entry is the first of its page.
void TIndexTree::ReplaceSeparator(TIndexPath& path, int level, const std::uint8_t* key) {
    std::uint32_t child = path.levels[level].page;
    for (int l = level; l > 0; --l) {
        TPageRef parent = Parent(path, l, child);
        const int c = path.levels[l - 1].position;
        parent->SetKey(c, key);
        parent->modified = true;
        if (c != 1) break;
        child = parent->pageNumber;
    }
}

// ---- insertion ----------------------------------------------------------------------------

void TIndexTree::InsertEntry(TPage& page, TIndexPath& path, int level, int p, const std::uint8_t* key,
                             std::uint32_t a, std::uint32_t b) {
    page.InsertAt(p, key, a, b);
    page.modified = true;
    if (p == 0 && level > 0) ReplaceSeparator(path, level, page.Key(1));
    if (page.Overfull()) Split(page, path, level);
}

void TIndexTree::Split(TPage& page, TIndexPath& path, int level) {
    const bool wasRoot = page.IsRoot();
    const bool branch = page.IsBranch();
    if (wasRoot && level != 0) file_.Raise(err::TableFull);
    if (wasRoot && path.depth >= kMaxTreeDepth) file_.Raise(err::TableFull);  // no room for another level
    TPageRef right(file_.AllocatePage(nullptr, slot_));
    if (!right) Corrupt();
    page.type = branch ? PageType::Branch : PageType::Leaf;
    right->type = page.type;
    // The page keeps the first n − ⌊n ÷ 2⌋ entries, the new right neighbour the rest.
    page.MoveLastTo(*right, page.Count() / 2);
    right->next = page.next;
    if (page.next != 0) {
        TPageRef after = Get(page.next);
        after->previous = right->pageNumber;
        after->modified = true;
    }
    page.next = right->pageNumber;
    right->previous = page.pageNumber;
    if (page.IsCompressedLeaf()) {
        // Compressed leaves are balanced by bytes, not by entries.
        const int limit = static_cast<int>(kPageDataSize);
        while (page.bytesUsed > limit && page.Count() > 1) page.MoveLastTo(*right, 1);
        while (right->bytesUsed > limit && right->Count() > 1) page.TakeFirstFrom(*right, 1);
        if (page.bytesUsed > limit || right->bytesUsed > limit) Corrupt();
    }
    page.modified = true;
    right->modified = true;

    if (wasRoot) {
        TPageRef root(file_.AllocatePage(nullptr, slot_));
        if (!root) Corrupt();
        root->type = PageType::RootBranch;
        root->InsertAt(0, page.Key(1), page.pageNumber, CountOf(page));
        root->InsertAt(1, right->Key(1), right->pageNumber, CountOf(*right));
        root->modified = true;
        file_.SetRootPage(slot_, root->pageNumber);
        return;
    }
    TPageRef parent = Parent(path, level, page.pageNumber);
    const int c = path.levels[level - 1].position;
    parent->SetB(c, CountOf(page));
    parent->modified = true;
    InsertEntry(*parent, path, level - 1, c, right->Key(1), right->pageNumber, CountOf(*right));
}

// ---- deletion -------------------------------------------------------------------------------

void TIndexTree::DeleteEntry(TPage& page, TIndexPath& path, int level, int p) {
    if (p < 1 || p > page.Count()) Corrupt();
    page.RemoveAt(p);
    page.modified = true;
    if (page.Count() > 0 && p == 1 && level > 0) ReplaceSeparator(path, level, page.Key(1));
    // In a compressed leaf the next entry now shares its leading bytes with
    // an earlier key, and may need more room than the removed entry freed
    // (when that one dropped a long zero tail): the page may have to split.
    if (page.Overfull()) {
        Split(page, path, level);
        return;
    }
    if (level == 0) {
        ShrinkRoot(page);
        return;
    }
    if (page.Underflow()) Rebalance(page, path, level);
}

// A root leaf left empty goes, and so does a root branch left with one child,
// which becomes the root.
void TIndexTree::ShrinkRoot(TPage& page) {
    if (page.Count() == 0) {
        file_.SetRootPage(slot_, 0);
        file_.FreePage(nullptr, &page);
        return;
    }
    if (!page.IsBranch() || page.Count() != 1) return;
    TPageRef child = Get(page.A(1));
    child->type = child->IsLeaf() ? PageType::RootLeaf : PageType::RootBranch;
    child->previous = 0;
    child->next = 0;
    child->modified = true;
    file_.SetRootPage(slot_, child->pageNumber);
    file_.FreePage(nullptr, &page);
}

void TIndexTree::Rebalance(TPage& page, TIndexPath& path, int level) {
    TPageRef parent = Parent(path, level, page.pageNumber);
    const int c = path.levels[level - 1].position;

    if (page.IsCompressedLeaf()) {
        // Compressed leaves only go when empty: unlink, free, drop the parent's entry.
        if (page.previous != 0) {
            TPageRef before = Get(page.previous);
            before->next = page.next;
            before->modified = true;
        }
        if (page.next != 0) {
            TPageRef after = Get(page.next);
            after->previous = page.previous;
            after->modified = true;
        }
        file_.FreePage(nullptr, &page);
        DeleteEntry(*parent, path, level - 1, c);
        return;
    }

    const int capacity = page.Capacity();
    const bool lastChild = c == parent->Count();
    if (c != 1 || lastChild) {
        // A lone child has no neighbour under the same parent to lean on.
        if (c == 1) return;
        if (page.previous == 0 || page.previous != parent->A(c - 1)) Corrupt();
        TPageRef left = Get(page.previous);
        if (left->Count() + page.Count() < capacity) {
            left->TakeFirstFrom(page, page.Count());
            left->next = page.next;
            if (page.next != 0) {
                TPageRef after = Get(page.next);
                after->previous = left->pageNumber;
                after->modified = true;
            }
            left->modified = true;
            file_.FreePage(nullptr, &page);
            parent->SetB(c - 1, CountOf(*left));
            parent->modified = true;
            DeleteEntry(*parent, path, level - 1, c);
            return;
        }
        // Redistribute: the left page keeps the first ⌈T ÷ 2⌉ entries.
        const int total = left->Count() + page.Count();
        const int keep = (total + 1) / 2;
        if (left->Count() > keep) left->MoveLastTo(page, left->Count() - keep);
        else left->TakeFirstFrom(page, keep - left->Count());
        left->modified = true;
        page.modified = true;
        parent->SetKey(c, page.Key(1));
        parent->SetB(c, CountOf(page));
        parent->SetB(c - 1, CountOf(*left));
        parent->modified = true;
        return;
    }

    // The first child of several: lean on the right neighbour.
    if (page.next == 0 || page.next != parent->A(c + 1)) Corrupt();
    TPageRef right = Get(page.next);
    if (page.Count() + right->Count() < capacity) {
        page.MoveLastTo(*right, page.Count());
        right->previous = page.previous;
        if (page.previous != 0) {
            TPageRef before = Get(page.previous);
            before->next = right->pageNumber;
            before->modified = true;
        }
        right->modified = true;
        file_.FreePage(nullptr, &page);
        parent->SetKey(c + 1, right->Key(1));
        parent->SetB(c + 1, CountOf(*right));
        parent->modified = true;
        DeleteEntry(*parent, path, level - 1, c);
        return;
    }
    // Redistribute: this page keeps ⌊T ÷ 2⌋ entries.
    const int total = page.Count() + right->Count();
    const int keep = total / 2;
    if (page.Count() < keep) page.TakeFirstFrom(*right, keep - page.Count());
    else page.MoveLastTo(*right, page.Count() - keep);
    page.modified = true;
    right->modified = true;
    parent->SetKey(c + 1, right->Key(1));
    parent->SetB(c, CountOf(page));
    parent->SetB(c + 1, CountOf(*right));
    parent->modified = true;
    // A page that had run empty has a new first key now.
    if (std::memcmp(parent->Key(c), page.Key(1), page.KeyLength()) != 0) {
        parent.Reset();
        ReplaceSeparator(path, level, page.Key(1));
    }
}

// ---- read-ahead and ranges ----------------------------------------------------------------

int TIndexTree::ConsecutiveRecords(const TPage& page, int p, ReadDirection direction, int limit) {
    if (p < 1 || p > page.Count() || limit < 1) return 0;
    int n = 1;
    if (direction == ReadDirection::Forward) {
        while (n < limit && p + n <= page.Count() && page.A(p + n) == page.A(p + n - 1) + 1) ++n;
    } else {
        while (n < limit && p - n >= 1 && page.A(p - n) + 1 == page.A(p - n + 1)) ++n;
    }
    return n;
}

bool TIndexTree::CollectRecords(const TPage& page, int p, const std::uint8_t* bound, std::size_t boundLength,
                                const std::function<void(std::uint32_t)>& mark) const {
    for (int i = std::max(p, 1); i <= page.Count(); ++i) {
        if (comparer_.CompareKeys(page.Key(i), bound, boundLength) > 0) return false;
        mark(page.A(i));
    }
    return true;
}

// ---- whole descents ---------------------------------------------------------------------------

void TIndexTree::InsertKey(const std::uint8_t* key, std::uint32_t recordNumber) {
    const std::uint32_t root = file_.GetRootPage(slot_);
    TIndexPath path;
    if (root == 0) {
        TPageRef page(file_.AllocatePage(nullptr, slot_));
        if (!page) Corrupt();
        page->type = PageType::RootLeaf;
        page->InsertAt(0, key, recordNumber, 0);
        page->modified = true;
        file_.SetRootPage(slot_, page->pageNumber);
        return;
    }
    // Down the branches: the entry that takes the key (the first when the key
    // is below all), whose subtree count grows by one.
    std::uint32_t number = root;
    while (true) {
        TPageRef page = Get(number);
        if (page->IsLeaf()) {
            path.Push(number, 0, file_);
            const int p = FindInsertPosition(*page, key);
            path.Leaf().position = p;
            InsertEntry(*page, path, path.depth - 1, p, key, recordNumber, 0);
            return;
        }
        if (!page->IsBranch()) Corrupt();
        int p = FindInsertPosition(*page, key);
        if (p == 0) p = 1;
        path.Push(number, p, file_);
        if (page->Properties().HasCounts()) page->SetB(p, page->B(p) + 1);
        page->modified = true;
        number = page->A(p);
    }
}

bool TIndexTree::DeleteKey(const std::uint8_t* key) {
    TIndexPath path;
    bool exact = false;
    // Find it first, so that the counts change only when the key is there.
    std::uint32_t number = file_.GetRootPage(slot_);
    if (number == 0) return false;
    while (true) {
        TPageRef page = Get(number);
        const int p = FindFloorPosition(*page, key, exact);
        path.Push(number, p, file_);
        if (page->IsLeaf()) break;
        if (!page->IsBranch()) Corrupt();
        number = page->A(p);
    }
    if (!exact) return false;
    for (int l = 0; l + 1 < path.depth; ++l) {
        TPageRef page = Get(path.levels[l].page);
        const int p = path.levels[l].position;
        if (page->Properties().HasCounts()) {
            if (page->B(p) == 0) Corrupt();
            page->SetB(p, page->B(p) - 1);
        }
        page->modified = true;
    }
    TPageRef leaf = Get(path.Leaf().page);
    DeleteEntry(*leaf, path, path.depth - 1, path.Leaf().position);
    return true;
}

bool TIndexTree::Seek(const std::uint8_t* key, TIndexPath& path, bool& exact) {
    path.Clear();
    exact = false;
    std::uint32_t number = file_.GetRootPage(slot_);
    while (number != 0) {
        TPageRef page = Get(number, true);
        if (!page) return false;
        if (page->IsLeaf()) {
            const int p = FindCeilingPosition(*page, key);
            path.Push(number, p, file_);
            exact = comparer_.CompareKeys(page->Key(p), key) == 0;
            return true;
        }
        if (!page->IsBranch()) Corrupt();
        bool ignored;
        const int p = FindFloorPosition(*page, key, ignored);
        path.Push(number, p, file_);
        number = page->A(p);
    }
    return true;
}

std::uint32_t TIndexTree::KeyCount() {
    const std::uint32_t root = file_.GetRootPage(slot_);
    if (root == 0) return 0;
    TPageRef page = Get(root);
    return page->SubtreeCount();
}

std::uint32_t TIndexTree::OrdinalOf(const TIndexPath& path) {
    std::uint32_t before = 0;
    for (int l = 0; l < path.depth; ++l) {
        TPageRef page = Get(path.levels[l].page);
        before += CountBefore(*page, path.levels[l].position);
    }
    return before + 1;
}

bool TIndexTree::SeekOrdinal(std::uint32_t n, TIndexPath& path) {
    path.Clear();
    std::uint32_t number = file_.GetRootPage(slot_);
    if (number == 0 || n == 0) return false;
    std::uint32_t remaining = n;  // ordinal within the current subtree
    while (true) {
        TPageRef page = Get(number, true);
        if (!page) return false;
        if (page->IsLeaf()) {
            if (remaining > static_cast<std::uint32_t>(page->Count())) return false;
            path.Push(number, static_cast<int>(remaining), file_);
            return true;
        }
        if (!page->IsBranch()) Corrupt();
        int p = 1;
        while (p < page->Count() && remaining > page->B(p)) {
            remaining -= page->B(p);
            ++p;
        }
        if (remaining > page->B(p)) return false;
        path.Push(number, p, file_);
        number = page->A(p);
    }
}

}  // namespace pixhold::engine
