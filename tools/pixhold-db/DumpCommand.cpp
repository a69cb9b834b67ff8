#include <memory>
#include <optional>

#include "Commands.h"
#include "DataTable.h"
#include "EngineError.h"
#include "ExpressionEval.h"
#include "FieldValues.h"
#include "FilterExpression.h"
#include "OpenTable.h"

namespace pixhold::tools {

using namespace engine;

namespace {

// What a filter reads of a record image the cursor returned.
class RecordImageReader : public TExpRecordReader {
public:
    RecordImageReader(OpenTable& table, const std::uint8_t* record) : table_(table), record_(record) {}

    bool ReadField(const FieldDescriptor& field, std::uint16_t, std::vector<std::uint8_t>& bytes) const override {
        bytes.clear();
        if (field.IsAutoInc()) {
            bytes.assign(record_ + recordlayout::RecordID, record_ + recordlayout::RecordID + 4);
            return true;
        }
        if (!field.TakesRoom() || record_[field.offset] == 0) return false;
        if (field.type == fieldtype::Blob) {
            bytes = table_.ReadBlob(field, record_);
            return true;
        }
        bytes.assign(record_ + field.offset + 1, record_ + field.offset + 1 + field.physicalSize);
        return true;
    }

private:
    OpenTable& table_;
    const std::uint8_t* record_;
};

}  // namespace

int RunDump(const CommandLine& line, std::ostream& out) {
    OpenTable table(line.folder, line.table, line.Value("password").value_or(""), false);
    if (const auto index = line.Value("index")) table.Cursor().SetIndexName(*index);
    std::unique_ptr<TFilterExpression> filter;
    if (const auto text = line.Value("filter"))
        filter = std::make_unique<TFilterExpression>(*text, table.Fields(), table.Name(),
                                                     table.Table().DataFile().Header().Locale());
    std::vector<std::uint8_t> record(table.Cursor().RecordSize());
    const BlobContents blobs = [&](const FieldDescriptor& f) { return table.ReadBlob(f, record.data()); };
    table.Cursor().SetToBegin();
    for (;;) {
        const int code = table.Cursor().GetNextRecord(record.data());
        if (code == err::EndOfTable) break;
        if (code != 0) throw ECofferEngineError(static_cast<std::uint16_t>(code), {.table = table.Name()});
        if (filter && !filter->Matches(RecordImageReader(table, record.data()))) continue;
        out << RecordJson(table.Fields(), record.data(), blobs) << '\n';
    }
    return 0;
}

}  // namespace pixhold::tools
