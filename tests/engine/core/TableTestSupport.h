#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "TableContext.h"

namespace pixhold::engine::coretest {

using Bytes = std::vector<std::uint8_t>;

// The engine error code a statement raises, or 0.
template <typename F>
int CodeOf(F&& f) {
    try {
        f();
    } catch (const ECofferEngineError& e) {
        return e.ErrorCode();
    }
    return 0;
}

// A table of pictures reduced to what the tests need: Name (string, the
// unique primary index), Num (integer) and, when asked for, Data (BLOB).
TableDefinition PictureTable(bool withBlob = false);

// A session whose record locks give up quickly.
std::unique_ptr<TDataSession> FastSession(std::uint8_t retries = 2, std::int16_t waitMs = 1);

// The cursor as the files see it: a read that misses the cache first takes
// the table's read lock and looks for changes by other processes.
class ReadLockCursor : public TCursorContext {
public:
    explicit ReadLockCursor(TDataTable& table) : table_(table) {}
    void LogMessage(const std::string&) override {}
    bool CheckForChanges() override;
    int changesSeen = 0;

private:
    TDataTable& table_;
};

struct TestRecord {
    std::uint32_t number = 0;
    bool deleted = false;
    std::uint32_t id = 0;
    std::string name;
    std::int32_t num = 0;
};

// What a consistency check found in a table.
struct TableSummary {
    std::map<std::string, TestRecord> active;  // by name
    std::uint32_t deleted = 0;
    std::string problems;  // empty when the table is sound
};

// Drives a shared table the way a cursor that did not open it exclusively
// would: every change under the write lock, followed by the writing of the
// buffers (or, for an exclusive table, only the counters moving in memory).
class TableDriver {
public:
    explicit TableDriver(TDataTable& table) : table_(table) {}

    // Returns the physical record number of the new record.
    std::uint32_t Append(const std::string& name, std::int32_t num, const std::string& blob = {});
    void SetNum(std::uint32_t number, std::int32_t num);
    void Delete(std::uint32_t number);
    // Reads under the read lock, starting again when the read found a change.
    TestRecord Read(std::uint32_t number);
    // The BLOB value of a record's Data field (empty when it has none).
    std::string ReadBlob(std::uint32_t number);
    // The keys of an index slot in order, each with its record number.
    std::vector<std::pair<Bytes, std::uint32_t>> Keys(int slot);
    // Records, primary index, "Sys Deleted", counts and free chain checked
    // against each other.
    TableSummary Check();

private:
    template <typename F>
    void UnderWriteLock(bool blob, F&& change);
    TestRecord Decode(const TRecord& record) const;

    TDataTable& table_;
};

// A whole file's bytes, read past the engine.
std::string FileBytes(const std::string& path);
// The change counter at the start of a file's header, read past the engine.
std::int32_t DiskCounter(const std::string& path);

}  // namespace pixhold::engine::coretest
