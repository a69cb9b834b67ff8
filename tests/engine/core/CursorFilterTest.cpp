// Cursor filters on the cursor test table (Name primary; ByNum, ByCatNum,
// NumDown, CatNumPlain): what is visible, counts and moves, optimisation
// levels, callback filters, the filter limit and the errors.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "CursorTestSupport.h"
#include "EngineError.h"

namespace pixhold::engine {
namespace {

using cursortest::CursorFixture;
using cursortest::Current;
using cursortest::HideRecords;
using cursortest::RecordImage;
using cursortest::Row;

class CursorFilters : public ::testing::Test {
protected:
    void SetUp() override {
        const char* cats[] = {"", "a", "b", "Dog", "dog", "a", ""};
        for (int i = 0; i < 40; ++i)
            fx.Append("n" + std::to_string(100 + i), (i * 7) % 13 - 6, cats[i % 7]);
        // Holes in the record numbers.
        fx.Delete(fx.Rows()[3].number);
        fx.Delete(fx.Rows()[10].number);
        cursor = fx.Open();
    }

    std::set<std::uint32_t> Numbers(bool (*keep)(const Row&)) const {
        std::set<std::uint32_t> out;
        for (const Row& r : fx.Rows())
            if (keep(r)) out.insert(r.number);
        return out;
    }
    static std::set<std::uint32_t> Visible(const TDataCursor& c) {
        std::set<std::uint32_t> out;
        for (std::uint32_t n = c.VisibleRecords().FirstSet(); n != 0; n = c.VisibleRecords().NextSet(n + 1))
            out.insert(n);
        return out;
    }
    // The records a walk from the start meets, in order.
    static std::vector<Row> Walk(TDataCursor& c) {
        std::vector<Row> rows;
        c.SetToBegin();
        while (c.GetNextRecord(nullptr) == 0) rows.push_back(Current(c));
        return rows;
    }

    CursorFixture fx;
    std::unique_ptr<TDataCursor> cursor;
};

// ---- what is visible ----------------------------------------------------------------------------

TEST_F(CursorFilters, EmptyCategoryFilterIsAnsweredByTheIndexAndShowsExactlyTheEmptyCategories) {
    TFilter* filter = cursor->AddFilter("Cat = \"\"");
    EXPECT_EQ(filter->OptimizeLevel(), kOptimizeFull);
    EXPECT_FALSE(filter->Active());
    cursor->ActivateFilter(filter);
    const auto expected = Numbers([](const Row& r) { return r.cat.empty(); });
    EXPECT_EQ(Visible(*cursor), expected);
    EXPECT_EQ(cursor->GetRecordCount(), expected.size());
    EXPECT_EQ(filter->RecordsRead(), 0u) << "answered from the keys of ByCatNum";
    EXPECT_GT(filter->KeysRead(), 0u);
}

TEST_F(CursorFilters, WalksCountsAndRecordNumbersSeeOnlyTheVisibleRecordsInEveryOrder) {
    TFilter* filter = cursor->AddFilter("Cat = 'a' OR Num > 4");
    cursor->ActivateFilter(filter);
    auto keep = [](const Row& r) { return r.cat == "a" || r.num > 4; };
    for (const std::string index : {"", "ByNum", "ByCatNum", "NumDown", "CatNumPlain"}) {
        SCOPED_TRACE("index '" + index + "'");
        cursor->SetIndexName(index);
        std::vector<Row> expected;
        for (const Row& r : fx.Sorted(index))
            if (keep(r)) expected.push_back(r);
        const std::vector<Row> walked = Walk(*cursor);
        ASSERT_EQ(walked.size(), expected.size());
        for (std::size_t i = 0; i < walked.size(); ++i) EXPECT_EQ(walked[i].number, expected[i].number);
        EXPECT_EQ(cursor->GetRecordCount(), expected.size());
        // Backwards from the end meets the same records.
        cursor->SetToEnd();
        std::size_t back = expected.size();
        while (cursor->GetPriorRecord(nullptr) == 0) {
            ASSERT_GT(back, 0u);
            EXPECT_EQ(cursor->CurrentRecordNumber(), expected[--back].number);
        }
        EXPECT_EQ(back, 0u);
    }
}

TEST_F(CursorFilters, PhysicalOrderNumbersTheVisibleRecordsFromOne) {
    CursorFixture plain(false);
    for (int i = 0; i < 30; ++i) plain.Append("p" + std::to_string(i), i, i % 3 == 0 ? "x" : "y");
    auto c = plain.Open();
    ASSERT_TRUE(c->PhysicalOrder());
    c->ActivateFilter(c->AddFilter("Cat = 'x'"));
    EXPECT_EQ(c->GetRecordCount(), 10u);
    ASSERT_TRUE(c->SetToRecordNo(4));
    EXPECT_EQ(Current(*c).num, 9);
    EXPECT_EQ(c->GetRecordNo(), 4u);
    EXPECT_FALSE(c->SetToRecordNo(11));
    EXPECT_TRUE(c->AtTop());
}

TEST_F(CursorFilters, ARangeAndAFilterTogetherShowTheirIntersection) {
    cursor->SetIndexName("ByNum");
    const auto low = RecordImage(*cursor, "", -2, "");
    const auto high = RecordImage(*cursor, "", 3, "");
    cursor->SetRange(false, low.data(), 1, high.data(), 1);
    cursor->ActivateFilter(cursor->AddFilter("Cat <> 'b'"));
    std::size_t expected = 0;
    for (const Row& r : fx.Rows()) expected += (r.num >= -2 && r.num <= 3 && !r.cat.empty() && r.cat != "b") ? 1 : 0;
    EXPECT_EQ(cursor->GetRecordCount(), expected);
    EXPECT_EQ(Walk(*cursor).size(), expected);
}

TEST_F(CursorFilters, SeveralFiltersShowTheRecordsThatPassThemAll) {
    TFilter* a = cursor->AddFilter("Num >= 0");
    TFilter* b = cursor->AddFilter("Cat IN ('a', 'b')");
    cursor->ActivateFilter(nullptr);
    EXPECT_TRUE(a->Active() && b->Active());
    EXPECT_EQ(Visible(*cursor), Numbers([](const Row& r) { return r.num >= 0 && (r.cat == "a" || r.cat == "b"); }));
    cursor->DeactivateFilter(a);
    EXPECT_EQ(Visible(*cursor), Numbers([](const Row& r) { return r.cat == "a" || r.cat == "b"; }));
    cursor->DropFilter(nullptr);
    EXPECT_TRUE(cursor->Filters().empty());
    EXPECT_FALSE(cursor->FilterActive());
    EXPECT_EQ(cursor->GetRecordCount(), fx.Rows().size());
}

TEST_F(CursorFilters, AFilterOnKeptRecordsSeesOnlyWhatTheEarlierOnesKeptAndRecoversWhenTheyGo) {
    TFilter* category = cursor->AddFilter("Cat = 'a'");
    TCursorFilterOptions kept;
    kept.onKeptRecords = true;
    TFilter* byName = cursor->AddFilter("UPPER(Name) LIKE 'N1%'", kept);
    ASSERT_EQ(byName->OptimizeLevel(), kOptimizeNone);
    cursor->ActivateFilter(nullptr);
    const auto both = Numbers([](const Row& r) { return r.cat == "a"; });
    EXPECT_EQ(Visible(*cursor), both);
    EXPECT_EQ(byName->RecordsRead(), both.size()) << "only the category's records are read";
    cursor->DeactivateFilter(category);
    EXPECT_EQ(Visible(*cursor), Numbers([](const Row&) { return true; }));
}

TEST_F(CursorFilters, AFilterNotAddedAtTheEndGoesBeforeTheFirstOnKeptRecords) {
    TCursorFilterOptions kept;
    kept.onKeptRecords = true;
    TFilter* first = cursor->AddFilter("Num > 0");
    TFilter* onKept = cursor->AddFilter("Num < 5", kept);
    TFilter* inFront = cursor->AddFilter("Cat = 'a'", {}, false);
    TFilter* atEnd = cursor->AddFilter("Cat = 'b'", {}, true);
    const auto& list = cursor->Filters();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].get(), first);
    EXPECT_EQ(list[1].get(), inFront);
    EXPECT_EQ(list[2].get(), onKept);
    EXPECT_EQ(list[3].get(), atEnd);
}

// ---- position -----------------------------------------------------------------------------------

TEST_F(CursorFilters, SwitchingFiltersKeepsTheCursorOnItsRecordOrTheNearestVisibleOne) {
    cursor->SetIndexName("ByNum");
    TFilter* filter = cursor->AddFilter("Cat = 'b'");
    cursor->ActivateFilter(filter);
    ASSERT_EQ(cursor->GetNextRecord(nullptr), 0);
    ASSERT_EQ(cursor->GetNextRecord(nullptr), 0);
    const Row standing = Current(*cursor);
    cursor->DeactivateFilter(filter);
    EXPECT_EQ(Current(*cursor).number, standing.number);
    EXPECT_EQ(cursor->GetRecordCount(), fx.Rows().size());
    // The record goes out of sight: the cursor stands on the next visible one.
    cursor->ActivateFilter(cursor->AddFilter("Cat = 'a'"));
    const Row now = Current(*cursor);
    EXPECT_EQ(now.cat, "a");
    const auto sorted = fx.Sorted("ByNum");
    auto it = std::find_if(sorted.begin(), sorted.end(), [&](const Row& r) { return r.number == standing.number; });
    auto next = std::find_if(it, sorted.end(), [](const Row& r) { return r.cat == "a"; });
    ASSERT_NE(next, sorted.end());
    EXPECT_EQ(now.number, next->number);
}

// ---- optimisation levels -------------------------------------------------------------------------

TEST_F(CursorFilters, OptimizeLevelsFollowTheIndexesOfTheTable) {
    struct Case {
        const char* text;
        bool caseInsensitive;
        int level;
    };
    const Case cases[] = {
        {"Cat = 'a'", false, kOptimizeFull},
        {"'a' = Cat", false, kOptimizeFull},
        {"Cat IS NULL", false, kOptimizeFull},
        {"Num > 3", false, kOptimizeFull},
        {"Num BETWEEN 1 AND 3", false, kOptimizeFull},
        {"Num NOT IN (1, 2)", false, kOptimizeFull},
        {"Name = 'n1*'", false, kOptimizeFull},
        {"Name LIKE 'n1%'", false, kOptimizeFull},
        {"NOT (Cat = 'a')", false, kOptimizeFull},
        {"Cat = 'a' AND Num > 3", false, kOptimizeFull},
        {"Cat = 'a' OR Num = 2", false, kOptimizeFull},
        {"Cat = 'a' AND UPPER(Name) = 'X'", false, kOptimizePartial},
        {"UPPER(Name) = 'X' AND Num = 1", false, kOptimizePartial},
        {"(Cat = 'a' AND UPPER(Name) = 'X') AND Num = 1", false, kOptimizePartial},
        {"Cat = 'a' OR UPPER(Name) = 'X'", false, kOptimizeNone},
        {"Name LIKE '_1%'", false, kOptimizeNone},
        {"Num + 1 > 3", false, kOptimizeNone},
        {"UPPER(Cat) = UPPER('a')", false, kOptimizeNone},
        // No index of the table ignores letter case.
        {"Cat = 'a'", true, kOptimizeNone},
        {"Num = 1", true, kOptimizeFull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TCursorFilterOptions options;
        options.caseInsensitive = c.caseInsensitive;
        TFilter* filter = cursor->AddFilter(c.text, options);
        EXPECT_EQ(filter->OptimizeLevel(), c.level);
        cursor->DropFilter(filter);
    }
}

TEST_F(CursorFilters, APartlyOptimisedFilterReadsOnlyTheRecordsTheIndexLeft) {
    TFilter* filter = cursor->AddFilter("UPPER(Name) LIKE '%3%' AND Cat = 'dog'");
    ASSERT_EQ(filter->OptimizeLevel(), kOptimizePartial);
    cursor->ActivateFilter(filter);
    const auto inCategory = Numbers([](const Row& r) { return r.cat == "dog"; });
    EXPECT_EQ(filter->RecordsRead(), inCategory.size());
    EXPECT_EQ(Visible(*cursor), Numbers([](const Row& r) {
                  return r.cat == "dog" && r.name.find('3') != std::string::npos;
              }));
}

// ---- callback filters ----------------------------------------------------------------------------

TEST_F(CursorFilters, ACallbackFilterIsAskedPerRecordWithItsDatasetAndTheRecord) {
    int dataset = 0;
    std::set<std::uint32_t> asked;
    TFilter* filter = cursor->AddFilter(
        [&](void* ds, TDataCursor& c, const std::uint8_t* record, std::uint32_t number) {
            EXPECT_EQ(ds, &dataset);
            EXPECT_EQ(&c, cursor.get());
            asked.insert(number);
            return cursortest::RowOf(c, std::vector<std::uint8_t>(record, record + c.RecordSize())).num % 2 == 0;
        },
        &dataset);
    EXPECT_EQ(filter->FilterKind(), TFilter::Kind::Callback);
    EXPECT_EQ(filter->OptimizeLevel(), kOptimizeNone);
    cursor->ActivateFilter(filter);
    EXPECT_EQ(asked, Numbers([](const Row&) { return true; }));
    EXPECT_EQ(Visible(*cursor), Numbers([](const Row& r) { return r.num % 2 == 0; }));
}

TEST_F(CursorFilters, AFailingEvaluationLeavesTheFilterOffAndTheVisibleRecordsAsTheyWere) {
    cursor->ActivateFilter(cursor->AddFilter("Cat = 'a'"));
    const auto before = Visible(*cursor);
    TFilter* failing = cursor->AddFilter([](void*, TDataCursor&, const std::uint8_t*, std::uint32_t) -> bool {
        RaiseEngineError(err::FilterError, {.table = "Pics"});
    }, nullptr);
    EXPECT_THROW(cursor->ActivateFilter(failing), ECofferEngineError);
    EXPECT_FALSE(failing->Active());
    EXPECT_EQ(Visible(*cursor), before);
    EXPECT_EQ(cursor->GetRecordCount(), before.size());
    // A division by zero met on a record is a filter error too.
    TFilter* dividing = cursor->AddFilter("10 / (Num - Num) > 1");
    EXPECT_THROW(cursor->ActivateFilter(dividing), ECofferEngineError);
    EXPECT_EQ(Visible(*cursor), before);
}

// ---- limits and errors ---------------------------------------------------------------------------

TEST_F(CursorFilters, SixtyFourFiltersFitAndTheNextIsRefused) {
    std::vector<TFilter*> added;
    for (int i = 0; i < 64; ++i) added.push_back(cursor->AddFilter("Num <> " + std::to_string(100 + i)));
    try {
        cursor->AddFilter("Num > 0");
        FAIL() << "a 65th filter was accepted";
    } catch (const ECofferEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), err::TooManyFilters);
        EXPECT_NE(std::string(e.what()).find("Too many filters defined for the table 'Pics'"), std::string::npos)
            << e.what();
    }
    EXPECT_THROW(cursor->AddFilter([](void*, TDataCursor&, const std::uint8_t*, std::uint32_t) { return true; },
                                   nullptr),
                 ECofferEngineError);
    cursor->ActivateFilter(nullptr);
    EXPECT_EQ(cursor->GetRecordCount(), fx.Rows().size());
    cursor->DropFilter(added[5]);
    EXPECT_NO_THROW(cursor->AddFilter("Num > 0"));
}

TEST_F(CursorFilters, FilterErrorsCarryTheirCodesAndTexts) {
    struct Case {
        const char* text;
        const char* detail;
    };
    const Case cases[] = {
        {"Num", "filter expression must be a boolean expression"},
        {"Cat = ", "Unknown or unexpected symbol"},
        {"Nope = 1", "Invalid column name 'Nope'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            cursor->AddFilter(c.text);
            FAIL() << "accepted";
        } catch (const ECofferEngineError& e) {
            EXPECT_EQ(e.ErrorCode(), err::FilterError);
            EXPECT_NE(std::string(e.what()).find("Filter error for the table 'Pics' - "), std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find(c.detail), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(cursor->Filters().empty());
    // Neither an expression nor a callback.
    EXPECT_THROW(cursor->AddFilter(std::unique_ptr<TExpToken>{}), ECofferEngineError);
    EXPECT_THROW(cursor->AddFilter(TRecordFilterCallback{}, nullptr), ECofferEngineError);
    // A filter of another cursor.
    auto other = fx.Open();
    TFilter* foreign = other->AddFilter("Num > 1");
    for (auto change : {&TDataCursor::ActivateFilter, &TDataCursor::DeactivateFilter, &TDataCursor::DropFilter}) {
        try {
            ((*cursor).*change)(foreign);
            FAIL() << "a foreign filter was accepted";
        } catch (const ECofferEngineError& e) {
            EXPECT_EQ(e.ErrorCode(), err::InvalidFilterHandle);
            EXPECT_NE(std::string(e.what()).find("Invalid filter handle specified for the table 'Pics'"),
                      std::string::npos);
        }
    }
}

// ---- keeping the sets current ----------------------------------------------------------------------

TEST_F(CursorFilters, TheCursorsOwnChangesUpdateTheSetsRecordByRecord) {
    TFilter* filter = cursor->AddFilter("Cat = 'a'");
    cursor->ActivateFilter(filter);
    const std::uint32_t count = cursor->GetRecordCount();
    const std::uint32_t next = fx.Open()->Table().PhysicalRecordCount() + 1;

    // Appending a record that does not pass leaves the count; one that passes raises it.
    const auto other = RecordImage(*cursor, "zz1", 1, "b");
    cursor->RecordChangedForFilters(next, nullptr, other.data());
    EXPECT_EQ(cursor->GetRecordCount(), count);
    EXPECT_TRUE(cursor->ActiveRecords().Test(next));
    EXPECT_FALSE(cursor->VisibleRecords().Test(next));
    const auto passing = RecordImage(*cursor, "zz2", 1, "a");
    cursor->RecordChangedForFilters(next + 1, nullptr, passing.data());
    EXPECT_EQ(cursor->GetRecordCount(), count + 1);
    EXPECT_TRUE(filter->MatchingRecords().Test(next + 1));

    // A change out of the category hides it; deleting clears it everywhere.
    cursor->RecordChangedForFilters(next + 1, passing.data(), other.data());
    EXPECT_EQ(cursor->GetRecordCount(), count);
    cursor->RecordChangedForFilters(next + 1, other.data(), passing.data());
    cursor->RecordChangedForFilters(next + 1, passing.data(), nullptr);
    EXPECT_EQ(cursor->GetRecordCount(), count);
    EXPECT_FALSE(cursor->ActiveRecords().Test(next + 1));
    EXPECT_FALSE(filter->MatchingRecords().Test(next + 1));
}

TEST_F(CursorFilters, UpdatedSetsEqualASetsBuiltFromScratch) {
    TCursorFilterOptions kept;
    kept.onKeptRecords = true;
    cursor->ActivateFilter(cursor->AddFilter("Num > -3"));
    cursor->ActivateFilter(cursor->AddFilter("UPPER(Cat) = 'DOG' OR Cat = 'b'", kept));
    // Changes written by the fixture, told to the cursor as its own.
    auto tell = [&](std::uint32_t number, const Row* row) {
        if (row == nullptr) {
            cursor->RecordChangedForFilters(number, nullptr, nullptr);
            return;
        }
        const auto image = RecordImage(*cursor, row->name, row->num, row->cat);
        cursor->RecordChangedForFilters(number, nullptr, image.data());
    };
    const Row added1 = fx.Append("new1", 5, "Dog");
    tell(added1.number, &added1);
    const Row added2 = fx.Append("new2", -5, "dog");
    tell(added2.number, &added2);
    const std::uint32_t gone = fx.Rows()[4].number;
    fx.Delete(gone);
    tell(gone, nullptr);
    const auto updated = Visible(*cursor);
    std::vector<TRecordsBitmap> matching;
    for (const auto& f : cursor->Filters()) {
        matching.emplace_back();
        matching.back().CopyFrom(f->MatchingRecords());
    }
    cursor->Refresh();  // everything again from the files
    EXPECT_EQ(Visible(*cursor), updated);
    for (std::size_t i = 0; i < matching.size(); ++i) EXPECT_TRUE(cursor->Filters()[i]->MatchingRecords() == matching[i]);
    EXPECT_EQ(updated, Numbers([](const Row& r) { return r.num > -3 && (r.cat == "Dog" || r.cat == "dog" || r.cat == "b"); }));
}

TEST_F(CursorFilters, ChangesByOthersAreSeenAtTheNextOperation) {
    cursor->ActivateFilter(cursor->AddFilter("Cat = 'b'"));
    const std::uint32_t count = cursor->GetRecordCount();
    fx.Append("other1", 1, "b");
    fx.Append("other2", 1, "a");
    EXPECT_EQ(cursor->GetRecordCount(), count + 1);
}

TEST_F(CursorFilters, ACloneCarriesTheFiltersAndTheirState) {
    TFilter* on = cursor->AddFilter("Cat = 'a'");
    cursor->AddFilter("Num > 100");
    cursor->ActivateFilter(on);
    auto clone = cursor->CloneCursor();
    ASSERT_EQ(clone->Filters().size(), 2u);
    EXPECT_TRUE(clone->Filters()[0]->Active());
    EXPECT_FALSE(clone->Filters()[1]->Active());
    EXPECT_EQ(Visible(*clone), Visible(*cursor));
}

TEST_F(CursorFilters, TheOldNarrowingFiltersStillWork) {
    std::set<std::uint32_t> hidden{fx.Rows()[0].number, fx.Rows()[1].number};
    TFilter* filter = cursor->AddFilter(std::make_unique<HideRecords>(hidden));
    EXPECT_EQ(filter->FilterKind(), TFilter::Kind::Custom);
    cursor->ActivateFilter(filter);
    EXPECT_EQ(cursor->GetRecordCount(), fx.Rows().size() - 2);
    const auto image = RecordImage(*cursor, "x", 0, "");
    cursor->RecordChangedForFilters(fx.Rows()[0].number, image.data(), image.data());
    EXPECT_FALSE(cursor->VisibleRecords().Test(fx.Rows()[0].number));
}

}  // namespace
}  // namespace pixhold::engine

namespace pixhold::engine {
namespace {

using cursortest::CursorFixture;
using cursortest::Current;
using cursortest::RecordImage;
using cursortest::Row;

// Appends, changes and deletions made through the cursor itself while filters
// are active: each updates the sets for its record, without a rebuild.
TEST(CursorFilterEdits, EditsThroughTheCursorKeepTheVisibleRecordsCurrent) {
    CursorFixture fx;
    for (int i = 0; i < 20; ++i) fx.Append("r" + std::to_string(10 + i), i - 5, i % 2 == 0 ? "a" : "b");
    auto cursor = fx.Open();
    TFilter* category = cursor->AddFilter("Cat = 'a'");
    int asked = 0;
    TFilter* positive = cursor->AddFilter(
        [&](void*, TDataCursor& c, const std::uint8_t* record, std::uint32_t) {
            ++asked;
            return cursortest::RowOf(c, std::vector<std::uint8_t>(record, record + c.RecordSize())).num >= 0;
        },
        nullptr);
    cursor->ActivateFilter(nullptr);
    const std::uint32_t count = cursor->GetRecordCount();
    ASSERT_EQ(count, 7u);  // Cat a: even i; Num >= 0: i >= 5
    const std::uint64_t keysBefore = category->KeysRead();
    asked = 0;

    auto append = [&](const std::string& name, std::int32_t num, const std::string& cat) {
        auto image = RecordImage(*cursor, name, num, cat);
        cursor->AppendRecord(image.data(), false);
    };
    append("x1", 3, "b");  // fails the category
    EXPECT_EQ(cursor->GetRecordCount(), count);
    append("x2", 3, "a");  // passes both
    EXPECT_EQ(cursor->GetRecordCount(), count + 1);
    append("x3", -3, "a");  // fails the callback
    EXPECT_EQ(cursor->GetRecordCount(), count + 1);
    EXPECT_EQ(asked, 3) << "the callback is asked for the written records only";

    // Change the first visible record out of the category, then delete the next.
    cursor->SetToBegin();
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data(), true), 0);
    const Row changed = cursortest::RowOf(*cursor, buffer);
    auto moved = RecordImage(*cursor, changed.name, changed.num, "b");
    std::copy(buffer.begin(), buffer.begin() + recordlayout::HeaderSize, moved.begin());
    cursor->ModifyRecord(moved.data(), true, false);
    EXPECT_EQ(cursor->GetRecordCount(), count);
    cursor->SetToBegin();
    ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
    EXPECT_NE(cursortest::RowOf(*cursor, buffer).name, changed.name);
    cursor->DeleteRecord(buffer.data(), false);
    EXPECT_EQ(cursor->GetRecordCount(), count - 1);
    EXPECT_EQ(category->KeysRead(), keysBefore) << "no rebuild: the index was not scanned again";

    // What the cursor shows is what a rebuild from the files finds.
    std::vector<std::string> shown;
    cursor->SetToBegin();
    while (cursor->GetNextRecord(buffer.data()) == 0) shown.push_back(cursortest::RowOf(*cursor, buffer).name);
    EXPECT_EQ(shown.size(), count - 1);
    cursor->Refresh();
    std::vector<std::string> rebuilt;
    cursor->SetToBegin();
    while (cursor->GetNextRecord(buffer.data()) == 0) rebuilt.push_back(cursortest::RowOf(*cursor, buffer).name);
    EXPECT_EQ(shown, rebuilt);
    EXPECT_TRUE(positive->Active());
}

TEST(CursorFilterEdits, PhysicalOrderShowsAppendedAndHidesDeletedRecords) {
    CursorFixture fx(false);
    for (int i = 0; i < 5; ++i) fx.Append("p" + std::to_string(i), i, "a");
    auto cursor = fx.Open();
    ASSERT_TRUE(cursor->PhysicalOrder());
    auto image = RecordImage(*cursor, "new", 9, "b");
    cursor->AppendRecord(image.data(), false);
    EXPECT_EQ(cursor->GetRecordCount(), 6u);
    cursor->ActivateFilter(cursor->AddFilter("Cat = 'b'"));
    EXPECT_EQ(cursor->GetRecordCount(), 1u);
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
    cursor->DeleteRecord(buffer.data(), false);
    EXPECT_EQ(cursor->GetRecordCount(), 0u);
    cursor->DropFilter(nullptr);
    EXPECT_EQ(cursor->GetRecordCount(), 5u);
}

}  // namespace
}  // namespace pixhold::engine
