#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DataFile.h"
#include "ExpToken.h"

namespace pixhold::engine {

// The expression type of a field (BLOB subtypes memo and formatted memo read
// as memo, graphic as graphic; bytes fields as binary BLOBs).
TExpValue ExpValueTypeOfField(const FieldDescriptor& field);

// Resolves the columns of a parsed filter against the table's fields (field n
// is fields[n - 1]), sets every node's type and checks the operand types.
// A boolean column standing alone as a condition becomes column = TRUE. The
// whole filter must be boolean. Raises filter errors naming `table`.
void CheckFilterExpression(std::unique_ptr<TExpToken>& tree, const std::vector<FieldDescriptor>& fields,
                           const std::string& table);

// Turns round every comparison of a constant expression with a column, so a
// column, where there is one, is on the left.
void NormalizeComparisons(TExpToken& tree);

}  // namespace pixhold::engine
