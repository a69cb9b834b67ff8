#include "CursorOps.h"

#include "CofferDataSet.h"
#include "DatasetError.h"
#include "DataDirectory.h"
#include "DataTable.h"
#include "EngineError.h"

namespace pixhold::engine::cursorops {

namespace {

[[noreturn]] void Missing(const char* what) {
    throw EDatasetError(std::string(what) + " is not available in this engine build.");
}

// The cursor's filter with that handle; 10050 when it has none.
TFilter* FilterOf(TDataCursor& cursor, int handle) {
    TFilter* filter = cursor.FindFilter(handle);
    if (filter == nullptr) RaiseEngineError(err::InvalidFilterHandle, {.table = cursor.TableName});
    return filter;
}

}  // namespace

void InitRecord(TDataCursor& cursor, std::uint8_t* buffer) {
    std::fill(buffer, buffer + cursor.RecordSize(), std::uint8_t{0});
}
int GetCurrentRecordLocked(TDataCursor&, std::uint8_t*) { Missing("Record editing"); }
void AppendRecord(TDataCursor&, std::uint8_t*) { Missing("Record editing"); }
void ModifyRecord(TDataCursor&, std::uint8_t*) { Missing("Record editing"); }
void DeleteRecord(TDataCursor&, std::uint8_t*) { Missing("Record editing"); }
void CancelRecord(TDataCursor&) {}

int OpenBlob(TDataCursor&, int, std::uint8_t*, bool, std::uint32_t&) { Missing("BLOB access"); }
int GetBlob(TDataCursor&, int, std::uint8_t*, std::uint32_t, std::uint32_t, std::uint8_t*, std::uint32_t&) {
    Missing("BLOB access");
}
int PutBlob(TDataCursor&, int, std::uint8_t*, std::uint32_t, std::uint32_t, const std::uint8_t*) {
    Missing("BLOB access");
}
int TruncateBlob(TDataCursor&, int, std::uint8_t*, std::uint32_t) { Missing("BLOB access"); }
int GetBlobSize(TDataCursor&, int, std::uint8_t*, std::uint32_t&) { Missing("BLOB access"); }
void FreeBlob(TDataCursor&, int, std::uint8_t*) {}
void FreeAllBlobs(TDataCursor&) {}

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

void EmptyTable(TDataCursor&) { Missing("Table maintenance"); }
void OptimizeTable(TDataCursor&, const std::string&, bool) { Missing("Table maintenance"); }
bool RepairTable(TDataCursor&, bool) { Missing("Table maintenance"); }
void UpgradeTable(TDataCursor&) { Missing("Table maintenance"); }
void RestructureTable(TDataCursor&, const TRestructureRequest&) { Missing("Table maintenance"); }

void FlushBuffers(TDataCursor& cursor) {
    TDataTable& table = cursor.Table();
    if (table.Exclusive() && !cursor.Directory().InTransaction()) {
        table.WriteBuffers(false, true, false, table.HasBlobFields(), true);
    }
    table.FlushOSBuffers();
}

}  // namespace pixhold::engine::cursorops
