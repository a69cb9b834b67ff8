#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "TempDir.h"

namespace pixhold::engine::cursortest {

// One record of the test tables: Name (string of 12, the unique primary key
// unless the table has none), Num (integer), Cat (string of 4; empty is null).
struct Row {
    std::uint32_t number = 0;  // physical record number
    std::uint32_t id = 0;      // record identifier
    std::string name;
    std::int32_t num = 0;
    std::string cat;
    bool operator==(const Row& o) const { return name == o.name && num == o.num && cat == o.cat; }
};

// The indexes of the test tables, by name: "" (primary, Name), "ByNum" (Num),
// "ByCatNum" (Cat, Num), "NumDown" (Num, descending), "CatNumPlain" (Cat, Num,
// without subtree counts, compressed leaves), all but the primary not unique.
std::vector<std::string> IndexNames();

// Whether `a` comes before `b` in the named index (record identifiers break
// ties in the indexes that are not unique).
bool Before(const std::string& index, const Row& a, const Row& b);

// A folder, a session and a directory holding one test table.
class CursorFixture {
public:
    // withPrimary false: the primary index has no fields (physical order).
    // languageID 0: keys compare as bytes; otherwise texts by that locale's collation.
    explicit CursorFixture(bool withPrimary = true, bool encrypted = false, const std::string& password = {},
                           std::uint16_t languageID = 0);
    ~CursorFixture();

    TDataSession& Session() { return *session_; }
    TDataDirectory& Directory() { return *directory_; }
    const std::string& Folder() const { return folder_; }
    const std::string TableName = "Pics";

    // A cursor on the table, opened.
    std::unique_ptr<TDataCursor> Open(const std::string& index = {});

    // Changes through a table use of this fixture's directory (another
    // cursor of the same process, as far as the cursors can tell).
    Row Append(const std::string& name, std::int32_t num, const std::string& cat);
    void Delete(std::uint32_t number);
    // Gives up the fixture's own table use (for exclusive opens); no more
    // changes through the fixture after this.
    void ReleaseWriter();
    // The active rows as the model knows them.
    const std::vector<Row>& Rows() const { return rows_; }
    std::vector<Row> Sorted(const std::string& index) const;

private:
    pixhold::test::TempDir dir_;
    std::string folder_;
    std::unique_ptr<TDataSession> session_;
    TDataDirectory* directory_ = nullptr;
    TDataTable* writer_ = nullptr;
    std::vector<Row> rows_;
};

// Runs a change under the table's write lock and writes its buffers (an
// exclusive table only moves its change counters), as a writing cursor does.
void WriteUnderLock(TDataTable& table, const std::function<void()>& change);

// The "Sys Deleted" key of the deleted record whose slot the next append will
// reuse; empty when the append takes a new slot.
std::vector<std::uint8_t> DeletedKeyOfReusedSlot(TDataFile& data);

// Writes rows into a shared table the way a writing cursor would: record,
// every index key, "Sys Deleted", under the write lock, buffers written.
class TableFiller {
public:
    explicit TableFiller(TDataTable& table) : table_(table) {}
    Row Append(const std::string& name, std::int32_t num, const std::string& cat);
    void Delete(std::uint32_t number);

private:
    TDataTable& table_;
};

// A record image of the cursor's table with the given values.
std::vector<std::uint8_t> RecordImage(const TDataCursor& cursor, const std::string& name, std::int32_t num,
                                      const std::string& cat);
// The values of a record image.
Row RowOf(const TDataCursor& cursor, const std::vector<std::uint8_t>& image);
// The current record of a cursor, or a row with an empty name.
Row Current(TDataCursor& cursor);

// A filter that hides the given record numbers.
class HideRecords : public TCursorFilter {
public:
    explicit HideRecords(std::set<std::uint32_t> hidden) : hidden_(std::move(hidden)) {}
    void Narrow(TDataCursor&, TRecordsBitmap& visible) override {
        for (std::uint32_t n : hidden_) visible.Clear(n);
    }
    std::unique_ptr<TCursorFilter> Clone() const override { return std::make_unique<HideRecords>(hidden_); }

private:
    std::set<std::uint32_t> hidden_;
};

}  // namespace pixhold::engine::cursortest
