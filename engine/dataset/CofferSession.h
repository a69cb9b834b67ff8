#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DataSession.h"

namespace pixhold::engine {

class TCofferDatabase;
class TCofferDBDataSet;
class TCofferSession;

enum class TSessionType : std::uint8_t { stLocal, stRemote };
enum class TRemoteType : std::uint8_t { rtLAN, rtInternet };

// The engine version every dataset-interface object reports.
inline constexpr const char* kEngineVersion = "3.30";

// The process-wide registry of sessions. It is made (with the default session
// "Default") the first time anything asks for it, and frees the sessions it
// still owns at the end of the process, the most recently made first. It also
// carries the one engine lock that serialises every engine call of every
// session, and the engine's process-wide session.
class TCofferSessionList {
public:
    static TCofferSessionList& Instance();

    // Empty name: the default session; otherwise the first session whose name
    // matches without regard to case, or none.
    TCofferSession* FindSession(const std::string& name) const;
    // As FindSession; none is "Session name %s is not valid.".
    TCofferSession& GetSession(const std::string& name) const;
    TCofferSession& DefaultSession() const { return *defaultSession_; }
    std::size_t Count() const;
    TCofferSession* Session(std::size_t index) const;
    // Every dataset bound by name (TCofferDBDataSet) registers here for its
    // lifetime, so that an automatic session name reaches the datasets of its
    // owner.
    void RegisterDataSet(TCofferDBDataSet* dataset);
    void UnregisterDataSet(TCofferDBDataSet* dataset);
    std::vector<TCofferDBDataSet*> DataSetsOf(const void* owner) const;

    // The engine's process-wide session; 10758 before the engine was started.
    TDataSession& ProcessEngineSession() const;
    bool EngineStarted() const { return processSession_ != nullptr; }
    // The session whose engine session the engine currently works with.
    TCofferSession* CurrentSession() const { return current_; }

    // The engine's own password dialog, installed by a layer that can show
    // one; true means try again. Without it a request with no OnPassword
    // handler gives up.
    std::function<bool(TCofferSession&)> PasswordDialog;
    // Where errors go that a dataset catches without passing them on (an
    // error inside a record filter handler); installed by the application.
    std::function<void(const std::exception&)> ErrorReport;

    ~TCofferSessionList();
    TCofferSessionList(const TCofferSessionList&) = delete;
    TCofferSessionList& operator=(const TCofferSessionList&) = delete;

private:
    friend class TCofferSession;
    TCofferSessionList();

    void Register(TCofferSession* session);
    void Unregister(TCofferSession* session);
    int ReserveNumber();
    void ReleaseNumber(int number);
    void StartEngine();
    void StopEngine();

    mutable std::recursive_mutex listLock_;
    std::vector<TCofferSession*> sessions_;
    std::vector<TCofferDBDataSet*> dataSets_;
    std::vector<bool> usedNumbers_;
    std::recursive_mutex engineLock_;
    std::unique_ptr<TDataSession> processSession_;
    TCofferSession* current_ = nullptr;
    TCofferSession* defaultSession_ = nullptr;
    std::unique_ptr<TCofferSession> ownedDefault_;
};

// A session of the dataset interface: the engine settings, the password list
// and the password request, and the databases that use it. Every operation
// that reaches the engine runs inside the process-wide engine lock.
class TCofferSession {
public:
    // `name` is the component name (automatic session names start with it);
    // `owner` groups the session with the databases and datasets of the same
    // owner.
    explicit TCofferSession(std::string name = {}, const void* owner = nullptr);
    virtual ~TCofferSession();
    TCofferSession(const TCofferSession&) = delete;
    TCofferSession& operator=(const TCofferSession&) = delete;

    const std::string& Name() const { return name_; }
    const void* Owner() const { return owner_; }
    std::string EngineVersion() const { return kEngineVersion; }

    // ---- activation ----
    bool Active() const { return engine_ != nullptr; }
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    bool IsDefault() const;

    // ---- properties ----
    const std::string& SessionName() const { return sessionName_; }
    void SetSessionName(const std::string& value);
    bool AutoSessionName() const { return autoSessionName_; }
    void SetAutoSessionName(bool value);
    bool KeepConnections() const { return keepConnections_; }
    void SetKeepConnections(bool value) { keepConnections_ = value; }
    const std::string& PrivateDir() const { return privateDir_; }
    void SetPrivateDir(const std::string& value);
    std::uint8_t LockRetryCount() const { return lockRetryCount_; }
    void SetLockRetryCount(std::uint8_t value);
    std::uint16_t LockWaitTime() const { return lockWaitTime_; }
    void SetLockWaitTime(std::uint16_t value);
    TLockProtocol LockProtocol() const { return lockProtocol_; }
    void SetLockProtocol(TLockProtocol value);
    std::uint16_t ProgressSteps() const { return progressSteps_; }
    // A value above 100 is ignored.
    void SetProgressSteps(std::uint16_t value);
    bool ForceBufferFlush() const { return forceBufferFlush_; }
    void SetForceBufferFlush(bool value);
    bool StrictChangeDetection() const { return strictChangeDetection_; }
    void SetStrictChangeDetection(bool value);
    TBufferLimits BufferLimits() const { return bufferLimits_; }

    // Remote settings: kept, not used by this local engine (a remote session
    // cannot be activated). None may change while the session is active.
    TSessionType SessionType() const { return sessionType_; }
    void SetSessionType(TSessionType value);
    TRemoteType RemoteType() const { return remoteType_; }
    void SetRemoteType(TRemoteType value);
    const std::string& RemoteHost() const { return remoteHost_; }
    void SetRemoteHost(const std::string& value);
    const std::string& RemoteAddress() const { return remoteAddress_; }
    void SetRemoteAddress(const std::string& value);
    int RemotePort() const { return remotePort_; }
    void SetRemotePort(int value);
    const std::string& RemoteService() const { return remoteService_; }
    void SetRemoteService(const std::string& value);
    const std::string& RemoteUser() const { return remoteUser_; }
    void SetRemoteUser(const std::string& value);
    const std::string& RemotePassword() const { return remotePassword_; }
    void SetRemotePassword(const std::string& value);
    bool RemoteTrace() const { return remoteTrace_; }
    void SetRemoteTrace(bool value) { remoteTrace_ = value; }

    // ---- events ----
    // The password request: set `continueOpen` to ask the engine to try again
    // (after adding a password).
    std::function<void(TCofferSession&, bool& continueOpen)> OnPassword;
    std::function<void(TCofferSession&)> OnStartup;

    // ---- passwords (at most 255 characters; compared exactly) ----
    void AddPassword(const std::string& password);
    void RemovePassword(const std::string& password);
    void RemoveAllPasswords();
    // The engine asks for a password it does not know; true means try again.
    bool RequestPassword();

    // ---- databases ----
    TCofferDatabase* FindDatabase(const std::string& name) const;
    // The database a dataset names (an alias, or a folder for a temporary
    // database), connected and counted as used once more.
    TCofferDatabase& AcquireDatabase(const std::string& name, const void* owner = nullptr);
    void ReleaseDatabase(TCofferDatabase& database);
    std::size_t DatabaseCount() const { return databases_.size(); }
    TCofferDatabase* Database(std::size_t index) const { return databases_[index]; }

    // ---- engine ----
    // The engine session while active (the session is activated first).
    TDataSession& EngineSession();
    // Enter and leave the process-wide engine lock; entering activates the
    // session and makes its engine session the current one.
    void LockEngine();
    void UnlockEngine();
    int LockDepth() const { return lockCount_; }

private:
    friend class TCofferDatabase;
    friend class TCofferSessionList;

    // The default session, made by the list itself.
    TCofferSession(TCofferSessionList& list, std::string name);

    void Activate();
    void Deactivate();
    void CheckInactive() const;
    void ApplySettings();
    void AddDatabase(TCofferDatabase* database);
    void RemoveDatabase(TCofferDatabase* database);

    TCofferSessionList& list_;
    std::string name_;
    const void* owner_;
    TDataSession* engine_ = nullptr;
    std::unique_ptr<TDataSession> ownEngine_;
    bool activating_ = false;
    int lockCount_ = 0;
    int autoNumber_ = -1;

    std::string sessionName_;
    bool autoSessionName_ = false;
    bool keepConnections_ = true;
    std::string privateDir_;
    std::uint8_t lockRetryCount_ = 15;
    std::uint16_t lockWaitTime_ = 100;
    TLockProtocol lockProtocol_ = TLockProtocol::lpPessimistic;
    std::uint16_t progressSteps_ = 20;
    bool forceBufferFlush_ = false;
    bool strictChangeDetection_ = false;
    TBufferLimits bufferLimits_{16384, 8192, 16384, 32768, 8192};

    TSessionType sessionType_ = TSessionType::stLocal;
    TRemoteType remoteType_ = TRemoteType::rtLAN;
    std::string remoteHost_;
    std::string remoteAddress_ = "127.0.0.1";
    int remotePort_ = 12005;
    std::string remoteService_;
    std::string remoteUser_;
    std::string remotePassword_;
    bool remoteTrace_ = false;

    std::vector<TCofferDatabase*> databases_;
    std::vector<std::unique_ptr<TCofferDatabase>> temporaries_;
};

// Holds the engine lock for one session for the length of a scope.
class TEngineLock {
public:
    explicit TEngineLock(TCofferSession& session) : session_(session) { session_.LockEngine(); }
    ~TEngineLock() { session_.UnlockEngine(); }
    TEngineLock(const TEngineLock&) = delete;
    TEngineLock& operator=(const TEngineLock&) = delete;

private:
    TCofferSession& session_;
};

}  // namespace pixhold::engine
