#include "DataDirectory.h"

#include <unistd.h>

#include <algorithm>
#include <exception>

#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "FirstFailure.h"
#include "FileList.h"
#include "TableFileNames.h"

namespace pixhold::engine {

namespace {

constexpr int kAccessDenied = -static_cast<int>(err::AccessDenied);
constexpr int kTableNotFound = -static_cast<int>(err::TableNotFound);
constexpr std::size_t kTempNameDigits = 5;

bool InUse(const TDataTable& table) { return table.UseCount() != 0 || table.InTransaction(); }

}  // namespace

TDataDirectory::TDataDirectory(TDataSession& session, std::string path) : session_(session), path_(std::move(path)) {}

TDataDirectory::~TDataDirectory() {
    try {
        if (inTransaction_) Rollback();
    } catch (...) {
        // Going away regardless; every table closes its files below.
    }
    while (!tables_.empty()) tables_.pop_back();
}

TDataDirectory::TableList::iterator TDataDirectory::Find(const std::string& name, bool inMemory) {
    return std::find_if(tables_.begin(), tables_.end(), [&](const auto& t) {
        return t->InMemory() == inMemory && SameTableName(t->Name(), name);
    });
}

TDataDirectory::TableList::iterator TDataDirectory::Find(const TDataTable* table) {
    return std::find_if(tables_.begin(), tables_.end(), [table](const auto& t) { return t.get() == table; });
}

TDataTable* TDataDirectory::FindTable(const std::string& name, bool inMemory) const {
    for (const auto& t : tables_)
        if (t->InMemory() == inMemory && SameTableName(t->Name(), name)) return t.get();
    return nullptr;
}

// ---- tables ---------------------------------------------------------------------------

int TDataDirectory::CreateTable(const std::string& name, bool inMemory, const TableDefinition& definition,
                                TDataTable*& table) {
    table = nullptr;
    auto it = Find(name, inMemory);
    if (it != tables_.end()) {
        if (InUse(**it)) return kAccessDenied;
        TDataTable& existing = **it;
        existing.SetExclusive(true);
        existing.SetInMemory(inMemory);
        try {
            existing.CreateTableFiles(definition);
        } catch (...) {
            tables_.erase(it);
            throw;
        }
        table = &existing;
        return 0;
    }
    auto created = std::make_unique<TDataTable>(*this, name);
    created->SetExclusive(true);
    created->SetInMemory(inMemory);
    created->CreateTableFiles(definition);
    tables_.push_back(std::move(created));
    table = tables_.back().get();
    return 0;
}

int TDataDirectory::OpenTable(const std::string& name, TDataTable*& table, bool exclusive, bool inMemory) {
    table = nullptr;
    auto it = Find(name, inMemory);
    if (it != tables_.end() && InUse(**it)) {
        TDataTable& shared = **it;
        const bool keptByTransaction = shared.UseCount() == 0 && shared.InTransaction();
        if ((shared.Exclusive() || exclusive) && !keptByTransaction) return kAccessDenied;
        shared.OpenTableFiles();
        table = &shared;
        return 0;
    }
    TDataTable* opened = nullptr;
    if (it != tables_.end()) {
        opened = it->get();
        opened->SetExclusive(exclusive);
        opened->SetInMemory(inMemory);
        try {
            opened->OpenTableFiles();
        } catch (...) {
            tables_.erase(it);
            throw;
        }
    } else {
        auto fresh = std::make_unique<TDataTable>(*this, name);
        fresh->SetExclusive(exclusive);
        fresh->SetInMemory(inMemory);
        fresh->OpenTableFiles();
        tables_.push_back(std::move(fresh));
        opened = tables_.back().get();
    }
    if (inTransaction_) {
        try {
            opened->StartTableTransaction();
        } catch (...) {
            // Not joined, so not usable: undo the open.
            TFirstFailure cleanup;
            cleanup.Run([opened] { opened->RollbackTableTransaction(); });
            cleanup.Run([opened] { opened->CloseTableFiles(); });
            tables_.erase(Find(opened));
            throw;
        }
    }
    table = opened;
    return 0;
}

int TDataDirectory::CloseTable(TDataTable* table, bool discardIfTemporary) {
    auto it = Find(table);
    if (it == tables_.end()) return kTableNotFound;
    std::exception_ptr failure;
    try {
        table->CloseTableFiles(discardIfTemporary);
    } catch (...) {
        failure = std::current_exception();
    }
    // A table whose last use failed to close cleanly is gone all the same: its
    // files and locks were released.
    if (!InUse(*table)) tables_.erase(it);
    if (failure) std::rethrow_exception(failure);
    return 0;
}

int TDataDirectory::DeleteTable(const std::string& name, bool inMemory) {
    auto it = Find(name, inMemory);
    if (it != tables_.end()) {
        if (InUse(**it)) return kAccessDenied;
        std::unique_ptr<TDataTable> unused = std::move(*it);
        tables_.erase(it);
        unused->SetInMemory(inMemory);
        unused->DeleteTableFiles();
        return 0;
    }
    TDataTable temporary(*this, name);
    temporary.SetInMemory(inMemory);
    temporary.DeleteTableFiles();
    return 0;
}

int TDataDirectory::RenameTable(const std::string& name, const std::string& newName, bool inMemory, bool toBackup) {
    auto it = Find(name, inMemory);
    if (it != tables_.end()) {
        if (InUse(**it)) return kAccessDenied;
        // An unused object would keep the old name; it is not needed any more.
        std::unique_ptr<TDataTable> unused = std::move(*it);
        tables_.erase(it);
        unused->SetInMemory(inMemory);
        unused->RenameTableFiles(newName, toBackup);
        return 0;
    }
    TDataTable temporary(*this, name);
    temporary.SetInMemory(inMemory);
    temporary.RenameTableFiles(newName, toBackup);
    return 0;
}

bool TDataDirectory::TableExists(const std::string& name, bool inMemory) const {
    if (FindTable(name, inMemory) != nullptr) return true;
    return FileList().FileExists(TableFileName(path_, name, tableext::Data), inMemory);
}

std::string TDataDirectory::MakeTempTableName(bool inMemory) const {
    return MakeTempTableName(inMemory, static_cast<long>(::gettid()));
}

std::string TDataDirectory::MakeTempTableName(bool inMemory, long threadId) const {
    const unsigned long magnitude =
        threadId < 0 ? 0UL - static_cast<unsigned long>(threadId) : static_cast<unsigned long>(threadId);
    const std::string stem = std::to_string(magnitude).substr(0, kTempNameDigits);
    for (unsigned long counter = 0;; ++counter) {
        std::string name = stem + std::to_string(counter) + tableext::Data;
        if (!TableExists(name, inMemory)) return name;
    }
}

// ---- transactions ---------------------------------------------------------------------------

void TDataDirectory::CloseUnusedTables() {
    TFirstFailure steps;
    for (std::size_t i = tables_.size(); i-- > 0;) {
        TDataTable* table = tables_[i].get();
        if (InUse(*table)) continue;
        steps.Run([table] { table->CloseTableFiles(); });
        tables_.erase(tables_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    steps.Rethrow();
}

void TDataDirectory::StartTransaction() {
    if (inTransaction_) return;
    try {
        for (auto& table : tables_) table->StartTableTransaction();
    } catch (...) {
        TFirstFailure cleanup;
        for (auto& table : tables_) cleanup.Run([&table] { table->RollbackTableTransaction(); });
        throw;
    }
    inTransaction_ = true;
}

void TDataDirectory::Commit(bool end, bool forceFlush) {
    if (!inTransaction_) return;
    // 1. Write locks, last table to first. A failure leaves the transaction
    //    active for the caller's rollback, but gives back the write locks
    //    already taken: a rollback does not end them, and other processes
    //    would be shut out for good.
    try {
        for (std::size_t i = tables_.size(); i-- > 0;) tables_[i]->PrepareCommit();
    } catch (...) {
        TFirstFailure cleanup;
        for (auto& table : tables_) cleanup.Run([&table] { table->EndWrite(); });
        throw;
    }
    // 2. Write every table's buffers; a failure does not keep the others from
    //    being written. A table left partly written sees the files as they are
    //    at its next lock, since its counters no longer match those on disk.
    TFirstFailure steps;
    for (std::size_t i = tables_.size(); i-- > 0;) {
        TDataTable* table = tables_[i].get();
        steps.Run([table, end, forceFlush] { table->CommitTableBuffers(end, forceFlush); });
    }
    // 3. Release the locks, last to first, whatever happened in step 2.
    for (std::size_t i = tables_.size(); i-- > 0;) {
        TDataTable* table = tables_[i].get();
        steps.Run([table, end] { table->EndTableCommit(end); });
    }
    // Without end the tables stay in the transaction, and so does the directory.
    if (end) {
        inTransaction_ = false;
        steps.Run([this] { CloseUnusedTables(); });
    }
    steps.Rethrow();
}

void TDataDirectory::Rollback() {
    TFirstFailure steps;
    for (std::size_t i = tables_.size(); i-- > 0;) {
        TDataTable* table = tables_[i].get();
        steps.Run([table] { table->RollbackTableTransaction(); });
    }
    inTransaction_ = false;
    steps.Run([this] { CloseUnusedTables(); });
    steps.Rethrow();
}

}  // namespace pixhold::engine
