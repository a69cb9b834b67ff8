#include "OpenTable.h"

#include <strings.h>

#include <chrono>
#include <thread>

#include "DataTable.h"
#include "EngineError.h"
#include "Record.h"
#include "ToolError.h"

namespace pixhold::tools {

using namespace engine;

OpenTable::OpenTable(const std::string& folder, const std::string& table, const std::string& password,
                     bool exclusive)
    : name_(table) {
    directory_ = session_.OpenDataDirectory("PIXHOLD-DB", folder);
    if (!password.empty()) session_.AddPassword(password);
    cursor_ = std::make_unique<TDataCursor>(*directory_);
    cursor_->TableName = table;
    cursor_->Exclusive = exclusive;
    try {
        cursor_->OpenCursor();
    } catch (...) {
        cursor_.reset();
        session_.CloseDataDirectory(directory_);
        throw;
    }
}

OpenTable::~OpenTable() {
    try {
        if (cursor_ && cursor_->IsOpen()) cursor_->CloseCursor();
    } catch (...) {
        // The command's own outcome has been reported; a failing close is not
        // worth a second error here.
    }
    cursor_.reset();
    session_.CloseDataDirectory(directory_);
}

const FieldDescriptor& OpenTable::FieldByName(const std::string& name) const {
    for (const FieldDescriptor& f : Fields())
        if (strcasecmp(f.name.c_str(), name.c_str()) == 0) return f;
    throw ToolError("table " + name_ + " has no field '" + name + "'");
}

std::vector<std::uint8_t> OpenTable::ReadBlob(const FieldDescriptor& field, const std::uint8_t* record) {
    std::vector<std::uint8_t> contents;
    const std::size_t size = cursor_->RecordSize();
    if (field.offset < recordlayout::HeaderSize || field.offset + 1u + field.physicalSize > size ||
        record[field.offset] == 0)
        return contents;
    // Opening a BLOB puts its handle into the buffer: work on a copy.
    std::vector<std::uint8_t> buffer(record, record + cursor_->RecordSize());
    const auto number = static_cast<std::uint16_t>(field.number);
    std::uint32_t length = 0;
    int code = cursor_->OpenBlob(number, buffer.data(), TBlobOpenMode::Read, length);
    if (code == 0) {
        contents.resize(length);
        std::uint32_t read = 0;
        code = length == 0 ? 0 : cursor_->GetBlob(number, buffer.data(), 0, length, contents.data(), read);
        cursor_->FreeBlob(number, buffer.data());
        contents.resize(read);
    }
    if (code != 0) throw ECofferEngineError(static_cast<std::uint16_t>(code), {.table = name_, .field = field.name});
    return contents;
}

bool OpenTable::RetryAfterConflict(int code, int& retries) {
    if (code != err::RecordChanged || retries >= kConflictRetries) return false;
    ++retries;
    // The other program's change is usually done in a moment; the pause grows
    // with each retry so that two programs do not meet again and again.
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * retries));
    cursor_->Refresh();
    return true;
}

FolderSession::FolderSession(const std::string& folder) {
    directory_ = session_.OpenDataDirectory("PIXHOLD-DB", folder);
}

FolderSession::~FolderSession() { session_.CloseDataDirectory(directory_); }

}  // namespace pixhold::tools
