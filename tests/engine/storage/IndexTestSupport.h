#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "DataFile.h"
#include "EngineError.h"
#include "IndexFile.h"
#include "TableContext.h"

namespace pixhold::engine::indextest {

using Bytes = std::vector<std::uint8_t>;

// The table that owns the index file, reduced to what the file asks of it.
class IndexOwner : public TTableOwner {
public:
    bool TransactionLockHeld() const override { return transactionLock; }
    bool WrittenTo() const override { return written; }
    void MarkWrittenTo() override { written = true; }
    std::uint32_t IndexCacheBytes() const override { return cacheBytes; }
    std::string PrivateDirectory() const override { return privateDirectory; }

    bool transactionLock = false;
    bool written = false;
    std::uint32_t cacheBytes = 16384;
    std::string privateDirectory;
};

// A cursor that keeps the message log.
class IndexCursor : public TCursorContext {
public:
    void LogMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

// The engine error code a statement raises, or 0.
template <typename F>
std::uint16_t CodeOf(F&& f) {
    try {
        f();
    } catch (const ECofferEngineError& e) {
        return e.ErrorCode();
    }
    return 0;
}

inline FieldDescriptor Field(const std::string& name, std::uint8_t type, std::uint8_t size = 0,
                             std::uint8_t subtype = 0) {
    FieldDescriptor f;
    f.name = name;
    f.type = type;
    f.size = size;
    f.subtype = subtype;
    return f;
}

// Fields with their numbers and record offsets laid out.
inline std::vector<FieldDescriptor> LaidOut(std::vector<FieldDescriptor> fields) {
    LayOutFields(fields);
    return fields;
}

inline IndexDescriptor Index(const std::string& name, std::vector<std::uint16_t> fields, bool unique = false,
                             std::uint8_t compression = 0, bool descending = false) {
    IndexDescriptor d;
    d.name = name;
    d.unique = unique;
    d.compression = compression;
    d.descending = descending;
    d.fieldCount = static_cast<std::uint8_t>(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) d.fieldNumbers[i] = fields[i];
    return d;
}

// A unique name for an in-memory index file.
inline std::string MemoryName(const char* stem) {
    static std::atomic<int> counter{0};
    return std::string("mem-") + stem + "-" + std::to_string(++counter) + ".Idx";
}

inline bool LongTests() {
    const char* v = std::getenv("PIXHOLD_LONG_TESTS");
    return v != nullptr && std::string(v) == "1";
}

}  // namespace pixhold::engine::indextest
