// Cursors noticing changes by other cursors and other users, and finding their
// place again.

#include <gtest/gtest.h>

#include <algorithm>

#include "CursorTestSupport.h"
#include "EngineError.h"

namespace pixhold::engine {
namespace {

using namespace cursortest;

std::string Name(int i) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "n%04d", i);
    return buffer;
}

// Moves the cursor onto the record with that name by stepping.
void GoTo(TDataCursor& c, const std::string& name) {
    c.SetToBegin();
    while (c.GetNextRecord(nullptr) == 0)
        if (Current(c).name == name) return;
    FAIL() << name << " not reached";
}

std::vector<std::string> NamesFromHere(TDataCursor& c) {
    std::vector<std::string> names;
    while (c.GetNextRecord(nullptr) == 0) names.push_back(Current(c).name);
    return names;
}

TEST(CursorChange, AnotherCursorsAppendIsNoticedWithoutLosingThePlace) {
    for (const std::string& index : {std::string(), std::string("ByNum")}) {
        SCOPED_TRACE(index);
        CursorFixture fx;
        for (int i = 0; i < 400; i += 2) fx.Append(Name(i), i, "");
        auto cursor = fx.Open(index);
        GoTo(*cursor, Name(200));
        EXPECT_EQ(cursor->GetRecordNo(), 101u);

        // Records land before and right after the current one.
        fx.Append(Name(1), 1, "");
        fx.Append(Name(201), 201, "");
        EXPECT_EQ(Current(*cursor).name, Name(200));
        EXPECT_EQ(cursor->GetRecordNo(), 102u);
        EXPECT_EQ(cursor->GetRecordCount(), 202u);
        EXPECT_EQ(cursor->GetNextRecord(nullptr), 0);
        EXPECT_EQ(Current(*cursor).name, Name(201));
        EXPECT_EQ(cursor->GetPriorRecord(nullptr), 0);
        EXPECT_EQ(cursor->GetPriorRecord(nullptr), 0);
        EXPECT_EQ(Current(*cursor).name, Name(198));
    }
}

TEST(CursorChange, TheCurrentRecordDeletedElsewhereLeavesTheCursorBeforeItsFollower) {
    struct Case {
        const char* name;
        bool withPrimary;
        std::string index;
    };
    for (const Case& c : {Case{"primary", true, ""}, Case{"secondary", true, "NumDown"}, Case{"physical", false, ""}}) {
        SCOPED_TRACE(c.name);
        CursorFixture fx(c.withPrimary);
        std::vector<Row> rows;
        for (int i = 0; i < 300; ++i) rows.push_back(fx.Append(Name(i), i, ""));
        auto cursor = fx.Open(c.index);
        const std::vector<Row> order = fx.Sorted(c.index.empty() ? (c.withPrimary ? "" : "<physical>") : c.index);
        const Row victim = order[150];
        GoTo(*cursor, victim.name);
        fx.Delete(victim.number);
        // Nothing is skipped forward, nothing backward.
        EXPECT_EQ(cursor->GetNextRecord(nullptr), 0);
        EXPECT_EQ(Current(*cursor).name, order[151].name);
        GoTo(*cursor, order[160].name);
        fx.Delete(order[160].number);
        EXPECT_EQ(cursor->GetPriorRecord(nullptr), 0);
        EXPECT_EQ(Current(*cursor).name, order[159].name);
        // The last record deleted under the cursor: at the end, the new last behind it.
        GoTo(*cursor, order.back().name);
        fx.Delete(order.back().number);
        EXPECT_EQ(cursor->GetNextRecord(nullptr), err::EndOfTable);
        EXPECT_EQ(cursor->GetPriorRecord(nullptr), 0);
        EXPECT_EQ(Current(*cursor).name, order[order.size() - 2].name);
    }
}

// A second session on the same folder stands for another process: its
// changes reach this session only through the files.
class OtherUser {
public:
    explicit OtherUser(CursorFixture& fx) {
        directory_ = session_.OpenDataDirectory("Other", fx.Folder());
        if (directory_->OpenTable(fx.TableName, table_, false, false) < 0) throw std::runtime_error("open");
    }
    ~OtherUser() { directory_->CloseTable(table_); }
    Row Append(const std::string& name, std::int32_t num) { return TableFiller(*table_).Append(name, num, ""); }

private:
    TDataSession session_;
    TDataDirectory* directory_ = nullptr;
    TDataTable* table_ = nullptr;
};

TEST(CursorChange, WithoutStrictDetectionAnotherUsersChangeIsNoticedAtTheNextDiskRead) {
    CursorFixture fx;
    for (int i = 0; i < 600; ++i) fx.Append(Name(i), i, "");
    auto cursor = fx.Open();
    GoTo(*cursor, Name(10));
    OtherUser other(fx);
    other.Append(Name(9999), 1);
    // Nothing here needs the disk: the counters in memory have not moved.
    EXPECT_EQ(cursor->GetRecordCount(), 600u);
    EXPECT_EQ(Current(*cursor).name, Name(10));
    // Walking on reads pages the cache does not hold; the first such read
    // finds the change, and the walk goes on from where it was.
    const std::vector<std::string> rest = NamesFromHere(*cursor);
    ASSERT_EQ(rest.size(), 590u);
    EXPECT_EQ(rest.back(), Name(9999));
    EXPECT_EQ(cursor->GetRecordCount(), 601u);
}

TEST(CursorChange, StrictDetectionAndRefreshNoticeAnotherUsersChangeAtOnce) {
    for (const bool strict : {true, false}) {
        SCOPED_TRACE(strict ? "strict" : "refresh");
        CursorFixture fx;
        fx.Session().SetStrictChangeDetection(strict);
        for (int i = 0; i < 50; ++i) fx.Append(Name(i), i, "");
        auto cursor = fx.Open("ByNum");
        GoTo(*cursor, Name(20));
        OtherUser other(fx);
        other.Append(Name(100), 5);
        if (!strict) cursor->Refresh();
        EXPECT_EQ(cursor->GetRecordCount(), 51u);
        EXPECT_EQ(Current(*cursor).name, Name(20));
        EXPECT_EQ(cursor->GetRecordNo(), 22u);
        // No read lock is left behind by the operations.
        EXPECT_FALSE(cursor->Table().ReadLockHeld());
    }
}

TEST(CursorChange, AnExclusiveCursorTakesNoLocksAndShutsOutOthers) {
    CursorFixture fx;
    for (int i = 0; i < 20; ++i) fx.Append(Name(i), i, "");
    fx.ReleaseWriter();
    fx.Session().SetStrictChangeDetection(true);
    TDataCursor cursor(fx.Directory());
    cursor.TableName = fx.TableName;
    cursor.Exclusive = true;
    cursor.OpenCursor();
    EXPECT_EQ(cursor.GetRecordCount(), 20u);
    EXPECT_TRUE(cursor.SetToRecordNo(7));
    EXPECT_EQ(Current(cursor).name, Name(6));
    EXPECT_FALSE(cursor.Table().ReadLockHeld());
    TDataCursor second(fx.Directory());
    second.TableName = fx.TableName;
    try {
        second.OpenCursor();
        FAIL();
    } catch (const ECofferEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), err::AccessDenied);
    }
    cursor.CloseCursor();
    second.OpenCursor();
    EXPECT_EQ(second.GetRecordCount(), 20u);
}

TEST(CursorChange, ARolledBackAppendDisappearsFromTheCursor) {
    CursorFixture fx;
    for (int i = 0; i < 30; ++i) fx.Append(Name(i * 2), i, "");
    auto cursor = fx.Open();
    GoTo(*cursor, Name(20));
    fx.Directory().StartTransaction();
    fx.Append(Name(21), 100, "");
    EXPECT_EQ(cursor->GetRecordCount(), 31u);
    EXPECT_EQ(cursor->GetNextRecord(nullptr), 0);
    EXPECT_EQ(Current(*cursor).name, Name(21));
    fx.Directory().Rollback();
    // The cursor stood on the record that went: it now stands before the next.
    EXPECT_EQ(cursor->GetRecordCount(), 30u);
    EXPECT_EQ(cursor->GetNextRecord(nullptr), 0);
    EXPECT_EQ(Current(*cursor).name, Name(22));
    EXPECT_EQ(cursor->GetRecordNo(), 12u);
}

TEST(CursorChange, ABlockReadGivesTheNextRecordsAndStopsAtTheEnd) {
    CursorFixture fx;
    for (int i = 0; i < 30; ++i) fx.Append(Name(i), 30 - i, "");
    auto cursor = fx.Open("ByNum");
    cursor->SetToRecordNo(5);
    std::vector<std::uint8_t> block;
    EXPECT_EQ(cursor->ReadRecordBlock(10, block), 10u);
    ASSERT_EQ(block.size(), 10u * cursor->RecordSize());
    for (std::size_t i = 0; i < 10; ++i) {
        const std::vector<std::uint8_t> image(block.begin() + static_cast<std::ptrdiff_t>(i * cursor->RecordSize()),
                                              block.begin() + static_cast<std::ptrdiff_t>((i + 1) * cursor->RecordSize()));
        EXPECT_EQ(RowOf(*cursor, image).num, static_cast<std::int32_t>(6 + i));
    }
    EXPECT_EQ(cursor->GetRecordNo(), 15u);
    EXPECT_EQ(cursor->ReadRecordBlock(100, block), 15u);
    EXPECT_EQ(block.size(), 25u * cursor->RecordSize());
    EXPECT_TRUE(cursor->AtTop());
}

TEST(CursorChange, SetToCursorFindsTheOtherCursorsRecordOrSays8710) {
    CursorFixture fx;
    for (int i = 0; i < 40; ++i) fx.Append(Name(i), i % 7, i % 2 ? "a" : "b");
    auto byNum = fx.Open("ByNum");
    auto byCat = fx.Open("ByCatNum");
    byNum->SetToRecordNo(17);
    const Row target = Current(*byNum);
    EXPECT_EQ(byCat->SetToCursor(*byNum), 0);
    EXPECT_EQ(Current(*byCat), target);
    // Outside this cursor's range: not found, and the cursor stays usable.
    const auto low = RecordImage(*byCat, "", 0, target.cat == "a" ? "b" : "a");
    byCat->SetRange(false, low.data(), 1, low.data(), 1);
    EXPECT_EQ(byCat->SetToCursor(*byNum), err::RecordNotFound);
    EXPECT_NE(Current(*byCat).cat, target.cat);
    // A cursor with no current record has nothing to offer.
    byNum->SetToEnd();
    EXPECT_EQ(byCat->SetToCursor(*byNum), err::RecordNotFound);
}

}  // namespace
}  // namespace pixhold::engine
