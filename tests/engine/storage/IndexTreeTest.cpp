#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <ostream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "BTree.h"
#include "IndexKey.h"
#include "IndexTestSupport.h"
#include "TableLocale.h"

namespace pixhold::engine::indextest {
namespace {

constexpr int kSlot = 1;

struct TreeConfig {
    const char* name;
    std::uint8_t compression = 0;
    bool unique = false;
    bool descending = false;
    bool fieldDescending = false;  // the string field runs descending
    std::uint32_t locale = 0;
    bool caseInsensitive = false;
    bool noCounts = false;
    std::uint8_t stringSize = 30;
    std::uint32_t cacheBytes = 8u << 20;  // room for every page unless a test wants evictions
    bool encrypted = false;
    int operations = 20000;
};

void PrintTo(const TreeConfig& config, std::ostream* os) { *os << config.name; }

// Orders model keys exactly as the index does.
struct ModelLess {
    const TKeyComparer* comparer;
    bool operator()(const Bytes& a, const Bytes& b) const { return comparer->CompareKeys(a.data(), b.data()) < 0; }
};

// One index over (Name string, Num integer) in an index file of its own, with
// an ordered model of the keys it must hold and a full structural check.
class TreeHarness {
public:
    explicit TreeHarness(const TreeConfig& config)
        : config_(config),
          fields_(LaidOut({Field("Name", fieldtype::String, config.stringSize), Field("Num", fieldtype::Integer)})),
          locale_(config.locale) {
        owner_.cacheBytes = config.cacheBytes;
        name_ = MemoryName(config.name);
        file_ = MakeFile();
        file_->CreateFile();
        file_->SetPrimaryIndex(IndexDescriptor{}, fields_);  // no primary fields
        IndexDescriptor d = Index("Ix", {1, 2}, config.unique, config.compression, config.descending);
        d.fieldDescending[0] = config.fieldDescending ? 1 : 0;
        d.caseInsensitive = config.caseInsensitive;
        d.noCounts = config.noCounts;
        EXPECT_EQ(file_->AddSecondaryIndex(d, fields_), kSlot);
        layout_ = TKeyLayout::For(file_->GetIndexDescriptor(kSlot), kSlot, fields_);
        comparer_ = std::make_unique<TKeyComparer>(layout_, config.locale);
        builder_ = std::make_unique<TKeyBuilder>(layout_, locale_, (config.locale & 0xFFFF) == 0);
        model_ = std::make_unique<std::map<Bytes, std::uint32_t, ModelLess>>(ModelLess{comparer_.get()});
        file_->WriteHeader();
    }

    ~TreeHarness() {
        if (file_) {
            file_->CloseFile();
            file_->DeleteFile();
        }
    }

    std::unique_ptr<TIndexFile> MakeFile() {
        auto f = std::make_unique<TIndexFile>(owner_);
        f->Name = name_;
        f->InMemory = true;
        f->Encrypted = config_.encrypted;
        return f;
    }

    TIndexTree Tree() { return TIndexTree(*file_, kSlot, *comparer_); }

    Bytes RandomRecord(std::mt19937& random) {
        static const char* const prefixes[] = {"IMG_2024_", "DSC", "holiday-pictures-from-the-lake-", "a", ""};
        Bytes record(ComputeRecordSize(fields_), 0);
        record[recordlayout::RecordID] = 0;
        const std::uint32_t id = ++lastID_;
        for (int i = 0; i < 4; ++i) record[recordlayout::RecordID + i] = static_cast<std::uint8_t>(id >> (8 * i));
        const FieldDescriptor& name = fields_[0];
        if (random() % 20 != 0) {
            std::string s = prefixes[random() % 5];
            const int digits = static_cast<int>(random() % 7);
            for (int i = 0; i < digits; ++i) s += static_cast<char>('0' + random() % 10);
            if (random() % 3 == 0) s += static_cast<char>('a' + random() % 26);
            if (random() % 5 == 0) s += static_cast<char>('A' + random() % 26);
            s.resize(std::min<std::size_t>(s.size(), config_.stringSize));
            if (!s.empty()) {
                record[name.offset] = 1;
                std::memcpy(record.data() + name.offset + 1, s.data(), s.size());
            }
        }
        const FieldDescriptor& num = fields_[1];
        if (random() % 20 != 0) {
            record[num.offset] = 1;
            const std::int32_t v = static_cast<std::int32_t>(random() % 2001) - 1000;
            for (int i = 0; i < 4; ++i)
                record[num.offset + 1 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
        }
        return record;
    }

    // Inserts a random record's key unless a unique index already holds an
    // equal one (the cursor would refuse that record).
    void InsertRandom(std::mt19937& random) {
        const Bytes key = builder_->Build(RandomRecord(random).data());
        if (model_->count(key) != 0) return;
        const std::uint32_t recordNumber = 1 + random() % 5000000;
        const std::uint32_t pagesBefore = file_->PageCount();
        Tree().InsertKey(key.data(), recordNumber);
        // Pages are appended only when the free chain is used up.
        if (file_->PageCount() > pagesBefore && file_->GetFirstFreePage(kSlot) != 0) ++appendsWithFreePages_;
        model_->emplace(key, recordNumber);
        keys_.push_back(key);
        ++operations_;
    }

    void DeleteRandom(std::mt19937& random) {
        if (keys_.empty()) return;
        const std::size_t i = random() % keys_.size();
        const Bytes key = keys_[i];
        keys_[i] = keys_.back();
        keys_.pop_back();
        if (!Tree().DeleteKey(key.data())) ++missedDeletes_;
        model_->erase(key);
        ++operations_;
    }

    bool DeleteAbsent(std::mt19937& random) {
        // A key never inserted: deleting it changes nothing, counts included.
        Bytes key = builder_->Build(RandomRecord(random).data());
        if (model_->count(key) != 0) return true;
        return !Tree().DeleteKey(key.data());
    }

    // ---- the structural check ----

    struct Walk {
        std::vector<std::vector<std::uint32_t>> levels;  // pages of each level, left to right
        std::vector<std::pair<Bytes, std::uint32_t>> entries;
        std::set<std::uint32_t> pages;
    };

    std::uint32_t Visit(std::uint32_t number, std::size_t depth, Walk& walk) {
        TPageRef page(file_->GetPage(nullptr, kSlot, number));
        EXPECT_TRUE(walk.pages.insert(number).second) << "page " << number << " reached twice";
        if (walk.levels.size() <= depth) walk.levels.resize(depth + 1);
        walk.levels[depth].push_back(number);
        const int k = page->KeyLength();
        EXPECT_EQ(page->IsRoot(), depth == 0) << "page " << number;
        EXPECT_GE(page->Count(), 1) << "page " << number;
        for (int i = 2; i <= page->Count(); ++i)
            if (comparer_->CompareKeys(page->Key(i - 1), page->Key(i)) >= 0) {
                ADD_FAILURE() << "entries out of order in page " << number;
                break;
            }
        // Fill rules.
        if (page->IsCompressedLeaf()) {
            const int used = page->bytesUsed;
            EXPECT_LE(used, 4083);
            page->RecomputeCompression();
            EXPECT_EQ(page->bytesUsed, used) << "bytes used of page " << number;
        } else if (depth > 0) {
            EXPECT_GE(page->Count(), page->Capacity() / 2) << "page " << number << " underfull";
            EXPECT_LE(page->Count(), page->Capacity()) << "page " << number << " overfull";
        } else if (page->IsBranch()) {
            EXPECT_GE(page->Count(), 2) << "root branch with one child";
        }
        if (page->IsLeaf()) {
            for (int i = 1; i <= page->Count(); ++i)
                walk.entries.emplace_back(Bytes(page->Key(i), page->Key(i) + k), page->A(i));
            return static_cast<std::uint32_t>(page->Count());
        }
        std::uint32_t total = 0;
        for (int i = 1; i <= page->Count(); ++i) {
            const std::size_t before = walk.entries.size();
            const std::uint32_t below = Visit(page->A(i), depth + 1, walk);
            if (walk.entries.size() > before) {
                EXPECT_EQ(0, std::memcmp(walk.entries[before].first.data(), page->Key(i), static_cast<std::size_t>(k)))
                    << "separator " << i << " of page " << number << " is not its child's first key";
            }
            if (!config_.noCounts) {
                EXPECT_EQ(page->B(i), below) << "count " << i << " of page " << number;
            }
            total += below;
        }
        return total;
    }

    void Check(const std::string& when) {
        SCOPED_TRACE(when);
        EXPECT_EQ(missedDeletes_, 0);
        EXPECT_EQ(appendsWithFreePages_, 0);
        Walk walk;
        const std::uint32_t root = file_->GetRootPage(kSlot);
        if (model_->empty()) {
            EXPECT_EQ(root, 0u);
        } else {
            ASSERT_NE(root, 0u);
            Visit(root, 0, walk);
        }
        // Every leaf is on the last level; each level is one linked list.
        std::set<std::uint32_t> leafPages;
        for (std::size_t depth = 0; depth < walk.levels.size(); ++depth) {
            const auto& level = walk.levels[depth];
            for (std::size_t i = 0; i < level.size(); ++i) {
                TPageRef page(file_->GetPage(nullptr, kSlot, level[i]));
                EXPECT_EQ(page->previous, i == 0 ? 0u : level[i - 1]) << "previous of page " << level[i];
                EXPECT_EQ(page->next, i + 1 == level.size() ? 0u : level[i + 1]) << "next of page " << level[i];
                EXPECT_EQ(page->IsLeaf(), depth + 1 == walk.levels.size()) << "page " << level[i];
            }
        }
        // The keys are the model's, in its order, with their record numbers.
        ASSERT_EQ(walk.entries.size(), model_->size());
        std::size_t rank = 0;
        for (const auto& [key, recordNumber] : *model_) {
            ASSERT_EQ(walk.entries[rank].first, key) << "key " << rank + 1;
            ASSERT_EQ(walk.entries[rank].second, recordNumber) << "record of key " << rank + 1;
            ++rank;
        }
        if (!config_.noCounts) CheckOrdinals();
        CheckFreeChain(walk.pages);
    }

    void CheckOrdinals() {
        TIndexTree tree = Tree();
        EXPECT_EQ(tree.KeyCount(), model_->size());
        std::uint32_t rank = 0;
        int wrong = 0;
        for (const auto& entry : *model_) {
            ++rank;
            TIndexPath path;
            bool exact = false;
            ASSERT_TRUE(tree.Seek(entry.first.data(), path, exact));
            if (!exact || tree.OrdinalOf(path) != rank) ++wrong;
            TIndexPath byOrdinal;
            if (!tree.SeekOrdinal(rank, byOrdinal) || byOrdinal.Leaf().page != path.Leaf().page ||
                byOrdinal.Leaf().position != path.Leaf().position)
                ++wrong;
        }
        EXPECT_EQ(wrong, 0) << "keys whose ordinal position is wrong";
        TIndexPath past;
        EXPECT_FALSE(tree.SeekOrdinal(rank + 1, past));
    }

    void CheckFreeChain(const std::set<std::uint32_t>& treePages) {
        std::set<std::uint32_t> all = treePages;
        std::uint32_t next = file_->GetFirstFreePage(kSlot);
        while (next != 0) {
            EXPECT_TRUE(all.insert(next).second) << "free page " << next << " is in use or listed twice";
            if (all.size() > file_->PageCount()) break;
            TPageRef page(file_->GetPage(nullptr, kSlot, next));
            EXPECT_EQ(page->Count(), 0);
            next = page->next;
        }
        // No page is lost: the tree and the free chain hold all of them.
        EXPECT_EQ(all.size(), file_->PageCount());
        if (!all.empty()) {
            EXPECT_EQ(*all.rbegin(), file_->PageCount());
        }
    }

    // Writes everything, closes and reopens the file: the same bytes, the same answers.
    void ReopenUnchanged() {
        file_->WriteHeader();
        file_->FlushPages(false);
        const Bytes before = FileBytes();
        const IndexFileHeader header = file_->Header();
        file_->CloseFile();
        file_ = MakeFile();
        file_->OpenFile();
        EXPECT_EQ(file_->Header(), header);
        EXPECT_EQ(FileBytes(), before);
        Check("after reopening");
    }

    Bytes FileBytes() {
        const auto size = static_cast<std::size_t>(file_->GetFileSize());
        Bytes bytes(size);
        FileAccessGuard guard(*file_);
        file_->SeekFile(SeekOrigin::Begin, 0);
        file_->ReadBuffer(bytes.data(), size);
        return bytes;
    }

    TIndexFile& File() { return *file_; }
    std::size_t Size() const { return model_->size(); }
    long Operations() const { return operations_; }

private:
    TreeConfig config_;
    IndexOwner owner_;
    std::vector<FieldDescriptor> fields_;
    TableLocale locale_;
    std::string name_;
    std::unique_ptr<TIndexFile> file_;
    TKeyLayout layout_;
    std::unique_ptr<TKeyComparer> comparer_;
    std::unique_ptr<TKeyBuilder> builder_;
    std::unique_ptr<std::map<Bytes, std::uint32_t, ModelLess>> model_;
    std::vector<Bytes> keys_;
    std::uint32_t lastID_ = 0;
    long operations_ = 0;
    int missedDeletes_ = 0;
    int appendsWithFreePages_ = 0;
};

// Runs phases of growing and shrinking, now and then down to an empty index,
// checking the whole structure after every batch.
long RunRandomOperations(const TreeConfig& config, std::uint32_t seed) {
    TreeHarness harness(config);
    std::mt19937 random(seed);
    const int scale = LongTests() ? 10 : 1;
    const int total = config.operations * scale;
    const int batch = 2000;
    // Per round of a cycle of eight, the share of inserts: the index grows to
    // a few thousand keys (several levels for wide keys), shrinks through
    // merges and redistributions, and at the end of the cycle runs empty.
    static const int insertPercents[8] = {80, 80, 80, 30, 70, 30, 20, 0};
    int done = 0;
    int round = 0;
    std::size_t peak = 0;
    while (done < total) {
        ++round;
        const int insertPercent = insertPercents[(round - 1) % 8];
        for (int i = 0; i < batch && done < total; ++i, ++done) {
            if (insertPercent == 0 && harness.Size() == 0) break;
            if (static_cast<int>(random() % 100) < insertPercent) harness.InsertRandom(random);
            else harness.DeleteRandom(random);
        }
        if (round % 7 == 0) {
            EXPECT_TRUE(harness.DeleteAbsent(random));
        }
        peak = std::max(peak, harness.Size());
        harness.Check("round " + std::to_string(round));
        if (::testing::Test::HasFailure()) return harness.Operations();
        // Now and then everything goes to the file and is read back from it.
        if (round % 3 == 0) {
            harness.File().FlushPages(false);
            harness.File().ClearPages(false);
        }
    }
    harness.ReopenUnchanged();
    // The cycles reached a tree of some size.
    EXPECT_GT(peak, 2000u);
    return harness.Operations();
}

class IndexTreeProperty : public ::testing::TestWithParam<TreeConfig> {};

TEST_P(IndexTreeProperty, RandomInsertsAndDeletesKeepEveryInvariant) {
    const TreeConfig& config = GetParam();
    const long operations = RunRandomOperations(config, 20261209u + config.compression * 7u + (config.unique ? 1u : 0u));
    EXPECT_GT(operations, config.operations / 2);
}

std::vector<TreeConfig> Configs() {
    std::vector<TreeConfig> configs;
    static const char* const names[4][2][2] = {
        {{"plain", "plainDesc"}, {"plainUnique", "plainUniqueDesc"}},
        {{"duplicate", "duplicateDesc"}, {"duplicateUnique", "duplicateUniqueDesc"}},
        {{"trailing", "trailingDesc"}, {"trailingUnique", "trailingUniqueDesc"}},
        {{"full", "fullDesc"}, {"fullUnique", "fullUniqueDesc"}},
    };
    for (std::uint8_t compression = 0; compression <= 3; ++compression)
        for (bool unique : {false, true})
            for (bool descending : {false, true}) {
                TreeConfig c;
                c.name = names[compression][unique][descending];
                c.compression = compression;
                c.unique = unique;
                c.descending = descending;
                configs.push_back(c);
            }
    TreeConfig c;
    c = {};
    c.name = "descendingField";
    c.compression = 3;
    c.fieldDescending = true;
    configs.push_back(c);
    c = {};
    c.name = "localeCaseInsensitive";
    c.compression = 1;
    c.locale = 1033;
    c.caseInsensitive = true;
    c.fieldDescending = true;
    c.operations = 8000;
    configs.push_back(c);
    c = {};
    c.name = "wideKeys";
    c.stringSize = 250;
    configs.push_back(c);
    c = {};
    c.name = "wideKeysFull";
    c.stringSize = 250;
    c.compression = 3;
    c.unique = true;
    configs.push_back(c);
    c = {};
    c.name = "noCounts";
    c.noCounts = true;
    c.unique = true;
    configs.push_back(c);
    // The default cache of two pages per index: pages are evicted, flushed
    // and read back (enciphered) all the time.
    c = {};
    c.name = "smallCacheEncrypted";
    c.compression = 3;
    c.cacheBytes = 16384;
    c.encrypted = true;
    c.operations = 8000;
    configs.push_back(c);
    c = {};
    c.name = "smallCachePlain";
    c.stringSize = 120;
    c.cacheBytes = 16384;
    c.operations = 8000;
    configs.push_back(c);
    return configs;
}

INSTANTIATE_TEST_SUITE_P(Kinds, IndexTreeProperty, ::testing::ValuesIn(Configs()),
                         [](const ::testing::TestParamInfo<TreeConfig>& param) { return std::string(param.param.name); });

// ---- particular cases ------------------------------------------------------------

// A unique index over one integer field (K = 5) in a file of its own.
class IntegerIndex : public ::testing::Test {
protected:
    void SetUp() override {
        owner.cacheBytes = 8u << 20;
        file.Name = MemoryName("integer");
        file.InMemory = true;
        file.CreateFile();
        fields = LaidOut({Field("N", fieldtype::Integer)});
        slot = file.AddSecondaryIndex(Index("N", {1}, true), fields);
        layout = TKeyLayout::For(file.GetIndexDescriptor(slot), slot, fields);
        comparer = std::make_unique<TKeyComparer>(layout, 0);
    }
    void TearDown() override {
        file.CloseFile();
        file.DeleteFile();
    }
    static Bytes Key(std::int32_t n) {
        Bytes key(5, 1);
        keycodec::PutInt32(key.data() + 1, n);
        return key;
    }
    TIndexTree Tree() { return TIndexTree(file, slot, *comparer); }
    // Leaf page numbers left to right.
    std::vector<std::uint32_t> Leaves() {
        std::vector<std::uint32_t> leaves;
        std::uint32_t number = file.GetRootPage(slot);
        while (number != 0) {
            TPageRef page(file.GetPage(nullptr, slot, number));
            if (page->IsLeaf()) break;
            number = page->A(1);
        }
        while (number != 0) {
            leaves.push_back(number);
            TPageRef page(file.GetPage(nullptr, slot, number));
            number = page->next;
        }
        return leaves;
    }

    IndexOwner owner;
    TIndexFile file{owner};
    std::vector<FieldDescriptor> fields;
    int slot = 0;
    TKeyLayout layout;
    std::unique_ptr<TKeyComparer> comparer;
};

TEST_F(IntegerIndex, AscendingInsertsLeaveEveryLeftPageHalfFull) {
    for (int n = 1; n <= 1000; ++n) Tree().InsertKey(Key(n).data(), static_cast<std::uint32_t>(n));
    // A leaf holds 4083 / 9 = 453 entries; the 454th splits it 227 : 227.
    const std::vector<std::uint32_t> leaves = Leaves();
    // Each split leaves 227 behind and the last leaf takes what follows.
    ASSERT_EQ(leaves.size(), 4u);
    for (std::size_t i = 0; i + 1 < leaves.size(); ++i) {
        TPageRef page(file.GetPage(nullptr, slot, leaves[i]));
        EXPECT_EQ(page->Count(), 227) << "leaf " << i + 1;
    }
    TPageRef last(file.GetPage(nullptr, slot, leaves.back()));
    EXPECT_EQ(last->Count(), 1000 - 3 * 227);
    EXPECT_EQ(Tree().KeyCount(), 1000u);
}

TEST_F(IntegerIndex, DeletingTheFirstKeyOfALeafMovesTheSeparatorsAbove) {
    // Three levels: 200000 keys of 9 bytes per leaf entry.
    for (int n = 1; n <= 200000; ++n) Tree().InsertKey(Key(n * 2).data(), static_cast<std::uint32_t>(n));
    TIndexPath path;
    bool exact = false;
    ASSERT_TRUE(Tree().Seek(Key(2).data(), path, exact));
    ASSERT_EQ(path.depth, 3);
    ASSERT_TRUE(Tree().DeleteKey(Key(2).data()));
    for (std::uint32_t number = file.GetRootPage(slot); number != 0;) {
        TPageRef page(file.GetPage(nullptr, slot, number));
        EXPECT_EQ(Bytes(page->Key(1), page->Key(1) + 5), Key(4)) << "page " << number;
        number = page->IsBranch() ? page->A(1) : 0;
    }
    // A key below all others goes first and moves them back.
    Tree().InsertKey(Key(1).data(), 7);
    ASSERT_TRUE(Tree().Seek(Key(1).data(), path, exact));
    EXPECT_TRUE(exact);
    EXPECT_EQ(Tree().OrdinalOf(path), 1u);
    TPageRef root(file.GetPage(nullptr, slot, file.GetRootPage(slot)));
    EXPECT_EQ(Bytes(root->Key(1), root->Key(1) + 5), Key(1));
}

TEST_F(IntegerIndex, DeletingEveryKeyFreesEveryPageForReuseLastInFirstOut) {
    std::vector<int> numbers(3000);
    for (int i = 0; i < 3000; ++i) numbers[i] = i + 1;
    std::mt19937 random(7);
    std::shuffle(numbers.begin(), numbers.end(), random);
    for (int n : numbers) Tree().InsertKey(Key(n).data(), static_cast<std::uint32_t>(n));
    const std::uint32_t pages = file.PageCount();
    ASSERT_GT(pages, 8u);
    std::shuffle(numbers.begin(), numbers.end(), random);
    for (int n : numbers) ASSERT_TRUE(Tree().DeleteKey(Key(n).data()));
    EXPECT_EQ(file.GetRootPage(slot), 0u);
    // The chain holds every page, the last freed first.
    std::vector<std::uint32_t> chain;
    for (std::uint32_t next = file.GetFirstFreePage(slot); next != 0 && chain.size() <= pages;) {
        chain.push_back(next);
        TPageRef page(file.GetPage(nullptr, slot, next));
        next = page->next;
    }
    ASSERT_EQ(chain.size(), pages);
    // New pages come from the head of the chain, in its order.
    for (std::size_t taken = 0; taken < 5; ++taken) {
        TPageRef page(file.AllocatePage(nullptr, slot));
        EXPECT_EQ(page->pageNumber, chain[taken]);
        EXPECT_EQ(page->Count(), 0);
    }
    EXPECT_EQ(file.GetFirstFreePage(slot), chain[5]);
    EXPECT_EQ(file.PageCount(), pages);
}

TEST_F(IntegerIndex, ConsecutiveRecordsAndCollectRecords) {
    // Record numbers 10, 11, 12, 40, 41 in key order.
    const std::uint32_t records[] = {10, 11, 12, 40, 41};
    for (int i = 0; i < 5; ++i) Tree().InsertKey(Key(i + 1).data(), records[i]);
    TPageRef leaf(file.GetPage(nullptr, slot, file.GetRootPage(slot)));
    EXPECT_EQ(TIndexTree::ConsecutiveRecords(*leaf, 1, ReadDirection::Forward, 8), 3);
    EXPECT_EQ(TIndexTree::ConsecutiveRecords(*leaf, 1, ReadDirection::Forward, 2), 2);
    EXPECT_EQ(TIndexTree::ConsecutiveRecords(*leaf, 3, ReadDirection::Backward, 8), 3);
    EXPECT_EQ(TIndexTree::ConsecutiveRecords(*leaf, 4, ReadDirection::Forward, 8), 2);
    EXPECT_EQ(TIndexTree::ConsecutiveRecords(*leaf, 4, ReadDirection::Backward, 8), 1);
    std::vector<std::uint32_t> marked;
    auto mark = [&](std::uint32_t r) { marked.push_back(r); };
    EXPECT_FALSE(Tree().CollectRecords(*leaf, 2, Key(4).data(), 5, mark));
    EXPECT_EQ(marked, (std::vector<std::uint32_t>{11, 12, 40}));
    marked.clear();
    EXPECT_TRUE(Tree().CollectRecords(*leaf, 4, Key(99).data(), 5, mark));
    EXPECT_EQ(marked, (std::vector<std::uint32_t>{40, 41}));
}

TEST_F(IntegerIndex, SearchesInAPage) {
    for (int n : {10, 20, 30}) Tree().InsertKey(Key(n).data(), static_cast<std::uint32_t>(n));
    TPageRef leaf(file.GetPage(nullptr, slot, file.GetRootPage(slot)));
    TIndexTree tree = Tree();
    struct Case {
        int key, insert, floor;
        bool exact;
        int ceiling;
    };
    for (const Case& c : {Case{5, 0, 1, false, 1}, Case{10, 0, 1, true, 1}, Case{15, 1, 1, false, 2},
                          Case{20, 1, 2, true, 2}, Case{30, 2, 3, true, 3}, Case{35, 3, 3, false, 3}}) {
        SCOPED_TRACE(c.key);
        bool exact = false;
        EXPECT_EQ(tree.FindInsertPosition(*leaf, Key(c.key).data()), c.insert);
        EXPECT_EQ(tree.FindFloorPosition(*leaf, Key(c.key).data(), exact), c.floor);
        EXPECT_EQ(exact, c.exact);
        EXPECT_EQ(tree.FindCeilingPosition(*leaf, Key(c.key).data()), c.ceiling);
    }
    EXPECT_EQ(TIndexTree::CountBefore(*leaf, 3), 2u);
    // An empty page cannot be searched.
    TPageRef empty(file.AllocatePage(nullptr, slot));
    EXPECT_EQ(CodeOf([&] { tree.FindInsertPosition(*empty, Key(1).data()); }), err::IndexPagesCorrupt);
}

TEST(IndexTreeCompression, FullCompressionPacksLongPrefixesAndReadsBackTheSameKeys) {
    IndexOwner owner;
    owner.cacheBytes = 8u << 20;
    TIndexFile file(owner);
    file.Name = MemoryName("compress");
    file.InMemory = true;
    file.CreateFile();
    const auto fields = LaidOut({Field("Path", fieldtype::String, 120)});
    const int plain = file.AddSecondaryIndex(Index("Plain", {1}, false, 0), fields);
    const int full = file.AddSecondaryIndex(Index("Full", {1}, false, 3), fields);
    const TableLocale locale(0);
    std::vector<std::unique_ptr<TKeyComparer>> comparers;
    for (int slot : {plain, full}) {
        const TKeyLayout layout = TKeyLayout::For(file.GetIndexDescriptor(slot), slot, fields);
        comparers.push_back(std::make_unique<TKeyComparer>(layout, 0));
        const TKeyBuilder builder(layout, locale, true);
        TIndexTree tree(file, slot, *comparers.back());
        for (std::uint32_t i = 1; i <= 4000; ++i) {
            Bytes record(ComputeRecordSize(fields), 0);
            record[recordlayout::RecordID] = static_cast<std::uint8_t>(i);
            record[recordlayout::RecordID + 1] = static_cast<std::uint8_t>(i >> 8);
            const std::string path = "/home/user/pictures/2026/holiday/lake/IMG_" + std::to_string(100000 + i * 7919 % 4000);
            record[fields[0].offset] = 1;
            std::memcpy(record.data() + fields[0].offset + 1, path.data(), path.size());
            tree.InsertKey(builder.Build(record.data()).data(), i);
        }
    }
    auto leafKeys = [&](int slot, std::size_t& leafCount) {
        std::vector<std::pair<Bytes, std::uint32_t>> keys;
        std::uint32_t number = file.GetRootPage(slot);
        for (;;) {
            TPageRef page(file.GetPage(nullptr, slot, number));
            if (page->IsLeaf()) break;
            number = page->A(1);
        }
        leafCount = 0;
        while (number != 0) {
            TPageRef page(file.GetPage(nullptr, slot, number));
            ++leafCount;
            for (int i = 1; i <= page->Count(); ++i)
                keys.emplace_back(Bytes(page->Key(i), page->Key(i) + page->KeyLength()), page->A(i));
            number = page->next;
        }
        return keys;
    };
    file.FlushPages(false);
    file.ClearPages(false);  // read back from the file
    std::size_t plainLeaves = 0;
    std::size_t fullLeaves = 0;
    const auto plainKeys = leafKeys(plain, plainLeaves);
    const auto fullKeys = leafKeys(full, fullLeaves);
    EXPECT_EQ(plainKeys.size(), 4000u);
    EXPECT_EQ(fullKeys, plainKeys);
    EXPECT_LT(fullLeaves * 4, plainLeaves) << plainLeaves << " plain leaves, " << fullLeaves << " compressed";
    file.CloseFile();
    file.DeleteFile();
}

}  // namespace
}  // namespace pixhold::engine::indextest

namespace pixhold::engine::indextest {
namespace {

// Removing an entry whose zero tail was dropped makes the next entry share
// its leading bytes with an earlier key: that entry grows by far more than
// the removed one freed, and the leaf must split instead of overflowing.
TEST(IndexTreeCompression, ADeletionThatGrowsACompressedLeafSplitsIt) {
    IndexOwner owner;
    owner.cacheBytes = 8u << 20;
    TIndexFile file(owner);
    file.Name = MemoryName("grow");
    file.InMemory = true;
    file.CreateFile();
    const auto fields = LaidOut({Field("Name", fieldtype::String, 250), Field("Num", fieldtype::Integer)});
    const int slot = file.AddSecondaryIndex(Index("Ix", {1, 2}, true, 3), fields);
    const TKeyLayout layout = TKeyLayout::For(file.GetIndexDescriptor(slot), slot, fields);
    ASSERT_EQ(layout.keyLength, 257);
    const TKeyComparer comparer(layout, 0);
    auto key = [](const std::string& name, const std::int32_t* num) {
        Bytes k(257, 0);
        k[0] = 1;
        std::copy(name.begin(), name.end(), k.begin() + 1);
        if (num != nullptr) {
            k[252] = 1;
            keycodec::PutInt32(k.data() + 253, *num);
        }
        return k;
    };
    const std::int32_t one = 1, zero = 0, seven = 7;
    std::vector<Bytes> keys = {key("a", &one), key("b", nullptr), key("b", &zero)};
    for (int i = 0; i < 14; ++i) {
        std::string name = "c" + std::to_string(10 + i);
        for (int j = 0; j < 240; ++j) name += static_cast<char>('a' + (i * 7 + j) % 26);
        keys.push_back(key(name, &seven));
    }
    TIndexTree tree(file, slot, comparer);
    for (std::size_t i = 0; i < keys.size(); ++i) tree.InsertKey(keys[i].data(), static_cast<std::uint32_t>(i + 1));
    {
        TPageRef root(file.GetPage(nullptr, slot, file.GetRootPage(slot)));
        ASSERT_TRUE(root->IsLeaf()) << "all keys should fit one leaf before the deletion";
        EXPECT_LE(root->bytesUsed, 4083);
    }
    ASSERT_TRUE(tree.DeleteKey(keys[1].data()));
    keys.erase(keys.begin() + 1);
    TPageRef root(file.GetPage(nullptr, slot, file.GetRootPage(slot)));
    ASSERT_TRUE(root->IsBranch());
    EXPECT_EQ(root->Count(), 2);
    EXPECT_EQ(root->B(1) + root->B(2), keys.size());
    root.Reset();
    file.FlushPages(false);
    file.ClearPages(false);
    std::vector<Bytes> stored;
    for (std::uint32_t ordinal = 1; ordinal <= keys.size(); ++ordinal) {
        TIndexPath path;
        ASSERT_TRUE(tree.SeekOrdinal(ordinal, path));
        TPageRef leaf(file.GetPage(nullptr, slot, path.Leaf().page));
        EXPECT_LE(leaf->bytesUsed, 4083);
        stored.emplace_back(leaf->Key(path.Leaf().position), leaf->Key(path.Leaf().position) + 257);
    }
    EXPECT_EQ(stored, keys);
    file.CloseFile();
    file.DeleteFile();
}

}  // namespace
}  // namespace pixhold::engine::indextest

namespace pixhold::engine::indextest {
namespace {

// The text index: 68-byte keys (3 bytes, a word compared by the collation, 4
// bytes), full compression, branches without counts.
TEST(IndexTextTree, WordsComeBackInCollationOrderThroughBranchesWithoutCounts) {
    IndexOwner owner;
    owner.cacheBytes = 8u << 20;
    TIndexFile file(owner);
    file.Name = MemoryName("text");
    file.InMemory = true;
    file.CreateFile();
    const auto fields = LaidOut({Field("Notes", fieldtype::Blob, 0, fieldsubtype::Memo)});
    file.SetTextIndex(Index("", {1}), fields);
    const TKeyLayout layout = TKeyLayout::For(file.GetIndexDescriptor(kTextSlot), kTextSlot, fields);
    ASSERT_EQ(layout.kind, TKeyLayout::Kind::Text);
    const TKeyComparer comparer(layout, 0);
    std::mt19937 random(5);
    std::vector<Bytes> keys;
    std::set<Bytes> seen;
    TIndexTree tree(file, kTextSlot, comparer);
    while (keys.size() < 3000) {
        Bytes key(68, 0);
        key[2] = static_cast<std::uint8_t>(random() % 2);
        const int length = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) {
            const int c = static_cast<int>(random() % 30);
            key[3 + i] = static_cast<std::uint8_t>(c < 26 ? 'a' + c : 'A' + c - 26);
        }
        keycodec::PutInt32(key.data() + 64, static_cast<std::int32_t>(keys.size() + 1));
        if (!seen.insert(key).second) continue;
        tree.InsertKey(key.data(), static_cast<std::uint32_t>(keys.size() + 1));
        keys.push_back(key);
    }
    // Remove a third of them again.
    std::shuffle(keys.begin(), keys.end(), random);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(tree.DeleteKey(keys.back().data()));
        keys.pop_back();
    }
    std::sort(keys.begin(), keys.end(),
              [&](const Bytes& a, const Bytes& b) { return comparer.CompareKeys(a.data(), b.data()) < 0; });
    file.FlushPages(false);
    file.ClearPages(false);
    std::uint32_t number = file.GetRootPage(kTextSlot);
    int levels = 1;
    for (;;) {
        TPageRef page(file.GetPage(nullptr, kTextSlot, number));
        if (page->IsLeaf()) break;
        for (int i = 1; i <= page->Count(); ++i) EXPECT_EQ(page->B(i), 0u);
        number = page->A(1);
        ++levels;
    }
    EXPECT_GE(levels, 2);
    std::vector<Bytes> stored;
    while (number != 0) {
        TPageRef page(file.GetPage(nullptr, kTextSlot, number));
        for (int i = 1; i <= page->Count(); ++i) stored.emplace_back(page->Key(i), page->Key(i) + 68);
        number = page->next;
    }
    EXPECT_EQ(stored, keys);
    file.CloseFile();
    file.DeleteFile();
}

}  // namespace
}  // namespace pixhold::engine::indextest
