#include "IndexTreeCheck.h"

#include <unordered_set>
#include <vector>

#include "BTree.h"
#include "EngineError.h"
#include "Page.h"

namespace pixhold::engine {

namespace {

class TTreeWalk {
public:
    TTreeWalk(TIndexFile& file, int slot, const TKeyComparer& comparer, std::uint32_t recordCount)
        : file_(file), slot_(slot), comparer_(comparer), recordCount_(recordCount),
          hasCounts_(PageProperties::Of(file.GetIndexDescriptor(slot), slot).HasCounts()) {}

    bool Run(std::uint32_t& keyCount) {
        keyCount = 0;
        const std::uint32_t root = file_.GetRootPage(slot_);
        if (root == 0) return true;
        std::uint32_t count = 0;
        if (!Walk(root, 0, count)) return false;
        // The last page of every level ends its list.
        for (const std::uint32_t last : lastAtLevel_) {
            TPageRef page(file_.GetPage(nullptr, slot_, last));
            if (page->next != 0) return false;
        }
        keyCount = count;
        return true;
    }

private:
    struct Entry {
        std::vector<std::uint8_t> key;
        std::uint32_t a = 0;
        std::uint32_t b = 0;
    };

    // The subtree below page `number` at `level`; `count` receives its leaf entries.
    bool Walk(std::uint32_t number, int level, std::uint32_t& count) {
        if (level >= kMaxTreeDepth || number == 0 || number > file_.PageCount(slot_)) return false;
        if (!visited_.insert(number).second) return false;
        std::vector<Entry> entries;
        bool leaf = false;
        {
            TPageRef page(file_.GetPage(nullptr, slot_, number));
            if (page->IsRoot() != (level == 0) || (!page->IsLeaf() && !page->IsBranch())) return false;
            if (page->Count() == 0) return false;
            leaf = page->IsLeaf();
            if (!LinkLevel(*page, level)) return false;
            entries.resize(static_cast<std::size_t>(page->Count()));
            for (int p = 1; p <= page->Count(); ++p) {
                Entry& e = entries[static_cast<std::size_t>(p - 1)];
                e.key.assign(page->Key(p), page->Key(p) + page->KeyLength());
                e.a = page->A(p);
                e.b = page->B(p);
                if (p > 1 && comparer_.CompareKeys(entries[static_cast<std::size_t>(p - 2)].key.data(), e.key.data()) >= 0)
                    return false;
            }
        }
        if (leaf) {
            if (leafLevel_ < 0) leafLevel_ = level;
            if (leafLevel_ != level) return false;
            for (const Entry& e : entries) {
                if (e.a == 0 || e.a > recordCount_) return false;
                if (!lastLeafKey_.empty() && comparer_.CompareKeys(lastLeafKey_.data(), e.key.data()) >= 0) return false;
                lastLeafKey_ = e.key;
            }
            count = static_cast<std::uint32_t>(entries.size());
            return true;
        }
        count = 0;
        for (const Entry& e : entries) {
            std::vector<std::uint8_t> firstKey;
            {
                if (e.a == 0 || e.a > file_.PageCount(slot_)) return false;
                TPageRef child(file_.GetPage(nullptr, slot_, e.a));
                if (child->Count() == 0) return false;
                firstKey.assign(child->Key(1), child->Key(1) + child->KeyLength());
            }
            if (comparer_.CompareKeys(firstKey.data(), e.key.data()) != 0) return false;
            std::uint32_t below = 0;
            if (!Walk(e.a, level + 1, below)) return false;
            if (hasCounts_ && below != e.b) return false;
            count += below;
        }
        return true;
    }

    // The page follows the last one seen on its level.
    bool LinkLevel(const TPage& page, int level) {
        if (static_cast<std::size_t>(level) >= lastAtLevel_.size()) {
            lastAtLevel_.push_back(page.pageNumber);
            return page.previous == 0;
        }
        std::uint32_t& last = lastAtLevel_[static_cast<std::size_t>(level)];
        if (page.previous != last) return false;
        TPageRef before(file_.GetPage(nullptr, slot_, last));
        if (before->next != page.pageNumber) return false;
        last = page.pageNumber;
        return true;
    }

    TIndexFile& file_;
    int slot_;
    const TKeyComparer& comparer_;
    std::uint32_t recordCount_;
    bool hasCounts_;
    std::unordered_set<std::uint32_t> visited_;
    std::vector<std::uint32_t> lastAtLevel_;
    std::vector<std::uint8_t> lastLeafKey_;
    int leafLevel_ = -1;
};

}  // namespace

bool CheckIndexTree(TIndexFile& file, int slot, const TKeyComparer& comparer, std::uint32_t recordCount,
                    std::uint32_t& keyCount) {
    keyCount = 0;
    try {
        return TTreeWalk(file, slot, comparer, recordCount).Run(keyCount);
    } catch (const ECofferEngineError&) {
        return false;
    }
}

}  // namespace pixhold::engine
