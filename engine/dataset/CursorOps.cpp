#include "CursorOps.h"

#include "CofferDataSet.h"
#include "DatasetError.h"
#include "DataDirectory.h"
#include "DataTable.h"

namespace pixhold::engine::cursorops {

namespace {

[[noreturn]] void Missing(const char* what) {
    throw EDatasetError(std::string(what) + " is not available in this engine build.");
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

int AddExpressionFilter(TDataCursor&, const std::string&, const TFilterOptions&) { Missing("Filtering"); }
int AddCallbackFilter(TDataCursor&, std::function<bool(const std::uint8_t*)>) { Missing("Filtering"); }
void ActivateFilter(TDataCursor& cursor, int handle) { cursor.ActivateFilter(handle); }
void DeactivateFilter(TDataCursor& cursor, int handle) { cursor.DeactivateFilter(handle); }
void DropFilter(TDataCursor& cursor, int handle) { cursor.DropFilter(handle); }

void FlushBuffers(TDataCursor& cursor) {
    if (cursor.Table().Exclusive() && !cursor.Directory().InTransaction()) {
        cursor.FlushBuffers(true, false, true, true, cursor.Table().HasBlobFields());
    }
    cursor.FlushOSBuffers();
}

}  // namespace pixhold::engine::cursorops
