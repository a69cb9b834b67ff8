#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "TableDefinition.h"

namespace pixhold::engine {

class TDataDirectory;

// Why a restructure could not carry a value or a record over.
enum class TDataLossCause : std::uint8_t {
    dlUnknown = 0,          // any other failure of an append
    dlKeyViolation = 1,     // a unique index would hold a key twice (context: the index)
    dlValidityFailure = 2,  // minimum, maximum or required check failed (context: the field)
    dlFieldDelete = 3,      // the field is not in the new definition (context: the field)
    dlFieldConversion = 4,  // the value does not convert to the new field (context: the field)
};

// What the maintenance operations tell their user. Absent callbacks are skipped.
struct TMaintenanceEvents {
    // Optimise and restructure: percent done.
    std::function<void(int percent)> OnProgress;
    // Repair and upgrade: the step under way and its percent done.
    std::function<void(const std::string& step, int percent)> OnSteppedProgress;
    // Repair and upgrade: one log message (at most 255 characters).
    std::function<void(const std::string& message)> OnLog;
    // Restructure: a value or record that cannot be carried over. Setting
    // `continueOperation` false stops the restructure (the table stays as it
    // was); setting `stopAsking` true skips every later loss without asking.
    std::function<void(TDataLossCause cause, const std::string& context, bool& continueOperation,
                       bool& stopAsking)>
        OnDataLost;
    // Asked when an encrypted table's password is not known to the session;
    // true means a password was added and the lookup is to be repeated.
    std::function<bool()> OnPasswordRequest;
};

// The whole-table operations on one table of a data directory: create,
// delete, rename, empty, optimise, verify and repair, upgrade and restructure
// (docs/maintenance.md). The table must not be open elsewhere; each operation
// opens it exclusively for its own duration and closes it again, also on
// failure. Failures are ECofferEngineError with the table name.
class TTableMaintenance {
public:
    TTableMaintenance(TDataDirectory& directory, std::string tableName, bool inMemory = false);

    TMaintenanceEvents Events;

    TDataDirectory& Directory() const { return directory_; }
    const std::string& TableName() const { return tableName_; }
    bool InMemory() const { return inMemory_; }

    // Checks the definition (CheckTableDefinition), refuses an existing table
    // unless `overwrite` (13060), creates the files and stores the text-index
    // parameters (the defaults where none are given). The table is not left open.
    void CreateTable(const TableDefinition& definition, bool overwrite = false);
    void DeleteTable();
    // A new name without a folder stays in the table's folder.
    void RenameTable(const std::string& newName);
    // Empties the three files in place; definitions and text-index parameters stay.
    void EmptyTable();

    // Rewrites the table compactly in the order of the named index (empty: the
    // primary index). The replaced files are kept as ".DBK", ".IBK" and ".BBK"
    // unless `noBackup`.
    void OptimizeTable(const std::string& indexName = {}, bool noBackup = false);

    // Checks every header, record, BLOB reference and index entry and mends
    // what it can; true when nothing was wrong. A repair that could not mend
    // everything (a step failed, descriptors that cannot be mended) raises
    // instead of returning, so that a return always means a mended table.
    bool RepairTable(bool forceIndexRebuild = false);
    // The same checks without changing anything; the log messages then lack
    // the ", error fixed" ending. True when nothing was wrong.
    bool VerifyTable();

    // Converts a table of an older table version. Tables below the current
    // version are refused with 12035; current and newer ones are only logged.
    void UpgradeTable();

    // Gives the table a new definition (fields, indexes, text-index parameters,
    // password, encryption, header values). `lastAutoInc` −1 keeps the table's.
    void RestructureTable(const TableDefinition& definition, std::int64_t lastAutoInc = -1, bool noBackup = false);

private:
    TDataDirectory& directory_;
    std::string tableName_;
    bool inMemory_;
};

// The step between two progress notifications: 100 / ProgressSteps, 100 when
// ProgressSteps is 0 or below, and at least 1.
int ProgressStepOf(std::int16_t progressSteps);

// Sends a percentage notification each time the rounded percentage done has
// moved on by at least the step since the last one sent, and 100 at the end.
class TProgressMeter {
public:
    TProgressMeter(std::function<void(int)> send, std::int16_t progressSteps, std::uint64_t total);
    // One more item done.
    void Advance();
    // Sends 100 unless it was sent already.
    void Finish();

private:
    std::function<void(int)> send_;
    int step_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    int last_ = 0;
    bool finished_ = false;
};

}  // namespace pixhold::engine
