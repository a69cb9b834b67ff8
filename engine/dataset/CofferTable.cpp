#include "CofferTable.h"

#include "CofferDatabase.h"
#include "CursorOps.h"
#include "DataDirectory.h"
#include "DataTable.h"
#include "DatasetError.h"
#include "EngineError.h"
#include "FileName.h"
#include "TableMaintenance.h"

namespace pixhold::engine {

namespace {

constexpr std::uint16_t kCreateBlobBlockSize = 512;
constexpr std::uint16_t kCreateUserMajorVersion = 1;

std::vector<std::string> SplitNames(const std::string& text) {
    std::vector<std::string> names;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(';', from);
        const std::string name = TrimBlanks(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (!name.empty()) names.push_back(name);
        if (at == std::string::npos) return names;
        from = at + 1;
    }
}

}  // namespace

TCofferTable::~TCofferTable() {
    try {
        Close();
    } catch (...) {
    }
}

// ---- properties ---------------------------------------------------------------------

void TCofferTable::SetTableName(const std::string& value) {
    CheckInactive();
    std::string name = NormalizeSeparators(value);
    const std::size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) {
        SetDatabaseName(name.substr(0, slash + 1));
        name = name.substr(slash + 1);
    }
    if (!SameDefName(name, tableName_)) restructureDefsLoaded_ = false;
    tableName_ = name;
}

void TCofferTable::SetExclusive(bool value) {
    CheckInactive();
    exclusive_ = value;
}

void TCofferTable::SetReadOnly(bool value) {
    CheckInactive();
    readOnly_ = value;
}

void TCofferTable::SetIndexName(const std::string& value) {
    indexName_ = value;
    indexFieldNames_.clear();
    if (!Active()) return;
    CheckBrowseMode();
    {
        TEngineLock lock(DBSession());
        SelectIndex(Handle());
    }
    IndexChanged();
}

void TCofferTable::SetIndexFieldNames(const std::string& value) {
    indexFieldNames_ = value;
    indexName_.clear();
    if (!Active()) return;
    CheckBrowseMode();
    {
        TEngineLock lock(DBSession());
        SelectIndex(Handle());
    }
    IndexChanged();
}

void TCofferTable::SelectIndex(TDataCursor& cursor) {
    if (!indexName_.empty()) {
        cursor.SetIndexName(indexName_);
        return;
    }
    if (indexFieldNames_.empty()) {
        cursor.SetIndexName({});
        return;
    }
    const std::vector<std::string> wanted = SplitNames(indexFieldNames_);
    const TDataTable& table = cursor.Table();
    const auto& fields = cursor.Fields();
    for (int slot = 0; slot < table.IndexCount(); ++slot) {
        const IndexDescriptor& index = table.IndexDefinition(slot);
        if (index.fieldCount != wanted.size()) continue;
        bool same = true;
        for (int i = 0; i < index.fieldCount && same; ++i) {
            const std::uint16_t number = index.fieldNumbers[i];
            same = number >= 1 && number <= fields.size() && SameDefName(fields[number - 1u].name, wanted[i]);
        }
        if (same) {
            cursor.SetIndexName(index.name);
            return;
        }
    }
    RaiseEngineError(err::InvalidIndexName, ErrorContext{.table = tableName_, .index = indexFieldNames_});
}

// ---- opening -------------------------------------------------------------------------

std::unique_ptr<TDataCursor> TCofferTable::NewCursor(TCofferDatabase& database, bool exclusive) {
    std::unique_ptr<TDataCursor> cursor;
    try {
        cursor = std::make_unique<TDataCursor>(database.Handle());
    } catch (const std::bad_alloc&) {
        RaiseDatasetError(dserr::HandleNotCreated);
    }
    cursor->TableName = tableName_;
    cursor->Exclusive = exclusive;
    cursor->ReadOnly = readOnly_;
    cursor->InMemory = false;
    TCofferSession& session = database.Session();
    cursor->OnPasswordRequest = [&session](TDataCursor&) { return session.RequestPassword(); };
    cursor->OnMessage = [this](const std::string& message) {
        if (OnRepairLog) OnRepairLog(*this, message);
    };
    return cursor;
}

std::unique_ptr<TDataCursor> TCofferTable::OpenHandle() {
    TCofferDatabase& database = AcquireDatabase();
    if (TrimBlanks(tableName_).empty()) RaiseDatasetError(dserr::MissingTableName);
    std::unique_ptr<TDataCursor> cursor = NewCursor(database, exclusive_);
    TEngineLock lock(database.Session());
    cursor->OpenCursor();
    // The engine may open the table for reading only (read-only files).
    if (cursor->ReadOnly) readOnly_ = true;
    SelectIndex(*cursor);
    return cursor;
}

// ---- searching ------------------------------------------------------------------------

bool TCofferTable::FindKey(const std::vector<std::string>& values) { return DoFindKey(values); }

// ---- table-wide operations -------------------------------------------------------------

// Holds the database for the length of one table-wide operation and gives
// the engine's maintenance object the table's events and the session's
// password request.
class TCofferTable::Maintenance {
public:
    explicit Maintenance(TCofferTable& table) : table_(table) {
        table_.CheckInactive();
        if (TrimBlanks(table_.tableName_).empty()) RaiseDatasetError(dserr::MissingTableName);
        TCofferDatabase& database = table_.AcquireDatabase();
        try {
            engine_ = std::make_unique<TTableMaintenance>(database.Handle(), table_.tableName_, false);
        } catch (...) {
            table_.ReleaseDatabase();
            throw;
        }
        TCofferSession& session = database.Session();
        TMaintenanceEvents& events = engine_->Events;
        events.OnPasswordRequest = [&session] { return session.RequestPassword(); };
    }
    ~Maintenance() {
        engine_.reset();
        table_.ReleaseDatabase();
    }
    Maintenance(const Maintenance&) = delete;
    Maintenance& operator=(const Maintenance&) = delete;

    TTableMaintenance& Engine() { return *engine_; }
    TDataDirectory& Directory() { return engine_->Directory(); }

private:
    TCofferTable& table_;
    std::unique_ptr<TTableMaintenance> engine_;
};

bool TCofferTable::TableExists() {
    if (Active()) return true;
    Maintenance maintenance(*this);
    TEngineLock lock(DBSession());
    return maintenance.Directory().TableExists(tableName_, false);
}

void TCofferTable::CreateTable() {
    CheckInactive();
    TableDefinition definition;
    definition.fields = FieldDescriptorsOf(FieldDefs);
    definition.indexes = IndexDescriptorsOf(IndexDefs, definition.fields);
    definition.textIndex = TextIndexDescriptor();
    definition.params.languageID = 0;
    definition.params.sortID = 0;
    definition.params.blobBlockSize = kCreateBlobBlockSize;
    definition.params.userMajorVersion = kCreateUserMajorVersion;
    definition.params.userMinorVersion = 0;
    Maintenance maintenance(*this);
    TEngineLock lock(DBSession());
    maintenance.Engine().CreateTable(definition, false);
    restructureDefsLoaded_ = false;
}

void TCofferTable::DeleteTable() {
    Maintenance maintenance(*this);
    TEngineLock lock(DBSession());
    maintenance.Engine().DeleteTable();
    restructureDefsLoaded_ = false;
}

void TCofferTable::EmptyTable() {
    Maintenance maintenance(*this);
    TEngineLock lock(DBSession());
    maintenance.Engine().EmptyTable();
}

void TCofferTable::OptimizeTable(const std::string& indexName, bool noBackup) {
    Maintenance maintenance(*this);
    if (OnOptimizeProgress) maintenance.Engine().Events.OnProgress = [this](int percent) { OnOptimizeProgress(*this, percent); };
    TEngineLock lock(DBSession());
    maintenance.Engine().OptimizeTable(indexName, noBackup);
}

bool TCofferTable::RepairTable(bool forceIndexRebuild) {
    Maintenance maintenance(*this);
    TMaintenanceEvents& events = maintenance.Engine().Events;
    if (OnRepairProgress) {
        events.OnSteppedProgress = [this](const std::string& step, int percent) { OnRepairProgress(*this, step, percent); };
    }
    if (OnRepairLog) events.OnLog = [this](const std::string& message) { OnRepairLog(*this, message); };
    TEngineLock lock(DBSession());
    return maintenance.Engine().RepairTable(forceIndexRebuild);
}

void TCofferTable::UpgradeTable() {
    Maintenance maintenance(*this);
    TMaintenanceEvents& events = maintenance.Engine().Events;
    if (OnUpgradeProgress) {
        events.OnSteppedProgress = [this](const std::string& step, int percent) { OnUpgradeProgress(*this, step, percent); };
    }
    if (OnUpgradeLog) events.OnLog = [this](const std::string& message) { OnUpgradeLog(*this, message); };
    TEngineLock lock(DBSession());
    maintenance.Engine().UpgradeTable();
}

void TCofferTable::RestructureTable(std::uint16_t languageID, std::uint16_t sortID, bool noBackup,
                                    std::int64_t lastAutoIncValue, std::uint16_t blobBlockSize,
                                    const std::string& description, const std::string& password, bool encrypted,
                                    std::uint16_t userMinorVersion, std::uint16_t userMajorVersion) {
    TableDefinition definition;
    definition.fields = FieldDescriptorsOf(RestructureFieldDefs);
    definition.indexes = IndexDescriptorsOf(RestructureIndexDefs, definition.fields);
    definition.textIndex = TextIndexDescriptor();
    // No text-index parameters: the table keeps its current ones.
    TableParams& params = definition.params;
    params.languageID = languageID;
    params.sortID = sortID;
    params.blobBlockSize = blobBlockSize;
    params.description = description;
    params.password = password;
    params.encrypted = encrypted;
    params.userMinorVersion = userMinorVersion;
    params.userMajorVersion = userMajorVersion;
    Maintenance maintenance(*this);
    TMaintenanceEvents& events = maintenance.Engine().Events;
    if (OnRestructureProgress) events.OnProgress = [this](int percent) { OnRestructureProgress(*this, percent); };
    if (OnDataLost) {
        events.OnDataLost = [this](TDataLossCause cause, const std::string& context, bool& continueOperation,
                                   bool& stopAsking) { OnDataLost(*this, cause, context, continueOperation, stopAsking); };
    }
    TEngineLock lock(DBSession());
    // -1 and 0 both keep the table's counter.
    maintenance.Engine().RestructureTable(definition, lastAutoIncValue <= 0 ? -1 : lastAutoIncValue, noBackup);
    restructureDefsLoaded_ = false;
}

// Reads from the table's headers: through the open cursor, or by opening the
// shared table object without a cursor (no password is needed for that).
template <typename F>
auto TCofferTable::WithHeader(F&& read) {
    if (Active()) {
        TEngineLock lock(DBSession());
        return read(Handle().Table());
    }
    Maintenance maintenance(*this);
    TEngineLock lock(DBSession());
    TDataTable* table = nullptr;
    const int code = maintenance.Directory().OpenTable(tableName_, table, false, false);
    if (code < 0) RaiseTableError(static_cast<std::uint16_t>(-code), tableName_);
    try {
        auto result = read(*table);
        const int closed = maintenance.Directory().CloseTable(table);
        if (closed < 0) RaiseTableError(static_cast<std::uint16_t>(-closed), tableName_);
        return result;
    } catch (...) {
        (void)maintenance.Directory().CloseTable(table);  // the read's failure is the one reported
        throw;
    }
}

std::string TCofferTable::GetTablePassword() {
    return WithHeader([](TDataTable& table) { return table.StoredPassword(); });
}

std::string TCofferTable::GetTableDescription() {
    return WithHeader([](TDataTable& table) { return table.DataFile().GetDescription(); });
}

void TCofferTable::LoadRestructureDefs() {
    if (restructureDefsLoaded_) return;
    WithHeader([this](TDataTable& table) {
        RestructureFieldDefs.Clear();
        RestructureIndexDefs.Clear();
        const auto& fields = table.Fields();
        for (const FieldDescriptor& field : fields) RestructureFieldDefs.Add(RestructureFieldDefOf(field));
        for (int slot = 0; slot < table.IndexCount(); ++slot) {
            const IndexDescriptor& index = table.IndexDefinition(slot);
            if (slot == 0 && index.fieldCount == 0) continue;
            RestructureIndexDefs.Add(IndexDefOf(index, slot == 0, fields));
        }
        return 0;
    });
    restructureDefsLoaded_ = true;
}

}  // namespace pixhold::engine
