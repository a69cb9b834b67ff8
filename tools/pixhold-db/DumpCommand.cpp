#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "CursorFilterKeys.h"
#include "DataTable.h"
#include "EngineError.h"
#include "ExpressionEval.h"
#include "FieldValues.h"
#include "FilterExpression.h"
#include "OpenTable.h"

namespace pixhold::tools {

using namespace engine;

namespace {

// The code a failed BLOB read counts as. Read through a record image that is
// out of date, a BLOB may also end early or run into blocks that were freed
// and reused (8711, 8963, 10029, 9998) rather than meet another owner (8708):
// such a failure is a change by another program when the record is no longer
// the one read, and damage when it still is.
int ConflictOf(OpenTable& table, int code, const std::vector<std::uint8_t>& record) {
    if (code != err::EndOfBlob && code != err::BlobBuffersCorrupt && code != err::InvalidBlobLength &&
        code != err::InvalidBlobOffset)
        return code;
    TDataCursor& cursor = table.Cursor();
    cursor.Refresh();
    std::vector<std::uint8_t> now(record.size());
    return cursor.GetCurrentRecord(now.data()) != 0 || now != record ? err::RecordChanged : code;
}

}  // namespace

int RunDump(const CommandLine& line, std::ostream& out) {
    OpenTable table(line.folder, line.table, line.Value("password").value_or(""), false);
    if (const auto index = line.Value("index")) table.Cursor().SetIndexName(*index);
    std::unique_ptr<TFilterExpression> filter;
    if (const auto text = line.Value("filter"))
        filter = std::make_unique<TFilterExpression>(*text, table.Fields(), table.Name(),
                                                     table.Table().DataFile().Header().Locale());
    std::vector<std::uint8_t> record(table.Cursor().RecordSize());
    // Fields are read through the engine's reader of record images, which
    // keeps to the record; BLOB contents come through the cursor.
    const TRecordImageReader reader(record.data(), record.size(),
                                    [&](const FieldDescriptor& f, const std::vector<std::uint8_t>&,
                                        std::vector<std::uint8_t>& contents) {
                                        contents = table.ReadBlob(f, record.data());
                                        return true;
                                    });
    TDataCursor& cursor = table.Cursor();
    cursor.SetToBegin();
    for (;;) {
        const int code = cursor.GetNextRecord(record.data());
        if (code == err::EndOfTable) break;
        if (code != 0) throw ECofferEngineError(static_cast<std::uint16_t>(code), {.table = table.Name()});
        // The record with its BLOBs as they were at one moment. When another
        // program changed the record after it was read, its BLOBs are no
        // longer the image's: the record is read again and written out then.
        std::optional<std::string> json;
        for (int retries = 0;;) {
            try {
                if (!filter || filter->Matches(reader)) json = RecordJson(table.Fields(), reader);
                break;
            } catch (const ECofferEngineError& e) {
                if (!table.RetryAfterConflict(ConflictOf(table, e.ErrorCode(), record), retries)) throw;
                // A record deleted meanwhile is not written out.
                if (cursor.GetCurrentRecord(record.data()) != 0) break;
            }
        }
        if (json) out << *json << '\n';
    }
    return 0;
}

}  // namespace pixhold::tools
