#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "BTree.h"
#include "CursorFilter.h"
#include "DataFile.h"
#include "DataTable.h"
#include "EditKeys.h"
#include "FunctionRef.h"
#include "IndexKey.h"
#include "RecordBuffer.h"
#include "RecordsBitmap.h"
#include "TableContext.h"

namespace pixhold::engine {

class TDataDirectory;
class TDataSession;
class TDataTable;
class TDataCursor;
class TEditKeys;

// How a cursor's BLOB is opened (the dataset's BLOB stream modes).
enum class TBlobOpenMode : std::uint8_t { Read = 0, Write = 1, ReadWrite = 2 };

// What a cursor's own change did to a record, for the visible-record upkeep.
enum class TRecordChange : std::uint8_t { Appended, Modified, Deleted };

// The most BLOBs one cursor keeps open at a time.
inline constexpr std::size_t kMaxOpenBlobs = 128;

// The words a text is split into for the "Sys Text" index, in order, each
// once (as written; the index keeps them upper-cased).
std::vector<std::string> SplitTextWords(const std::string& text, const TextIndexParameters& parameters);

// Slots of the index a cursor can follow.
inline constexpr int kNoIndex = 255;

// A bookmark: the key of the current record in the current index, or its
// physical record number (4 bytes, little-endian) in physical order.
using TBookmark = std::vector<std::uint8_t>;

// One user's view of a table: it opens the shared table through its data
// directory, checks the password, and keeps a position in one order of the
// records (the current index, or physical order). It answers the moves,
// record numbers, counts, bookmarks, key searches and ranges, and notices
// changes made by other cursors and processes, finding its place again.
//
// Positioning and counting by record number never read records: ordinals come
// from the subtree counts kept in the index's branch pages, so their cost grows
// with the height of the tree, not with the table.
//
// Reading operations return 0 or one of 8705, 8706, 8709, 8710 rather than
// raising them; the dataset layer decides what they mean to its user.
class TDataCursor : public TCursorContext {
public:
    using PasswordRequest = std::function<bool(TDataCursor&)>;

    // CreateCursor: registers nothing yet.
    explicit TDataCursor(TDataDirectory& directory);
    ~TDataCursor() override;
    TDataCursor(const TDataCursor&) = delete;
    TDataCursor& operator=(const TDataCursor&) = delete;

    // ---- settings (before OpenCursor) ----
    std::string TableName;  // at most 255 characters
    bool Exclusive = false;
    // Set by the open when the table can only be read.
    bool ReadOnly = false;
    bool InMemory = false;
    // A result cursor of the query processor starts in physical order.
    bool ResultCursor = false;
    // Asked when the table's password is unknown to the session; true means a
    // password was added and the lookup is to be repeated.
    PasswordRequest OnPasswordRequest;
    // Receives the messages of verify and repair runs.
    std::function<void(const std::string&)> OnMessage;

    TDataDirectory& Directory() const { return directory_; }

    // ---- opening ----
    void OpenCursor();
    void CloseCursor();
    bool IsOpen() const { return table_ != nullptr; }
    // A new open cursor on the same table, index, range, filters and record.
    std::unique_ptr<TDataCursor> CloneCursor();

    TDataTable& Table() const { return *table_; }
    const std::vector<FieldDescriptor>& Fields() const { return fields_; }
    std::uint32_t RecordSize() const { return recordSize_; }
    bool HasValidityChecks() const { return hasValidityChecks_; }
    bool HasDefaults() const { return hasDefaults_; }
    bool HasAutoIncrement() const { return hasAutoInc_; }
    // "table.field" of each field, at most 100 characters (error messages).
    const std::vector<std::string>& FieldOrigins() const { return fieldOrigins_; }

    // ---- index ----
    // Raises 10022 for a name no index of the table has. The primary index has
    // the empty name.
    void SetIndexName(const std::string& name);
    const std::string& IndexName() const { return indexName_; }
    int CurrentIndex() const { return slot_; }
    bool PhysicalOrder() const { return physicalOrder_; }
    // The key layout of the current index (meaningless in physical order).
    const TKeyLayout& IndexLayout() const { return layout_; }
    std::uint16_t KeyLength() const { return layout_.keyLength; }
    // The key of a record image for the current index.
    std::vector<std::uint8_t> BuildKey(const std::uint8_t* record) const;

    // ---- moving ----
    void SetToBegin();
    void SetToEnd();
    // buffer may be null; it receives RecordSize() bytes.
    [[nodiscard]] int GetNextRecord(std::uint8_t* buffer);
    [[nodiscard]] int GetPriorRecord(std::uint8_t* buffer);
    [[nodiscard]] int GetCurrentRecord(std::uint8_t* buffer);
    bool AtBottom() const { return pos_.bottom; }
    bool AtTop() const { return pos_.top; }
    // The physical number of the record at the position (0 when none).
    std::uint32_t CurrentRecordNumber() const;

    // ---- record numbers and counts ----
    std::uint32_t GetRecordCount();
    std::uint32_t GetRecordNo();
    bool SetToRecordNo(std::int64_t n);

    // ---- bookmarks ----
    TBookmark GetBookmark();
    bool SetToBookmark(const TBookmark& bookmark, bool nearest);
    int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;
    // Returns 0, or 8710 when the other cursor's record is not found here.
    [[nodiscard]] int SetToCursor(TDataCursor& other);

    // ---- keys and ranges ----
    // `keyOrRecord` is a key of the current index when isKey is set, otherwise
    // a record image. outRecord may be null.
    [[nodiscard]] bool FindKey(bool isKey, const std::uint8_t* keyOrRecord, std::uint8_t* outRecord, int fieldCount,
                 int partialLength, bool nearest);
    // A null bound is open at its end. Both bounds are inclusive.
    void SetRange(bool isKey, const std::uint8_t* low, int lowFieldCount, const std::uint8_t* high,
                  int highFieldCount);
    void ResetRange();
    bool RangeActive() const { return rangeActive_; }

    // ---- filters ----
    // A new, inactive filter: an expression (text or parsed tree, 10051 when
    // it is no boolean expression or neither is given), a callback asked per
    // record, or a rule of its own. Appended to the list when insertAtEnd is
    // set, else placed before the first filter evaluated only on the records
    // kept by those before it. A cursor holds at most 64 filters (9482).
    TFilter* AddFilter(std::string_view text, const TCursorFilterOptions& options = {}, bool insertAtEnd = true);
    TFilter* AddFilter(std::unique_ptr<TExpToken> parsed, const TCursorFilterOptions& options = {},
                       bool insertAtEnd = true);
    TFilter* AddFilter(TRecordFilterCallback callback, void* dataset, const TCursorFilterOptions& options = {},
                       bool insertAtEnd = true);
    TFilter* AddFilter(std::unique_ptr<TCursorFilter> filter, const TCursorFilterOptions& options = {},
                       bool insertAtEnd = true);
    // Each takes a filter of this cursor (10050 otherwise) or null for all of
    // them, and keeps the cursor on its record (or the nearest visible one).
    void ActivateFilter(TFilter* filter);
    void DeactivateFilter(TFilter* filter);
    void DropFilter(TFilter* filter);
    const std::vector<std::unique_ptr<TFilter>>& Filters() const { return filters_; }
    // The filter with that handle, or null.
    TFilter* FindFilter(int handle) const;
    bool FilterActive() const { return filterActive_; }
    const TRecordsBitmap& VisibleRecords() const { return visible_; }
    // The active records while filters apply (ActiveRecords).
    const TRecordsBitmap& ActiveRecords() const { return activeRecords_; }
    // Brings the filter sets up to date after this cursor appended (no old
    // image), changed, or deleted (no new image) record `record`.
    void RecordChangedForFilters(std::uint32_t record, const std::uint8_t* oldImage, const std::uint8_t* newImage);

    // ---- editing (DataCursorEdit.cpp) ----
    // Record buffers are RecordSize() bytes: the 9-byte record header, then
    // each field's presence byte and value (RecordBuffer.h reads and writes
    // them). Every change checks the unique keys before anything is written,
    // so a duplicate or a failed constraint leaves the table as it was.
    //
    // Zero bytes, then each field's default value.
    void InitRecord(std::uint8_t* buffer);
    // The current record with its BLOBs copied into new open BLOBs of the
    // buffer, so that an append gives the new record its own copies. 8709
    // (raised) when there is no current record.
    void CloneCurrentRecord(std::uint8_t* buffer);
    // Raises 9732, 9730 or 9731 for the first field that breaks its constraint.
    void ValidateRecord(const std::uint8_t* buffer);
    // With lock, prepares an edit: under the pessimistic protocol the record is
    // locked (10258 when another cursor or process holds it); under both, 8708
    // when the record now differs from `buffer`, the caller's copy. Returns
    // the codes of GetCurrentRecord(buffer) otherwise.
    [[nodiscard]] int GetCurrentRecord(std::uint8_t* buffer, bool lock);
    void AppendRecord(std::uint8_t* buffer, bool reposition);
    void ModifyRecord(std::uint8_t* buffer, bool unlock, bool reposition);
    // `expected` is the caller's copy of the current record (8708 when the
    // record changed since, unless this cursor holds its lock).
    void DeleteRecord(const std::uint8_t* expected, bool reposition);
    void CancelRecord();
    // n = 0: the current record.
    void LockCurrentRecord(std::uint32_t n = 0);
    void UnlockCurrentRecord(std::uint32_t n = 0);
    std::uint32_t LockedRecord() const { return lockedRecord_; }
    // Keep the record identifier given in the buffer on append and modify.
    void SuppressAutoInc(bool suppress) { suppressAutoInc_ = suppress; }
    bool AutoIncSuppressed() const { return suppressAutoInc_; }
    bool ConflictSeen() const { return conflictSeen_; }
    // Writes the table's buffers (an exclusive table's only when asked).
    void FlushBuffers(bool writeIfExclusive, bool free, bool dataHeader, bool indexHeader, bool blobHeader);
    void FlushOSBuffers();

    // ---- BLOBs (DataCursorBlob.cpp) ----
    // Codes are returned, not raised: 0, 10753 (not a BLOB field), 10030 (not
    // open), 9494 (too many open), 9998 (unusable reference), 8711 (a read
    // reached the end). New contents reach the table only through
    // AppendRecord or ModifyRecord of the buffer that holds the BLOB.
    [[nodiscard]] int OpenBlob(std::uint16_t field, std::uint8_t* buffer, TBlobOpenMode mode, std::uint32_t& length);
    [[nodiscard]] int GetBlob(std::uint16_t field, const std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length,
                void* data, std::uint32_t& read);
    [[nodiscard]] int PutBlob(std::uint16_t field, std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length,
                const void* data);
    [[nodiscard]] int TruncateBlob(std::uint16_t field, std::uint8_t* buffer, std::uint32_t length);
    [[nodiscard]] int GetBlobSize(std::uint16_t field, const std::uint8_t* buffer, std::uint32_t& length);
    // Releases the BLOB and puts its stored reference back into the buffer.
    void FreeBlob(std::uint16_t field, std::uint8_t* buffer);
    void FreeAllBlobs();
    std::size_t OpenBlobCount() const;

    // ---- re-reading ----
    void Refresh();
    // Up to `count` of the next records, each RecordSize() bytes, appended to
    // `out`; returns how many were read.
    std::uint32_t ReadRecordBlock(std::uint32_t count, std::vector<std::uint8_t>& out);

    // ---- TCursorContext ----
    void LogMessage(const std::string& text) override;
    bool CheckForChanges() override;
    bool CheckForBlobChanges(bool reading) override;
    std::uint32_t SuggestedReadAhead(ReadDirection direction) const override;

private:
    // Where the cursor stands. In index order: the leaf page and position of
    // the current key (a copy of which is kept), and its ordinal in the whole
    // index; in physical order: the record number.
    struct Position {
        bool bottom = true;
        bool top = true;
        std::uint32_t page = 0;
        int slotPosition = 0;
        std::uint32_t sequence = 0;
        std::uint32_t record = 0;
        std::vector<std::uint8_t> key;
        // The record the cursor stood on went away: it now stands just before
        // the record that followed, which the next forward move reaches.
        bool ahead = false;
    };
    // A page change or a record read found the table changed by someone else:
    // the operation starts again from the re-found position.
    struct Restart {};

    [[noreturn]] void Raise(std::uint16_t code, const std::string& index = {}) const;
    [[noreturn]] void RaiseForField(std::uint16_t code, const std::string& field) const;
    void CheckOpen() const;
    void LoadDefinitions();
    void CheckPassword();
    void SelectSlot(int slot);
    void ReleaseTable();

    // Runs one reading operation between begin-read and end-read, starting it
    // again (from the position it began at) when it ran into a change.
    void Guarded(TFunctionRef<void()> operation);
    void EndReadOp();
    void Resync();
    void TakeCounters();

    // Index order, all inside a guarded operation. No page is held pinned
    // across a call that may read the disk: a change found there drops the
    // caches.
    TIndexTree Tree();
    TPageRef Page(std::uint32_t number, int slot = -1);
    bool HasCounts() const;
    std::uint32_t KeyCountAll();
    std::uint32_t FirstLeaf();
    std::uint32_t OrdinalOfPath(const TIndexPath& path);
    bool DescendOrdinal(std::uint32_t ordinal, TIndexPath& path);
    bool RecordVisible(std::uint32_t record) const;
    void StandAtOrdinal(std::uint32_t ordinal);
    bool Step(bool forward);
    bool StepVisible(bool forward);
    bool GoFirst();
    bool GoLast();
    void SetNothing();
    void MoveToBegin();
    void MoveToEnd();
    void MoveBy(bool forward);
    // Where a descent for a key ended: the leaf entry of the first key not
    // below it, when that leaf holds one (page 0 otherwise).
    struct KeyPlace {
        std::uint32_t page = 0;
        int position = 0;
    };
    std::uint32_t CountBelow(const std::uint8_t* key, bool inclusive, KeyPlace* place = nullptr);
    void StandOnEntry(std::uint32_t page, int position, std::uint32_t ordinal);
    void ComputeRangePositions();
    // The active records again and, with `evaluate`, each active filter's
    // matching records (all, or only `only`); then the visible records.
    void RebuildVisible(bool evaluate = true, TFilter* only = nullptr);
    void EvaluateFilters(const TRecordsBitmap& active, TFilter* only);
    void CombineVisible();
    TFilter* JoinFilter(std::unique_ptr<TFilter> filter, bool insertAtEnd);
    std::size_t FilterIndex(TFilter* filter) const;
    void ChangeFilters(TFilter* filter, bool activate, bool drop);
    friend class TFilterEvaluator;
    friend class TSqlDistinctScan;
    void ReturnTo(const Position& saved);
    // Stands on the first visible key at or above `key` inside the range;
    // false (top) when there is none.
    bool StandNearest(const std::uint8_t* key);
    bool StandPhysical(std::uint32_t record, bool nearest);

    int ReadCurrent(std::uint8_t* buffer);
    std::uint32_t KeyCountInRange() const;
    std::vector<std::uint8_t> PaddedBound(bool isKey, const std::uint8_t* bound, int fieldCount, bool high) const;
    int FieldBytesOf(int fieldCount) const;

    // ---- editing (DataCursorEdit*.cpp) ----
    // One BLOB open in a record buffer of this cursor; its handle is its
    // place in blobs_ plus one.
    struct OpenBlobBuffer {
        std::uint16_t field = 0;
        std::uint32_t firstBlock = 0;  // the stored reference
        std::uint32_t ownerID = 0;
        std::uint32_t recordNumber = 0;
        std::vector<std::uint8_t> value;
        bool modified = false;
    };
    // A write under the table's write lock, with the unwinding of a failure.
    // `change` sets `touched` once it has changed a cached record, page or
    // block; a failure after that drops the caches so that nothing of the
    // half-made change is written later.
    void Writing(const std::function<void(bool& touched)>& change);
    bool LockFor(std::uint32_t n);
    void UnlockFor(std::uint32_t n);
    TEditKeys& Keys();
    void ReadStored(std::uint32_t n, std::uint8_t* image);
    bool SameAsStored(const std::uint8_t* buffer, const std::uint8_t* stored) const;
    void CheckDuplicates(const std::uint8_t* image, const std::uint8_t* old, bool withDeleted);
    // Writes the changed BLOBs of the image into new chains and puts their
    // references into the image; the chains of `old` they replace are read
    // first, into `releases`. Returns whether BLOB data was written.
    bool StoreBlobs(std::uint8_t* image, const std::uint8_t* old, TBlobFile::TFreePlan& releases);
    // The BLOB chains a record names.
    std::vector<recordbuffer::BlobSlot> RecordChains(const std::uint8_t* image) const;
    // Reads and checks the chains that no record will name once the change
    // is written, before the records are written; a chain that cannot be
    // freed (damaged) is left out, for a repair to take back.
    TBlobFile::TFreePlan PlanReleases(const std::vector<recordbuffer::BlobSlot>& chains);
    // Frees the planned chains; run right after the records were written, so
    // that a failure can only leave unused blocks behind. As the chains were
    // read before, this only writes: the blocks and the header.
    void ReleaseChains(TBlobFile::TFreePlan& plan);
    // The BLOB file's blocks and header, written before the records that name
    // the new chains.
    void WriteBlobBuffers();
    // With `releases`, the old chains are freed between the records and the
    // index pages, so that only the records' writes lie between the change
    // and the return of the chains' space.
    void WriteTableBuffers(bool index, TBlobFile::TFreePlan* releases = nullptr);
    // "Sys Text" upkeep (DataCursorText.cpp). The words of each text-indexed
    // field, upper-cased, without stop words; with `changesIn`, a memo field
    // counts only when that buffer holds its BLOB changed in this edit.
    using TextWords = std::map<std::uint16_t, std::set<std::string>>;
    TextWords TextWordsOf(const std::uint8_t* image, const std::uint8_t* changesIn);
    std::string TextFieldText(std::uint16_t field, const std::uint8_t* image);
    // The old words' keys leave the index, the new words' keys enter it
    // (words in both stay when the identifier is the same). Returns whether
    // the index changed.
    bool UpdateTextIndex(const TextWords& oldWords, std::uint32_t oldID, const TextWords& newWords,
                         std::uint32_t newID, std::uint32_t record);
    void AfterOwnChange(std::uint32_t record, TRecordChange change, const std::uint8_t* image, bool reposition,
                        const Position& saved);
    OpenBlobBuffer* BlobOf(std::uint16_t field, const std::uint8_t* buffer);
    int BlobHandleOf(std::uint16_t field, const std::uint8_t* buffer) const;
    bool IsBlobField(std::uint16_t field) const;
    void ReleaseBlobAt(std::size_t index);

    TDataDirectory& directory_;
    TDataTable* table_ = nullptr;
    std::vector<FieldDescriptor> fields_;
    std::vector<std::string> fieldOrigins_;
    std::uint32_t recordSize_ = 0;
    bool hasValidityChecks_ = false;
    bool hasDefaults_ = false;
    bool hasAutoInc_ = false;

    int slot_ = 0;
    std::string indexName_;
    bool physicalOrder_ = false;
    TKeyLayout layout_;
    std::unique_ptr<TKeyComparer> comparer_;
    std::unique_ptr<TKeyBuilder> builder_;

    Position pos_;
    std::vector<std::uint8_t> record_;

    bool rangeActive_ = false;
    std::vector<std::uint8_t> rangeLow_;
    std::vector<std::uint8_t> rangeHigh_;
    // Ordinals (in the whole index) of the first and last key of the range;
    // first 1 and last the key count without a range; last < first when empty.
    std::uint32_t rangeFirst_ = 1;
    std::uint32_t rangeLast_ = 0;

    std::vector<std::unique_ptr<TFilter>> filters_;
    bool filterActive_ = false;
    TRecordsBitmap activeRecords_;
    int lastFilterHandle_ = 0;
    TRecordsBitmap visible_;
    std::uint32_t visibleCount_ = 0;

    std::uint32_t lockedRecord_ = 0;
    bool conflictSeen_ = false;
    bool suppressAutoInc_ = false;
    std::vector<std::unique_ptr<OpenBlobBuffer>> blobs_;  // null: a free handle
    // The value storage of the last BLOB let go of, kept for the next one
    // read: a scan reading the pictures one after the other then neither
    // allocates nor clears a value's memory again.
    std::vector<std::uint8_t> spareValue_;
    std::unique_ptr<TEditKeys> editKeys_;

    TChangeCounters counters_;
    int readDepth_ = 0;
    bool readLockTaken_ = false;
    ReadDirection lastDirection_ = ReadDirection::Forward;
};

}  // namespace pixhold::engine
