#include "MemoryFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "EngineError.h"
#include "FaultPlan.h"

namespace pixhold::engine {

TMemoryFile::TMemoryFile(std::string name) : TAbstractFile(std::move(name), true) {}

std::int64_t TMemoryFile::GetSize() {
    TFileAccess access(*this);
    return size_;
}

int TMemoryFile::CreateFile() {
    TFileAccess access(*this);
    size_ = 0;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return AddHandle();
}

bool TMemoryFile::Reserve(std::size_t size) {
    if (size <= buffer_.size()) return true;
    const std::size_t steps = (size + kGrowStep - 1) / kGrowStep;
    try {
        buffer_.resize(steps * kGrowStep, 0);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

std::int64_t TMemoryFile::Read(std::uint32_t handle, void* buffer, std::size_t count) {
    TFileAccess access(*this);
    TLogicalHandle* entry = FindHandle(handle);
    if (entry == nullptr) return -static_cast<int>(err::InvalidFileHandle);
    if (auto plan = ActiveFaultPlan(); plan && !plan->OnRead()) return -static_cast<int>(err::UnknownOsError);
    if (entry->position >= size_) return 0;
    const auto available = static_cast<std::uint64_t>(size_ - entry->position);
    const std::size_t n = available < count ? static_cast<std::size_t>(available) : count;
    if (n > 0) std::memcpy(buffer, buffer_.data() + entry->position, n);
    entry->position += static_cast<std::int64_t>(n);
    return static_cast<std::int64_t>(n);
}

std::int64_t TMemoryFile::Write(std::uint32_t handle, const void* buffer, std::size_t count) {
    TFileAccess access(*this);
    TLogicalHandle* entry = FindHandle(handle);
    if (entry == nullptr) return -static_cast<int>(err::InvalidFileHandle);
    std::size_t n = count;
    if (auto plan = ActiveFaultPlan()) {
        const std::int64_t allowed = plan->OnWrite(count);
        if (allowed < 0) return -static_cast<int>(err::UnknownOsError);
        n = static_cast<std::size_t>(allowed);
        if (n == 0 && count > 0) return 0;
    }
    const auto position = static_cast<std::uint64_t>(entry->position);
    if (count == 0) {
        // A write of nothing sets the end of the file at the position.
        if (position > std::numeric_limits<std::size_t>::max() || !Reserve(static_cast<std::size_t>(position)))
            return -static_cast<int>(err::OutOfMemory);
        if (entry->position < size_)
            std::memset(buffer_.data() + entry->position, 0, static_cast<std::size_t>(size_ - entry->position));
        size_ = entry->position;
        return 0;
    }
    if (position > std::numeric_limits<std::size_t>::max() - n) return -static_cast<int>(err::OutOfMemory);
    const std::size_t end = static_cast<std::size_t>(position) + n;
    if (!Reserve(end)) return -static_cast<int>(err::OutOfMemory);
    std::memcpy(buffer_.data() + position, buffer, n);
    entry->position = static_cast<std::int64_t>(end);
    if (entry->position > size_) size_ = entry->position;
    return static_cast<std::int64_t>(n);
}

std::int64_t TMemoryFile::ReadPieces(std::uint32_t handle, const TBufferPiece* pieces, std::size_t pieceCount) {
    TFileAccess access(*this);
    TLogicalHandle* entry = FindHandle(handle);
    if (entry == nullptr) return -static_cast<int>(err::InvalidFileHandle);
    if (auto plan = ActiveFaultPlan(); plan && !plan->OnRead()) return -static_cast<int>(err::UnknownOsError);
    std::int64_t done = 0;
    for (std::size_t i = 0; i < pieceCount && entry->position < size_; ++i) {
        const auto available = static_cast<std::uint64_t>(size_ - entry->position);
        const std::size_t n = available < pieces[i].count ? static_cast<std::size_t>(available) : pieces[i].count;
        if (n > 0) std::memcpy(pieces[i].data, buffer_.data() + entry->position, n);
        entry->position += static_cast<std::int64_t>(n);
        done += static_cast<std::int64_t>(n);
    }
    return done;
}

std::int64_t TMemoryFile::WritePieces(std::uint32_t handle, const TConstBufferPiece* pieces,
                                      std::size_t pieceCount) {
    TFileAccess access(*this);
    TLogicalHandle* entry = FindHandle(handle);
    if (entry == nullptr) return -static_cast<int>(err::InvalidFileHandle);
    std::size_t count = 0;
    for (std::size_t i = 0; i < pieceCount; ++i) count += pieces[i].count;
    // Unlike a plain write of nothing, a transfer of no bytes leaves the end alone.
    if (count == 0) return 0;
    std::size_t allowed = count;
    if (auto plan = ActiveFaultPlan()) {
        const std::int64_t n = plan->OnWrite(count);
        if (n < 0) return -static_cast<int>(err::UnknownOsError);
        allowed = static_cast<std::size_t>(n);
        if (allowed == 0) return 0;
    }
    const auto position = static_cast<std::uint64_t>(entry->position);
    if (position > std::numeric_limits<std::size_t>::max() - allowed) return -static_cast<int>(err::OutOfMemory);
    const std::size_t end = static_cast<std::size_t>(position) + allowed;
    if (!Reserve(end)) return -static_cast<int>(err::OutOfMemory);
    std::size_t at = static_cast<std::size_t>(position);
    for (std::size_t i = 0; i < pieceCount && at < end; ++i) {
        const std::size_t n = std::min(pieces[i].count, end - at);
        if (n > 0) std::memcpy(buffer_.data() + at, pieces[i].data, n);
        at += n;
    }
    entry->position = static_cast<std::int64_t>(end);
    if (entry->position > size_) size_ = entry->position;
    return static_cast<std::int64_t>(allowed);
}

}  // namespace pixhold::engine
