#include <fstream>
#include <iterator>
#include <sstream>

#include "ByteCodec.h"
#include "Commands.h"
#include "DataTable.h"
#include "EngineError.h"
#include "Record.h"
#include "FieldValues.h"
#include "OpenTable.h"
#include "ToolError.h"

namespace pixhold::tools {

using namespace engine;

namespace {

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError("cannot read file '" + path + "'");
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ToolError("cannot read file '" + path + "'");
    return bytes;
}

// The contents a BLOB assignment gives: "@file" reads the file, any other
// text is stored as it is.
std::vector<std::uint8_t> BlobValue(const std::string& value) {
    if (!value.empty() && value.front() == '@') return ReadWholeFile(value.substr(1));
    return std::vector<std::uint8_t>(value.begin(), value.end());
}

void CheckCode(int code, const OpenTable& table, const FieldDescriptor& field) {
    if (code != 0)
        throw ECofferEngineError(static_cast<std::uint16_t>(code), {.table = table.Name(), .field = field.name});
}

// Puts the assignments into a record buffer; BLOBs go through the cursor's
// open BLOBs of that buffer, which the following append or modify writes.
void Assign(OpenTable& table, const CommandLine& line, std::vector<std::uint8_t>& record) {
    // Read every file first: a missing file must not leave BLOBs open.
    std::vector<std::pair<const FieldDescriptor*, std::vector<std::uint8_t>>> blobs;
    for (const auto& [name, value] : line.assignments) {
        const FieldDescriptor& field = table.FieldByName(name);
        if (field.type == fieldtype::Blob) blobs.emplace_back(&field, BlobValue(value));
        else PutFieldText(field, value, table.Table().DataFile().Locale(), record);
    }
    TDataCursor& cursor = table.Cursor();
    for (const auto& [field, contents] : blobs) {
        const auto number = static_cast<std::uint16_t>(field->number);
        std::uint32_t length = 0;
        CheckCode(cursor.OpenBlob(number, record.data(), TBlobOpenMode::ReadWrite, length), table, *field);
        CheckCode(cursor.TruncateBlob(number, record.data(), 0), table, *field);
        if (!contents.empty())
            CheckCode(cursor.PutBlob(number, record.data(), 0, static_cast<std::uint32_t>(contents.size()),
                                     contents.data()),
                      table, *field);
    }
}

// Stands the cursor on the record whose primary key is `key` (the values of
// the primary index's fields, separated by ";"); false when there is none.
bool FindByKey(OpenTable& table, const std::string& key, std::vector<std::uint8_t>& record) {
    TDataTable& t = table.Table();
    if (!t.PrimaryIndexHasFields())
        throw ToolError("table " + table.Name() + " has no primary index fields, so --key cannot name a record");
    const IndexDescriptor& primary = t.IndexDefinition(kPrimarySlot);
    std::vector<std::string> values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = key.find(';', start);
        values.push_back(key.substr(start, at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    if (values.size() != primary.fieldCount)
        throw ToolError("--key needs " + std::to_string(primary.fieldCount) +
                        " value(s) separated by ';', one for each primary index field");
    std::vector<std::uint8_t> probe(table.Cursor().RecordSize(), 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const FieldDescriptor& field = table.Fields()[primary.fieldNumbers[i] - 1u];
        PutFieldText(field, values[i], t.DataFile().Locale(), probe);
    }
    table.Cursor().SetIndexName("");
    return table.Cursor().FindKey(false, probe.data(), record.data(), primary.fieldCount, 0, false);
}

std::string KeyOf(const CommandLine& line) {
    const auto key = line.Value("key");
    if (!key) throw UsageError(line.command + ": --key is missing");
    return *key;
}

}  // namespace

int RunInsert(const CommandLine& line, std::ostream& out) {
    if (line.assignments.empty()) throw UsageError("insert: no FIELD=VALUE given");
    OpenTable table(line.folder, line.table, line.Value("password").value_or(""), false);
    TDataCursor& cursor = table.Cursor();
    std::vector<std::uint8_t> record(cursor.RecordSize());
    cursor.InitRecord(record.data());
    try {
        Assign(table, line, record);
        cursor.AppendRecord(record.data(), true);
    } catch (...) {
        cursor.FreeAllBlobs();
        throw;
    }
    out << "inserted record " << bytes::GetU32(record.data(), recordlayout::RecordID) << '\n';
    return 0;
}

int RunUpdate(const CommandLine& line, std::ostream& out) {
    const std::string key = KeyOf(line);
    if (line.assignments.empty()) throw UsageError("update: no FIELD=VALUE given");
    OpenTable table(line.folder, line.table, line.Value("password").value_or(""), false);
    TDataCursor& cursor = table.Cursor();
    std::vector<std::uint8_t> record(cursor.RecordSize());
    // Another program that changed the record since it was found: found
    // again, and the change made on what it holds now.
    for (int retries = 0;;) {
        if (!FindByKey(table, key, record)) throw ToolError("update: no record has the key '" + key + "'");
        try {
            const int code = cursor.GetCurrentRecord(record.data(), true);
            if (code != 0) throw ECofferEngineError(static_cast<std::uint16_t>(code), {.table = table.Name()});
            try {
                Assign(table, line, record);
                cursor.ModifyRecord(record.data(), true, true);
            } catch (...) {
                cursor.FreeAllBlobs();
                cursor.CancelRecord();
                throw;
            }
            break;
        } catch (const ECofferEngineError& e) {
            if (!table.RetryAfterConflict(e.ErrorCode(), retries)) throw;
        }
    }
    out << "updated 1 record\n";
    return 0;
}

int RunDelete(const CommandLine& line, std::ostream& out) {
    const std::string key = KeyOf(line);
    OpenTable table(line.folder, line.table, line.Value("password").value_or(""), false);
    TDataCursor& cursor = table.Cursor();
    std::vector<std::uint8_t> record(cursor.RecordSize());
    for (int retries = 0;;) {
        if (!FindByKey(table, key, record)) throw ToolError("delete: no record has the key '" + key + "'");
        try {
            cursor.DeleteRecord(record.data(), false);
            break;
        } catch (const ECofferEngineError& e) {
            if (!table.RetryAfterConflict(e.ErrorCode(), retries)) throw;
        }
    }
    out << "deleted 1 record\n";
    return 0;
}

}  // namespace pixhold::tools
