#include "CofferBlobStream.h"

#include <limits>

#include "CursorOps.h"
#include "DatasetError.h"
#include "EngineError.h"

namespace pixhold::engine {

TCofferBlobStream::TCofferBlobStream(TField& field, TBlobStreamMode mode)
    : dataset_(field.DataSet()), field_(field), mode_(mode) {
    dataset_.CheckActive();
    if (mode_ != TBlobStreamMode::bmRead) {
        if (!dataset_.Editing()) RaiseDatasetError(dserr::NotEditing);
        if (field_.ReadOnly() || !dataset_.CanModify()) RaiseDatasetError(dserr::FieldReadOnly, field_.FieldName());
    }
    OpenBlob();
    if (mode_ == TBlobStreamMode::bmWrite) {
        TEngineLock lock(dataset_.DBSession());
        const int code = cursorops::TruncateBlob(dataset_.Handle(), field_.FieldNo(), Buffer(), 0);
        if (code != 0) Raise(code);
        dataset_.MarkBlobChanged(field_.FieldNo());
        written_ = true;
    }
}

TCofferBlobStream::~TCofferBlobStream() {
    if (!opened_) return;
    try {
        if (written_) dataset_.MarkBlobChanged(field_.FieldNo());
        // A BLOB changed in this edit stays open until the post writes it.
        if (!dataset_.BlobChanged(field_.FieldNo()) && dataset_.HasHandle()) {
            TEngineLock lock(dataset_.DBSession());
            cursorops::FreeBlob(dataset_.Handle(), field_.FieldNo(), Buffer());
        }
    } catch (...) {
    }
}

void TCofferBlobStream::Raise(int code) const {
    RaiseEngineError(static_cast<std::uint16_t>(code),
                     ErrorContext{.table = dataset_.ErrorTableName(), .field = field_.FieldName()});
}

void TCofferBlobStream::OpenBlob() {
    std::uint32_t length = 0;
    for (int attempt = 0;; ++attempt) {
        int code = 0;
        {
            TEngineLock lock(dataset_.DBSession());
            code = cursorops::OpenBlob(dataset_.Handle(), field_.FieldNo(), Buffer(),
                                       mode_ != TBlobStreamMode::bmRead, length);
        }
        if (code == 0) break;
        // Another user changed the record: read it again and try once more.
        if (code == err::RecordChanged && attempt == 0 && mode_ == TBlobStreamMode::bmRead) {
            dataset_.ReReadCurrent();
            continue;
        }
        Raise(code);
    }
    opened_ = true;
}

std::size_t TCofferBlobStream::Read(void* buffer, std::size_t count) {
    if (count == 0) return 0;
    std::uint32_t bytesRead = 0;
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(count, std::numeric_limits<std::uint32_t>::max()));
    int code = 0;
    for (int attempt = 0;; ++attempt) {
        {
            TEngineLock lock(dataset_.DBSession());
            code = cursorops::GetBlob(dataset_.Handle(), field_.FieldNo(), Buffer(),
                                      static_cast<std::uint32_t>(position_), length,
                                      static_cast<std::uint8_t*>(buffer), bytesRead);
        }
        if (code == err::RecordChanged && attempt == 0) {
            dataset_.ReReadCurrent();
            OpenBlob();
            continue;
        }
        break;
    }
    if (code == 0 || code == err::EndOfBlob) {
        position_ += bytesRead;
        return bytesRead;
    }
    if (code == err::InvalidBlobOffset) return 0;
    Raise(code);
}

std::size_t TCofferBlobStream::Write(const void* buffer, std::size_t count) {
    if (mode_ == TBlobStreamMode::bmRead) RaiseDatasetError(dserr::NotEditing);
    if (count == 0) return 0;
    {
        TEngineLock lock(dataset_.DBSession());
        const int code = cursorops::PutBlob(dataset_.Handle(), field_.FieldNo(), Buffer(),
                                            static_cast<std::uint32_t>(position_),
                                            static_cast<std::uint32_t>(count), static_cast<const std::uint8_t*>(buffer));
        if (code != 0) Raise(code);
    }
    position_ += count;
    written_ = true;
    dataset_.MarkBlobChanged(field_.FieldNo());
    return count;
}

std::uint64_t TCofferBlobStream::Size() {
    std::uint32_t length = 0;
    TEngineLock lock(dataset_.DBSession());
    const int code = cursorops::GetBlobSize(dataset_.Handle(), field_.FieldNo(), Buffer(), length);
    if (code != 0) Raise(code);
    return length;
}

std::uint64_t TCofferBlobStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = 0;
    switch (origin) {
        case TSeekOrigin::soBeginning:
            base = 0;
            break;
        case TSeekOrigin::soCurrent:
            base = static_cast<std::int64_t>(position_);
            break;
        case TSeekOrigin::soEnd:
            base = static_cast<std::int64_t>(Size());
            break;
    }
    const std::int64_t target = base + offset;
    position_ = target < 0 ? 0 : static_cast<std::uint64_t>(target);
    return position_;
}

std::vector<std::uint8_t> TCofferBlobStream::ReadAll() {
    Seek(0, TSeekOrigin::soBeginning);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Size()));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t n = Read(bytes.data() + done, bytes.size() - done);
        if (n == 0) break;
        done += n;
    }
    bytes.resize(done);
    return bytes;
}

void TCofferBlobStream::WriteAll(const std::vector<std::uint8_t>& bytes) {
    Seek(0, TSeekOrigin::soBeginning);
    Write(bytes.data(), bytes.size());
}

}  // namespace pixhold::engine
