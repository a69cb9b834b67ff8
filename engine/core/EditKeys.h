#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BTree.h"
#include "IndexFile.h"
#include "IndexKey.h"

namespace pixhold::engine {

class TDataTable;

// The keys a record change has to keep: index 0 (when the primary index has
// fields), each secondary index and "Sys Deleted", each with its layout,
// builder and comparer. Made once per cursor and made again when the table's
// index definitions change.
class TEditKeys {
public:
    struct Slot {
        int slot = 0;
        std::string name;
        bool unique = false;
        std::unique_ptr<TKeyLayout> layout;
        std::unique_ptr<TKeyComparer> comparer;
        std::unique_ptr<TKeyBuilder> builder;

        std::vector<std::uint8_t> Build(const std::uint8_t* record) const { return builder->Build(record); }
        TIndexTree Tree(TIndexFile& file) const { return TIndexTree(file, slot, *comparer); }
    };

    explicit TEditKeys(TDataTable& table);

    // Whether the table's index definitions still are the ones these keys were made for.
    bool Current(TDataTable& table) const;

    // The index slots of the record's fields, primary first, then "Sys Deleted" last.
    const std::vector<Slot>& Slots() const { return slots_; }
    const Slot& Deleted() const { return slots_.back(); }

    // "Sys Text", when it covers any field, with its word-splitting parameters
    // (the stored ones, or the defaults).
    const Slot* Text() const { return text_ ? &*text_ : nullptr; }
    const TextIndexParameters& TextParameters() const { return textParameters_; }
    static TextIndexParameters DefaultTextParameters();

    // Whether the index holds a key equal to `key` (for a unique index: a
    // record with the same values).
    static bool Holds(TIndexFile& file, const Slot& slot, const std::uint8_t* key);

private:
    // What the keys depend on: whether the primary index has fields, and the
    // definitions of the table's indexes (compared with SameShape; checked
    // on every edit, so without building anything).
    bool primaryHasFields_ = false;
    std::vector<IndexDescriptor> shapes_;
    std::vector<Slot> slots_;
    std::optional<Slot> text_;
    TextIndexParameters textParameters_;
};

}  // namespace pixhold::engine
