#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TableDefinition.h"

namespace pixhold::engine {

class TDataSession;
class TDataTable;

// One folder of tables (a database) of one session. It shares one TDataTable
// per table name and in-memory flag among all the cursors of the session that
// use the folder, and runs the directory-wide transaction.
//
// The table operations return 0 or a negated engine error code for a table
// conflict (the caller raises it with the table name); every other failure is
// raised as ECofferEngineError.
class TDataDirectory {
public:
    TDataDirectory(TDataSession& session, std::string path);
    // Rolls back an active transaction, then closes and frees every table.
    ~TDataDirectory();
    TDataDirectory(const TDataDirectory&) = delete;
    TDataDirectory& operator=(const TDataDirectory&) = delete;

    TDataSession& Session() const { return session_; }
    // Trimmed, with a trailing separator; empty for the in-memory directory.
    const std::string& Path() const { return path_; }
    std::uint16_t UseCount() const { return useCount_; }
    void AddUse() { ++useCount_; }
    std::uint16_t ReleaseUse() { return useCount_ == 0 ? 0 : --useCount_; }
    bool InTransaction() const { return inTransaction_; }

    // ---- tables ----
    // Creates the files; the table is left open exclusively with a use count
    // of one. -11013 when a registered table of that name is in use.
    [[nodiscard]] int CreateTable(const std::string& name, bool inMemory, const TableDefinition& definition,
                    TDataTable*& table);
    // The shared table for a cursor; -11013 when it conflicts with the
    // exclusive flag of another user of this directory.
    [[nodiscard]] int OpenTable(const std::string& name, TDataTable*& table, bool exclusive, bool inMemory);
    // Closes one use; the last use (outside a transaction) frees the table.
    // -11010 for a table that is not registered here.
    [[nodiscard]] int CloseTable(TDataTable* table, bool discardIfTemporary = false);
    [[nodiscard]] int DeleteTable(const std::string& name, bool inMemory);
    [[nodiscard]] int RenameTable(const std::string& name, const std::string& newName, bool inMemory, bool toBackup);
    bool TableExists(const std::string& name, bool inMemory) const;
    // The first free name "<up to 5 digits of the thread id><counter>.DAT".
    std::string MakeTempTableName(bool inMemory) const;
    std::string MakeTempTableName(bool inMemory, long threadId) const;

    // The registered table of that name and kind, or null.
    TDataTable* FindTable(const std::string& name, bool inMemory) const;
    std::size_t TableCount() const { return tables_.size(); }

    // ---- directory-wide transaction (no nesting) ----
    void StartTransaction();
    void Commit(bool end, bool forceFlush);
    void Rollback();

private:
    using TableList = std::vector<std::unique_ptr<TDataTable>>;
    TableList::iterator Find(const std::string& name, bool inMemory);
    TableList::iterator Find(const TDataTable* table);
    // Drops tables whose last user left while a transaction kept them.
    void CloseUnusedTables();

    TDataSession& session_;
    std::string path_;
    TableList tables_;
    std::uint16_t useCount_ = 1;
    bool inTransaction_ = false;
};

}  // namespace pixhold::engine
