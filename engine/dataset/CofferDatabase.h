#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CofferSession.h"
#include "DataTable.h"

namespace pixhold::engine {

class TDataDirectory;
class TCofferDBDataSet;

// A folder of tables under an alias (DatabaseName), in one session. While
// connected it holds an engine directory; the datasets that name it register
// with it and are closed when it disconnects.
class TCofferDatabase {
public:
    // Without a session the database joins the default session.
    explicit TCofferDatabase(TCofferSession* session = nullptr, const void* owner = nullptr);
    virtual ~TCofferDatabase();
    TCofferDatabase(const TCofferDatabase&) = delete;
    TCofferDatabase& operator=(const TCofferDatabase&) = delete;

    const void* Owner() const { return owner_; }
    std::string EngineVersion() const { return kEngineVersion; }

    // ---- properties ----
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& value);
    const std::string& Directory() const { return directory_; }
    void SetDirectory(const std::string& value);
    bool Connected() const { return engineDirectory_ != nullptr; }
    void SetConnected(bool value);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    // The session it belongs to; empty means the session it was made in.
    const std::string& SessionName() const;
    void SetSessionName(const std::string& value);
    bool KeepConnection() const { return keepConnection_; }
    void SetKeepConnection(bool value) { keepConnection_ = value; }
    bool HandleShared() const { return handleShared_; }
    void SetHandleShared(bool value);
    const std::string& RemoteDatabase() const { return remoteDatabase_; }
    void SetRemoteDatabase(const std::string& value);
    std::function<void(TCofferDatabase&)> BeforeConnect;

    // Made by AcquireDatabase for a dataset that named no known database.
    bool Temporary() const { return temporary_; }
    TCofferSession& Session() const { return *session_; }
    // The engine directory while connected.
    TDataDirectory& Handle() const;
    int UseCount() const { return useCount_; }
    // The content stamp of a table that a dataset of this folder holds open
    // (the name as the datasets give it); none when it is not open here, so
    // that a caller keeping a result for it must read again.
    std::optional<TContentStamp> OpenTableStamp(const std::string& table) const;

    // ---- transactions over every table of the folder ----
    void StartTransaction();
    void Commit(bool forceFlush = false);
    void Rollback();
    bool InTransaction() const;

    // ---- datasets ----
    std::size_t DataSetCount() const { return datasets_.size(); }
    TCofferDBDataSet* DataSet(std::size_t index) const { return datasets_[index]; }

private:
    friend class TCofferSession;
    friend class TCofferDBDataSet;

    void Connect();
    void Disconnect();
    void CheckInactive() const;
    void CheckName() const;
    void AttachTo(TCofferSession& session);
    void AddUse() { ++useCount_; }
    void RegisterDataSet(TCofferDBDataSet* dataset);
    void UnregisterDataSet(TCofferDBDataSet* dataset);

    TCofferSession* session_;
    const void* owner_;
    std::string databaseName_;
    std::string directory_;
    std::string sessionName_;
    std::string remoteDatabase_;
    bool keepConnection_ = true;
    bool handleShared_ = false;
    bool temporary_ = false;
    // Shared with another database of the same name (not closed here).
    bool sharedHandle_ = false;
    bool disconnecting_ = false;
    TDataDirectory* engineDirectory_ = nullptr;
    int useCount_ = 0;
    std::vector<TCofferDBDataSet*> datasets_;
};

// Path separators of either kind become '/'.
std::string NormalizeSeparators(const std::string& path);
// A database name that is a folder path rather than an alias.
bool IsPathName(const std::string& name);

}  // namespace pixhold::engine
