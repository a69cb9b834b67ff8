#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DataFile.h"
#include "FieldTypes.h"
#include "IndexHeader.h"

namespace pixhold::engine {

// Index options, as bits.
namespace ixopt {
inline constexpr std::uint8_t Primary = 1;
inline constexpr std::uint8_t Unique = 2;
inline constexpr std::uint8_t Descending = 4;
inline constexpr std::uint8_t CaseInsensitive = 8;
}  // namespace ixopt

// A field of a table to create: name, type, size and whether it is required.
struct TFieldDef {
    std::string name;
    TFieldType dataType = TFieldType::ftUnknown;
    int size = 0;
    bool required = false;
};

// A field of a table to restructure, with everything its descriptor holds.
struct TRestructureFieldDef {
    std::string name;
    TFieldType dataType = TFieldType::ftUnknown;
    int fieldNo = 0;              // position from 1
    std::uint8_t characterCase = 0;  // 0 as given, 1 lower, 2 upper
    std::string description;
    std::string minimum;
    std::string maximum;
    std::string defaultValue;
    bool required = false;
    int size = 0;
};

// An index: its name (empty for the primary index), its fields separated by
// ";", its options, and its key compression (0 to 3).
struct TIndexDef {
    std::string name;
    std::string fields;
    std::uint8_t options = 0;
    std::uint8_t compression = 0;
};

// An ordered list of definitions, found by name without regard to case.
template <typename Def>
class TDefList {
public:
    void Clear() { items_.clear(); }
    Def& Add(Def def) {
        items_.push_back(std::move(def));
        return items_.back();
    }
    std::size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    Def& operator[](std::size_t index) { return items_.at(index); }
    const Def& operator[](std::size_t index) const { return items_.at(index); }
    const Def* Find(const std::string& name) const;
    const std::vector<Def>& Items() const { return items_; }

private:
    std::vector<Def> items_;
};

using TFieldDefs = TDefList<TFieldDef>;
using TIndexDefs = TDefList<TIndexDef>;
using TRestructureFieldDefs = TDefList<TRestructureFieldDef>;
using TRestructureIndexDefs = TDefList<TIndexDef>;

bool SameDefName(const std::string& a, const std::string& b);

template <typename Def>
const Def* TDefList<Def>::Find(const std::string& name) const {
    for (const Def& def : items_) {
        if (SameDefName(def.name, name)) return &def;
    }
    return nullptr;
}

// Engine descriptors of a field list: checked ("Field name missing",
// "Duplicate field name '%s'", "Invalid field size"), numbered by position.
std::vector<FieldDescriptor> FieldDescriptorsOf(const TFieldDefs& defs);
std::vector<FieldDescriptor> FieldDescriptorsOf(const TRestructureFieldDefs& defs);
// Engine index descriptors: the primary index first (an empty one when no
// definition has the primary option), then the secondary indexes in order.
// Names are checked ("Duplicate index name '%s'", "Field '%s' not found").
std::vector<IndexDescriptor> IndexDescriptorsOf(const TIndexDefs& defs, const std::vector<FieldDescriptor>& fields);

// Definitions read back from a table.
TRestructureFieldDef RestructureFieldDefOf(const FieldDescriptor& field);
TIndexDef IndexDefOf(const IndexDescriptor& index, bool primary, const std::vector<FieldDescriptor>& fields);

}  // namespace pixhold::engine
