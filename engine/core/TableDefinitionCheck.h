#pragma once

#include <string>

#include "TableDefinition.h"
#include "IndexFile.h"

namespace pixhold::engine {

// The checks a definition passes before any file of a new table is made
// (docs/maintenance.md). Returns the definition with its field names trimmed
// and cut to 30 characters and the primary index's name cleared; the first
// failure is raised with the table name (and the field or index it names).
TableDefinition CheckTableDefinition(const TableDefinition& definition, const std::string& tableName);

// The text-index parameters a table gets when none are given: the 22 stop
// words, blanks and the usual separators as space characters, digits,
// letters, "_" and the codes 128 to 254 as include characters.
TextIndexParameters DefaultTextIndexParameters();

}  // namespace pixhold::engine
