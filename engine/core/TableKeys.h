#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "BTree.h"
#include "IndexKey.h"

namespace pixhold::engine {

class TDataTable;

// The keys of one open table's indexes, built from record images, for the
// whole-table operations that check or rebuild index entries record by
// record: every defined index (the primary one when it has fields, then the
// secondary ones) and "Sys Deleted". The text index is not covered. Made
// from the index definitions as they are when it is constructed.
class TTableKeys {
public:
    explicit TTableKeys(TDataTable& table);
    ~TTableKeys();
    TTableKeys(const TTableKeys&) = delete;
    TTableKeys& operator=(const TTableKeys&) = delete;

    struct Index {
        int slot = 0;
        TKeyLayout layout;
        std::unique_ptr<TKeyComparer> comparer;
        std::unique_ptr<TKeyBuilder> builder;
    };
    const std::vector<std::unique_ptr<Index>>& FieldIndexes() const { return indexes_; }

    // The first unique index that already holds the record's key for another
    // record, or null.
    const Index* FindDuplicate(const std::uint8_t* record, std::uint32_t recordNumber);
    // The keys of an active record: every defined index and its "Sys Deleted" key.
    void InsertActive(const std::uint8_t* record, std::uint32_t recordNumber);
    // The "Sys Deleted" key alone (status, identifier).
    void InsertStateKey(std::uint8_t status, std::uint32_t recordID, std::uint32_t recordNumber);

    // Whether the index holds exactly this key pointing at the record.
    bool Holds(const Index& index, const std::uint8_t* record, std::uint32_t recordNumber);
    bool HoldsStateKey(std::uint8_t status, std::uint32_t recordID, std::uint32_t recordNumber);

private:
    // Whether `slot` holds `key` and, when `recordNumber` is not 0, whether
    // that entry points at it. `other` receives the record the key points at.
    bool Find(int slot, const TKeyComparer& comparer, const std::uint8_t* key, std::uint32_t& pointsAt);

    TDataTable& table_;
    std::vector<std::unique_ptr<Index>> indexes_;
    Index deleted_;
};

}  // namespace pixhold::engine
