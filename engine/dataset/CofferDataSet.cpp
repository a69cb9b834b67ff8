#include "CofferDataSet.h"

#include <algorithm>
#include <exception>

#include "CofferBlobStream.h"
#include "CofferDatabase.h"
#include "CursorOps.h"
#include "DatasetError.h"
#include "EngineError.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

bool SameText(const std::string& a, const std::string& b) { return SameFolded(a, b); }

// Codes by which the cursor reports where it stands rather than a failure.
bool IsPositionCode(int code) {
    return code == err::BeginningOfTable || code == err::EndOfTable || code == err::NoCurrentRecord ||
           code == err::RecordNotFound;
}

}  // namespace

TCofferDataSet::TCofferDataSet() = default;

TCofferDataSet::~TCofferDataSet() = default;

TDataCursor& TCofferDataSet::Handle() const {
    if (cursor_ == nullptr) RaiseDatasetError(dserr::DataSetClosed);
    return *cursor_;
}

void TCofferDataSet::CheckActive() const {
    if (!Active()) RaiseDatasetError(dserr::DataSetClosed);
}

void TCofferDataSet::CheckInactive() const {
    if (Active()) RaiseDatasetError(dserr::DataSetOpen);
}

void TCofferDataSet::FireEvent(const TNotifyEvent& event) {
    if (event) event(*this);
}

// ---- opening and closing --------------------------------------------------------

void TCofferDataSet::SetActive(bool value) {
    if (value) {
        Open();
    } else {
        Close();
    }
}

void TCofferDataSet::Open() {
    if (Active()) return;
    FireEvent(BeforeOpen);
    DoOpen();
    FireEvent(AfterOpen);
    FireEvent(AfterScroll);
}

void TCofferDataSet::DoOpen() {
    try {
        cursor_ = OpenHandle();
        if (cursor_ == nullptr) RaiseDatasetError(dserr::HandleNotCreated);
        TEngineLock lock(DBSession());
        BuildFields();
        record_.assign(cursor_->RecordSize(), 0);
        keyBuffer_.assign(cursor_->RecordSize(), 0);
        state_ = TDataSetState::dsBrowse;
        InstallFilters();
        cursor_->SetToBegin();
        ReadRecord(cursor_->GetNextRecord(record_.data()));
    } catch (...) {
        try {
            DropCursor();
        } catch (...) {
            // The open's own failure is the one reported.
        }
        throw;
    }
}

void TCofferDataSet::Close() {
    if (!Active()) return;
    FireEvent(BeforeClose);
    DoClose();
    FireEvent(AfterClose);
}

void TCofferDataSet::DoClose() {
    if (Editing() || state_ == TDataSetState::dsSetKey) {
        try {
            Cancel();
        } catch (...) {
            // Closing goes on: the cursor's close releases what the edit held.
        }
    }
    DropCursor();
}

void TCofferDataSet::DropCursor() {
    state_ = TDataSetState::dsInactive;
    std::exception_ptr failure;
    if (cursor_ != nullptr) {
        try {
            TEngineLock lock(DBSession());
            cursor_->CloseCursor();
        } catch (...) {
            failure = std::current_exception();
        }
        cursor_.reset();
    }
    ClearBuffers();
    HandleClosed();
    if (failure) std::rethrow_exception(failure);
}

void TCofferDataSet::ClearBuffers() {
    fields_.clear();
    record_.clear();
    savedRecord_.clear();
    keyBuffer_.clear();
    changedBlobs_.clear();
    expressionFilter_ = 0;
    callbackFilter_ = 0;
    bof_ = eof_ = true;
}

void TCofferDataSet::BuildFields() {
    fields_.clear();
    for (const FieldDescriptor& descriptor : cursor_->Fields()) {
        // A name that repeats an earlier one gets "_1", "_2", ... until unique.
        std::string name = descriptor.name;
        for (int counter = 1; FindField(name) != nullptr; ++counter) {
            name = descriptor.name + "_" + std::to_string(counter);
        }
        auto field = std::make_unique<TField>(*this, descriptor, name);
        if (AutoDisplayLabels && !descriptor.description.empty()) field->DisplayLabel = descriptor.description;
        fields_.push_back(std::move(field));
    }
    FieldsBuilt();
}

// ---- fields ---------------------------------------------------------------------

TField* TCofferDataSet::FindField(const std::string& name) const {
    for (const auto& field : fields_) {
        if (SameText(field->FieldName(), name)) return field.get();
    }
    return nullptr;
}

TField& TCofferDataSet::FieldByName(const std::string& name) const {
    TField* field = FindField(name);
    if (field == nullptr) RaiseDatasetError(dserr::FieldNotFound, name);
    return *field;
}

TField* TCofferDataSet::FieldByNumber(int number) const {
    for (const auto& field : fields_) {
        if (field->FieldNo() == number) return field.get();
    }
    return nullptr;
}

std::uint8_t* TCofferDataSet::ActiveBuffer() {
    switch (state_) {
        case TDataSetState::dsSetKey:
            return keyBuffer_.data();
        case TDataSetState::dsFilter:
            return const_cast<std::uint8_t*>(filterRecord_);
        default:
            return record_.data();
    }
}

const std::uint8_t* TCofferDataSet::ActiveBuffer() const {
    return const_cast<TCofferDataSet*>(this)->ActiveBuffer();
}

// ---- navigation -------------------------------------------------------------------

bool TCofferDataSet::ReadRecord(int code) {
    if (code == 0) {
        bof_ = eof_ = false;
        return true;
    }
    if (!IsPositionCode(code)) RaiseTableError(static_cast<std::uint16_t>(code), ErrorTableName());
    return false;
}

void TCofferDataSet::First() {
    CheckBrowseMode();
    FireEvent(BeforeScroll);
    {
        TEngineLock lock(DBSession());
        cursor_->SetToBegin();
        if (ReadRecord(cursor_->GetNextRecord(record_.data()))) {
            bof_ = true;
        } else {
            bof_ = eof_ = true;
        }
    }
    FireEvent(AfterScroll);
}

void TCofferDataSet::Last() {
    CheckBrowseMode();
    FireEvent(BeforeScroll);
    {
        TEngineLock lock(DBSession());
        cursor_->SetToEnd();
        if (ReadRecord(cursor_->GetPriorRecord(record_.data()))) {
            eof_ = true;
        } else {
            bof_ = eof_ = true;
        }
    }
    FireEvent(AfterScroll);
}

void TCofferDataSet::Next() { Step(true); }

void TCofferDataSet::Prior() { Step(false); }

void TCofferDataSet::Step(bool forward) {
    CheckBrowseMode();
    bool& atEnd = forward ? eof_ : bof_;
    if (atEnd) return;
    FireEvent(BeforeScroll);
    {
        TEngineLock lock(DBSession());
        std::vector<std::uint8_t> moved(record_.size());
        auto onward = [&] { return cursor_->GetNextRecord(moved.data()); };
        auto back = [&] { return cursor_->GetPriorRecord(moved.data()); };
        const int code = forward ? onward() : back();
        if (ReadRecord(code)) {
            record_.swap(moved);
        } else {
            // The end record stays current; the cursor steps back onto it so
            // that the other direction reaches its neighbour.
            atEnd = true;
            const bool passedEnd = code == (forward ? err::EndOfTable : err::BeginningOfTable);
            if (passedEnd && (forward ? back() : onward()) == 0) record_.swap(moved);
        }
    }
    FireEvent(AfterScroll);
}

std::uint32_t TCofferDataSet::RecordCount() {
    CheckActive();
    TEngineLock lock(DBSession());
    return cursor_->GetRecordCount();
}

std::uint32_t TCofferDataSet::RecNo() {
    CheckActive();
    if (IsEmpty() || state_ == TDataSetState::dsInsert) return 0;
    TEngineLock lock(DBSession());
    return cursor_->GetRecordNo();
}

void TCofferDataSet::SetRecNo(std::uint32_t value) {
    CheckBrowseMode();
    FireEvent(BeforeScroll);
    {
        TEngineLock lock(DBSession());
        if (!cursor_->SetToRecordNo(value)) RaiseTableError(err::RecordNotFound, ErrorTableName());
        ReadRecord(cursor_->GetCurrentRecord(record_.data()));
    }
    FireEvent(AfterScroll);
}

void TCofferDataSet::ReadCurrentOrEmpty() {
    // The current record, else the one after it, else the one before it.
    int code = cursor_->GetCurrentRecord(record_.data());
    if (ReadRecord(code)) return;
    code = cursor_->GetNextRecord(record_.data());
    if (ReadRecord(code)) return;
    code = cursor_->GetPriorRecord(record_.data());
    if (ReadRecord(code)) {
        eof_ = true;
        return;
    }
    bof_ = eof_ = true;
}

void TCofferDataSet::Refresh() {
    CheckBrowseMode();
    FireEvent(BeforeRefresh);
    {
        TEngineLock lock(DBSession());
        cursor_->Refresh();
        ReadCurrentOrEmpty();
    }
    FireEvent(AfterRefresh);
}

void TCofferDataSet::ReReadCurrent() {
    TEngineLock lock(DBSession());
    cursor_->Refresh();
    if (Editing()) return;  // the edit buffer is the caller's
    ReadCurrentOrEmpty();
}

// ---- key search ---------------------------------------------------------------------

bool TCofferDataSet::DoFindKey(const std::vector<std::string>& values) {
    CheckBrowseMode();
    TDataCursor& cursor = Handle();
    const IndexDescriptor* index = nullptr;
    {
        TEngineLock lock(DBSession());
        if (!cursor.PhysicalOrder()) index = &cursor.Table().IndexDefinition(cursor.CurrentIndex());
    }
    if (index == nullptr || index->fieldCount == 0) RaiseDatasetError(dserr::NoIndexFields);
    if (values.size() > index->fieldCount) RaiseDatasetError(dserr::FieldIndexOutOfRange);
    std::fill(keyBuffer_.begin(), keyBuffer_.end(), std::uint8_t{0});
    state_ = TDataSetState::dsSetKey;
    try {
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::uint16_t number = index->fieldNumbers[i];
            TField* field = FieldByNumber(number);
            if (field == nullptr) {
                const auto& fields = cursor.Fields();
                RaiseDatasetError(dserr::IndexFieldUnavailable,
                                  number >= 1 && number <= fields.size() ? fields[number - 1u].name
                                                                          : std::to_string(number));
            }
            field->SetAsString(values[i]);
        }
    } catch (...) {
        state_ = TDataSetState::dsBrowse;
        throw;
    }
    state_ = TDataSetState::dsBrowse;
    FireEvent(BeforeScroll);
    bool found = false;
    {
        TEngineLock lock(DBSession());
        found = cursor.FindKey(false, keyBuffer_.data(), nullptr, static_cast<int>(values.size()), 0, false);
        ReadCurrentOrEmpty();
    }
    if (found) FireEvent(AfterScroll);
    return found;
}

// ---- bookmarks --------------------------------------------------------------------

TBookmark TCofferDataSet::GetBookmark() {
    CheckActive();
    if (IsEmpty()) return {};
    TEngineLock lock(DBSession());
    return cursor_->GetBookmark();
}

void TCofferDataSet::GotoBookmark(const TBookmark& bookmark) {
    CheckBrowseMode();
    if (bookmark.empty()) RaiseDatasetError(dserr::InvalidBookmark);
    FireEvent(BeforeScroll);
    {
        TEngineLock lock(DBSession());
        if (!cursor_->SetToBookmark(bookmark, false)) RaiseTableError(err::RecordNotFound, ErrorTableName());
        ReadRecord(cursor_->GetCurrentRecord(record_.data()));
    }
    FireEvent(AfterScroll);
}

// ---- editing ------------------------------------------------------------------------

void TCofferDataSet::RunWithErrorEvent(const TErrorEvent& handler, const std::function<void()>& operation) {
    for (;;) {
        try {
            operation();
            return;
        } catch (const EAbort&) {
            throw;
        } catch (const std::exception& error) {
            TDataAction action = TDataAction::daFail;
            if (handler) handler(*this, error, action);
            if (action == TDataAction::daFail) throw;
            if (action == TDataAction::daAbort) throw EAbort();
        }
    }
}

void TCofferDataSet::CheckBrowseMode() {
    CheckActive();
    if (Editing()) {
        Post();
    } else if (state_ == TDataSetState::dsSetKey) {
        state_ = TDataSetState::dsBrowse;
    }
}

void TCofferDataSet::Edit() {
    CheckActive();
    if (Editing()) return;
    CheckBrowseMode();
    if (IsEmpty()) {
        Append();
        return;
    }
    if (!CanModify()) RaiseDatasetError(dserr::DataSetReadOnly);
    FireEvent(BeforeEdit);
    RunWithErrorEvent(OnEditError, [this] {
        TEngineLock lock(DBSession());
        std::vector<std::uint8_t> before = record_;
        const int code = cursorops::GetCurrentRecordLocked(*cursor_, record_.data());
        if (code != 0) {
            record_ = before;
            RaiseTableError(static_cast<std::uint16_t>(code), ErrorTableName());
        }
        savedRecord_ = record_;
    });
    changedBlobs_.clear();
    state_ = TDataSetState::dsEdit;
    FireEvent(AfterEdit);
}

void TCofferDataSet::Append() {
    CheckBrowseMode();
    if (!CanModify()) RaiseDatasetError(dserr::DataSetReadOnly);
    FireEvent(BeforeInsert);
    FireEvent(BeforeScroll);
    savedRecord_ = record_;
    savedBof_ = bof_;
    savedEof_ = eof_;
    {
        TEngineLock lock(DBSession());
        cursorops::InitRecord(*cursor_, record_.data());
    }
    changedBlobs_.clear();
    state_ = TDataSetState::dsInsert;
    FireEvent(OnNewRecord);
    FireEvent(AfterInsert);
    FireEvent(AfterScroll);
}

void TCofferDataSet::Post() {
    CheckActive();
    if (!Editing()) return;
    FireEvent(BeforePost);
    RunWithErrorEvent(OnPostError, [this] {
        TEngineLock lock(DBSession());
        if (state_ == TDataSetState::dsInsert) {
            cursorops::AppendRecord(*cursor_, record_.data());
        } else {
            cursorops::ModifyRecord(*cursor_, record_.data());
        }
    });
    state_ = TDataSetState::dsBrowse;
    changedBlobs_.clear();
    savedRecord_.clear();
    {
        TEngineLock lock(DBSession());
        ReadCurrentOrEmpty();
    }
    FireEvent(AfterPost);
}

void TCofferDataSet::Cancel() {
    CheckActive();
    if (state_ == TDataSetState::dsSetKey) {
        state_ = TDataSetState::dsBrowse;
        return;
    }
    if (!Editing()) return;
    FireEvent(BeforeCancel);
    const bool inserting = state_ == TDataSetState::dsInsert;
    {
        TEngineLock lock(DBSession());
        cursorops::FreeAllBlobs(*cursor_);
        if (!inserting) cursorops::CancelRecord(*cursor_);
    }
    record_ = savedRecord_;
    if (inserting) {
        bof_ = savedBof_;
        eof_ = savedEof_;
    }
    savedRecord_.clear();
    changedBlobs_.clear();
    state_ = TDataSetState::dsBrowse;
    FireEvent(AfterCancel);
}

void TCofferDataSet::Delete() {
    CheckActive();
    if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
        Cancel();
        return;
    }
    if (IsEmpty()) RaiseDatasetError(dserr::EmptyDataSet);
    if (!CanModify()) RaiseDatasetError(dserr::DataSetReadOnly);
    FireEvent(BeforeDelete);
    FireEvent(BeforeScroll);
    // An edit in progress is given up: the record goes anyway.
    const std::vector<std::uint8_t> expected = state_ == TDataSetState::dsEdit ? savedRecord_ : record_;
    RunWithErrorEvent(OnDeleteError, [this, &expected] {
        TEngineLock lock(DBSession());
        std::vector<std::uint8_t> buffer = expected;
        cursorops::DeleteRecord(*cursor_, buffer.data());
    });
    state_ = TDataSetState::dsBrowse;
    savedRecord_.clear();
    changedBlobs_.clear();
    {
        TEngineLock lock(DBSession());
        ReadCurrentOrEmpty();
    }
    FireEvent(AfterDelete);
    FireEvent(AfterScroll);
}

// ---- filters ------------------------------------------------------------------------

bool TCofferDataSet::AcceptRecord(const std::uint8_t* record) {
    const TDataSetState previous = state_;
    const std::uint8_t* previousRecord = filterRecord_;
    state_ = TDataSetState::dsFilter;
    filterRecord_ = record;
    bool accept = true;
    try {
        onFilterRecord_(*this, accept);
    } catch (const std::exception& error) {
        // Reported, and the record is shown.
        if (TCofferSessionList::Instance().ErrorReport) TCofferSessionList::Instance().ErrorReport(error);
        accept = true;
    }
    state_ = previous;
    filterRecord_ = previousRecord;
    return accept;
}

void TCofferDataSet::InstallFilters() {
    if (!filter_.empty()) expressionFilter_ = cursorops::AddExpressionFilter(*cursor_, filter_, filterOptions_);
    if (onFilterRecord_) {
        callbackFilter_ =
            cursorops::AddCallbackFilter(*cursor_, [this](const std::uint8_t* record) { return AcceptRecord(record); });
    }
    if (filtered_) {
        if (expressionFilter_ != 0) cursorops::ActivateFilter(*cursor_, expressionFilter_);
        if (callbackFilter_ != 0) cursorops::ActivateFilter(*cursor_, callbackFilter_);
    }
}

void TCofferDataSet::ReplaceExpressionFilter() {
    TEngineLock lock(DBSession());
    int replacement = 0;
    // Built first, so that a faulty text leaves the old filter in force.
    if (!filter_.empty()) replacement = cursorops::AddExpressionFilter(*cursor_, filter_, filterOptions_);
    if (expressionFilter_ != 0) cursorops::DropFilter(*cursor_, expressionFilter_);
    expressionFilter_ = replacement;
    if (filtered_ && expressionFilter_ != 0) cursorops::ActivateFilter(*cursor_, expressionFilter_);
}

// Filter text and options are kept as they are while the dataset is closed;
// while open the expression filter is rebuilt, and a failure keeps the
// previous setting.
template <typename T>
void TCofferDataSet::ChangeFilterSetting(T& setting, const T& value) {
    if (!Active()) {
        setting = value;
        return;
    }
    CheckBrowseMode();
    if (!(value == setting)) {
        const T previous = setting;
        setting = value;
        try {
            ReplaceExpressionFilter();
        } catch (...) {
            setting = previous;
            throw;
        }
    }
    if (filtered_) First();
}

void TCofferDataSet::SetFilter(const std::string& value) { ChangeFilterSetting(filter_, value); }

void TCofferDataSet::SetFilterOptions(TFilterOptions value) { ChangeFilterSetting(filterOptions_, value); }

void TCofferDataSet::SetFiltered(bool value) {
    if (!Active()) {
        filtered_ = value;
        return;
    }
    CheckBrowseMode();
    if (value != filtered_) {
        TEngineLock lock(DBSession());
        for (int handle : {expressionFilter_, callbackFilter_}) {
            if (handle == 0) continue;
            if (value) {
                cursorops::ActivateFilter(*cursor_, handle);
            } else {
                cursorops::DeactivateFilter(*cursor_, handle);
            }
        }
        filtered_ = value;
    }
    First();
}

// ---- BLOBs and buffers ----------------------------------------------------------------

std::unique_ptr<TCofferBlobStream> TCofferDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
    return std::make_unique<TCofferBlobStream>(field, mode);
}

void TCofferDataSet::FlushBuffers() {
    CheckActive();
    TEngineLock lock(DBSession());
    cursorops::FlushBuffers(*cursor_);
}

// ---- database binding -------------------------------------------------------------------

TCofferDBDataSet::TCofferDBDataSet(const void* owner) : owner_(owner) {
    TCofferSessionList::Instance().RegisterDataSet(this);
}

TCofferDBDataSet::~TCofferDBDataSet() {
    try {
        Close();
    } catch (...) {
    }
    ReleaseDatabase();
    TCofferSessionList::Instance().UnregisterDataSet(this);
}

void TCofferDBDataSet::SetDatabaseName(const std::string& value) {
    CheckInactive();
    databaseName_ = NormalizeSeparators(value);
}

void TCofferDBDataSet::SetSessionName(const std::string& value) {
    CheckInactive();
    sessionName_ = value;
}

TCofferSession& TCofferDBDataSet::DBSession() const {
    if (database_ != nullptr) return database_->Session();
    return TCofferSessionList::Instance().GetSession(sessionName_);
}

TCofferDatabase& TCofferDBDataSet::AcquireDatabase() {
    if (database_ != nullptr) return *database_;
    TCofferSession& session = TCofferSessionList::Instance().GetSession(sessionName_);
    TCofferDatabase& database = session.AcquireDatabase(databaseName_, owner_);
    database_ = &database;
    databaseSession_ = &session;
    database.RegisterDataSet(this);
    return database;
}

void TCofferDBDataSet::ReleaseDatabase() {
    if (database_ == nullptr) return;
    TCofferDatabase* database = database_;
    database_ = nullptr;
    database->UnregisterDataSet(this);
    database->Session().ReleaseDatabase(*database);
    databaseSession_ = nullptr;
}

TDataSetReadRun::TDataSetReadRun(TCofferDataSet& dataset) : dataset_(dataset) {
    if (!dataset.Active() || !dataset.HasHandle() || !dataset.Handle().IsOpen()) return;
    TEngineLock lock(dataset.DBSession());
    TDataTable& table = dataset.Handle().Table();
    if (table.QueryReadLockHeld()) return;
    table.BeginQueryRead();
    taken_ = table.QueryReadLockHeld();
}

TDataSetReadRun::~TDataSetReadRun() {
    if (!taken_ || !dataset_.HasHandle() || !dataset_.Handle().IsOpen()) return;
    try {
        TEngineLock lock(dataset_.DBSession());
        dataset_.Handle().Table().EndQueryRead();
    } catch (...) {
        // A lock that cannot be given back ends with the file's handle.
    }
}

}  // namespace pixhold::engine
