#include <memory>

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
    table.Cursor().SetToBegin();
    for (;;) {
        const int code = table.Cursor().GetNextRecord(record.data());
        if (code == err::EndOfTable) break;
        if (code != 0) throw ECofferEngineError(static_cast<std::uint16_t>(code), {.table = table.Name()});
        if (filter && !filter->Matches(reader)) continue;
        out << RecordJson(table.Fields(), reader) << '\n';
    }
    return 0;
}

}  // namespace pixhold::tools
