#pragma once

#include <cstdint>
#include <string>

#include "TableDefinition.h"

namespace pixhold::engine {

class TDataDirectory;
class TDataSession;
class TDataTable;

// A table built in the session's private directory (or, for in-memory
// tables, the in-memory directory) under a temporary name, to replace a
// table once it is complete. Until MoveInto has run, the scope's end deletes
// it again; the private directory is closed in every case.
class TTempTable {
public:
    TTempTable(TDataSession& session, bool inMemory);
    ~TTempTable();
    TTempTable(const TTempTable&) = delete;
    TTempTable& operator=(const TTempTable&) = delete;

    // Creates the files (the table is left open exclusively).
    void Create(const TableDefinition& definition);
    TDataTable& Table() const { return *table_; }
    const std::string& Name() const { return name_; }
    // Closes the table, writing everything.
    void Close();
    // Moves the closed table's files to `target` under `name`.
    void MoveInto(TDataDirectory& target, const std::string& name);

private:
    TDataSession& session_;
    bool inMemory_;
    TDataDirectory* directory_ = nullptr;
    TDataTable* table_ = nullptr;
    std::string name_;
    bool created_ = false;
};

// Puts a new table in place of an old one: the old files go aside under a
// temporary name, the new ones move in, and then the old ones become the
// backups (".DBK", ".IBK", ".BBK", replacing older ones) or are deleted. A
// failure while the new files move in puts the old ones back.
void ReplaceTable(TDataDirectory& directory, const std::string& name, bool inMemory, TTempTable& replacement,
                  bool noBackup);

}  // namespace pixhold::engine
