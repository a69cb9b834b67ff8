#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DataFile.h"
#include "FileTestHelpers.h"
#include "TableContext.h"

namespace pixhold::engine::test::datafile {

// The owning table as the data file sees it, with settings a test can change.
class FakeOwner : public TTableOwner {
public:
    bool TransactionLockHeld() const override { return transactionLock; }
    bool WrittenTo() const override { return writtenTo; }
    void MarkWrittenTo() override { writtenTo = true; }
    bool StrictChangeDetection() const override { return strictChangeDetection; }
    bool ForceBufferFlush() const override { return forceBufferFlush; }
    std::uint32_t RecordCacheBytes() const override { return cacheBytes; }
    std::uint32_t RecordCacheMaxRecords() const override { return cacheMaxRecords; }

    bool transactionLock = false;
    bool writtenTo = false;
    bool strictChangeDetection = false;
    bool forceBufferFlush = false;
    std::uint32_t cacheBytes = 16384;
    std::uint32_t cacheMaxRecords = 8192;
};

// A cursor that keeps the message log and counts change checks.
class FakeCursor : public TCursorContext {
public:
    void LogMessage(const std::string& text) override { messages.push_back(text); }
    bool CheckForChanges() override {
        ++changeChecks;
        if (changedOnce) {
            changedOnce = false;
            return true;
        }
        return false;
    }
    std::uint32_t SuggestedReadAhead(ReadDirection) const override { return suggestion; }

    std::vector<std::string> messages;
    int changeChecks = 0;
    bool changedOnce = false;
    std::uint32_t suggestion = 0;
};

// A field descriptor as the table layer hands it in (layout still to be made).
inline FieldDescriptor Field(const std::string& name, std::uint8_t type, std::uint8_t size = 0,
                             std::uint8_t subtype = 0) {
    FieldDescriptor f;
    f.name = name;
    f.type = type;
    f.size = size;
    f.subtype = subtype;
    return f;
}

inline std::vector<FieldDescriptor> LaidOut(std::vector<FieldDescriptor> fields) {
    LayOutFields(fields);
    return fields;
}

// A unique in-memory file name per call, so tests never meet each other's files.
inline std::string MemoryName(const std::string& stem) {
    static int counter = 0;
    return "datafile-test-" + stem + "-" + std::to_string(++counter) + ".Dat";
}

// Creates a data file, writes its descriptors and header and leaves it open.
inline std::unique_ptr<TDataFile> CreateDataFile(FakeOwner& owner, const std::string& name, bool inMemory,
                                                 const std::vector<FieldDescriptor>& fields,
                                                 const DataFileParams& params = {}) {
    auto file = std::make_unique<TDataFile>(owner);
    Describe(*file, name, inMemory);
    file->CreateHeader(params, LaidOut(fields));
    file->WriteFieldDescriptors();
    file->WriteHeader(true);
    return file;
}

// Writes every buffered change of the file, as the owning table does.
inline void WriteAll(TDataFile& file) {
    file.FlushRecords();
    file.WriteFieldDescriptors();
    file.WriteHeader();
}

inline std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace pixhold::engine::test::datafile
