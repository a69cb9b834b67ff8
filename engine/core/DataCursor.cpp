#include "DataCursor.h"

#include <algorithm>
#include <cctype>

#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

// A change found while an operation runs makes it start again; after the
// first one the read lock is held, so more than a few means damaged files.
constexpr int kMaxRestarts = 8;
constexpr std::size_t kMaxOriginLength = 100;

bool SameName(const std::string& a, const std::string& b) {
    constexpr std::string_view kWhitespace = " \t\r\n";
    return SameFolded(TrimBlanks(a, kWhitespace), TrimBlanks(b, kWhitespace));
}

}  // namespace

TDataCursor::TDataCursor(TDataDirectory& directory) : directory_(directory) {}

TDataCursor::~TDataCursor() {
    if (!IsOpen()) return;
    try {
        CloseCursor();
    } catch (...) {
        // A destructor cannot report; the table use is released regardless.
    }
}

void TDataCursor::Raise(std::uint16_t code, const std::string& index) const {
    RaiseEngineError(code, ErrorContext{.database = directory_.Path(), .table = TableName, .index = index});
}

void TDataCursor::CheckOpen() const {
    if (!IsOpen()) Raise(err::NotInitialized);
}

// ---- opening and closing ---------------------------------------------------------------

void TDataCursor::OpenCursor() {
    if (IsOpen()) return;
    filters_.clear();
    TDataTable* table = nullptr;
    const int result = directory_.OpenTable(TableName, table, Exclusive, InMemory);
    if (result < 0) Raise(static_cast<std::uint16_t>(-result));
    table_ = table;
    try {
        if (table_->UseCount() == 1 && !(table_->InTransaction() && table_->ChangedSinceOpen())) {
            // The first user looks at the headers as they are on disk now, and
            // refuses headers that do not fit together (8961) before any
            // record is read by their figures.
            const bool held = table_->ReadLockHeld();
            table_->BeginRead();
            try {
                table_->BeginBlobRead();
                table_->ValidateHeaders();
            } catch (...) {
                if (!held) table_->EndRead();
                throw;
            }
            if (!held) table_->EndRead();
        }
        CheckPassword();
        LoadDefinitions();
        ReadOnly = ReadOnly || table_->ReadOnly();
        record_.assign(recordSize_, 0);
        pos_ = Position{};
        rangeActive_ = false;
        rangeLow_.clear();
        rangeHigh_.clear();
        filterActive_ = false;
        visible_.ClearAll();
        visibleCount_ = 0;
        if (table_->IndexRebuildNeeded() && !table_->ReadOnly()) table_->RebuildDeletedIndex();
        TakeCounters();
        Guarded([&] {
            SelectSlot(ResultCursor ? kNoIndex : kPrimarySlot);
            MoveToBegin();
        });
    } catch (...) {
        try {
            ReleaseTable();
        } catch (...) {
            // The open's own failure is the one reported.
        }
        throw;
    }
}

void TDataCursor::CheckPassword() {
    if (!table_->IsEncrypted()) return;
    const std::string password = table_->StoredPassword();
    while (!directory_.Session().HasPassword(password)) {
        if (!OnPasswordRequest || !OnPasswordRequest(*this)) Raise(err::PasswordRequired);
    }
}

void TDataCursor::LoadDefinitions() {
    fields_ = table_->Fields();
    recordSize_ = table_->RecordSize();
    hasValidityChecks_ = hasDefaults_ = hasAutoInc_ = false;
    fieldOrigins_.clear();
    for (const FieldDescriptor& f : fields_) {
        hasValidityChecks_ = hasValidityChecks_ || f.required != 0 || !f.minimum.empty() || !f.maximum.empty();
        hasDefaults_ = hasDefaults_ || !f.defaultValue.empty();
        hasAutoInc_ = hasAutoInc_ || f.IsAutoInc();
        fieldOrigins_.push_back((TableName + "." + f.name).substr(0, kMaxOriginLength));
    }
}

void TDataCursor::ReleaseTable() {
    TDataTable* table = table_;
    if (table == nullptr) return;
    if (readLockTaken_) {
        readLockTaken_ = false;
        try {
            table->EndRead();
        } catch (...) {
            // Closing goes on; the table's close releases what is left.
        }
    }
    readDepth_ = 0;
    table_ = nullptr;
    filters_.clear();
    visible_.ClearAll();
    activeRecords_.ClearAll();
    visibleCount_ = 0;
    filterActive_ = false;
    rangeActive_ = false;
    rangeLow_.clear();
    rangeHigh_.clear();
    record_.clear();
    pos_ = Position{};
    comparer_.reset();
    builder_.reset();
    const int result = directory_.CloseTable(table);
    fields_.clear();
    fieldOrigins_.clear();
    if (result < 0) Raise(static_cast<std::uint16_t>(-result));
}

void TDataCursor::CloseCursor() {
    FreeAllBlobs();
    spareValue_ = {};
    if (table_ != nullptr && lockedRecord_ != 0) {
        try {
            UnlockCurrentRecord(0);
        } catch (...) {
            // Closing goes on; the table's last close releases what is left.
        }
    }
    lockedRecord_ = 0;
    conflictSeen_ = false;
    editKeys_.reset();
    ReleaseTable();
}

// ---- index selection --------------------------------------------------------------------

void TDataCursor::SelectSlot(int slot) {
    slot_ = slot;
    rangeActive_ = false;
    rangeLow_.clear();
    rangeHigh_.clear();
    physicalOrder_ = slot == kNoIndex || (slot == kPrimarySlot && !table_->PrimaryIndexHasFields());
    if (physicalOrder_) {
        indexName_ = slot == kNoIndex ? std::string() : table_->IndexDefinition(slot).name;
        layout_ = TKeyLayout{};
        builder_.reset();
        comparer_.reset();
    } else {
        const IndexDescriptor& d = table_->IndexDefinition(slot);
        indexName_ = d.name;
        layout_ = TKeyLayout::For(d, slot, fields_);
        comparer_ = std::make_unique<TKeyComparer>(layout_, table_->DataFile().Header().Locale());
        builder_ = std::make_unique<TKeyBuilder>(layout_, table_->DataFile().Locale(),
                                                 table_->DataFile().Header().languageID == 0);
    }
    filterActive_ = physicalOrder_ || std::any_of(filters_.begin(), filters_.end(),
                                                  [](const std::unique_ptr<TFilter>& f) { return f->Active(); });
    ComputeRangePositions();
    // Filters do not depend on the order: their matching records stay.
    RebuildVisible(false);
}

void TDataCursor::SetIndexName(const std::string& name) {
    CheckOpen();
    if (slot_ != kNoIndex && SameName(name, indexName_)) return;
    Guarded([&] {
        for (int slot = 0; slot < table_->IndexCount(); ++slot) {
            if (!SameName(name, table_->IndexDefinition(slot).name)) continue;
            SelectSlot(slot);
            MoveToBegin();
            return;
        }
        Raise(err::InvalidIndexName, name);
    });
}

std::vector<std::uint8_t> TDataCursor::BuildKey(const std::uint8_t* record) const {
    if (!builder_) return {};
    return builder_->Build(record);
}

// ---- change detection ------------------------------------------------------------------------

void TDataCursor::TakeCounters() { counters_ = table_->ChangeCounters(); }

bool TDataCursor::CheckForChanges() {
    if (table_ == nullptr) return false;
    const bool held = table_->ReadLockHeld();
    const bool changed = table_->BeginRead();
    if (!held && table_->ReadLockHeld()) readLockTaken_ = true;
    return changed;
}

bool TDataCursor::CheckForBlobChanges(bool reading) {
    if (table_ == nullptr || !table_->BlobFileOpen()) return false;
    // A cached block can be used unless a read lock was taken since the BLOB
    // file's counter was compared.
    if (!reading && !table_->BlobCheckOwed()) return false;
    const bool changed = CheckForChanges();
    return table_->BeginBlobRead() || changed;
}

void TDataCursor::EndReadOp() {
    if (!readLockTaken_) return;
    readLockTaken_ = false;
    table_->EndRead();
}

void TDataCursor::Guarded(TFunctionRef<void()> operation) {
    CheckOpen();
    if (readDepth_ > 0) {
        // Part of an operation already under way: its guard restarts it.
        operation();
        return;
    }
    ++readDepth_;
    try {
        // With strict change detection every operation takes the read lock,
        // its BLOB part included (which re-reads the headers); otherwise only the counters of the
        // other cursors of this process are compared.
        bool changed = false;
        if (table_->StrictChangeDetection()) {
            changed = CheckForChanges();
            changed = table_->BeginBlobRead() || changed;
        }
        changed = changed || table_->ChangeCounters() != counters_;
        const Position start = pos_;
        for (int attempt = 0;; ++attempt) {
            try {
                if (changed) Resync();
                operation();
                break;
            } catch (const Restart&) {
                if (attempt >= kMaxRestarts) Raise(err::IndexPagesCorrupt, indexName_);
                pos_ = start;
                changed = true;
            }
        }
    } catch (...) {
        --readDepth_;
        try {
            EndReadOp();
        } catch (...) {
            // The operation's own failure is the one reported.
        }
        throw;
    }
    --readDepth_;
    EndReadOp();
}

// The table changed under the cursor: new counters, new range positions and
// visible records, and the place the cursor stood, found again by its key.
void TDataCursor::Resync() {
    TakeCounters();
    const Position saved = pos_;
    ComputeRangePositions();
    RebuildVisible();
    ReturnTo(saved);
}

void TDataCursor::Refresh() {
    Guarded([&] {
        CheckForChanges();
        Resync();
    });
}

void TDataCursor::LogMessage(const std::string& text) {
    if (OnMessage) OnMessage(text);
}

}  // namespace pixhold::engine
