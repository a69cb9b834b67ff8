#pragma once

#include <string>
#include <vector>

#include "TableDefinition.h"

namespace pixhold::tools {

// "NAME:TYPE[:SIZE][:required]": SIZE (1 to 250) only and always for strings.
engine::FieldDescriptor ParseFieldText(const std::string& text);

// "FIELD;FIELD": the primary index over these fields (always unique).
engine::IndexDescriptor ParsePrimaryText(const std::string& text, const std::vector<engine::FieldDescriptor>& fields);

// "NAME:FIELD;FIELD[:unique][:descending][:nocase][:compression=N]", N 0 to 3.
engine::IndexDescriptor ParseIndexText(const std::string& text, const std::vector<engine::FieldDescriptor>& fields);

// A decimal number within [low, high]; `what` names it in the error.
long ParseNumber(const std::string& text, long low, long high, const std::string& what);

// The options of `create` as one table definition. The engine's own checks
// (names, sizes, key lengths) run when the table is created.
struct CreateOptions {
    std::vector<std::string> fields;
    std::vector<std::string> indexes;
    std::string primary;  // empty: no primary fields
    std::string password; // empty: not encrypted
    std::string blockSize;
    std::string locale;
};
engine::TableDefinition BuildTableDefinition(const CreateOptions& options);

}  // namespace pixhold::tools
