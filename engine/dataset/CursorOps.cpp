#include "CursorOps.h"

#include "CofferDataSet.h"
#include "DataDirectory.h"
#include "DataTable.h"
#include "EngineError.h"

namespace pixhold::engine::cursorops {

namespace {

// The cursor's filter with that handle; 10050 when it has none.
TFilter* FilterOf(TDataCursor& cursor, int handle) {
    TFilter* filter = cursor.FindFilter(handle);
    if (filter == nullptr) RaiseEngineError(err::InvalidFilterHandle, {.table = cursor.TableName});
    return filter;
}

}  // namespace

void InitRecord(TDataCursor& cursor, std::uint8_t* buffer) { cursor.InitRecord(buffer); }
int GetCurrentRecordLocked(TDataCursor& cursor, std::uint8_t* buffer) { return cursor.GetCurrentRecord(buffer, true); }
void AppendRecord(TDataCursor& cursor, std::uint8_t* buffer) { cursor.AppendRecord(buffer, true); }
void ModifyRecord(TDataCursor& cursor, std::uint8_t* buffer) { cursor.ModifyRecord(buffer, true, true); }
void DeleteRecord(TDataCursor& cursor, std::uint8_t* expected) { cursor.DeleteRecord(expected, true); }
void CancelRecord(TDataCursor& cursor) { cursor.CancelRecord(); }

int OpenBlob(TDataCursor& cursor, int field, std::uint8_t* buffer, bool write, std::uint32_t& length) {
    return cursor.OpenBlob(static_cast<std::uint16_t>(field), buffer, write ? TBlobOpenMode::ReadWrite : TBlobOpenMode::Read,
                           length);
}
int GetBlob(TDataCursor& cursor, int field, std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length,
            std::uint8_t* data, std::uint32_t& bytesRead) {
    return cursor.GetBlob(static_cast<std::uint16_t>(field), buffer, offset, length, data, bytesRead);
}
int PutBlob(TDataCursor& cursor, int field, std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length,
            const std::uint8_t* data) {
    return cursor.PutBlob(static_cast<std::uint16_t>(field), buffer, offset, length, data);
}
int TruncateBlob(TDataCursor& cursor, int field, std::uint8_t* buffer, std::uint32_t length) {
    return cursor.TruncateBlob(static_cast<std::uint16_t>(field), buffer, length);
}
int GetBlobSize(TDataCursor& cursor, int field, std::uint8_t* buffer, std::uint32_t& length) {
    return cursor.GetBlobSize(static_cast<std::uint16_t>(field), buffer, length);
}
void FreeBlob(TDataCursor& cursor, int field, std::uint8_t* buffer) {
    cursor.FreeBlob(static_cast<std::uint16_t>(field), buffer);
}
void FreeAllBlobs(TDataCursor& cursor) { cursor.FreeAllBlobs(); }

int AddExpressionFilter(TDataCursor& cursor, const std::string& text, const TFilterOptions& options) {
    TCursorFilterOptions cursorOptions;
    cursorOptions.caseInsensitive = options.caseInsensitive;
    cursorOptions.noPartialCompare = options.noPartialCompare;
    return cursor.AddFilter(std::string_view(text), cursorOptions)->Handle();
}
int AddCallbackFilter(TDataCursor& cursor, std::function<bool(const std::uint8_t*)> accept) {
    auto ask = [accept = std::move(accept)](void*, TDataCursor&, const std::uint8_t* record, std::uint32_t) {
        return accept(record);
    };
    return cursor.AddFilter(TRecordFilterCallback(std::move(ask)), nullptr)->Handle();
}
void ActivateFilter(TDataCursor& cursor, int handle) { cursor.ActivateFilter(FilterOf(cursor, handle)); }
void DeactivateFilter(TDataCursor& cursor, int handle) { cursor.DeactivateFilter(FilterOf(cursor, handle)); }
void DropFilter(TDataCursor& cursor, int handle) { cursor.DropFilter(FilterOf(cursor, handle)); }

void FlushBuffers(TDataCursor& cursor) {
    if (cursor.Table().Exclusive() && !cursor.Directory().InTransaction()) {
        cursor.FlushBuffers(true, false, true, true, cursor.Table().HasBlobFields());
    }
    cursor.FlushOSBuffers();
}

}  // namespace pixhold::engine::cursorops
