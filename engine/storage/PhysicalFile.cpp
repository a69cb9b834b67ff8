#include "PhysicalFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <limits>
#include <vector>

#include "EngineError.h"
#include "FaultPlan.h"
#include "FileName.h"
#include "OsError.h"

namespace pixhold::engine {
namespace {

constexpr int Neg(std::uint16_t code) { return -static_cast<int>(code); }

bool SetOfdLock(int fd, short type, std::int64_t offset, std::int64_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = static_cast<off_t>(length);
    lock.l_pid = 0;
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &lock);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool HasWriteBits(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

// Moves up to `count` bytes at `offset` with `step` (pread or pwrite), going
// on after interruptions and short transfers until nothing more moves (the
// end of the file for a read): bytes moved, or a negated error when nothing
// could be moved.
template <typename Bytes, typename Step>
std::int64_t TransferFully(int fd, Bytes* bytes, std::size_t count, std::int64_t offset, Step step) {
    std::size_t done = 0;
    while (done < count) {
        const auto at = static_cast<off_t>(offset + static_cast<std::int64_t>(done));
        const ssize_t n = step(fd, bytes + done, count - done, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done == 0) return NegatedOsError();
            break;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t ReadFully(int fd, unsigned char* bytes, std::size_t count, std::int64_t offset) {
    return TransferFully(fd, bytes, count, offset, ::pread);
}

std::int64_t WriteFully(int fd, const unsigned char* bytes, std::size_t count, std::int64_t offset) {
    return TransferFully(fd, bytes, count, offset, ::pwrite);
}

}  // namespace

TPhysicalFile::TPhysicalFile(std::string name) : TAbstractFile(std::move(name), false) {}

TPhysicalFile::~TPhysicalFile() { CloseDescriptor(); }

void TPhysicalFile::CloseDescriptor() {
    if (head_ != nullptr) ::munmap(head_, headLength_);
    head_ = nullptr;
    headLength_ = 0;
    headRefused_ = false;
    if (fd_ < 0) return;
    ::close(fd_);  // releases every lock held through the descriptor
    fd_ = -1;
    locks_.clear();
    if (temporary_) ::unlink(osPath_.c_str());
}

bool TPhysicalFile::HeldByOtherProcess(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(kShareModeByte);
    lock.l_len = 1;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

int TPhysicalFile::TakeShareLock(int fd, bool exclusive, bool writable) {
    const short type = exclusive && writable ? F_WRLCK : F_RDLCK;
    if (SetOfdLock(fd, type, kShareModeByte, 1)) return 0;
    if (errno == EAGAIN || errno == EACCES) return Neg(err::AccessDenied);
    return NegatedOsError();
}

std::int64_t TPhysicalFile::GetSize() {
    TFileAccess access(*this);
    struct stat st {};
    if (fd_ >= 0) {
        if (::fstat(fd_, &st) != 0) return NegatedOsError();
    } else if (::stat(ResolveFileName(name_).c_str(), &st) != 0) {
        return NegatedOsError();
    }
    return static_cast<std::int64_t>(st.st_size);
}

int TPhysicalFile::CreateFile() {
    TFileAccess access(*this);
    if (!handles_.empty()) return Neg(err::AccessDenied);
    CloseDescriptor();
    osPath_ = ResolveFileName(name_);
    const int fd = ::open(osPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return NegatedOsError();
    // Take the share-mode byte before truncating, so a file another process
    // holds open is refused instead of being emptied under it.
    if (const int rc = TakeShareLock(fd, true, true); rc != 0) {
        ::close(fd);
        return rc;
    }
    // Only a file that has contents is truncated: some file systems (ext4)
    // take a truncation to zero as a file being replaced and start writing all
    // of it to the disk when it is closed, which a new file does not need.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (st.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
        const int rc = NegatedOsError();
        ::close(fd);
        return rc;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    position_ = 0;
    readOnlyOpen_ = false;
    readOnlyAttribute_ = false;
    return AddHandle();
}

int TPhysicalFile::OpenFile() {
    TFileAccess access(*this);
    if (fd_ >= 0) return AddHandle();

    readOnlyAttribute_ = false;
    readOnlyOpen_ = false;
    osPath_ = ResolveFileName(name_);
    struct stat st {};
    if (::stat(osPath_.c_str(), &st) != 0) return NegatedOsError();
    if (S_ISDIR(st.st_mode)) return Neg(err::AccessDenied);
    if (!HasWriteBits(st)) {
        readOnlyAttribute_ = true;
        readOnlyOpen_ = true;
    }

    int fd = ::open(osPath_.c_str(), (readOnlyOpen_ ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) {
        if (readOnlyOpen_) return NegatedOsError();
        fd = ::open(osPath_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return NegatedOsError();
        readOnlyOpen_ = true;
    }
    if (const int rc = TakeShareLock(fd, exclusive_, !readOnlyOpen_); rc != 0) {
        ::close(fd);
        return rc;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    position_ = 0;
    return AddHandle();
}

int TPhysicalFile::CloseFile(std::uint32_t handle) {
    TFileAccess access(*this);
    if (!RemoveHandle(handle)) return Neg(err::InvalidFileHandle);
    if (handles_.empty()) CloseDescriptor();
    return 0;
}

int TPhysicalFile::RenameFile(const std::string& newName) {
    TFileAccess access(*this);
    if (fd_ >= 0) return Neg(err::AccessDenied);
    const std::string source = ResolveFileName(name_);
    std::string target = ResolveFileName(newName);
    // A change of letter case only: the target "exists" as the source itself.
    if (target == source) target = newName;
    if (HeldByOtherProcess(source) || HeldByOtherProcess(target)) return Neg(err::AccessDenied);
    if (::rename(source.c_str(), target.c_str()) != 0) return NegatedOsError();
    name_ = newName;
    osPath_ = target;
    return 0;
}

int TPhysicalFile::DeleteFile() {
    TFileAccess access(*this);
    if (fd_ >= 0) return Neg(err::AccessDenied);
    const std::string path = ResolveFileName(name_);
    if (HeldByOtherProcess(path)) return Neg(err::AccessDenied);
    if (::unlink(path.c_str()) != 0) return NegatedOsError();
    return 0;
}

std::int64_t TPhysicalFile::Read(std::uint32_t handle, void* buffer, std::size_t count) {
    TFileAccess access(*this);
    if (fd_ < 0 || FindHandle(handle) == nullptr) return Neg(err::InvalidFileHandle);
    if (auto plan = ActiveFaultPlan(); plan && !plan->OnRead()) return Neg(err::UnknownOsError);
    const std::int64_t got = ReadFully(fd_, static_cast<unsigned char*>(buffer), count, position_);
    if (got > 0) position_ += got;
    return got;
}

const volatile std::uint8_t* TPhysicalFile::HeadView(std::size_t count) {
    if (head_ != nullptr) return static_cast<const volatile std::uint8_t*>(head_);
    if (headRefused_) return nullptr;
    // Only over bytes the file holds: a page wholly past the end of the file
    // faults when touched. The headers these bytes start are never cut off
    // while the file is open.
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size < static_cast<off_t>(count)) return nullptr;
    const long page = ::sysconf(_SC_PAGESIZE);
    const std::size_t length = page > 0 ? static_cast<std::size_t>(page) : 4096u;
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_, 0);
    if (view == MAP_FAILED) {
        headRefused_ = true;  // a file system without shared mappings: pread it is
        return nullptr;
    }
    head_ = view;
    headLength_ = length;
    return static_cast<const volatile std::uint8_t*>(head_);
}

std::int64_t TPhysicalFile::ReadHead(std::uint32_t handle, void* buffer, std::size_t count) {
    TFileAccess access(*this);
    if (fd_ < 0 || FindHandle(handle) == nullptr) return Neg(err::InvalidFileHandle);
    if (auto plan = ActiveFaultPlan(); plan && !plan->OnRead()) return Neg(err::UnknownOsError);
    auto* bytes = static_cast<unsigned char*>(buffer);
    if (count <= kHeadBytes) {
        if (const volatile std::uint8_t* view = HeadView(count)) {
            for (std::size_t i = 0; i < count; ++i) bytes[i] = view[i];
            return static_cast<std::int64_t>(count);
        }
    }
    return ReadFully(fd_, bytes, count, 0);
}

std::int64_t TPhysicalFile::Write(std::uint32_t handle, const void* buffer, std::size_t count) {
    TFileAccess access(*this);
    if (fd_ < 0 || FindHandle(handle) == nullptr) return Neg(err::InvalidFileHandle);
    std::size_t allowed = count;
    if (auto plan = ActiveFaultPlan()) {
        const std::int64_t n = plan->OnWrite(count);
        if (n < 0) return Neg(err::UnknownOsError);
        allowed = static_cast<std::size_t>(n);
    }
    if (count == 0) {
        // A write of nothing sets the end of the file at the position.
        if (::ftruncate(fd_, static_cast<off_t>(position_)) != 0) return NegatedOsError();
        return 0;
    }
    const std::int64_t put = WriteFully(fd_, static_cast<const unsigned char*>(buffer), allowed, position_);
    if (put > 0) position_ += put;
    return put;
}

namespace {

// The pieces are handed to preadv/pwritev as they are: they have the layout of
// an iovec.
static_assert(sizeof(TBufferPiece) == sizeof(iovec) && offsetof(TBufferPiece, data) == offsetof(iovec, iov_base) &&
              offsetof(TBufferPiece, count) == offsetof(iovec, iov_len));
static_assert(sizeof(TConstBufferPiece) == sizeof(iovec) &&
              offsetof(TConstBufferPiece, data) == offsetof(iovec, iov_base) &&
              offsetof(TConstBufferPiece, count) == offsetof(iovec, iov_len));

// Moves up to `limit` bytes of the pieces at `position` with preadv or pwritev,
// IOV_MAX pieces per call, going on after partial transfers. Bytes moved, or
// a negated error when nothing could be moved. Whole pieces go to the system
// straight from the caller's array; only a batch that starts inside a piece
// (after a partial transfer) or ends at the limit is copied and adjusted.
template <typename Piece, typename Call>
std::int64_t TransferPieces(const Piece* pieces, std::size_t pieceCount, std::size_t limit,
                            std::int64_t& position, Call call) {
    std::vector<iovec> adjusted;
    std::size_t done = 0;
    std::size_t piece = 0;
    std::size_t skip = 0;  // bytes of pieces[piece] already moved
    while (piece < pieceCount && done < limit) {
        const std::size_t end = std::min<std::size_t>(pieceCount, piece + IOV_MAX);
        std::size_t planned = 0;
        for (std::size_t k = piece; k < end; ++k) planned += pieces[k].count;
        planned -= skip;
        const iovec* batch = reinterpret_cast<const iovec*>(pieces + piece);
        std::size_t batchCount = end - piece;
        const bool direct = skip == 0 && planned <= limit - done;
        if (!direct) {
            adjusted.clear();
            std::size_t room = limit - done;
            for (std::size_t k = piece; k < end && room > 0; ++k) {
                const std::size_t offset = k == piece ? skip : 0;
                const std::size_t length = std::min(pieces[k].count - offset, room);
                auto* base = static_cast<unsigned char*>(const_cast<void*>(static_cast<const void*>(pieces[k].data)));
                adjusted.push_back({base + offset, length});
                room -= length;
            }
            planned = limit - done - room;
            batch = adjusted.data();
            batchCount = adjusted.size();
        }
        if (planned == 0) {
            // Only empty pieces in this batch.
            if (end == pieceCount) break;
            piece = end;
            skip = 0;
            continue;
        }
        const ssize_t n = call(batch, static_cast<int>(batchCount), static_cast<off_t>(position));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done == 0) return NegatedOsError();
            break;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
        position += n;
        if (direct && static_cast<std::size_t>(n) == planned) {
            piece = end;
            skip = 0;
            continue;
        }
        for (std::size_t left = static_cast<std::size_t>(n); left > 0 && piece < pieceCount;) {
            const std::size_t available = pieces[piece].count - skip;
            if (left >= available) {
                left -= available;
                ++piece;
                skip = 0;
            } else {
                skip += left;
                left = 0;
            }
        }
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace

std::int64_t TPhysicalFile::ReadPieces(std::uint32_t handle, const TBufferPiece* pieces, std::size_t pieceCount) {
    TFileAccess access(*this);
    if (fd_ < 0 || FindHandle(handle) == nullptr) return Neg(err::InvalidFileHandle);
    if (auto plan = ActiveFaultPlan(); plan && !plan->OnRead()) return Neg(err::UnknownOsError);
    return TransferPieces(pieces, pieceCount, std::numeric_limits<std::size_t>::max(), position_,
                          [this](const iovec* v, int n, off_t at) { return ::preadv(fd_, v, n, at); });
}

std::int64_t TPhysicalFile::WritePieces(std::uint32_t handle, const TConstBufferPiece* pieces,
                                        std::size_t pieceCount) {
    TFileAccess access(*this);
    if (fd_ < 0 || FindHandle(handle) == nullptr) return Neg(err::InvalidFileHandle);
    std::size_t count = 0;
    for (std::size_t i = 0; i < pieceCount; ++i) count += pieces[i].count;
    if (count == 0) return 0;
    std::size_t allowed = count;
    if (auto plan = ActiveFaultPlan()) {
        const std::int64_t n = plan->OnWrite(count);
        if (n < 0) return Neg(err::UnknownOsError);
        allowed = static_cast<std::size_t>(n);
    }
    return TransferPieces(pieces, pieceCount, allowed, position_,
                          [this](const iovec* v, int n, off_t at) { return ::pwritev(fd_, v, n, at); });
}

bool TPhysicalFile::Flush(std::uint32_t handle) {
    TFileAccess access(*this);
    if (fd_ < 0 || FindHandle(handle) == nullptr) return false;
    if (auto plan = ActiveFaultPlan(); plan && !plan->OnFlush()) return false;
    return ::fsync(fd_) == 0;
}

std::int64_t TPhysicalFile::Seek(std::uint32_t handle, SeekOrigin origin, std::int64_t offset) {
    TFileAccess access(*this);
    if (fd_ < 0 || FindHandle(handle) == nullptr) return Neg(err::InvalidFileHandle);
    std::int64_t base = 0;
    switch (origin) {
    case SeekOrigin::Begin: base = 0; break;
    case SeekOrigin::Current: base = position_; break;
    case SeekOrigin::End: {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return NegatedOsError();
        base = static_cast<std::int64_t>(st.st_size);
        break;
    }
    }
    if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) || base + offset < 0)
        return Neg(err::UnknownOsError);
    position_ = base + offset;
    return position_;
}

bool TPhysicalFile::LockRegion(std::int64_t offset, std::int64_t length) {
    TFileAccess access(*this);
    if (fd_ < 0) return false;
    if (offset < 0 || length <= 0 || offset > std::numeric_limits<std::int64_t>::max() - (length - 1)) return false;
    const std::int64_t last = offset + length - 1;
    // The share-mode byte is the file's own; a region over it would merge with
    // that lock and its unlock would drop the share mode.
    if (offset <= kShareModeByte && kShareModeByte <= last) return false;
    if (LockOverlaps(offset, last)) return false;
    if (!SetOfdLock(fd_, readOnlyOpen_ ? F_RDLCK : F_WRLCK, offset, length)) return false;
    locks_.push_back({offset, last, length});
    return true;
}

bool TPhysicalFile::UnlockRegion(std::int64_t offset, std::int64_t length) {
    TFileAccess access(*this);
    if (fd_ < 0) return false;
    const auto it = FindLock(offset, length);
    if (it == locks_.end()) return false;
    if (!SetOfdLock(fd_, F_UNLCK, offset, length)) return false;
    locks_.erase(it);
    return true;
}

}  // namespace pixhold::engine
