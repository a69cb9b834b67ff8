#pragma once

#include "AbstractFile.h"

namespace pixhold::engine {

// Linux has no share modes, so exclusive and shared opens are made to exclude
// each other between processes by an open-file-description lock on this byte:
// a write lock for an exclusive open and for a created file (which stays shut
// to other processes until its last handle closes), a read lock for a shared
// one. It lies beyond every region of the lock map, which all end at
// or below 4294967295.
inline constexpr std::int64_t kShareModeByte = 4294967296LL;

// A file on disk. All handles of the process share the one descriptor and its
// one position; reads and writes are positioned transfers at that position.
// Byte-range locks are open-file-description locks on the shared descriptor
// (write locks, or read locks when the file could only be opened for reading,
// since a read-only descriptor cannot hold a write lock), checked first against
// the locks this process already holds, so they behave as exclusive,
// non-overlapping regions with exact unlocks.
class TPhysicalFile : public TAbstractFile {
public:
    explicit TPhysicalFile(std::string name);
    ~TPhysicalFile() override;

    std::int64_t GetSize() override;
    int CreateFile() override;
    int OpenFile() override;
    int CloseFile(std::uint32_t handle) override;
    int RenameFile(const std::string& newName) override;
    int DeleteFile() override;
    std::int64_t Read(std::uint32_t handle, void* buffer, std::size_t count) override;
    std::int64_t Write(std::uint32_t handle, const void* buffer, std::size_t count) override;
    std::int64_t ReadPieces(std::uint32_t handle, const TBufferPiece* pieces, std::size_t pieceCount) override;
    std::int64_t ReadHead(std::uint32_t handle, void* buffer, std::size_t count) override;
    std::int64_t WritePieces(std::uint32_t handle, const TConstBufferPiece* pieces, std::size_t pieceCount) override;
    bool Flush(std::uint32_t handle) override;
    std::int64_t Seek(std::uint32_t handle, SeekOrigin origin, std::int64_t offset) override;
    bool LockRegion(std::int64_t offset, std::int64_t length) override;
    bool UnlockRegion(std::int64_t offset, std::int64_t length) override;

    // The descriptor, -1 while no handle is open.
    int Descriptor() const { return fd_; }
    // The path on disk the file was opened or created under.
    const std::string& OsPath() const { return osPath_; }
    // Whether another process holds the file open (its share-mode byte is locked).
    static bool HeldByOtherProcess(const std::string& path);

private:
    int TakeShareLock(int fd, bool exclusive, bool writable);
    void CloseDescriptor();
    // The shared view of the file's first page, made once the file holds
    // `count` bytes; null when it cannot be made (the reads then go through
    // pread).
    const volatile std::uint8_t* HeadView(std::size_t count);

    int fd_ = -1;
    // The view of the first page (a MAP_SHARED read-only mapping: the page
    // cache's own page, so writes by every process show at once).
    void* head_ = nullptr;
    std::size_t headLength_ = 0;
    bool headRefused_ = false;
    std::int64_t position_ = 0;
    std::string osPath_;
};

}  // namespace pixhold::engine
