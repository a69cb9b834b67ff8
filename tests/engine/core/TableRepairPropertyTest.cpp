#include <gtest/gtest.h>

#include <random>
#include <string>

#include "MaintenanceTestSupport.h"

namespace pixhold::engine::coretest {
namespace {

using RepairProperty = MaintenanceFixture;

// Whatever happens to the index file (pages overwritten, cut short, counts
// wrong), the records and their pictures live in the other two files: a
// repair must give every one of them back, and the table must verify clean.
TEST_F(RepairProperty, DamageConfinedToTheIndexFileNeverCostsARecord) {
    std::mt19937 random(20261210);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::filesystem::remove(File(".DAT"));
        std::filesystem::remove(File(".IDX"));
        std::filesystem::remove(File(".BLB"));
        const int count = 20 + static_cast<int>(random() % 200);
        Fill(count, true, 2 + static_cast<int>(random() % 5));
        const PictureRows before = Rows();
        const std::uintmax_t size = Size(".IDX");
        const int damages = 1 + static_cast<int>(random() % 4);
        for (int d = 0; d < damages; ++d) {
            switch (random() % 4) {
                case 0: {  // a run of garbage somewhere after the header
                    const std::uint64_t at = 4096 + random() % (size - 4096);
                    std::string junk(1 + random() % 600, '\0');
                    for (char& c : junk) c = static_cast<char>(random());
                    Overwrite(".IDX", at, junk);
                    break;
                }
                case 1:  // the file cut short
                    Truncate(".IDX", 4096 + (random() % (size / 4096)) * 4096 + random() % 100);
                    break;
                case 2:  // a wrong active record count
                    PutLe32(".IDX", 3974, static_cast<std::uint32_t>(random() % 1000));
                    break;
                default:  // one page swapped with another
                    if (size >= 3 * 4096) {
                        const std::string bytes = FileBytes(File(".IDX").string());
                        const std::uint64_t pages = size / 4096 - 1;
                        const std::uint64_t a = 1 + random() % pages;
                        const std::uint64_t b = 1 + random() % pages;
                        Overwrite(".IDX", a * 4096, bytes.substr(b * 4096, 4096));
                    }
                    break;
            }
        }
        try {
            maintenance.RepairTable();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "repair failed: " << e.what();
            continue;
        }
        ClearLog();
        EXPECT_TRUE(maintenance.VerifyTable());
        for (const std::string& m : Findings()) ADD_FAILURE() << "still found: " << m;
        // A record can only have lost its identifier to the lost "Sys Deleted" key.
        PictureRows after = Rows();
        ASSERT_EQ(after.size(), before.size());
        for (auto& [name, row] : after) {
            ASSERT_EQ(before.count(name), 1u) << name;
            const PictureRow& old = before.at(name);
            EXPECT_EQ(row.num, old.num) << name;
            EXPECT_EQ(row.blob, old.blob) << name;
        }
        EXPECT_EQ(Problems(), "");
    }
}

// Identifiers overwritten with 0 or with another record's: every record stays,
// with its picture, and the identifiers are unique again.
TEST_F(RepairProperty, BrokenIdentifiersAreReplacedAndNoRecordIsLost) {
    std::mt19937 random(77);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::filesystem::remove(File(".DAT"));
        std::filesystem::remove(File(".IDX"));
        std::filesystem::remove(File(".BLB"));
        const int count = 10 + static_cast<int>(random() % 100);
        Fill(count, true);
        const PictureRows before = Rows();
        const int broken = 1 + static_cast<int>(random() % 5);
        for (int b = 0; b < broken; ++b) {
            const auto n = static_cast<std::uint32_t>(1 + random() % count);
            const std::uint32_t id = random() % 3 == 0 ? 0 : static_cast<std::uint32_t>(1 + random() % count);
            PutLe32(".DAT", RecordOffset(n) + 5, id);
        }
        ExpectRepairedWhole(before);
    }
}

}  // namespace
}  // namespace pixhold::engine::coretest
