#pragma once

#include <cstdint>
#include <string>

namespace pixhold::engine {

// What the three table files need from the shared open table that owns them.
// The table layer implements it; storage tests use a small fake. Extend it
// compatibly when a file needs more of its owner.
class TTableOwner {
public:
    virtual ~TTableOwner() = default;

    // The table's transaction lock is held by this process (appended records may
    // then exist only in the caches, and modified ones must stay in memory).
    virtual bool TransactionLockHeld() const = 0;
    // Something was written to the table's files since it was opened.
    virtual bool WrittenTo() const = 0;
    virtual void MarkWrittenTo() = 0;
    // Session settings the files follow.
    virtual bool StrictChangeDetection() const { return false; }
    // Every write of a header or descriptors is followed by a flush of the
    // operating system's buffers.
    virtual bool ForceBufferFlush() const { return false; }
    virtual std::uint32_t RecordCacheBytes() const { return 16384; }
    virtual std::uint32_t RecordCacheMaxRecords() const { return 8192; }
    virtual std::uint32_t BlobCacheBytes() const { return 32768; }
    virtual std::uint32_t BlobCacheMaxBlocks() const { return 8192; }
    // Each index's page cache holds IndexCacheBytes() / 8192 pages (2 by default)
    // and grows by 4 when every cached page is pinned or modified.
    virtual std::uint32_t IndexCacheBytes() const { return 16384; }
    virtual std::uint32_t IndexCacheMaxPages() const { return 8192; }
    // Folder of the session's private files (temporary index page files);
    // ends with a separator. Empty means the system's temporary folder.
    virtual std::string PrivateDirectory() const { return {}; }
};

// Read-ahead direction of a record or block read.
enum class ReadDirection { Forward, Backward };

// What a file operation needs from the cursor that drives it: the message log of
// verify and repair, and the change check made before a cache miss reads the disk.
class TCursorContext {
public:
    virtual ~TCursorContext() = default;

    virtual void LogMessage(const std::string& text) = 0;
    // Takes the table's read lock and checks for changes by other users; true when
    // the table had changed and the caches were refreshed (the caller starts again).
    virtual bool CheckForChanges() { return false; }
    // Before BLOB blocks are read from the file (`reading`) or taken from the
    // cache: the read lock and its BLOB part, and the BLOB file's counter
    // compared where that is still owed; true as for CheckForChanges.
    virtual bool CheckForBlobChanges(bool reading) { return reading && CheckForChanges(); }
    // How many records the cursor's index position suggests reading ahead in the
    // given direction; 0 means no suggestion.
    virtual std::uint32_t SuggestedReadAhead(ReadDirection) const { return 0; }
};

}  // namespace pixhold::engine
