#include "CofferDatabase.h"

#include <algorithm>

#include "CofferDataSet.h"
#include "DataDirectory.h"
#include "DatasetError.h"
#include "FileName.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

bool SameText(const std::string& a, const std::string& b) { return SameFolded(a, b); }

}  // namespace

std::string NormalizeSeparators(const std::string& path) {
    std::string result = path;
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

bool IsPathName(const std::string& name) {
    return name.find(':') != std::string::npos || name.find('/') != std::string::npos ||
           name.find('\\') != std::string::npos;
}

TCofferDatabase::TCofferDatabase(TCofferSession* session, const void* owner)
    : session_(session != nullptr ? session : &TCofferSessionList::Instance().DefaultSession()), owner_(owner) {
    session_->AddDatabase(this);
}

TCofferDatabase::~TCofferDatabase() {
    try {
        Disconnect();
    } catch (...) {
        // Freeing goes on whatever the engine reports.
    }
    if (session_ != nullptr) session_->RemoveDatabase(this);
}

void TCofferDatabase::CheckInactive() const {
    if (Connected()) RaiseDatasetError(dserr::DatabaseOpen);
}

void TCofferDatabase::SetDatabaseName(const std::string& value) {
    CheckInactive();
    const std::string name = NormalizeSeparators(value);
    if (!temporary_ && IsPathName(name)) RaiseDatasetError(dserr::DatabaseNameInvalid, name);
    databaseName_ = name;
}

void TCofferDatabase::SetDirectory(const std::string& value) {
    CheckInactive();
    directory_ = NormalizeSeparators(value);
}

const std::string& TCofferDatabase::SessionName() const {
    return sessionName_.empty() && session_ != nullptr ? session_->SessionName() : sessionName_;
}

void TCofferDatabase::SetSessionName(const std::string& value) {
    CheckInactive();
    sessionName_ = value;
    // Joins the named session at once, so that its datasets find it by name
    // before it is connected.
    if (TCofferSession* session = TCofferSessionList::Instance().FindSession(value)) AttachTo(*session);
}

void TCofferDatabase::SetHandleShared(bool value) {
    CheckInactive();
    handleShared_ = value;
}

void TCofferDatabase::SetRemoteDatabase(const std::string& value) {
    CheckInactive();
    remoteDatabase_ = value;
}

TDataDirectory& TCofferDatabase::Handle() const {
    if (engineDirectory_ == nullptr) RaiseDatasetError(dserr::DatabaseClosed);
    return *engineDirectory_;
}

std::optional<TContentStamp> TCofferDatabase::OpenTableStamp(const std::string& table) const {
    if (engineDirectory_ == nullptr) return std::nullopt;
    TDataTable* open = engineDirectory_->FindTable(table, false);
    if (open == nullptr || !open->IsOpen() || open->UseCount() == 0) return std::nullopt;
    return open->ContentStamp();
}

void TCofferDatabase::SetConnected(bool value) {
    if (value) {
        Connect();
    } else {
        Disconnect();
    }
}

void TCofferDatabase::AttachTo(TCofferSession& session) {
    if (session_ == &session) return;
    if (session_ != nullptr) session_->RemoveDatabase(this);
    session_ = &session;
    session_->AddDatabase(this);
}

void TCofferDatabase::Connect() {
    if (Connected()) return;
    if (BeforeConnect) BeforeConnect(*this);
    if (!temporary_ && TrimBlanks(databaseName_).empty()) RaiseDatasetError(dserr::DatabaseNameMissing);
    TCofferSession& session = sessionName_.empty() && session_ != nullptr
                                  ? *session_
                                  : TCofferSessionList::Instance().GetSession(sessionName_);
    AttachTo(session);
    TCofferDatabase* shareWith = nullptr;
    for (std::size_t i = 0; i < session.DatabaseCount(); ++i) {
        TCofferDatabase* other = session.Database(i);
        if (other == this || !SameText(TrimBlanks(other->DatabaseName()), TrimBlanks(databaseName_))) continue;
        if (!(handleShared_ && other->HandleShared())) {
            RaiseDatasetError(dserr::DatabaseNameExists, databaseName_);
        }
        if (other->Connected() && shareWith == nullptr) shareWith = other;
    }
    session.SetActive(true);
    TEngineLock lock(session);
    TDataSession& engine = session.EngineSession();
    if (shareWith != nullptr) {
        // The same directory object, with its use count raised, so that either
        // database may disconnect first.
        engineDirectory_ = engine.OpenDataDirectory(shareWith->engineDirectory_->Path().empty() ? "Memory" : "",
                                                    shareWith->engineDirectory_->Path());
        sharedHandle_ = true;
        return;
    }
    const std::string directoryName = IsPathName(databaseName_) ? std::string{} : databaseName_;
    engineDirectory_ = engine.OpenDataDirectory(directoryName, directory_);
    sharedHandle_ = false;
}

void TCofferDatabase::Disconnect() {
    if (!Connected()) return;
    // Datasets last first; each one unregisters itself as it closes.
    disconnecting_ = true;
    while (!datasets_.empty()) {
        TCofferDBDataSet* dataset = datasets_.back();
        try {
            dataset->Close();
        } catch (...) {
        }
        if (!datasets_.empty() && datasets_.back() == dataset) datasets_.pop_back();
    }
    disconnecting_ = false;
    TDataDirectory* directory = engineDirectory_;
    engineDirectory_ = nullptr;
    useCount_ = 0;
    if (session_ != nullptr && session_->Active()) {
        TEngineLock lock(*session_);
        session_->EngineSession().CloseDataDirectory(directory);
    }
}

void TCofferDatabase::RegisterDataSet(TCofferDBDataSet* dataset) {
    if (std::find(datasets_.begin(), datasets_.end(), dataset) == datasets_.end()) datasets_.push_back(dataset);
}

void TCofferDatabase::UnregisterDataSet(TCofferDBDataSet* dataset) {
    datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), dataset), datasets_.end());
}

// ---- transactions ---------------------------------------------------------------

bool TCofferDatabase::InTransaction() const { return Connected() && engineDirectory_->InTransaction(); }

void TCofferDatabase::StartTransaction() {
    if (!Connected()) RaiseDatasetError(dserr::DatabaseClosed);
    if (InTransaction()) RaiseDatasetError(dserr::TransactionActive, databaseName_);
    TEngineLock lock(*session_);
    engineDirectory_->StartTransaction();
}

void TCofferDatabase::Commit(bool forceFlush) {
    if (!Connected()) RaiseDatasetError(dserr::DatabaseClosed);
    if (!InTransaction()) RaiseDatasetError(dserr::NoTransaction, databaseName_);
    TEngineLock lock(*session_);
    engineDirectory_->Commit(true, forceFlush);
}

void TCofferDatabase::Rollback() {
    if (!Connected()) RaiseDatasetError(dserr::DatabaseClosed);
    if (!InTransaction()) RaiseDatasetError(dserr::NoTransaction, databaseName_);
    TEngineLock lock(*session_);
    engineDirectory_->Rollback();
}

}  // namespace pixhold::engine
