#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CofferField.h"
#include "CofferSession.h"
#include "DataCursor.h"

namespace pixhold::engine {

class TCofferBlobStream;
class TCofferDatabase;

enum class TDataSetState : std::uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsFilter };

// What an error handler wants done with a failed Edit, Post or Delete.
enum class TDataAction : std::uint8_t { daFail, daAbort, daRetry };

enum class TBlobStreamMode : std::uint8_t { bmRead, bmWrite, bmReadWrite };

struct TFilterOptions {
    bool caseInsensitive = false;   // foCaseInsensitive
    bool noPartialCompare = false;  // foNoPartialCompare
    bool operator==(const TFilterOptions&) const = default;
};

// Record buffers over one engine cursor: navigation, fields, editing, filters
// and BLOB streams, shared by tables and queries. It keeps one record buffer:
// the current record in browse state, the record being changed in edit and
// insert state.
class TCofferDataSet {
public:
    using TNotifyEvent = std::function<void(TCofferDataSet&)>;
    using TErrorEvent = std::function<void(TCofferDataSet&, const std::exception&, TDataAction&)>;
    using TFilterRecordEvent = std::function<void(TCofferDataSet&, bool& accept)>;

    TCofferDataSet();
    virtual ~TCofferDataSet();
    TCofferDataSet(const TCofferDataSet&) = delete;
    TCofferDataSet& operator=(const TCofferDataSet&) = delete;

    std::string EngineVersion() const { return kEngineVersion; }

    // ---- state ----
    TDataSetState State() const { return state_; }
    bool Active() const { return state_ != TDataSetState::dsInactive; }
    void SetActive(bool value);
    void Open();
    void Close();

    bool AutoDisplayLabels = false;
    bool CopyOnAppend = false;
    bool AutoCalcFields = true;

    // ---- events ----
    TNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TNotifyEvent BeforeRefresh, AfterRefresh, OnCalcFields, OnNewRecord;
    // Called with the action set to daFail: daFail passes the error on,
    // daAbort abandons the operation silently (EAbort), daRetry tries again.
    TErrorEvent OnEditError, OnPostError, OnDeleteError;

    // ---- filters ----
    const std::string& Filter() const { return filter_; }
    void SetFilter(const std::string& value);
    bool Filtered() const { return filtered_; }
    void SetFiltered(bool value);
    TFilterOptions FilterOptions() const { return filterOptions_; }
    void SetFilterOptions(TFilterOptions value);
    const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
    // Takes effect at the next Open.
    void SetOnFilterRecord(TFilterRecordEvent handler) { onFilterRecord_ = std::move(handler); }

    // ---- navigation ----
    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    bool IsEmpty() const { return eof_ && bof_; }
    std::uint32_t RecordCount();
    // The current record's sequence number (from 1); 0 without a record.
    std::uint32_t RecNo();
    void SetRecNo(std::uint32_t value);
    void Refresh();

    // ---- fields ----
    std::size_t FieldCount() const { return fields_.size(); }
    TField& Fields(std::size_t index) const { return *fields_.at(index); }
    TField* FindField(const std::string& name) const;
    // "Field '%s' not found" when there is none.
    TField& FieldByName(const std::string& name) const;
    TField* FieldByNumber(int number) const;

    // ---- editing ----
    void Edit();
    void Append();
    void Insert() { Append(); }
    void Post();
    void Cancel();
    void Delete();
    // Posts a pending edit or insert; cancels a key being built.
    void CheckBrowseMode();

    // ---- bookmarks ----
    TBookmark GetBookmark();
    void GotoBookmark(const TBookmark& bookmark);
    void FreeBookmark(TBookmark& bookmark) { bookmark.clear(); }

    // ---- BLOBs and buffers ----
    std::unique_ptr<TCofferBlobStream> CreateBlobStream(TField& field, TBlobStreamMode mode);
    void FlushBuffers();

    // ---- for fields, streams and derived handles ----
    TDataCursor& Handle() const;
    bool HasHandle() const { return cursor_ != nullptr; }
    // The buffer the fields show in the current state.
    std::uint8_t* ActiveBuffer();
    const std::uint8_t* ActiveBuffer() const;
    bool Editing() const { return state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert; }
    // Whether the dataset as a whole may be written (tables opened read-only
    // may not).
    virtual bool CanModify() const { return true; }
    // The session whose engine lock guards every engine call.
    virtual TCofferSession& DBSession() const = 0;
    // The table name engine errors carry.
    virtual std::string ErrorTableName() const = 0;
    // Bookkeeping of BLOB streams within one edit.
    bool BlobChanged(int fieldNo) const { return changedBlobs_.count(fieldNo) != 0; }
    void MarkBlobChanged(int fieldNo) { changedBlobs_.insert(fieldNo); }
    // Re-reads the current record after a refresh (BLOB reads that met a
    // change by another user).
    void ReReadCurrent();

protected:
    // Opens the dataset's cursor (database acquired, table opened, index
    // chosen); the base class builds fields, filters and the first record.
    virtual std::unique_ptr<TDataCursor> OpenHandle() = 0;
    // After the cursor was closed (and on a failed open): give the database back.
    virtual void HandleClosed() {}
    // Called when the field objects are built.
    virtual void FieldsBuilt() {}
    void CheckActive() const;
    void CheckInactive() const;
    // The key search of tables: values for the leading fields of the current index.
    bool DoFindKey(const std::vector<std::string>& values);
    // Back to the first record after an index change.
    void IndexChanged() { First(); }

private:
    void DoOpen();
    void DoClose();
    // Closes the engine cursor and empties the buffers; the dataset ends up
    // closed even when the cursor's close fails, which is then passed on.
    void DropCursor();
    void BuildFields();
    void ClearBuffers();
    void InstallFilters();
    void ReplaceExpressionFilter();
    template <typename T>
    void ChangeFilterSetting(T& setting, const T& value);
    void MoveToFirstAfterFilterChange();
    // Reads into the record buffer; false at the beginning or end.
    bool ReadRecord(int code);
    // Next and Prior: one record onward or back.
    void Step(bool forward);
    void ReadCurrentOrEmpty();
    void RunWithErrorEvent(const TErrorEvent& handler, const std::function<void()>& operation);
    void FireEvent(const TNotifyEvent& event);
    bool AcceptRecord(const std::uint8_t* record);

    std::unique_ptr<TDataCursor> cursor_;
    TDataSetState state_ = TDataSetState::dsInactive;
    std::vector<std::unique_ptr<TField>> fields_;
    std::vector<std::uint8_t> record_;
    std::vector<std::uint8_t> savedRecord_;
    std::vector<std::uint8_t> keyBuffer_;
    const std::uint8_t* filterRecord_ = nullptr;
    bool savedBof_ = false;
    bool savedEof_ = false;
    bool bof_ = true;
    bool eof_ = true;
    std::set<int> changedBlobs_;

    std::string filter_;
    bool filtered_ = false;
    TFilterOptions filterOptions_;
    TFilterRecordEvent onFilterRecord_;
    int expressionFilter_ = 0;
    int callbackFilter_ = 0;

    friend class TField;
    friend class TCofferBlobStream;
};

// A dataset bound to a database and a session by name.
class TCofferDBDataSet : public TCofferDataSet {
public:
    explicit TCofferDBDataSet(const void* owner = nullptr);
    ~TCofferDBDataSet() override;

    // An alias, or a folder path (separators normalised).
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& value);
    const std::string& SessionName() const { return sessionName_; }
    void SetSessionName(const std::string& value);
    const void* Owner() const { return owner_; }

    TCofferSession& DBSession() const override;
    // The database while the dataset holds it (open, or inside a maintenance
    // operation); null otherwise.
    TCofferDatabase* Database() const { return database_; }

protected:
    // Acquires the named database and registers with it (once).
    TCofferDatabase& AcquireDatabase();
    // Unregisters and gives the database back.
    void ReleaseDatabase();
    void HandleClosed() override { ReleaseDatabase(); }

private:
    friend class TCofferSession;  // an automatic session name is given to the datasets of its owner

    const void* owner_;
    std::string databaseName_;
    std::string sessionName_;
    TCofferDatabase* database_ = nullptr;
    TCofferSession* databaseSession_ = nullptr;
};

// Holds the table of an open dataset still against the writers of other
// processes for a run of reads made one after the other (look-ups, BLOB
// reads): the read lock is taken and the change check made once for the run
// instead of once for every read. Writers of other processes wait while it
// lives, so it covers the reads only, never a wait for the user or a worker.
// A write of this process inside it still works (it lets the lock go and
// takes it again). Nothing happens when the table holds such a lock already.
class TDataSetReadRun {
public:
    explicit TDataSetReadRun(TCofferDataSet& dataset);
    ~TDataSetReadRun();
    TDataSetReadRun(const TDataSetReadRun&) = delete;
    TDataSetReadRun& operator=(const TDataSetReadRun&) = delete;

private:
    TCofferDataSet& dataset_;
    bool taken_ = false;
};

}  // namespace pixhold::engine
