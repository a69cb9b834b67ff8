#pragma once

#include <string>

#include "CofferTable.h"

namespace pixhold::store {

// The two table layouts of the program and how they are created: the image
// table (one record per picture) and the thumbnail cache "Thumbs.dat".
// docs/data-module.md lists the fields, indexes and table settings.

inline constexpr const char* kImageTableDescription = "Default image database";
inline constexpr const char* kThumbsTableDescription = "Image thumbnail database";
inline constexpr const char* kThumbsTableName = "Thumbs.dat";
// The fixed password of the thumbnail cache.
inline constexpr const char* kCachePassword = "quorvi";
// The filter of a freshly opened image table: the records without category
// (the empty string constant is the null constant of the filter language).
inline constexpr const char* kEmptyCategoryFilter = "Category = \"\"";

// Field and index definitions on a handle (for CreateTable).
void DefineImageTable(engine::TCofferTable& table);
void DefineThumbsTable(engine::TCofferTable& table);

// Creates the table `table` of `database` in session `session` unless it
// exists; an existing table is left as it is.
void CreateImageTable(const std::string& session, const std::string& database, const std::string& table);
void CreateThumbsTable(const std::string& session, const std::string& database);

}  // namespace pixhold::store
