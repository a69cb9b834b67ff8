#include "FileHandler.h"

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "AbstractFile.h"
#include "Cipher.h"
#include "EngineError.h"
#include "FileList.h"

namespace pixhold::engine {
namespace {

std::atomic<int> gRetryAttempts{32767};
std::atomic<int> gRetryIntervalMs{3};

int DrawReadSlot() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> slot(0, 65535);
    const int n = slot(generator);
    return n == 0 ? 1 : n;
}

}  // namespace

LockRetryPolicy LockRetries() { return {gRetryAttempts.load(), gRetryIntervalMs.load()}; }

void SetLockRetries(const LockRetryPolicy& policy) {
    gRetryAttempts = policy.attempts < 1 ? 1 : policy.attempts;
    gRetryIntervalMs = policy.intervalMs < 0 ? 0 : policy.intervalMs;
}

TFileHandler::TFileHandler() = default;

TFileHandler::~TFileHandler() {
    // A handler going away must not leave its handle behind in the file list.
    // Only a handle the list no longer knows fails, and then nothing is left to close.
    if (open_ && file_ != nullptr && handle_ > 0 && FileListAlive())
        (void)FileList().CloseFile(file_, InMemory, handle_);
}

void TFileHandler::OpenFile() {
    if (open_) return;
    if (!FileExists()) RaiseTableError(err::TableNotFound, Name);
    TFileOpening opening;
    const int rc = FileList().OpenFile(Name, InMemory, Temporary, Exclusive, opening);
    if (rc < 0) RaiseTableError(static_cast<std::uint16_t>(-rc), Name);
    file_ = opening.file;
    handle_ = opening.handle;
    readOnly_ = opening.readOnly;
    readOnlyAttribute_ = opening.readOnlyAttribute;
    open_ = true;
}

void TFileHandler::CloseFile() {
    // Only a handle the list no longer knows fails, and then nothing is left to close.
    if (handle_ > 0 && file_ != nullptr) (void)FileList().CloseFile(file_, InMemory, handle_);
    file_ = nullptr;
    handle_ = 0;
    open_ = false;
}

void TFileHandler::CreateFile() {
    TFileOpening opening;
    const int rc = FileList().CreateFile(Name, InMemory, Temporary, opening);
    if (rc < 0) RaiseTableError(static_cast<std::uint16_t>(-rc), Name);
    file_ = opening.file;
    handle_ = opening.handle;
    readOnly_ = false;
    readOnlyAttribute_ = false;
    open_ = true;
}

void TFileHandler::DeleteFile() {
    const int rc = FileList().DeleteFile(Name, InMemory);
    if (rc < 0) RaiseTableError(static_cast<std::uint16_t>(-rc), Name);
}

void TFileHandler::RenameFile(const std::string& newName) {
    const int rc = FileList().RenameFile(Name, InMemory, newName);
    if (rc < 0) RaiseTableError(static_cast<std::uint16_t>(-rc), Name);
    Name = newName;
}

void TFileHandler::CopyToFile(const std::string& targetName) {
    if (!open_ || file_ == nullptr) RaiseTableError(err::InvalidFileHandle, Name);
    const int rc = FileList().CopyToFile(file_, handle_, targetName, InMemory);
    if (rc < 0) RaiseTableError(static_cast<std::uint16_t>(-rc), Name);
}

void TFileHandler::CopyFromFile(const std::string& sourceName) {
    if (!open_ || file_ == nullptr) RaiseTableError(err::InvalidFileHandle, Name);
    const int rc = FileList().CopyFromFile(file_, handle_, sourceName, InMemory);
    if (rc < 0) RaiseTableError(static_cast<std::uint16_t>(-rc), Name);
}

std::size_t TFileHandler::ReadBuffer(void* buffer, std::size_t count, bool allowShort) {
    if (file_ == nullptr) RaiseTableError(err::ReadError, Name);
    const std::int64_t got = file_->Read(handle_, buffer, count);
    if (got < 0 || (static_cast<std::size_t>(got) != count && !allowShort)) RaiseTableError(err::ReadError, Name);
    return static_cast<std::size_t>(got);
}

void TFileHandler::WriteBuffer(const void* buffer, std::size_t count) {
    if (file_ == nullptr) RaiseTableError(err::WriteError, Name);
    const std::int64_t put = file_->Write(handle_, buffer, count);
    if (put < 0 || static_cast<std::size_t>(put) != count) RaiseTableError(err::WriteError, Name);
}

std::size_t TFileHandler::ReadPieces(const TBufferPiece* pieces, std::size_t pieceCount, bool allowShort) {
    if (file_ == nullptr) RaiseTableError(err::ReadError, Name);
    std::size_t count = 0;
    for (std::size_t i = 0; i < pieceCount; ++i) count += pieces[i].count;
    if (count == 0) return 0;
    const std::int64_t got = file_->ReadPieces(handle_, pieces, pieceCount);
    if (got < 0 || (static_cast<std::size_t>(got) != count && !allowShort)) RaiseTableError(err::ReadError, Name);
    return static_cast<std::size_t>(got);
}

void TFileHandler::WritePieces(const TConstBufferPiece* pieces, std::size_t pieceCount) {
    if (file_ == nullptr) RaiseTableError(err::WriteError, Name);
    std::size_t count = 0;
    for (std::size_t i = 0; i < pieceCount; ++i) count += pieces[i].count;
    if (count == 0) return;
    const std::int64_t put = file_->WritePieces(handle_, pieces, pieceCount);
    if (put < 0 || static_cast<std::size_t>(put) != count) RaiseTableError(err::WriteError, Name);
}

void TFileHandler::FlushFile() {
    if (file_ == nullptr || !file_->Flush(handle_)) RaiseTableError(err::WriteError, Name);
}

std::int64_t TFileHandler::SeekFile(SeekOrigin origin, std::int64_t offset) {
    if (file_ == nullptr) return 0;
    return file_->Seek(handle_, origin, offset);
}

std::int64_t TFileHandler::GetFileSize() {
    if (file_ == nullptr) return 0;
    return file_->GetSize();
}

std::int32_t TFileHandler::ReadChangeCounter(bool enciphered) {
    std::uint8_t bytes[4];
    if (file_ == nullptr) RaiseTableError(err::ReadError, Name);
    if (file_->ReadHead(handle_, bytes, sizeof bytes) != static_cast<std::int64_t>(sizeof bytes))
        RaiseTableError(err::ReadError, Name);
    // The keystream starts again at the start of the header.
    if (enciphered) ScrambleBuffer(bytes, sizeof bytes, kDataSeeds);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                                     static_cast<std::uint32_t>(bytes[2]) << 16 |
                                     static_cast<std::uint32_t>(bytes[3]) << 24);
}

bool TFileHandler::FileExists() const { return FileList().FileExists(Name, InMemory); }

bool TFileHandler::LockRegion(bool lock, std::int64_t offset, std::int64_t length) {
    if (file_ == nullptr) return false;
    return lock ? file_->LockRegion(offset, length) : file_->UnlockRegion(offset, length);
}

void TFileHandler::BeginFileAccess() {
    if (file_ != nullptr) file_->EnterAccess();
}

void TFileHandler::EndFileAccess() {
    if (file_ != nullptr) file_->LeaveAccess();
}

namespace {

template <typename Attempt>
bool Retry(Attempt attempt) {
    const LockRetryPolicy policy = LockRetries();
    for (int i = 1;; ++i) {
        if (attempt()) return true;
        if (i >= policy.attempts) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(policy.intervalMs));
    }
}

}  // namespace

bool TFileHandler::LockTableByte() {
    if (file_ == nullptr) return false;
    return Retry([&] { return LockRegion(true, lockmap::TableLockByte, 1); });
}

bool TFileHandler::UnlockTableByte() { return LockRegion(false, lockmap::TableLockByte, 1); }

bool TFileHandler::LockRecordByte(std::uint32_t recordNo) {
    if (recordNo == 0) return false;
    return LockRegion(true, lockmap::RecordLockBase - recordNo, 1);
}

bool TFileHandler::UnlockRecordByte(std::uint32_t recordNo) {
    if (recordNo == 0) return false;
    return LockRegion(false, lockmap::RecordLockBase - recordNo, 1);
}

bool TFileHandler::LockReadByte(int& n) {
    if (file_ == nullptr) return false;
    return Retry([&] {
        n = DrawReadSlot();
        return LockRegion(true, lockmap::ReadLockBase - n, 1);
    });
}

bool TFileHandler::UnlockReadByte(int n) {
    if (n < 1 || n > 65535) return false;
    return LockRegion(false, lockmap::ReadLockBase - n, 1);
}

bool TFileHandler::LockWriteRange() {
    if (file_ == nullptr) return false;
    return Retry([&] { return LockRegion(true, lockmap::WriteLockOffset, lockmap::WriteLockLength); });
}

bool TFileHandler::UnlockWriteRange() {
    return LockRegion(false, lockmap::WriteLockOffset, lockmap::WriteLockLength);
}

}  // namespace pixhold::engine
