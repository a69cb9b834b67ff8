#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BlobFile.h"
#include "DataFile.h"
#include "IndexFile.h"
#include "RecordsBitmap.h"
#include "TableContext.h"
#include "TableDefinition.h"

namespace pixhold::engine {

class TDataDirectory;
class TDataSession;

// The change counters of a table's three files as this process last saw them,
// plus a count of the times the table dropped its caches (a rollback puts the
// file counters back to older values, which a cursor must still notice).
struct TChangeCounters {
    std::int32_t data = 0;
    std::int32_t index = 0;
    std::int32_t blob = 0;
    std::uint32_t discards = 0;

    bool operator==(const TChangeCounters&) const = default;
};

// What a reader keeps beside a result it wants to reuse: the counters this
// process holds and the data and index counters on the disk. Taken before the
// read, so that a change overlapping the read shows as a different stamp the
// next time; equal stamps mean no process changed records or keys since.
// The opening tells one opening of the files from the next: a table made
// again under the same name starts its counters afresh.
struct TContentStamp {
    std::uint64_t opening = 0;
    TChangeCounters held;
    std::int32_t dataOnDisk = 0;
    std::int32_t indexOnDisk = 0;

    bool operator==(const TContentStamp&) const = default;
};

// One open table of a data directory, shared by every cursor of that
// directory that names it (same name, same in-memory flag). It owns the three
// files, opens them at the first use and closes them at the last, and keeps
// what the cursors of the process must agree on: record locks, the locks the
// process holds on the files, the transaction, and whether another process
// changed the files since they were last read.
//
// Lock protocol between processes (docs/shared-tables.md): a record lock is a
// byte of the data file; readers hold a random read byte in the index and BLOB
// files; a writer holds the table byte of the data file and the write ranges
// of the index and BLOB files; a transaction holds the table byte throughout.
// Nothing is ever locked on an exclusive table or one whose files are marked
// read-only.
class TDataTable : public TTableOwner {
public:
    TDataTable(TDataDirectory& directory, std::string name);
    // Closes the files whatever the use count (the directory is going away).
    ~TDataTable() override;
    TDataTable(const TDataTable&) = delete;
    TDataTable& operator=(const TDataTable&) = delete;

    // ---- identity and flags ----
    TDataDirectory& Directory() const { return directory_; }
    TDataSession& Session() const;
    const std::string& Name() const { return name_; }
    std::string FileName(const char* extension) const;
    std::uint16_t UseCount() const { return useCount_; }
    bool IsOpen() const { return open_; }
    bool Exclusive() const { return exclusive_; }
    bool ReadOnly() const { return readOnly_; }
    bool ReadOnlyAttribute() const { return readOnlyAttribute_; }
    bool InMemory() const { return inMemory_; }
    bool Temporary() const { return temporary_; }
    // Set by the directory before the first open.
    void SetExclusive(bool value) { exclusive_ = value; }
    void SetInMemory(bool value) { inMemory_ = value; }
    void SetTemporary(bool value) { temporary_ = value; }
    bool IndexRebuildNeeded() const { return indexRebuildNeeded_; }
    bool InTransaction() const { return inTransaction_; }
    bool ChangedSinceOpen() const { return changedSinceOpen_; }

    // ---- files ----
    // Creates the files and leaves the table open with a use count of one;
    // everything is written before it returns. On failure the files this
    // create made are removed again.
    void CreateTableFiles(const TableDefinition& definition);
    // Raises the use count; the first use opens the files. A missing index
    // file is created empty (IndexRebuildNeeded()).
    void OpenTableFiles();
    // Lowers the use count; the last use outside a transaction writes an
    // exclusive table's buffers (or discards them for a temporary one when
    // asked), releases every lock and closes the files.
    void CloseTableFiles(bool discardIfTemporary = false);
    void DeleteTableFiles();
    // A new name without a folder stays in the table's folder; with toBackup
    // the files get the backup extensions.
    void RenameTableFiles(const std::string& newName, bool toBackup);
    // Copies the index file, with its buffered changes written first, to its
    // ".IBK" backup (replacing an older one).
    void BackupIndexFile();
    // With restore, copies the backup back over the index file and drops what
    // was cached of it; with deleteBackup, removes the backup afterwards.
    void RestoreIndexFile(bool restore, bool deleteBackup);
    // Opens the BLOB file by the data file's header when the table has BLOB
    // fields and it is not open yet: at open, and in a repair that gave the
    // header back a BLOB field count that damage had made 0.
    void OpenBlobFile();
    // The open-time header checks of the data and index files (a repair opens
    // without them).
    void ValidateHeaders();
    // Puts a key for every physical record into the "Sys Deleted" index of an
    // index file that was re-created at open, under the write lock, and sets
    // the active record count. Nothing happens when the index already has keys.
    void RebuildDeletedIndex();

    TDataFile& DataFile() { return *dataFile_; }
    TIndexFile& IndexFile() { return *indexFile_; }
    TBlobFile& BlobFile() { return *blobFile_; }
    const TDataFile& DataFile() const { return *dataFile_; }
    const TIndexFile& IndexFile() const { return *indexFile_; }
    bool HasBlobFields() const { return dataFile_->Header().blobFieldCount != 0; }
    bool BlobFileOpen() const { return HasBlobFields() && blobFile_->IsOpen(); }

    // ---- header questions of the cursors ----
    std::uint32_t PhysicalRecordCount() const { return dataFile_->PhysicalRecordCount(); }
    std::uint32_t LastRecordID() const { return dataFile_->Header().lastRecordID; }
    std::uint32_t RecordSize() const { return dataFile_->RecordSize(); }
    const std::vector<FieldDescriptor>& Fields() const { return dataFile_->Fields(); }
    // Primary index plus secondary indexes.
    int IndexCount() const { return 1 + indexFile_->SecondaryCount(); }
    const IndexDescriptor& IndexDefinition(int slot) const { return indexFile_->GetIndexDescriptor(slot); }
    bool PrimaryIndexHasFields() const { return !indexFile_->NoPrimaryFields(); }
    std::uint32_t BlobBlockSize() const { return dataFile_->BlobBlockSize(); }
    bool IsEncrypted() const { return dataFile_->IsEncrypted(); }
    std::string StoredPassword() const { return dataFile_->GetPassword(); }
    TChangeCounters ChangeCounters() const;
    // Reads the two 4-byte counters without a lock (a shared table only; no
    // other process writes an exclusive or in-memory one).
    TContentStamp ContentStamp();

    // ---- record locks ----
    // Locks record n against other processes, retrying LockRetryCount times
    // LockWaitTime ms apart (10258 after the last). Without strict change
    // detection the read lock is taken too and stays held for the caller's
    // operation. Returns whether a change by another process was seen.
    bool LockRecord(std::uint32_t n);
    // Releases record n; under the transaction lock the release waits for the
    // end of the transaction. 10242 when n is not held.
    void UnlockRecord(std::uint32_t n);
    void UnlockAllRecords(bool deferredOnly = false);
    TRecordsBitmap& OsLockedRecords() { return osLockedRecords_; }
    TRecordsBitmap& CursorLockedRecords() { return cursorLockedRecords_; }
    TRecordsBitmap& DeferredUnlocks() { return deferredUnlocks_; }
    // Grows the lock registries to the physical record count (never shrinks
    // them: a held lock must stay known).
    void SizeRecordBitmaps();

    // ---- read and write locks ----
    bool BeginRead();
    void EndRead();
    bool BeginQueryRead();
    void EndQueryRead();
    bool BeginWrite();
    void EndWrite();
    void AcquireTransactionLock();
    void ReleaseTransactionLock();
    bool ReadLockHeld() const { return readLock_.held; }
    bool QueryReadLockHeld() const { return queryReadLock_.held; }
    // A read lock covers the BLOB file from the first BLOB access under it:
    // takes the BLOB file's read byte for the held read lock and compares its
    // change counter (true when it had moved and the block cache was dropped).
    // Nothing when no read lock is held or its BLOB part is taken already.
    bool BeginBlobRead();
    // A read lock was taken since the BLOB file's counter was last compared:
    // cached blocks are not to be used before BeginBlobRead.
    bool BlobCheckOwed() const { return blobCheckOwed_; }
    bool WriteLockHeld() const { return writeLockHeld_; }
    bool TransactionLockHeld() const override { return transactionLockHeld_; }

    // ---- change detection and buffers ----
    // Compares the files' change counters with the held headers and drops
    // what changed; without `blob` the BLOB file is left for BeginBlobRead.
    bool CheckForChanges(bool blob = true);
    void WriteBuffers(bool free, bool forceDataHeader, bool forceOsFlush, bool forceBlobHeader,
                      bool forceIndexHeader);
    // What a change of an exclusive table (or one inside a transaction) does
    // instead of writing: the counters of the named files move in memory.
    void RaiseChangeCounters(bool data, bool blob, bool index);
    void DiscardBuffers(bool free, bool rereadHeaders);
    // Writes only the BLOB file's modified blocks and its header (a change
    // writes them before the records that name new chains). Nothing happens
    // in a transaction, where the buffers stay in memory.
    void WriteBlobBuffers(bool forceHeader);
    // Writes only the data file's modified records and its header (a change
    // that frees old BLOB chains writes them before it frees the chains).
    // In a transaction only the counter moves.
    void WriteRecordBuffers(bool forceHeader);
    void FlushOSBuffers();

    // ---- the table's part of a directory transaction ----
    void StartTableTransaction();
    void RollbackTableTransaction();
    void PrepareCommit();
    void CommitTableBuffers(bool free, bool forceOsFlush);
    void EndTableCommit(bool end);

    // ---- TTableOwner ----
    bool WrittenTo() const override { return changedSinceOpen_; }
    void MarkWrittenTo() override { changedSinceOpen_ = true; }
    bool StrictChangeDetection() const override;
    bool ForceBufferFlush() const override;
    std::uint32_t RecordCacheBytes() const override;
    std::uint32_t RecordCacheMaxRecords() const override;
    std::uint32_t BlobCacheBytes() const override;
    std::uint32_t BlobCacheMaxBlocks() const override;
    std::uint32_t IndexCacheBytes() const override;
    std::string PrivateDirectory() const override;

    [[noreturn]] void Raise(std::uint16_t code) const;

private:
    // One shared read lock: the random bytes held in the index and BLOB files.
    struct ReadLock {
        bool held = false;
        int indexSlot = 0;
        int blobSlot = 0;
    };

    bool Locked() const { return exclusive_ || readOnlyAttribute_; }
    void SetFileNames();
    void PrepareFiles();
    void OpenIndexFile();
    void CloseFiles();
    void ReleaseAllLocks();
    bool TakeReadLock(ReadLock& lock);
    void DropReadLock(ReadLock& lock);
    void ReleaseDeferredUnlocks();
    void RestoreSuspendedReadLocks();
    void SleepBeforeRetry() const;

    TDataDirectory& directory_;
    std::string name_;
    std::uint16_t useCount_ = 0;
    bool open_ = false;
    bool exclusive_ = false;
    bool readOnly_ = false;
    bool readOnlyAttribute_ = false;
    bool inMemory_ = false;
    bool temporary_ = false;
    std::unique_ptr<TDataFile> dataFile_;
    std::unique_ptr<TIndexFile> indexFile_;
    std::unique_ptr<TBlobFile> blobFile_;
    bool indexRebuildNeeded_ = false;
    TRecordsBitmap osLockedRecords_;
    TRecordsBitmap cursorLockedRecords_;
    TRecordsBitmap deferredUnlocks_;
    ReadLock readLock_;
    ReadLock queryReadLock_;
    bool writeLockHeld_ = false;
    bool blobCheckOwed_ = false;
    // Read locks this table let go of to take its write lock (a write range
    // covers every read byte, its own ones included); taken again at EndWrite.
    bool readLockSuspended_ = false;
    bool queryReadLockSuspended_ = false;
    bool transactionLockHeld_ = false;
    bool inTransaction_ = false;
    bool changedSinceOpen_ = false;
    std::uint32_t discards_ = 0;
    std::uint64_t opening_ = 0;
};

}  // namespace pixhold::engine
