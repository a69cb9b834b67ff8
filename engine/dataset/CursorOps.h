#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "DataCursor.h"

namespace pixhold::engine {

struct TFilterOptions;

// The cursor operations the dataset uses for editing, BLOBs, filters and
// buffers, in one place. Each answers as the cursor does: 0 or an engine code
// where the cursor returns codes, otherwise it raises.
namespace cursorops {

void InitRecord(TDataCursor& cursor, std::uint8_t* buffer);
int GetCurrentRecordLocked(TDataCursor& cursor, std::uint8_t* buffer);
void AppendRecord(TDataCursor& cursor, std::uint8_t* buffer);
void ModifyRecord(TDataCursor& cursor, std::uint8_t* buffer);
void DeleteRecord(TDataCursor& cursor, std::uint8_t* expected);
void CancelRecord(TDataCursor& cursor);

// Code and length.
int OpenBlob(TDataCursor& cursor, int field, std::uint8_t* buffer, bool write, std::uint32_t& length);
int GetBlob(TDataCursor& cursor, int field, std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length,
            std::uint8_t* data, std::uint32_t& bytesRead);
int PutBlob(TDataCursor& cursor, int field, std::uint8_t* buffer, std::uint32_t offset, std::uint32_t length,
            const std::uint8_t* data);
int TruncateBlob(TDataCursor& cursor, int field, std::uint8_t* buffer, std::uint32_t length);
int GetBlobSize(TDataCursor& cursor, int field, std::uint8_t* buffer, std::uint32_t& length);
void FreeBlob(TDataCursor& cursor, int field, std::uint8_t* buffer);
void FreeAllBlobs(TDataCursor& cursor);

// Filters; each returns the filter's handle.
int AddExpressionFilter(TDataCursor& cursor, const std::string& text, const TFilterOptions& options);
int AddCallbackFilter(TDataCursor& cursor, std::function<bool(const std::uint8_t* record)> accept);
void ActivateFilter(TDataCursor& cursor, int handle);
void DeactivateFilter(TDataCursor& cursor, int handle);
void DropFilter(TDataCursor& cursor, int handle);

// Buffered changes of an exclusive table, then the operating system's buffers.
void FlushBuffers(TDataCursor& cursor);

}  // namespace cursorops
}  // namespace pixhold::engine
