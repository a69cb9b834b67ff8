#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FileHandler.h"

namespace pixhold::engine {

class TFaultPlan;

// One opening of a file: its id and, for in-memory files, its position.
struct TLogicalHandle {
    std::uint32_t id = 0;
    std::int64_t position = 0;
};

// One held byte-range lock.
struct TRegionLock {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t length = 0;
};

// One file of the process, shared by every opening of it (the file list keeps
// exactly one object per name and kind). Every operation runs under the file's
// access lock, and failures are returned as negated engine error codes.
class TAbstractFile {
public:
    TAbstractFile(std::string name, bool inMemory);
    virtual ~TAbstractFile();
    TAbstractFile(const TAbstractFile&) = delete;
    TAbstractFile& operator=(const TAbstractFile&) = delete;

    TLogicalHandle* FindHandle(std::uint32_t id);
    virtual std::int64_t GetSize() = 0;
    // Create or open: the new handle's id (1 or more) or a negated error.
    [[nodiscard]] virtual int CreateFile() = 0;
    [[nodiscard]] virtual int OpenFile();
    [[nodiscard]] virtual int CloseFile(std::uint32_t handle);
    [[nodiscard]] virtual int RenameFile(const std::string& newName);
    [[nodiscard]] virtual int DeleteFile();
    // Bytes transferred, or a negated error.
    [[nodiscard]] virtual std::int64_t Read(std::uint32_t handle, void* buffer, std::size_t count) = 0;
    [[nodiscard]] virtual std::int64_t Write(std::uint32_t handle, const void* buffer, std::size_t count) = 0;
    // The pieces one after the other as if they were one buffer: bytes
    // transferred, or a negated error. This default moves them piece by piece
    // (skipping empty ones); physical files move many pieces per system call.
    [[nodiscard]] virtual std::int64_t ReadPieces(std::uint32_t handle, const TBufferPiece* pieces, std::size_t pieceCount);
    // The first `count` bytes of the file (at most kHeadBytes), as a read at
    // offset 0 gives them: bytes transferred, or a negated error. The
    // position is left where it is. The change check reads its counters so,
    // many times a second: physical files copy them from a view of the file's
    // first page instead of a system call.
    static constexpr std::size_t kHeadBytes = 64;
    [[nodiscard]] virtual std::int64_t ReadHead(std::uint32_t handle, void* buffer, std::size_t count);
    [[nodiscard]] virtual std::int64_t WritePieces(std::uint32_t handle, const TConstBufferPiece* pieces,
                                     std::size_t pieceCount);
    [[nodiscard]] virtual bool Flush(std::uint32_t handle);
    // The new position, or a negated error (the position is then unchanged).
    [[nodiscard]] virtual std::int64_t Seek(std::uint32_t handle, SeekOrigin origin, std::int64_t offset);
    // Locks never overlap, not even for the same user; an unlock needs the
    // exact offset and length of a held lock.
    [[nodiscard]] virtual bool LockRegion(std::int64_t offset, std::int64_t length);
    [[nodiscard]] virtual bool UnlockRegion(std::int64_t offset, std::int64_t length);

    // The access lock; re-entrant for the thread that holds it.
    void EnterAccess() { access_.lock(); }
    void LeaveAccess() { access_.unlock(); }

    const std::string& Name() const { return name_; }
    bool InMemory() const { return inMemory_; }
    std::uint16_t HandleCount() const { return static_cast<std::uint16_t>(handles_.size()); }
    bool Exclusive() const { return exclusive_; }
    bool ReadOnlyOpen() const { return readOnlyOpen_; }
    bool ReadOnlyAttribute() const { return readOnlyAttribute_; }
    bool Temporary() const { return temporary_; }
    void SetExclusive(bool value) { exclusive_ = value; }
    void SetTemporary(bool value) { temporary_ = value; }
    std::size_t LockCount() const { return locks_.size(); }

protected:
    // Adds a handle at position 0 and returns its id.
    int AddHandle();
    bool RemoveHandle(std::uint32_t id);
    bool LockOverlaps(std::int64_t first, std::int64_t last) const;
    std::vector<TRegionLock>::iterator FindLock(std::int64_t offset, std::int64_t length);
    // The process-wide fault plan when it covers this file, else null.
    std::shared_ptr<TFaultPlan> ActiveFaultPlan() const;

    std::recursive_mutex access_;
    std::string name_;
    bool inMemory_;
    bool exclusive_ = false;
    bool readOnlyOpen_ = false;
    bool readOnlyAttribute_ = false;
    bool temporary_ = false;
    std::vector<TLogicalHandle> handles_;
    std::uint32_t nextId_ = 0;
    std::vector<TRegionLock> locks_;
};

// RAII for a file's access lock.
class TFileAccess {
public:
    explicit TFileAccess(TAbstractFile& file) : file_(file) { file_.EnterAccess(); }
    ~TFileAccess() { file_.LeaveAccess(); }
    TFileAccess(const TFileAccess&) = delete;
    TFileAccess& operator=(const TFileAccess&) = delete;

private:
    TAbstractFile& file_;
};

}  // namespace pixhold::engine
