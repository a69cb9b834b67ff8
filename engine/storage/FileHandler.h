#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pixhold::engine {

class TAbstractFile;

// Seek origins.
enum class SeekOrigin : int { Begin = 0, Current = 1, End = 2 };

// One piece of a transfer whose bytes lie in several places in memory but one
// after the other in the file (scatter reads, gather writes).
struct TBufferPiece {
    void* data;
    std::size_t count;
};
struct TConstBufferPiece {
    const void* data;
    std::size_t count;
};

// The base of the three table files (data, index, BLOB). It holds one logical
// handle on a file shared process-wide through the file list. Every error is
// raised as an engine error with the file's full name as the table name.
//
// All openings of one file in the process share one file position, so every
// positioned transfer is BeginFileAccess, SeekFile, ReadBuffer/WriteBuffer,
// EndFileAccess (the end also on an error); FileAccessGuard does exactly that.
class TFileHandler {
public:
    TFileHandler();
    virtual ~TFileHandler();
    TFileHandler(const TFileHandler&) = delete;
    TFileHandler& operator=(const TFileHandler&) = delete;

    virtual void OpenFile();
    virtual void CloseFile();
    virtual void CreateFile();
    virtual void DeleteFile();
    virtual void RenameFile(const std::string& newName);
    virtual void CopyToFile(const std::string& targetName);
    virtual void CopyFromFile(const std::string& sourceName);
    // Bytes read; error 9217 unless exactly count were read or allowShort is set.
    virtual std::size_t ReadBuffer(void* buffer, std::size_t count, bool allowShort = false);
    // Error 9218 unless exactly count were written. A count of 0 truncates the
    // file at the current position.
    virtual void WriteBuffer(const void* buffer, std::size_t count);
    virtual void FlushFile();
    // As ReadBuffer and WriteBuffer for one transfer made of pieces, the count
    // being the sum of their counts. Pieces of no bytes are skipped; a write of
    // nothing in all does nothing (it does not truncate).
    std::size_t ReadPieces(const TBufferPiece* pieces, std::size_t pieceCount, bool allowShort = false);
    void WritePieces(const TConstBufferPiece* pieces, std::size_t pieceCount);

    // The new position; 0 when no file is held, a negated engine code (and the
    // position unchanged) when the seek fails, e.g. before the start.
    std::int64_t SeekFile(SeekOrigin origin, std::int64_t offset);
    std::int64_t GetFileSize();
    // The change counter at the start of the header (the first 4 bytes,
    // little-endian, deciphered with the data seeds when enciphered): the
    // cheap part of a change check, made before a whole header is read.
    [[nodiscard]] std::int32_t ReadChangeCounter(bool enciphered);
    bool FileExists() const;
    // One attempt; lock=true places the lock, false removes it.
    [[nodiscard]] bool LockRegion(bool lock, std::int64_t offset, std::int64_t length);
    void BeginFileAccess();
    void EndFileAccess();

    // The regions of the lock map (below). The table byte, a read byte and the
    // write range are retried (LockRetries(): 32767 attempts 3 ms apart); a
    // record byte is tried once, the table retries it. Unlocks are single
    // attempts. All return false on failure or when no file is held.
    [[nodiscard]] bool LockTableByte();
    [[nodiscard]] bool UnlockTableByte();
    [[nodiscard]] bool LockRecordByte(std::uint32_t recordNo);  // records from 1
    [[nodiscard]] bool UnlockRecordByte(std::uint32_t recordNo);
    // Draws n in 1..65535 afresh before each attempt; the caller keeps n for the unlock.
    [[nodiscard]] bool LockReadByte(int& n);
    [[nodiscard]] bool UnlockReadByte(int n);
    [[nodiscard]] bool LockWriteRange();
    [[nodiscard]] bool UnlockWriteRange();

    // Inputs, set by the owning table before opening or creating.
    std::string Name;
    bool InMemory = false;
    bool Exclusive = false;
    bool Temporary = false;

    // Outputs of the open.
    bool IsOpen() const { return open_; }
    bool ReadOnly() const { return readOnly_; }
    bool ReadOnlyAttribute() const { return readOnlyAttribute_; }
    std::uint32_t Handle() const { return handle_; }
    TAbstractFile* File() const { return file_; }

protected:
    TAbstractFile* file_ = nullptr;
    std::uint32_t handle_ = 0;
    bool open_ = false;
    bool readOnly_ = false;
    bool readOnlyAttribute_ = false;
};

// How often and how far apart the retried locks are attempted.
struct LockRetryPolicy {
    int attempts = 32767;
    int intervalMs = 3;
};
LockRetryPolicy LockRetries();
void SetLockRetries(const LockRetryPolicy& policy);

// Sets the lock retries for its lifetime (tests), then restores the previous ones.
class ScopedLockRetries {
public:
    explicit ScopedLockRetries(const LockRetryPolicy& policy) : saved_(LockRetries()) { SetLockRetries(policy); }
    ~ScopedLockRetries() { SetLockRetries(saved_); }
    ScopedLockRetries(const ScopedLockRetries&) = delete;
    ScopedLockRetries& operator=(const ScopedLockRetries&) = delete;

private:
    LockRetryPolicy saved_;
};

// Holds a file's access lock for one seek-and-transfer sequence. Open, close,
// create, delete, rename and copy must not be called while it is held (the
// file list's lock comes before a file's access lock).
class FileAccessGuard {
public:
    explicit FileAccessGuard(TFileHandler& file) : file_(file) { file_.BeginFileAccess(); }
    ~FileAccessGuard() { file_.EndFileAccess(); }
    FileAccessGuard(const FileAccessGuard&) = delete;
    FileAccessGuard& operator=(const FileAccessGuard&) = delete;

private:
    TFileHandler& file_;
};

// The lock regions. They lie far beyond the end of any real file so that they
// never hinder reading or writing data.
namespace lockmap {
inline constexpr std::int64_t TableLockByte = 4294967295LL;
inline constexpr std::int64_t RecordLockBase = 4294967294LL;  // minus the record number
inline constexpr std::int64_t ReadLockBase = 4294967295LL;    // minus n, n in 1..65535
inline constexpr std::int64_t WriteLockOffset = 4294901759LL;
inline constexpr std::int64_t WriteLockLength = 65536;
}  // namespace lockmap

}  // namespace pixhold::engine
