#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CofferDatabase.h"
#include "CofferSession.h"
#include "CofferTable.h"
#include "DatasetError.h"
#include "EngineError.h"
#include "TempDir.h"

namespace pixhold::engine::datasettest {

// The message of the error `action` raises, or "" when it raises none.
std::string ErrorText(const std::function<void()>& action);
// The engine code of the error `action` raises, 0 when none, 11047 for other errors.
int ErrorCode(const std::function<void()>& action);

// A data folder with the application's session ("PHSession", fast lock
// retries) and database ("PH") on it, connected.
class DatasetFixture : public ::testing::Test {
protected:
    DatasetFixture();
    ~DatasetFixture() override;

    // A table handle on "PH" in "PHSession".
    std::unique_ptr<TCofferTable> Table(const std::string& name);
    // The image table and the cache table, defined and restructured the way
    // the data module does it.
    void CreateImageTable(const std::string& name);
    void CreateThumbsTable();

    pixhold::test::TempDir dir_;
    std::unique_ptr<TCofferSession> session_;
    std::unique_ptr<TCofferDatabase> db_;
};

// The image table's fields and indexes on a handle.
void DefineImageTable(TCofferTable& table);
void DefineThumbsTable(TCofferTable& table);

// Seeded random bytes standing in for a picture file.
std::vector<std::uint8_t> Bytes(std::size_t size, unsigned seed);
// Appends one picture (with a 300-byte thumbnail) the way the import does.
void AddPicture(TCofferTable& table, const std::string& name, const std::string& category,
                const std::vector<std::uint8_t>& image, int type = 0);
// "FileName/Category" of every record the table shows, in its order.
std::vector<std::string> Names(TCofferTable& table);

inline constexpr const char* kCachePassword = "quorvi";
inline constexpr const char* kEmptyCategoryFilter = "Category = \"\"";

}  // namespace pixhold::engine::datasettest
