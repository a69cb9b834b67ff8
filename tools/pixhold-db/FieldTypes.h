#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "DataFile.h"

namespace pixhold::tools {

// A field type as the tool names it: the dataset's names (string, integer,
// memo ...) for a type and subtype of the data file.
struct FieldTypeName {
    const char* name;
    std::uint8_t type;
    std::uint8_t subtype;
};

// The type of a name, compared without regard to case.
std::optional<FieldTypeName> FieldTypeByName(const std::string& name);
// The name of a stored type and subtype ("type 9" for one the tool does not name).
std::string FieldTypeNameOf(const engine::FieldDescriptor& field);
// The names the tool knows, separated by ", " (for error messages).
std::string KnownFieldTypeNames();

}  // namespace pixhold::tools
