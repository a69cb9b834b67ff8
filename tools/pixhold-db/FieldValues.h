#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DataFile.h"
#include "ExpressionEval.h"
#include "TableLocale.h"

namespace pixhold::tools {

// Stores the value text of a field that is not a BLOB into a record image
// (null flag and value at the field's offset). An empty text makes the field
// null. Strings lose trailing blanks and take the field's character case;
// other types take the value texts of the data file ("2024-05-31", "13:05",
// "TRUE", "-12", "3.5"). ToolError for a text that does not convert or does
// not fit, and for auto-increment fields, whose value is the record identifier.
void PutFieldText(const engine::FieldDescriptor& field, const std::string& text, const engine::TableLocale& locale,
                  std::vector<std::uint8_t>& record);

// The JSON value of a field of a record: null, a number, true/false, a
// string, or for a BLOB {"length": N, "sha256": "..."} of its contents. The
// record is read through the engine's reader, which keeps to the record's
// bounds and fetches BLOB contents.
std::string FieldJson(const engine::FieldDescriptor& field, const engine::TExpRecordReader& record);

// The JSON object of a whole record: {"Field": value, ...} in field order.
std::string RecordJson(const std::vector<engine::FieldDescriptor>& fields, const engine::TExpRecordReader& record);

}  // namespace pixhold::tools
