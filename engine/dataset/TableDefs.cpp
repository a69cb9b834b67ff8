#include "TableDefs.h"

#include <algorithm>

#include "DatasetError.h"
#include "FileName.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {



std::vector<std::string> SplitFieldNames(const std::string& text) {
    std::vector<std::string> names;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t at = text.find(';', from);
        const std::string name = TrimBlanks(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (!name.empty()) names.push_back(name);
        if (at == std::string::npos) break;
        from = at + 1;
    }
    return names;
}

FieldDescriptor BaseDescriptor(const std::string& name, TFieldType type, int size, bool required) {
    if (TrimBlanks(name).empty()) RaiseDatasetError(dserr::FieldNameMissing);
    if (!ValidFieldSize(type, size)) RaiseDatasetError(dserr::InvalidFieldSize);
    FieldDescriptor field;
    field.name = name;
    const TEngineFieldType engine = EngineTypeOf(type);
    field.type = engine.type;
    field.subtype = engine.subtype;
    if (type == TFieldType::ftBCD) {
        field.decimals = static_cast<std::uint8_t>(size);
    } else if (TypeHasDeclaredSize(engine.type)) {
        field.size = static_cast<std::uint8_t>(size);
    }
    field.required = required ? 1 : 0;
    return field;
}

void CheckUniqueNames(const std::vector<FieldDescriptor>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (SameDefName(fields[i].name, fields[j].name)) RaiseDatasetError(dserr::DuplicateFieldName, fields[i].name);
        }
    }
}

std::string FieldNameOf(std::uint16_t number, const std::vector<FieldDescriptor>& fields) {
    return number >= 1 && number <= fields.size() ? fields[number - 1u].name : std::string{};
}

}  // namespace

// The engine's own comparison: a pair of names it would refuse as one name
// is refused here already.
bool SameDefName(const std::string& a, const std::string& b) { return SameTrimmedName(a, b); }

std::vector<FieldDescriptor> FieldDescriptorsOf(const TFieldDefs& defs) {
    std::vector<FieldDescriptor> fields;
    for (const TFieldDef& def : defs.Items()) {
        fields.push_back(BaseDescriptor(def.name, def.dataType, def.size, def.required));
        fields.back().number = static_cast<std::int16_t>(fields.size());
    }
    CheckUniqueNames(fields);
    return fields;
}

std::vector<FieldDescriptor> FieldDescriptorsOf(const TRestructureFieldDefs& defs) {
    std::vector<FieldDescriptor> fields;
    for (const TRestructureFieldDef& def : defs.Items()) {
        FieldDescriptor field = BaseDescriptor(def.name, def.dataType, def.size, def.required);
        field.number = static_cast<std::int16_t>(fields.size() + 1);
        field.characterCase = def.characterCase;
        field.description = def.description.substr(0, datafile::kValueTextLength);
        field.minimum = def.minimum.substr(0, datafile::kValueTextLength);
        field.maximum = def.maximum.substr(0, datafile::kValueTextLength);
        field.defaultValue = def.defaultValue.substr(0, datafile::kValueTextLength);
        fields.push_back(std::move(field));
    }
    CheckUniqueNames(fields);
    return fields;
}

namespace {

IndexDescriptor IndexDescriptorOf(const TIndexDef& def, const std::vector<FieldDescriptor>& fields) {
    IndexDescriptor index;
    index.name = TrimBlanks(def.name);
    const bool primary = (def.options & ixopt::Primary) != 0;
    index.unique = primary || (def.options & ixopt::Unique) != 0;
    index.descending = (def.options & ixopt::Descending) != 0;
    index.caseInsensitive = (def.options & ixopt::CaseInsensitive) != 0;
    index.compression = def.compression;
    const std::vector<std::string> names = SplitFieldNames(def.fields);
    if (names.size() > kMaxIndexFields) RaiseDatasetError(dserr::FieldIndexOutOfRange);
    for (const std::string& name : names) {
        const auto it = std::find_if(fields.begin(), fields.end(),
                                     [&name](const FieldDescriptor& f) { return SameDefName(f.name, name); });
        if (it == fields.end()) RaiseDatasetError(dserr::FieldNotFound, name);
        index.fieldDescending[index.fieldCount] = index.descending ? 1 : 0;
        index.fieldNumbers[index.fieldCount++] = static_cast<std::uint16_t>(it - fields.begin() + 1);
    }
    return index;
}

}  // namespace

std::vector<IndexDescriptor> IndexDescriptorsOf(const TIndexDefs& defs, const std::vector<FieldDescriptor>& fields) {
    for (std::size_t i = 0; i < defs.Count(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (SameDefName(defs[i].name, defs[j].name)) RaiseDatasetError(dserr::DuplicateIndexName, defs[i].name);
        }
    }
    std::vector<TIndexDef> ordered = defs.Items();
    // The primary index goes first; without one an empty primary leads.
    const auto primary = std::find_if(ordered.begin(), ordered.end(),
                                      [](const TIndexDef& d) { return (d.options & ixopt::Primary) != 0; });
    std::vector<IndexDescriptor> indexes;
    if (primary == ordered.end()) {
        indexes.emplace_back();
    } else {
        std::rotate(ordered.begin(), primary, primary + 1);
    }
    for (const TIndexDef& def : ordered) indexes.push_back(IndexDescriptorOf(def, fields));
    if (primary != ordered.end()) indexes.front().name.clear();
    return indexes;
}

TRestructureFieldDef RestructureFieldDefOf(const FieldDescriptor& field) {
    TRestructureFieldDef def;
    def.name = field.name;
    def.dataType = FieldTypeOf(field.type, field.subtype);
    def.fieldNo = field.number;
    def.characterCase = field.characterCase;
    def.description = field.description;
    def.minimum = field.minimum;
    def.maximum = field.maximum;
    def.defaultValue = field.defaultValue;
    def.required = field.required != 0;
    def.size = def.dataType == TFieldType::ftBCD ? field.decimals
                                                 : (TypeHasDeclaredSize(field.type) ? field.size : 0);
    return def;
}

TIndexDef IndexDefOf(const IndexDescriptor& index, bool primary, const std::vector<FieldDescriptor>& fields) {
    TIndexDef def;
    def.name = index.name;
    for (int i = 0; i < index.fieldCount; ++i) {
        if (i > 0) def.fields += ";";
        def.fields += FieldNameOf(index.fieldNumbers[i], fields);
    }
    if (primary) def.options |= ixopt::Primary;
    if (index.unique) def.options |= ixopt::Unique;
    if (index.descending) def.options |= ixopt::Descending;
    if (index.caseInsensitive) def.options |= ixopt::CaseInsensitive;
    def.compression = index.compression;
    return def;
}

}  // namespace pixhold::engine
