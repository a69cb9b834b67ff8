#include "FieldTypes.h"

#include <strings.h>

namespace pixhold::tools {

namespace ft = engine::fieldtype;
namespace fs = engine::fieldsubtype;

namespace {

constexpr FieldTypeName kTypes[] = {
    {"string", ft::String, fs::None},     {"smallint", ft::SmallInt, fs::None},
    {"integer", ft::Integer, fs::None},   {"word", ft::Word, fs::None},
    {"boolean", ft::Boolean, fs::None},   {"float", ft::Float, fs::None},
    {"date", ft::Date, fs::None},         {"time", ft::Time, fs::None},
    {"datetime", ft::DateTime, fs::None}, {"largeint", ft::LargeInt, fs::None},
    {"autoinc", ft::Integer, fs::AutoInc}, {"blob", ft::Blob, fs::None},
    {"memo", ft::Blob, fs::Memo},         {"graphic", ft::Blob, fs::Graphic},
};

}  // namespace

std::optional<FieldTypeName> FieldTypeByName(const std::string& name) {
    for (const FieldTypeName& t : kTypes)
        if (strcasecmp(t.name, name.c_str()) == 0) return t;
    return std::nullopt;
}

std::string FieldTypeNameOf(const engine::FieldDescriptor& field) {
    for (const FieldTypeName& t : kTypes)
        if (t.type == field.type && t.subtype == field.subtype) return t.name;
    // Subtypes the tool does not create (money, formatted memo ...) still have a base type.
    for (const FieldTypeName& t : kTypes)
        if (t.type == field.type && t.subtype == fs::None)
            return std::string(t.name) + " (subtype " + std::to_string(field.subtype) + ")";
    return "type " + std::to_string(field.type);
}

std::string KnownFieldTypeNames() {
    std::string names;
    for (const FieldTypeName& t : kTypes) {
        if (!names.empty()) names += ", ";
        names += t.name;
    }
    return names;
}

}  // namespace pixhold::tools
