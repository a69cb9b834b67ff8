#include "TableKeys.h"

#include "DataTable.h"
#include "Record.h"

namespace pixhold::engine {

namespace {

void Prepare(TTableKeys::Index& index, TDataTable& table, int slot) {
    const TDataFile& data = table.DataFile();
    index.slot = slot;
    index.layout = TKeyLayout::For(table.IndexDefinition(slot), slot, data.Fields());
    index.comparer = std::make_unique<TKeyComparer>(index.layout, data.Header().Locale());
    index.builder = std::make_unique<TKeyBuilder>(index.layout, data.Locale(), data.Header().languageID == 0);
}

std::uint32_t IdOf(const std::uint8_t* record) {
    const std::uint8_t* p = record + recordlayout::RecordID;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

TTableKeys::TTableKeys(TDataTable& table) : table_(table) {
    const TIndexFile& file = table.IndexFile();
    auto add = [&](int slot) {
        auto index = std::make_unique<Index>();
        Prepare(*index, table, slot);
        indexes_.push_back(std::move(index));
    };
    if (!file.NoPrimaryFields() && file.GetIndexDescriptor(kPrimarySlot).fieldCount != 0) add(kPrimarySlot);
    for (int slot = 1; slot <= file.SecondaryCount(); ++slot) add(slot);
    Prepare(deleted_, table, kDeletedSlot);
}

TTableKeys::~TTableKeys() = default;

bool TTableKeys::Find(int slot, const TKeyComparer& comparer, const std::uint8_t* key, std::uint32_t& pointsAt) {
    TIndexTree tree(table_.IndexFile(), slot, comparer);
    TIndexPath path;
    bool exact = false;
    tree.Seek(key, path, exact);
    if (path.depth == 0 || !exact) return false;
    TPageRef page(table_.IndexFile().GetPage(nullptr, slot, path.Leaf().page));
    pointsAt = page->A(path.Leaf().position);
    return true;
}

const TTableKeys::Index* TTableKeys::FindDuplicate(const std::uint8_t* record, std::uint32_t recordNumber) {
    for (const auto& index : indexes_) {
        if (!index->layout.unique) continue;
        const std::vector<std::uint8_t> key = index->builder->Build(record);
        std::uint32_t other = 0;
        if (Find(index->slot, *index->comparer, key.data(), other) && other != recordNumber) return index.get();
    }
    return nullptr;
}

void TTableKeys::InsertActive(const std::uint8_t* record, std::uint32_t recordNumber) {
    for (const auto& index : indexes_) {
        const std::vector<std::uint8_t> key = index->builder->Build(record);
        TIndexTree(table_.IndexFile(), index->slot, *index->comparer).InsertKey(key.data(), recordNumber);
    }
    InsertStateKey(recordlayout::StatusActive, IdOf(record), recordNumber);
}

void TTableKeys::InsertStateKey(std::uint8_t status, std::uint32_t recordID, std::uint32_t recordNumber) {
    std::uint8_t key[kDeletedKeyLength];
    TKeyBuilder::BuildDeletedKey(status, recordID, key);
    TIndexTree(table_.IndexFile(), kDeletedSlot, *deleted_.comparer).InsertKey(key, recordNumber);
}

bool TTableKeys::Holds(const Index& index, const std::uint8_t* record, std::uint32_t recordNumber) {
    const std::vector<std::uint8_t> key = index.builder->Build(record);
    std::uint32_t pointsAt = 0;
    return Find(index.slot, *index.comparer, key.data(), pointsAt) && pointsAt == recordNumber;
}

bool TTableKeys::HoldsStateKey(std::uint8_t status, std::uint32_t recordID, std::uint32_t recordNumber) {
    std::uint8_t key[kDeletedKeyLength];
    TKeyBuilder::BuildDeletedKey(status, recordID, key);
    std::uint32_t pointsAt = 0;
    return Find(kDeletedSlot, *deleted_.comparer, key, pointsAt) && pointsAt == recordNumber;
}

}  // namespace pixhold::engine
