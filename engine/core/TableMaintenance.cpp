#include "TableMaintenance.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "MaintenanceSupport.h"
#include "TableDefinitionCheck.h"

namespace pixhold::engine {

// ---- support ------------------------------------------------------------------------

void RaiseDirectoryResult(int result, const std::string& table) {
    if (result < 0) RaiseTableError(static_cast<std::uint16_t>(-result), table);
}

void CheckTablePassword(TDataTable& table, const TMaintenanceEvents& events) {
    if (!table.IsEncrypted()) return;
    const std::string password = table.StoredPassword();
    while (!table.Session().HasPassword(password)) {
        if (!events.OnPasswordRequest || !events.OnPasswordRequest()) table.Raise(err::PasswordRequired);
    }
}

TExclusiveTable::TExclusiveTable(TDataDirectory& directory, const std::string& name, bool inMemory,
                                 const TMaintenanceEvents& events)
    : directory_(directory) {
    TDataTable* table = nullptr;
    RaiseDirectoryResult(directory.OpenTable(name, table, true, inMemory), name);
    table_ = table;
    try {
        CheckTablePassword(*table_, events);
    } catch (...) {
        try {
            (void)directory_.CloseTable(table_);
        } catch (...) {
            // The password failure is the one reported.
        }
        table_ = nullptr;
        throw;
    }
}

TExclusiveTable::~TExclusiveTable() {
    try {
        Close();
    } catch (...) {
        // Closing on the way out of a failure: the failure is the one reported.
    }
}

void TExclusiveTable::Close() {
    if (table_ == nullptr) return;
    TDataTable* table = table_;
    table_ = nullptr;
    const std::string name = table->Name();  // the table object may go with the close
    RaiseDirectoryResult(directory_.CloseTable(table), name);
}

void TMaintenanceLog::LogMessage(const std::string& text) {
    found_ = true;
    Note(text);
}

void TMaintenanceLog::Note(const std::string& text) const {
    if (events_.OnLog) events_.OnLog(text.substr(0, 255));
}

std::string NowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// ---- progress -----------------------------------------------------------------------

int ProgressStepOf(std::int16_t progressSteps) {
    if (progressSteps <= 0) return 100;
    // More than 100 steps would make a step of 0, a notification per record.
    return std::max(1, 100 / progressSteps);
}

TProgressMeter::TProgressMeter(std::function<void(int)> send, std::int16_t progressSteps, std::uint64_t total)
    : send_(std::move(send)), step_(ProgressStepOf(progressSteps)), total_(total) {}

void TProgressMeter::Advance() {
    ++done_;
    if (!send_ || total_ == 0) return;
    const int percent =
        static_cast<int>(std::lround(static_cast<double>(std::min(done_, total_)) * 100.0 / static_cast<double>(total_)));
    if (percent >= last_ + step_) {
        last_ = percent;
        if (percent == 100) finished_ = true;
        send_(percent);
    }
}

void TProgressMeter::Finish() {
    if (finished_) return;
    finished_ = true;
    last_ = 100;
    if (send_) send_(100);
}

// ---- simple operations --------------------------------------------------------------

TTableMaintenance::TTableMaintenance(TDataDirectory& directory, std::string tableName, bool inMemory)
    : directory_(directory), tableName_(std::move(tableName)), inMemory_(inMemory) {}

void TTableMaintenance::CreateTable(const TableDefinition& definition, bool overwrite) {
    TableDefinition checked = CheckTableDefinition(definition, tableName_);
    if (directory_.TableExists(tableName_, inMemory_)) {
        if (!overwrite) RaiseTableError(err::TableExists, tableName_);
        // All of the old table goes, so that no file of it (a BLOB file the new
        // table would not have) is left beside the new one.
        RaiseDirectoryResult(directory_.DeleteTable(tableName_, inMemory_), tableName_);
    }
    if (!checked.textIndexParameters) checked.textIndexParameters = DefaultTextIndexParameters();
    TDataTable* table = nullptr;
    RaiseDirectoryResult(directory_.CreateTable(tableName_, inMemory_, checked, table), tableName_);
    RaiseDirectoryResult(directory_.CloseTable(table), tableName_);
}

void TTableMaintenance::DeleteTable() { RaiseDirectoryResult(directory_.DeleteTable(tableName_, inMemory_), tableName_); }

void TTableMaintenance::RenameTable(const std::string& newName) {
    RaiseDirectoryResult(directory_.RenameTable(tableName_, newName, inMemory_, false), tableName_);
}

void TTableMaintenance::EmptyTable() {
    TExclusiveTable table(directory_, tableName_, inMemory_, Events);
    TIndexFile& index = table->IndexFile();
    // The parameters live in pages of their own, which the emptying drops.
    std::optional<TextIndexParameters> parameters;
    try {
        parameters = index.ReadTextIndexParameters(nullptr);
    } catch (const ECofferEngineError&) {
        parameters.reset();
    }
    table->DataFile().EmptyFile();
    index.EmptyFile();
    if (parameters) index.WriteTextIndexParameters(nullptr, *parameters);
    index.SetActiveRecords(0);
    index.SetHeaderChanged();
    if (table->BlobFileOpen()) table->BlobFile().EmptyFile();
    table->RaiseChangeCounters(true, table->BlobFileOpen(), true);
    table.Close();
}

}  // namespace pixhold::engine
