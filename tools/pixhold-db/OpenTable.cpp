#include "OpenTable.h"

#include <strings.h>

#include "ByteCodec.h"
#include "DataTable.h"
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
    if (record[field.offset] == 0) return contents;
    const std::uint32_t first = bytes::GetU32(record, field.offset + 1u);
    const std::uint32_t owner = bytes::GetU32(record, field.offset + 5u);
    if (first == 0) return contents;
    // False means the table changed under the read: read it again.
    while (!Table().BlobFile().ReadValue(cursor_.get(), first, owner, contents)) contents.clear();
    return contents;
}

FolderSession::FolderSession(const std::string& folder) {
    directory_ = session_.OpenDataDirectory("PIXHOLD-DB", folder);
}

FolderSession::~FolderSession() { session_.CloseDataDirectory(directory_); }

}  // namespace pixhold::tools
