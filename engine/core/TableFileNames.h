#pragma once

#include <string>

namespace pixhold::engine {

// The extensions of a table's files and of the backups that optimise and
// repair leave behind.
namespace tableext {
inline constexpr const char* Data = ".DAT";
inline constexpr const char* Index = ".IDX";
inline constexpr const char* Blob = ".BLB";
inline constexpr const char* DataBackup = ".DBK";
inline constexpr const char* IndexBackup = ".IBK";
inline constexpr const char* BlobBackup = ".BBK";
}  // namespace tableext

// A folder as the engine keeps it: trimmed, with a trailing separator; empty
// stays empty.
std::string DirectoryPath(const std::string& folder);

// The file of a table: the folder, then the trimmed table name whose extension
// is replaced by `extension` when it is ".DAT" (in any case) and otherwise
// kept, with `extension` appended.
std::string TableFileName(const std::string& folder, const std::string& table, const char* extension);

// Whether a name carries a folder of its own.
bool HasFolder(const std::string& name);

// Table names (and folders) are the same when they match trimmed and without
// regard to letter case.
bool SameTableName(const std::string& a, const std::string& b);

}  // namespace pixhold::engine
