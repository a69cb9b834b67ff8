#include "ImageTableDefs.h"

namespace pixhold::store {

namespace {

using engine::TCofferTable;
using engine::TFieldType;
namespace ixopt = engine::ixopt;

// Tables are stored with U.S. English collation, user version 1.0 and BLOB
// blocks of 512 bytes.
constexpr std::uint16_t kLocale = 1033;
constexpr std::uint16_t kSortOrder = 0;
constexpr std::uint16_t kBlobBlockSize = 512;
constexpr std::uint16_t kUserMajor = 1;
constexpr std::uint16_t kUserMinor = 0;

// The restructure definitions repeat the create definitions field by field.
void CopyToRestructureDefs(TCofferTable& table) {
    table.RestructureFieldDefs.Clear();
    int number = 0;
    for (const engine::TFieldDef& def : table.FieldDefs.Items()) {
        engine::TRestructureFieldDef field;
        field.name = def.name;
        field.dataType = def.dataType;
        field.fieldNo = ++number;
        field.required = def.required;
        field.size = def.size;
        table.RestructureFieldDefs.Add(field);
    }
    table.RestructureIndexDefs.Clear();
    for (const engine::TIndexDef& def : table.IndexDefs.Items()) table.RestructureIndexDefs.Add(def);
}

struct TTableSettings {
    const char* Description;
    const char* Password;  // empty: not encrypted
    std::int64_t LastAutoInc;
};

// Creates the table from the handle's definitions, then restructures it once
// to give it locale, version, block size, description and password, which a
// plain create does not set. No backups: there is nothing to keep.
void CreateDefined(TCofferTable& table, const TTableSettings& settings) {
    if (table.TableExists()) return;
    table.CreateTable();
    CopyToRestructureDefs(table);
    const std::string password = settings.Password;
    table.RestructureTable(kLocale, kSortOrder, true, settings.LastAutoInc, kBlobBlockSize, settings.Description,
                           password, !password.empty(), kUserMinor, kUserMajor);
}

std::unique_ptr<TCofferTable> TemporaryHandle(const std::string& session, const std::string& database,
                                              const std::string& table) {
    auto handle = std::make_unique<TCofferTable>();
    handle->SetSessionName(session);
    handle->SetDatabaseName(database);
    handle->SetTableName(table);
    handle->SetExclusive(true);
    return handle;
}

}  // namespace

void DefineImageTable(TCofferTable& table) {
    table.FieldDefs.Clear();
    table.FieldDefs.Add({"FileName", TFieldType::ftString, 250, true});
    table.FieldDefs.Add({"Category", TFieldType::ftString, 10, false});
    table.FieldDefs.Add({"Thumb", TFieldType::ftGraphic, 0, false});
    table.FieldDefs.Add({"Image", TFieldType::ftGraphic, 0, false});
    table.FieldDefs.Add({"Type", TFieldType::ftSmallint, 0, false});
    table.IndexDefs.Clear();
    table.IndexDefs.Add({"", "FileName;Category", ixopt::Primary | ixopt::Unique, 0});
    table.IndexDefs.Add({"Category", "Category", 0, 0});
}

void DefineThumbsTable(TCofferTable& table) {
    table.FieldDefs.Clear();
    table.FieldDefs.Add({"FileName", TFieldType::ftString, 250, true});
    table.FieldDefs.Add({"Thumb", TFieldType::ftGraphic, 0, false});
    table.IndexDefs.Clear();
    table.IndexDefs.Add({"", "FileName", ixopt::Primary | ixopt::Unique, 0});
}

void CreateImageTable(const std::string& session, const std::string& database, const std::string& table) {
    auto handle = TemporaryHandle(session, database, table);
    DefineImageTable(*handle);
    CreateDefined(*handle, {kImageTableDescription, "", 0});
}

void CreateThumbsTable(const std::string& session, const std::string& database) {
    auto handle = TemporaryHandle(session, database, kThumbsTableName);
    DefineThumbsTable(*handle);
    // -1 keeps the counter the create gave the table.
    CreateDefined(*handle, {kThumbsTableDescription, kCachePassword, -1});
}

}  // namespace pixhold::store
