#pragma once

#include <cstdint>
#include <string>

#include "TableContext.h"
#include "TableMaintenance.h"

namespace pixhold::engine {

class TDataDirectory;
class TDataTable;

// One table of a directory opened exclusively for a maintenance operation and
// closed again (its buffers written) when the scope ends. The open checks the
// password of an encrypted table (10498 when it is not known).
class TExclusiveTable {
public:
    TExclusiveTable(TDataDirectory& directory, const std::string& name, bool inMemory,
                    const TMaintenanceEvents& events);
    ~TExclusiveTable();
    TExclusiveTable(const TExclusiveTable&) = delete;
    TExclusiveTable& operator=(const TExclusiveTable&) = delete;

    TDataTable& operator*() const { return *table_; }
    TDataTable* operator->() const { return table_; }
    // Closes now, reporting a failure of the close.
    void Close();

private:
    TDataDirectory& directory_;
    TDataTable* table_ = nullptr;
};

// Raises a negated directory result as an engine error with the table name.
void RaiseDirectoryResult(int result, const std::string& table);

// Checks that the session knows an encrypted table's password, asking the
// events' password request while it does not (10498 when none comes).
void CheckTablePassword(TDataTable& table, const TMaintenanceEvents& events);

// The file-level operations need a cursor for their message log; this one
// passes each message on and remembers that something was found.
class TMaintenanceLog : public TCursorContext {
public:
    explicit TMaintenanceLog(const TMaintenanceEvents& events) : events_(events) {}
    void LogMessage(const std::string& text) override;
    // A message of the operation itself (not a finding).
    void Note(const std::string& text) const;
    bool Found() const { return found_; }
    void SetFound() { found_ = true; }

private:
    const TMaintenanceEvents& events_;
    bool found_ = false;
};

// The local date and time as the start and end messages give it.
std::string NowText();

}  // namespace pixhold::engine

namespace pixhold::engine {
class TDataCursor;
// Opens a cursor exclusively on the table for an operation that reads it in
// an index's order.
void OpenMaintenanceCursor(TDataCursor& cursor, const std::string& name, bool inMemory,
                           const TMaintenanceEvents& events);
}  // namespace pixhold::engine
