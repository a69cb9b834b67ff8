#include "SqlCommand.h"

#include <memory>

#include "CursorFilterKeys.h"
#include "DataCursor.h"
#include "EngineError.h"
#include "FieldValues.h"
#include "OpenTable.h"
#include "Record.h"
#include "SqlQuery.h"
#include "ToolError.h"

namespace pixhold::tools {

using namespace engine;

namespace {

std::vector<std::uint8_t> ResultBlob(TDataCursor& cursor, const FieldDescriptor& field, const std::uint8_t* record) {
    std::vector<std::uint8_t> contents;
    if (field.offset < recordlayout::HeaderSize || field.offset + 1u + field.physicalSize > cursor.RecordSize() ||
        record[field.offset] == 0)
        return contents;
    // Opening a BLOB puts its handle into the buffer: work on a copy.
    std::vector<std::uint8_t> buffer(record, record + cursor.RecordSize());
    const auto number = static_cast<std::uint16_t>(field.number);
    std::uint32_t length = 0;
    int code = cursor.OpenBlob(number, buffer.data(), TBlobOpenMode::Read, length);
    if (code == 0) {
        contents.resize(length);
        std::uint32_t read = 0;
        code = length == 0 ? 0 : cursor.GetBlob(number, buffer.data(), 0, length, contents.data(), read);
        cursor.FreeBlob(number, buffer.data());
        contents.resize(read);
    }
    if (code != 0) throw ECofferEngineError(static_cast<std::uint16_t>(code), {.field = field.name});
    return contents;
}

}  // namespace

int RunSql(const std::vector<std::string>& args, std::ostream& out) {
    std::vector<std::string> words;
    std::string password;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--password") {
            if (i + 1 >= args.size()) throw UsageError("--password needs a value");
            password = args[++i];
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() != 2) throw UsageError("sql takes a folder and one statement: sql FOLDER \"SELECT ...\"");
    std::string folder = words[0];
    if (folder.empty()) folder = "./";
    if (folder.back() != '/') folder += '/';

    FolderSession session(folder);
    if (!password.empty()) session.Session().AddPassword(password);
    TSqlQuery query(session.Directory());
    query.Prepare(words[1]);
    std::unique_ptr<TDataCursor> cursor = query.Execute();
    try {
        std::vector<std::uint8_t> record(cursor->RecordSize());
        // Read through the engine's reader of record images, which keeps to the record.
        const TRecordImageReader reader(record.data(), record.size(),
                                        [&](const FieldDescriptor& f, const std::vector<std::uint8_t>&,
                                            std::vector<std::uint8_t>& contents) {
                                            contents = ResultBlob(*cursor, f, record.data());
                                            return true;
                                        });
        cursor->SetToBegin();
        for (;;) {
            const int code = cursor->GetNextRecord(record.data());
            if (code == err::EndOfTable) break;
            if (code != 0) throw ECofferEngineError(static_cast<std::uint16_t>(code), {.table = query.TableName()});
            out << RecordJson(cursor->Fields(), reader) << '\n';
        }
    } catch (...) {
        cursor->CloseCursor();
        throw;
    }
    cursor->CloseCursor();
    return 0;
}

}  // namespace pixhold::tools
