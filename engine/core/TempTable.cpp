#include "TempTable.h"

#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "MaintenanceSupport.h"
#include "TableFileNames.h"

namespace pixhold::engine {

namespace {
constexpr const char* kMemoryDirectory = "Memory";
}

TTempTable::TTempTable(TDataSession& session, bool inMemory) : session_(session), inMemory_(inMemory) {
    directory_ = inMemory ? session.OpenDataDirectory(kMemoryDirectory, "")
                          : session.OpenDataDirectory("", session.GetPrivateDir());
}

TTempTable::~TTempTable() {
    try {
        if (table_ != nullptr) (void)directory_->CloseTable(table_, true);
    } catch (...) {
        // Going away; the table is deleted below.
    }
    table_ = nullptr;
    try {
        if (created_) (void)directory_->DeleteTable(name_, inMemory_);
    } catch (...) {
        // Left in the private directory: its own deletion failed.
    }
    session_.CloseDataDirectory(directory_);
}

void TTempTable::Create(const TableDefinition& definition) {
    name_ = directory_->MakeTempTableName(inMemory_);
    TDataTable* table = nullptr;
    created_ = true;
    RaiseDirectoryResult(directory_->CreateTable(name_, inMemory_, definition, table), name_);
    table_ = table;
    table_->SetTemporary(true);
}

void TTempTable::Close() {
    if (table_ == nullptr) return;
    TDataTable* table = table_;
    table_ = nullptr;
    RaiseDirectoryResult(directory_->CloseTable(table), name_);
}

void TTempTable::MoveInto(TDataDirectory& target, const std::string& name) {
    Close();
    const std::string newName = inMemory_ || HasFolder(name) ? name : target.Path() + name;
    RaiseDirectoryResult(directory_->RenameTable(name_, newName, inMemory_, false), name_);
    created_ = false;
}

void ReplaceTable(TDataDirectory& directory, const std::string& name, bool inMemory, TTempTable& replacement,
                  bool noBackup) {
    const std::string aside = directory.MakeTempTableName(inMemory);
    RaiseDirectoryResult(directory.RenameTable(name, aside, inMemory, false), name);
    try {
        replacement.MoveInto(directory, name);
    } catch (...) {
        try {
            (void)directory.RenameTable(aside, name, inMemory, false);
        } catch (...) {
            // The move's failure is the one reported; the old files keep the
            // temporary name.
        }
        throw;
    }
    if (noBackup) {
        RaiseDirectoryResult(directory.DeleteTable(aside, inMemory), name);
    } else {
        // Older backups of the table are replaced.
        RaiseDirectoryResult(directory.RenameTable(aside, name, inMemory, true), name);
    }
}

}  // namespace pixhold::engine
