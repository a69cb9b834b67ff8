#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "TempDir.h"

namespace pixhold::engine::edittest {

// The values of one record of the edit test table:
//   1 Name  string of 20, the primary index (unique)
//   2 Num   integer
//   3 Code  string of 8, index "ByCode" (unique; empty codes are absent)
//   4 Cat   string of 10, index "ByCat" (not unique)
//   5 Data  BLOB
struct Values {
    std::string name;
    std::int32_t num = 0;
    std::string code;
    std::string cat;
    std::string data;
    std::uint32_t id = 0;  // read back only
    bool operator==(const Values& o) const {
        return name == o.name && num == o.num && code == o.code && cat == o.cat && data == o.data;
    }
};

TableDefinition EditTable(bool withPrimary = true);

// A folder, a session whose record locks give up quickly, and the table "Edits".
class EditFixture {
public:
    explicit EditFixture(bool withPrimary = true, const TableDefinition* definition = nullptr);
    ~EditFixture();
    TDataSession& Session() { return *session_; }
    TDataDirectory& Directory() { return *directory_; }
    const std::string& Folder() const { return folder_; }
    std::string FilePath(const char* extension) const { return folder_ + TableName + extension; }
    const std::string TableName = "Edits";
    std::unique_ptr<TDataCursor> Open(const std::string& index = {});

private:
    pixhold::test::TempDir dir_;
    std::string folder_;
    std::unique_ptr<TDataSession> session_;
    TDataDirectory* directory_ = nullptr;
};

// Puts the values into a record buffer of the cursor (the BLOB through the
// cursor's BLOB calls); the buffer keeps everything else it held.
void Fill(TDataCursor& cursor, std::vector<std::uint8_t>& buffer, const Values& v);
// The values of a record buffer, the BLOB read through the cursor.
Values ValuesOf(TDataCursor& cursor, std::vector<std::uint8_t>& buffer);
// A new record through the cursor; returns its physical record number.
std::uint32_t Append(TDataCursor& cursor, const Values& v);
// Stands the cursor (primary index) on the record with the name; false when none.
bool Seek(TDataCursor& cursor, const std::string& name);

// The table the fault tests start from, as folder + "Edits" (.DAT, .IDX,
// .BLB): 12 records with and without BLOBs of several lengths, then the
// named records deleted, so that appends take their slots and freed blocks.
void MakeEditTemplate(const std::string& folder, const std::vector<std::string>& deleted);
// A fresh copy of that table in another folder.
void CopyEditTemplate(const std::string& from, const std::string& to);
// The writes `operation` makes on the table "Edits" of `folder`, run once
// under a fault plan that fails nothing (the count the fault loops step through).
std::uint64_t CountEditWrites(const std::string& folder, const std::function<void(TDataCursor&)>& operation);

// Records, every index, "Sys Deleted", counts, free chain and BLOB chains
// checked against each other; the active records by name.
struct Inspection {
    std::map<std::string, Values> rows;
    std::string problems;
};
Inspection Inspect(TDataTable& table);
// What the fault tests' starting table holds (the table "Edits" of the folder).
Inspection InspectEditTable(const std::string& folder);

}  // namespace pixhold::engine::edittest
