#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"

namespace pixhold::tools {

// One session, the table's folder and an open cursor on the table. The
// password, when given, is made known to the session first; an encrypted
// table whose password is not known fails to open (10498).
class OpenTable {
public:
    OpenTable(const std::string& folder, const std::string& table, const std::string& password, bool exclusive);
    ~OpenTable();
    OpenTable(const OpenTable&) = delete;
    OpenTable& operator=(const OpenTable&) = delete;

    engine::TDataCursor& Cursor() { return *cursor_; }
    engine::TDataTable& Table() { return cursor_->Table(); }
    const std::vector<engine::FieldDescriptor>& Fields() const { return cursor_->Fields(); }
    const std::string& Name() const { return name_; }

    // The field of that name (without regard to case); ToolError when none.
    const engine::FieldDescriptor& FieldByName(const std::string& name) const;

    // The whole contents of a record's BLOB field (empty when it has none).
    std::vector<std::uint8_t> ReadBlob(const engine::FieldDescriptor& field, const std::uint8_t* record);

    // As the dataset layer does when another program changed a record between
    // its reading and its use (8708): true when the caller is to read the
    // record again and retry, after a short pause and a refresh of the
    // cursor; false once kConflictRetries retries are used up.
    bool RetryAfterConflict(int code, int& retries);
    static constexpr int kConflictRetries = 5;

private:
    std::string name_;
    engine::TDataSession session_;
    engine::TDataDirectory* directory_ = nullptr;
    std::unique_ptr<engine::TDataCursor> cursor_;
};

// The directory of a folder in a session of the caller's (create makes the
// table before any cursor can open it).
class FolderSession {
public:
    explicit FolderSession(const std::string& folder);
    ~FolderSession();
    FolderSession(const FolderSession&) = delete;
    FolderSession& operator=(const FolderSession&) = delete;

    engine::TDataSession& Session() { return session_; }
    engine::TDataDirectory& Directory() { return *directory_; }

private:
    engine::TDataSession session_;
    engine::TDataDirectory* directory_ = nullptr;
};

}  // namespace pixhold::tools
