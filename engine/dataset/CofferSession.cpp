#include "CofferSession.h"

#include <algorithm>

#include "CofferDataSet.h"
#include "CofferDatabase.h"
#include "DatasetError.h"
#include "EngineError.h"
#include "FileName.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

constexpr std::size_t kMaxPasswordLength = 255;
constexpr std::uint16_t kMaxProgressSteps = 100;
constexpr const char* kDefaultSessionName = "Default";

bool SameText(const std::string& a, const std::string& b) { return SameFolded(a, b); }

}  // namespace

// ---- session list -----------------------------------------------------------

TCofferSessionList& TCofferSessionList::Instance() {
    static TCofferSessionList list;
    return list;
}

TCofferSessionList::TCofferSessionList() {
    // Made here rather than through Instance(), which is still being built.
    ownedDefault_ = std::unique_ptr<TCofferSession>(new TCofferSession(*this, kDefaultSessionName));
}

TCofferSessionList::~TCofferSessionList() {
    // Sessions owned elsewhere are only deactivated; the default one is freed.
    std::vector<TCofferSession*> remaining;
    {
        std::lock_guard<std::recursive_mutex> guard(listLock_);
        remaining = sessions_;
    }
    for (auto it = remaining.rbegin(); it != remaining.rend(); ++it) {
        if (*it == defaultSession_) continue;
        try {
            (*it)->SetActive(false);
        } catch (...) {
        }
    }
    ownedDefault_.reset();
}

void TCofferSessionList::Register(TCofferSession* session) {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    sessions_.push_back(session);
    if (defaultSession_ == nullptr) defaultSession_ = session;
}

void TCofferSessionList::Unregister(TCofferSession* session) {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
    if (current_ == session) current_ = nullptr;
    if (defaultSession_ == session) defaultSession_ = nullptr;
}

void TCofferSessionList::RegisterDataSet(TCofferDBDataSet* dataset) {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    dataSets_.push_back(dataset);
}

void TCofferSessionList::UnregisterDataSet(TCofferDBDataSet* dataset) {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), dataset), dataSets_.end());
}

std::vector<TCofferDBDataSet*> TCofferSessionList::DataSetsOf(const void* owner) const {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    std::vector<TCofferDBDataSet*> found;
    for (TCofferDBDataSet* dataset : dataSets_)
        if (dataset->Owner() == owner) found.push_back(dataset);
    return found;
}

TCofferSession* TCofferSessionList::FindSession(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    if (TrimBlanks(name).empty()) return defaultSession_;
    for (TCofferSession* session : sessions_) {
        if (SameText(TrimBlanks(session->SessionName()), TrimBlanks(name))) return session;
    }
    return nullptr;
}

TCofferSession& TCofferSessionList::GetSession(const std::string& name) const {
    TCofferSession* session = FindSession(name);
    if (session == nullptr) RaiseDatasetError(dserr::SessionNameInvalid, name);
    return *session;
}

std::size_t TCofferSessionList::Count() const {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    return sessions_.size();
}

TCofferSession* TCofferSessionList::Session(std::size_t index) const {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    return index < sessions_.size() ? sessions_[index] : nullptr;
}

int TCofferSessionList::ReserveNumber() {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    for (std::size_t i = 0; i < usedNumbers_.size(); ++i) {
        if (!usedNumbers_[i]) {
            usedNumbers_[i] = true;
            return static_cast<int>(i);
        }
    }
    usedNumbers_.push_back(true);
    return static_cast<int>(usedNumbers_.size() - 1);
}

void TCofferSessionList::ReleaseNumber(int number) {
    std::lock_guard<std::recursive_mutex> guard(listLock_);
    if (number >= 0 && static_cast<std::size_t>(number) < usedNumbers_.size()) usedNumbers_[number] = false;
}

TDataSession& TCofferSessionList::ProcessEngineSession() const {
    if (processSession_ == nullptr) RaiseEngineError(err::NotInitialized);
    return *processSession_;
}

void TCofferSessionList::StartEngine() {
    if (processSession_ == nullptr) processSession_ = std::make_unique<TDataSession>();
}

void TCofferSessionList::StopEngine() { processSession_.reset(); }

// ---- session ----------------------------------------------------------------

TCofferSession::TCofferSession(std::string name, const void* owner)
    : list_(TCofferSessionList::Instance()), name_(std::move(name)), owner_(owner) {
    list_.Register(this);
}

TCofferSession::TCofferSession(TCofferSessionList& list, std::string name)
    : list_(list), name_(name), owner_(nullptr), sessionName_(std::move(name)) {
    list_.Register(this);
}

TCofferSession::~TCofferSession() {
    try {
        SetActive(false);
    } catch (...) {
        // Freeing goes on whatever the engine reports.
    }
    // Databases still registered here (owned elsewhere) lose their session;
    // the temporary ones go with it.
    temporaries_.clear();
    TCofferSession* fallback = IsDefault() ? nullptr : &list_.DefaultSession();
    for (TCofferDatabase* database : std::vector<TCofferDatabase*>(databases_)) {
        database->session_ = fallback;
        if (fallback != nullptr) fallback->AddDatabase(database);
    }
    databases_.clear();
    if (autoNumber_ >= 0) list_.ReleaseNumber(autoNumber_);
    list_.Unregister(this);
}

bool TCofferSession::IsDefault() const { return &list_.DefaultSession() == this; }

void TCofferSession::SetActive(bool value) {
    std::lock_guard<std::recursive_mutex> guard(list_.engineLock_);
    if (value) {
        Activate();
    } else {
        Deactivate();
    }
}

void TCofferSession::Activate() {
    if (Active() || activating_) return;
    activating_ = true;
    try {
        if (OnStartup) OnStartup(*this);
        if (TrimBlanks(sessionName_).empty()) RaiseDatasetError(dserr::SessionNameMissing);
        if (sessionType_ == TSessionType::stRemote) RaiseDatasetError(dserr::RemoteNotSupported);
        if (!IsDefault()) list_.DefaultSession().Activate();
        if (IsDefault()) {
            list_.StartEngine();
            engine_ = list_.processSession_.get();
        } else {
            ownEngine_ = std::make_unique<TDataSession>();
            engine_ = ownEngine_.get();
        }
        ApplySettings();
    } catch (...) {
        activating_ = false;
        Deactivate();
        throw;
    }
    activating_ = false;
    list_.current_ = this;
}

void TCofferSession::ApplySettings() {
    // An empty private folder leaves the engine's own default (the system's
    // temporary folder) in place.
    if (!privateDir_.empty()) engine_->SetPrivateDir(privateDir_);
    engine_->SetStrictChangeDetection(strictChangeDetection_);
    engine_->SetForceBufferFlush(forceBufferFlush_);
    engine_->SetLockRetryCount(lockRetryCount_);
    engine_->SetLockWaitTime(static_cast<std::int16_t>(lockWaitTime_));
    engine_->SetLockProtocol(lockProtocol_);
    engine_->SetProgressSteps(static_cast<std::int16_t>(progressSteps_));
    engine_->SetBufferLimits(bufferLimits_);
}

void TCofferSession::Deactivate() {
    if (engine_ == nullptr && ownEngine_ == nullptr) return;
    list_.current_ = this;
    // Databases last first: temporary ones are freed, the others disconnected.
    std::vector<TCofferDatabase*> databases = databases_;
    for (auto it = databases.rbegin(); it != databases.rend(); ++it) {
        TCofferDatabase* database = *it;
        if (database->Temporary()) {
            const auto owned = std::find_if(temporaries_.begin(), temporaries_.end(),
                                            [database](const auto& d) { return d.get() == database; });
            if (owned != temporaries_.end()) temporaries_.erase(owned);
        } else {
            database->Disconnect();
        }
    }
    const bool isDefault = IsDefault();
    engine_ = nullptr;
    ownEngine_.reset();
    if (isDefault) {
        list_.StopEngine();
        list_.current_ = nullptr;
    } else {
        list_.current_ = list_.defaultSession_;
    }
}

void TCofferSession::CheckInactive() const {
    if (Active()) RaiseDatasetError(dserr::SessionActive);
}

// ---- properties ---------------------------------------------------------------

void TCofferSession::SetSessionName(const std::string& value) {
    if (autoSessionName_) RaiseDatasetError(dserr::AutoSessionActive);
    CheckInactive();
    sessionName_ = value;
}

void TCofferSession::SetAutoSessionName(bool value) {
    if (value == autoSessionName_) return;
    CheckInactive();
    if (value) {
        // The auto-session is the only session of its owner.
        for (std::size_t i = 0; i < list_.Count(); ++i) {
            const TCofferSession* other = list_.Session(i);
            if (other == this || owner_ == nullptr || other->Owner() != owner_) continue;
            RaiseDatasetError(other->AutoSessionName() ? dserr::AutoSessionExists : dserr::AutoSessionOnlyActive);
        }
        autoNumber_ = list_.ReserveNumber();
        const std::string oldName = sessionName_;
        sessionName_ = name_ + "_" + std::to_string(autoNumber_ + 1);
        // Databases and datasets of the same owner follow the new name.
        for (TCofferDatabase* database : databases_) {
            if (database->Owner() == owner_ && !SameText(database->SessionName(), sessionName_)) {
                database->sessionName_ = sessionName_;
            }
        }
        if (owner_ != nullptr) {
            for (TCofferDBDataSet* dataset : list_.DataSetsOf(owner_)) {
                if (!SameText(dataset->SessionName(), sessionName_)) dataset->sessionName_ = sessionName_;
            }
        }
    } else {
        list_.ReleaseNumber(autoNumber_);
        autoNumber_ = -1;
    }
    autoSessionName_ = value;
}

void TCofferSession::SetPrivateDir(const std::string& value) {
    if (value == privateDir_) return;
    privateDir_ = value;
    if (Active()) {
        TEngineLock lock(*this);
        engine_->SetPrivateDir(value);
    }
}

void TCofferSession::SetLockRetryCount(std::uint8_t value) {
    if (value == lockRetryCount_) return;
    lockRetryCount_ = value;
    if (Active()) {
        TEngineLock lock(*this);
        engine_->SetLockRetryCount(value);
    }
}

void TCofferSession::SetLockWaitTime(std::uint16_t value) {
    if (value == lockWaitTime_) return;
    lockWaitTime_ = value;
    if (Active()) {
        TEngineLock lock(*this);
        engine_->SetLockWaitTime(static_cast<std::int16_t>(value));
    }
}

void TCofferSession::SetLockProtocol(TLockProtocol value) {
    if (value == lockProtocol_) return;
    lockProtocol_ = value;
    if (Active()) {
        TEngineLock lock(*this);
        engine_->SetLockProtocol(value);
    }
}

void TCofferSession::SetProgressSteps(std::uint16_t value) {
    if (value > kMaxProgressSteps || value == progressSteps_) return;
    progressSteps_ = value;
    if (Active()) {
        TEngineLock lock(*this);
        engine_->SetProgressSteps(static_cast<std::int16_t>(value));
    }
}

void TCofferSession::SetForceBufferFlush(bool value) {
    if (value == forceBufferFlush_) return;
    forceBufferFlush_ = value;
    if (Active()) {
        TEngineLock lock(*this);
        engine_->SetForceBufferFlush(value);
    }
}

void TCofferSession::SetStrictChangeDetection(bool value) {
    if (value == strictChangeDetection_) return;
    strictChangeDetection_ = value;
    if (Active()) {
        TEngineLock lock(*this);
        engine_->SetStrictChangeDetection(value);
    }
}

void TCofferSession::SetSessionType(TSessionType value) {
    CheckInactive();
    sessionType_ = value;
}
void TCofferSession::SetRemoteType(TRemoteType value) {
    CheckInactive();
    remoteType_ = value;
}
void TCofferSession::SetRemoteHost(const std::string& value) {
    CheckInactive();
    remoteHost_ = value;
}
void TCofferSession::SetRemoteAddress(const std::string& value) {
    CheckInactive();
    remoteAddress_ = value;
}
void TCofferSession::SetRemotePort(int value) {
    CheckInactive();
    remotePort_ = value;
}
void TCofferSession::SetRemoteService(const std::string& value) {
    CheckInactive();
    remoteService_ = value;
}
void TCofferSession::SetRemoteUser(const std::string& value) {
    CheckInactive();
    remoteUser_ = value;
}
void TCofferSession::SetRemotePassword(const std::string& value) {
    CheckInactive();
    remotePassword_ = value;
}

// ---- passwords ----------------------------------------------------------------

void TCofferSession::AddPassword(const std::string& password) {
    TEngineLock lock(*this);
    engine_->AddPassword(password.substr(0, kMaxPasswordLength));
}

void TCofferSession::RemovePassword(const std::string& password) {
    TEngineLock lock(*this);
    engine_->RemovePassword(password);
}

void TCofferSession::RemoveAllPasswords() {
    TEngineLock lock(*this);
    engine_->RemoveAllPasswords();
}

bool TCofferSession::RequestPassword() {
    if (OnPassword) {
        bool continueOpen = false;
        OnPassword(*this, continueOpen);
        return continueOpen;
    }
    if (list_.PasswordDialog) return list_.PasswordDialog(*this);
    return false;
}

// ---- engine -------------------------------------------------------------------

TDataSession& TCofferSession::EngineSession() {
    if (engine_ == nullptr) SetActive(true);
    return *engine_;
}

void TCofferSession::LockEngine() {
    list_.engineLock_.lock();
    ++lockCount_;
    try {
        if (!Active() && !activating_) Activate();
    } catch (...) {
        --lockCount_;
        list_.engineLock_.unlock();
        throw;
    }
    list_.current_ = this;
}

void TCofferSession::UnlockEngine() {
    if (lockCount_ == 0) return;
    --lockCount_;
    list_.engineLock_.unlock();
}

// ---- databases ----------------------------------------------------------------

void TCofferSession::AddDatabase(TCofferDatabase* database) {
    if (std::find(databases_.begin(), databases_.end(), database) == databases_.end()) {
        databases_.push_back(database);
    }
}

void TCofferSession::RemoveDatabase(TCofferDatabase* database) {
    databases_.erase(std::remove(databases_.begin(), databases_.end(), database), databases_.end());
}

TCofferDatabase* TCofferSession::FindDatabase(const std::string& name) const {
    const std::string wanted = TrimBlanks(NormalizeSeparators(name));
    for (TCofferDatabase* database : databases_) {
        if (SameText(TrimBlanks(database->DatabaseName()), wanted)) return database;
    }
    return nullptr;
}

TCofferDatabase& TCofferSession::AcquireDatabase(const std::string& name, const void* owner) {
    const std::string wanted = TrimBlanks(NormalizeSeparators(name));
    TCofferDatabase* database = nullptr;
    for (TCofferDatabase* candidate : databases_) {
        if (!SameText(TrimBlanks(candidate->DatabaseName()), wanted)) continue;
        if (database == nullptr) database = candidate;
        if (owner != nullptr && candidate->Owner() == owner) {
            database = candidate;
            break;
        }
    }
    bool created = false;
    if (database == nullptr) {
        auto temporary = std::make_unique<TCofferDatabase>(this, owner);
        temporary->temporary_ = true;
        temporary->SetDatabaseName(wanted);
        // A dataset may name a folder instead of an alias.
        if (!SameText(wanted, "Memory")) temporary->SetDirectory(wanted);
        temporary->SetKeepConnection(keepConnections_);
        database = temporary.get();
        temporaries_.push_back(std::move(temporary));
        created = true;
    }
    try {
        database->SetConnected(true);
        database->AddUse();
    } catch (...) {
        if (created) {
            temporaries_.erase(std::find_if(temporaries_.begin(), temporaries_.end(),
                                            [database](const auto& d) { return d.get() == database; }));
        }
        throw;
    }
    return *database;
}

void TCofferSession::ReleaseDatabase(TCofferDatabase& database) {
    if (database.useCount_ > 0) --database.useCount_;
    // A database that is disconnecting closes its datasets itself.
    if (database.useCount_ != 0 || database.KeepConnection() || database.disconnecting_) return;
    if (database.Temporary()) {
        const auto owned = std::find_if(temporaries_.begin(), temporaries_.end(),
                                        [&database](const auto& d) { return d.get() == &database; });
        if (owned != temporaries_.end()) {
            temporaries_.erase(owned);
            return;
        }
    }
    database.Disconnect();
}

}  // namespace pixhold::engine
