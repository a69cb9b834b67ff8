#include "AbstractFile.h"

#include <algorithm>
#include <limits>

#include "EngineError.h"
#include "FaultPlan.h"
#include "FileList.h"

namespace pixhold::engine {

TAbstractFile::TAbstractFile(std::string name, bool inMemory) : name_(std::move(name)), inMemory_(inMemory) {}

TAbstractFile::~TAbstractFile() = default;

TLogicalHandle* TAbstractFile::FindHandle(std::uint32_t id) {
    TFileAccess access(*this);
    for (auto& handle : handles_)
        if (handle.id == id) return &handle;
    return nullptr;
}

int TAbstractFile::AddHandle() {
    handles_.push_back({++nextId_, 0});
    return static_cast<int>(nextId_);
}

bool TAbstractFile::RemoveHandle(std::uint32_t id) {
    const auto it = std::find_if(handles_.begin(), handles_.end(), [id](const auto& h) { return h.id == id; });
    if (it == handles_.end()) return false;
    handles_.erase(it);
    return true;
}

int TAbstractFile::OpenFile() {
    TFileAccess access(*this);
    return AddHandle();
}

int TAbstractFile::CloseFile(std::uint32_t handle) {
    TFileAccess access(*this);
    return RemoveHandle(handle) ? 0 : -static_cast<int>(err::InvalidFileHandle);
}

int TAbstractFile::RenameFile(const std::string& newName) {
    TFileAccess access(*this);
    name_ = newName;
    return 0;
}

int TAbstractFile::DeleteFile() { return 0; }

std::int64_t TAbstractFile::ReadHead(std::uint32_t handle, void* buffer, std::size_t count) {
    std::lock_guard<std::recursive_mutex> access(access_);
    TLogicalHandle* h = FindHandle(handle);
    if (h == nullptr) return -static_cast<std::int64_t>(err::InvalidFileHandle);
    const std::int64_t position = Seek(handle, SeekOrigin::Current, 0);
    if (position < 0) return position;
    const std::int64_t at = Seek(handle, SeekOrigin::Begin, 0);
    if (at < 0) return at;
    const std::int64_t got = Read(handle, buffer, count);
    const std::int64_t back = Seek(handle, SeekOrigin::Begin, position);
    if (got < 0) return got;
    return back < 0 ? back : got;
}

std::int64_t TAbstractFile::ReadPieces(std::uint32_t handle, const TBufferPiece* pieces, std::size_t pieceCount) {
    std::int64_t done = 0;
    for (std::size_t i = 0; i < pieceCount; ++i) {
        if (pieces[i].count == 0) continue;
        const std::int64_t got = Read(handle, pieces[i].data, pieces[i].count);
        if (got < 0) return done == 0 ? got : done;
        done += got;
        if (static_cast<std::size_t>(got) != pieces[i].count) break;
    }
    return done;
}

std::int64_t TAbstractFile::WritePieces(std::uint32_t handle, const TConstBufferPiece* pieces,
                                        std::size_t pieceCount) {
    std::int64_t done = 0;
    for (std::size_t i = 0; i < pieceCount; ++i) {
        // A write of nothing would set the end of the file.
        if (pieces[i].count == 0) continue;
        const std::int64_t put = Write(handle, pieces[i].data, pieces[i].count);
        if (put < 0) return done == 0 ? put : done;
        done += put;
        if (static_cast<std::size_t>(put) != pieces[i].count) break;
    }
    return done;
}

bool TAbstractFile::Flush(std::uint32_t handle) {
    TFileAccess access(*this);
    if (FindHandle(handle) == nullptr) return false;
    if (auto plan = ActiveFaultPlan(); plan && !plan->OnFlush()) return false;
    return true;
}

std::int64_t TAbstractFile::Seek(std::uint32_t handle, SeekOrigin origin, std::int64_t offset) {
    TFileAccess access(*this);
    TLogicalHandle* entry = FindHandle(handle);
    if (entry == nullptr) return -static_cast<int>(err::InvalidFileHandle);
    std::int64_t base = 0;
    switch (origin) {
    case SeekOrigin::Begin: base = 0; break;
    case SeekOrigin::Current: base = entry->position; break;
    case SeekOrigin::End: base = GetSize(); break;
    }
    if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) || base + offset < 0)
        return -static_cast<int>(err::UnknownOsError);
    entry->position = base + offset;
    return entry->position;
}

bool TAbstractFile::LockOverlaps(std::int64_t first, std::int64_t last) const {
    return std::any_of(locks_.begin(), locks_.end(),
                       [&](const TRegionLock& held) { return first <= held.last && held.first <= last; });
}

std::vector<TRegionLock>::iterator TAbstractFile::FindLock(std::int64_t offset, std::int64_t length) {
    return std::find_if(locks_.begin(), locks_.end(), [&](const TRegionLock& held) {
        return held.first == offset && held.length == length;
    });
}

bool TAbstractFile::LockRegion(std::int64_t offset, std::int64_t length) {
    TFileAccess access(*this);
    if (offset < 0 || length <= 0 || offset > std::numeric_limits<std::int64_t>::max() - (length - 1)) return false;
    const std::int64_t last = offset + length - 1;
    if (LockOverlaps(offset, last)) return false;
    locks_.push_back({offset, last, length});
    return true;
}

bool TAbstractFile::UnlockRegion(std::int64_t offset, std::int64_t length) {
    TFileAccess access(*this);
    const auto it = FindLock(offset, length);
    if (it == locks_.end()) return false;
    locks_.erase(it);
    return true;
}

std::shared_ptr<TFaultPlan> TAbstractFile::ActiveFaultPlan() const {
    auto plan = FileList().FaultPlan();
    if (plan && plan->Covers(name_)) return plan;
    return nullptr;
}

}  // namespace pixhold::engine
