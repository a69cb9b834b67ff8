#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "TableMaintenance.h"
#include "TableTestSupport.h"
#include "TempDir.h"

namespace pixhold::engine::coretest {

// One active record of a picture table as a test sees it.
struct PictureRow {
    std::uint32_t number = 0;
    std::uint32_t id = 0;
    std::int32_t num = 0;
    std::string blob;
    bool operator==(const PictureRow& o) const { return id == o.id && num == o.num && blob == o.blob; }
};
using PictureRows = std::map<std::string, PictureRow>;  // by name

// The picture value of record i: a few blocks of bytes that differ from
// every other record's (so that a swapped or cut chain shows).
std::string PictureBytes(int i);

// A folder with a data directory and a private directory for temporary
// tables, the maintenance operations of table "Pics", and what they reported.
class MaintenanceFixture : public ::testing::Test {
public:
    MaintenanceFixture();

    // Creates "Pics" (Name, Num, Data when withBlob) and appends `count`
    // records "P0001" ... with Num = i and, with BLOBs, PictureBytes(i); then
    // deletes every record whose number i has i % deleteEvery == 0.
    void Fill(int count, bool withBlob = true, int deleteEvery = 0, const std::string& name = "Pics");
    // The active records, read past the cursors.
    PictureRows Rows(const std::string& name = "Pics");
    // Every picture of `before` is still there, with its number and BLOB.
    void ExpectRows(const PictureRows& before, const std::string& name = "Pics") {
        const PictureRows after = Rows(name);
        EXPECT_EQ(after.size(), before.size());
        for (const auto& [key, row] : before) {
            const auto found = after.find(key);
            if (found == after.end()) {
                ADD_FAILURE() << "lost: " << key;
                continue;
            }
            EXPECT_EQ(found->second.num, row.num) << key;
            EXPECT_EQ(found->second.blob, row.blob) << key;
        }
    }
    // A last repair leaves the table whole: it verifies clean, keeps every
    // picture of `before`, and its files and indexes agree.
    void ExpectRepairedWhole(const PictureRows& before);
    // What TableDriver::Check finds wrong (empty when sound).
    std::string Problems(const std::string& name = "Pics");
    std::uint32_t PhysicalCount(const std::string& name = "Pics");

    std::filesystem::path File(const std::string& extension, const std::string& name = "Pics") const;
    bool Exists(const std::string& extension, const std::string& name = "Pics") const;
    std::uintmax_t Size(const std::string& extension, const std::string& name = "Pics") const;
    // Overwrites bytes of a file past the engine.
    void Overwrite(const std::string& extension, std::uint64_t offset, const std::string& bytes);
    void PutLe32(const std::string& extension, std::uint64_t offset, std::uint32_t value);
    std::uint32_t Le32At(const std::string& extension, std::uint64_t offset) const;
    void Truncate(const std::string& extension, std::uintmax_t size);

    // Whether a message was logged, and the log without the start and end lines.
    bool Logged(const std::string& message) const;
    std::vector<std::string> Findings() const;
    void ClearLog() {
        log.clear();
        stepped.clear();
        progress.clear();
    }

    pixhold::test::TempDir dir;
    std::filesystem::path privateDir;
    std::unique_ptr<TDataSession> session;
    TDataDirectory* directory = nullptr;
    TTableMaintenance maintenance;
    std::vector<std::string> log;
    std::vector<std::pair<std::string, int>> stepped;
    std::vector<int> progress;
};

// Record layout of the picture table with BLOB: fields from 127 + 3 × 768,
// records of 45 bytes: Name at 9, Num at 31, Data at 36.
inline constexpr std::uint64_t kPictureDataStart = 127 + 3 * 768;
inline constexpr std::uint64_t kPictureRecordSize = 45;
inline constexpr std::uint64_t RecordOffset(std::uint32_t n) { return kPictureDataStart + (n - 1) * kPictureRecordSize; }
inline constexpr std::uint64_t BlockOffset(std::uint32_t n) { return 512 + (n - 1) * 512ull; }

}  // namespace pixhold::engine::coretest
