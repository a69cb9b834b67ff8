// Cursors noticing changes by other cursors and other users, and finding their
// place again.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

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
    ~OtherUser() { (void)directory_->CloseTable(table_); }
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

namespace pixhold::engine {
namespace {

using namespace cursortest;

// A cursor walks while another cursor appends and deletes records between its
// steps, the current record included: each step must give the record that now
// follows (or precedes) the last one it gave, with its record number.
class CursorWalkUnderChanges : public ::testing::TestWithParam<unsigned> {};

TEST_P(CursorWalkUnderChanges, EveryStepGivesTheNeighbourOfTheLastRecordGiven) {
    std::mt19937 rng(GetParam());
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const bool withPrimary = GetParam() % 4 != 0;
    CursorFixture fx(withPrimary);
    const std::vector<std::string> names = IndexNames();
    const std::string index = withPrimary ? names[static_cast<std::size_t>(uniform(0, 4))] : "<physical>";
    int serial = 0;
    auto append = [&] { fx.Append("w" + std::to_string(serial++), uniform(-9, 9), uniform(0, 1) ? "a" : ""); };
    for (int i = 0; i < 150; ++i) append();
    auto cursor = fx.Open(index == "<physical>" ? "" : index);
    const bool forward = GetParam() % 2 == 1;
    if (forward) cursor->SetToBegin();
    else cursor->SetToEnd();

    std::optional<Row> last;
    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE("seed " + std::to_string(GetParam()) + " index '" + index + "' step " + std::to_string(step));
        // One or two changes, with the cursor looking between them now and
        // then (so that it finds its place again more than once per move).
        for (int round = uniform(1, 2); round > 0; --round) {
            const int change = uniform(0, 9);
            if (change < 3) append();
            if (change >= 3 && change < 5 && !fx.Rows().empty()) {
                // Now and then the record the cursor stands on.
                const std::uint32_t current = cursor->CurrentRecordNumber();
                const auto& rows = fx.Rows();
                const bool mine = current != 0 && uniform(0, 2) == 0;
                fx.Delete(mine ? current
                               : rows[static_cast<std::size_t>(uniform(0, static_cast<int>(rows.size()) - 1))].number);
            }
            if (uniform(0, 1) == 0) cursor->GetRecordCount();
        }
        const std::vector<Row> sorted = fx.Sorted(index);
        const Row* want = nullptr;
        std::size_t at = 0;
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            const std::size_t k = forward ? i : sorted.size() - 1 - i;
            const bool beyond = !last || (forward ? Before(index, *last, sorted[k]) : Before(index, sorted[k], *last));
            if (beyond) {
                want = &sorted[k];
                at = k;
                break;
            }
        }
        const int code = forward ? cursor->GetNextRecord(nullptr) : cursor->GetPriorRecord(nullptr);
        if (want == nullptr) {
            ASSERT_EQ(code, forward ? err::EndOfTable : err::BeginningOfTable);
            break;
        }
        ASSERT_EQ(code, 0);
        const Row got = Current(*cursor);
        ASSERT_EQ(got, *want) << got.name << " instead of " << want->name;
        ASSERT_EQ(cursor->GetRecordNo(), at + 1);
        ASSERT_EQ(cursor->GetRecordCount(), sorted.size());
        last = *want;
    }
}

INSTANTIATE_TEST_SUITE_P(CursorSeeds, CursorWalkUnderChanges, ::testing::Range(1u, 9u));

}  // namespace
}  // namespace pixhold::engine
