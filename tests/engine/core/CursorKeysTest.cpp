// Key searches and ranges on a small, fixed table where each answer can be
// read off by eye.

#include <gtest/gtest.h>

#include "CursorTestSupport.h"
#include "EngineError.h"

namespace pixhold::engine {
namespace {

using namespace cursortest;

// Cat, Num: (a,1) (a,3) (b,2) (b,2) (b,5) (d,4); names r1 … r6 in that order.
class CursorKeys : public ::testing::Test {
protected:
    void SetUp() override {
        const std::pair<const char*, int> rows[] = {{"b", 2}, {"a", 3}, {"d", 4}, {"b", 5}, {"a", 1}, {"b", 2}};
        const char* names[] = {"r3", "r2", "r6", "r5", "r1", "r4"};
        for (int i = 0; i < 6; ++i) fx.Append(names[i], rows[i].second, rows[i].first);
        cursor = fx.Open("ByCatNum");
    }
    std::vector<std::string> All() {
        std::vector<std::string> names;
        cursor->SetToBegin();
        while (cursor->GetNextRecord(nullptr) == 0) names.push_back(Current(*cursor).name);
        return names;
    }
    std::vector<std::uint8_t> Image(const std::string& cat, int num) { return RecordImage(*cursor, "", num, cat); }

    CursorFixture fx;
    std::unique_ptr<TDataCursor> cursor;
};

TEST_F(CursorKeys, AShorterKeyFindsTheFirstRecordOfItsFirstFieldOrTheNextGreater) {
    struct Case {
        const char* cat;
        int num;
        int fields;
        bool found;
        const char* at;
    };
    const Case cases[] = {
        {"b", 0, 1, true, "r3"},    // first "b", whatever its number
        {"c", 0, 1, false, "r6"},   // no "c": the next greater key
        {"z", 0, 1, false, "r6"},   // past the last key: on the last record
        {"b", 2, 2, true, "r3"},    // both fields; the first of two equal ones
        {"b", 3, 2, false, "r5"},
        {"a", 3, 0, true, "r2"},    // 0 on an index that is not unique: all fields
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cat) + " " + std::to_string(c.num) + " " + std::to_string(c.fields));
        const auto image = Image(c.cat, c.num);
        std::vector<std::uint8_t> out(cursor->RecordSize());
        EXPECT_EQ(cursor->FindKey(false, image.data(), out.data(), c.fields, 0, false), c.found);
        EXPECT_EQ(Current(*cursor).name, c.at);
        EXPECT_EQ(RowOf(*cursor, out).name, c.at);
    }
}

TEST_F(CursorKeys, RangeBoundsArePaddedAndInclusive) {
    struct Case {
        const char* name;
        const char* lowCat;
        int lowNum;
        int lowFields;
        const char* highCat;
        int highNum;
        int highFields;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {"one first field", "b", 0, 1, "b", 0, 1, {"r3", "r4", "r5"}},
        {"first field span", "a", 0, 1, "b", 0, 1, {"r1", "r2", "r3", "r4", "r5"}},
        {"both fields", "a", 3, 2, "b", 2, 2, {"r2", "r3", "r4"}},
        {"low above high", "d", 0, 1, "a", 0, 1, {}},
        {"between keys", "c", 0, 1, "c", 0, 1, {}},
        {"open low", nullptr, 0, 0, "a", 0, 1, {"r1", "r2"}},
        {"open high", "b", 5, 2, nullptr, 0, 0, {"r5", "r6"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto low = Image(c.lowCat ? c.lowCat : "", c.lowNum);
        const auto high = Image(c.highCat ? c.highCat : "", c.highNum);
        cursor->SetRange(false, c.lowCat ? low.data() : nullptr, c.lowFields, c.highCat ? high.data() : nullptr,
                         c.highFields);
        EXPECT_TRUE(cursor->AtBottom());
        EXPECT_EQ(cursor->GetRecordCount(), c.shown.size());
        EXPECT_EQ(All(), c.shown);
        if (c.shown.empty()) {
            EXPECT_EQ(cursor->GetCurrentRecord(nullptr), err::NoCurrentRecord);
            EXPECT_FALSE(cursor->SetToRecordNo(1));
        } else {
            EXPECT_TRUE(cursor->SetToRecordNo(static_cast<std::int64_t>(c.shown.size())));
            EXPECT_EQ(Current(*cursor).name, c.shown.back());
            EXPECT_EQ(cursor->GetRecordNo(), c.shown.size());
        }
    }
    cursor->ResetRange();
    EXPECT_EQ(All(), (std::vector<std::string>{"r1", "r2", "r3", "r4", "r5", "r6"}));
    EXPECT_EQ(cursor->GetRecordCount(), 6u);
}

TEST_F(CursorKeys, ChoosingAnIndexDropsTheRangeAndGoesToTheStart) {
    const auto b = Image("b", 0);
    cursor->SetRange(false, b.data(), 1, b.data(), 1);
    cursor->SetToRecordNo(2);
    cursor->SetIndexName("ByNum");
    EXPECT_FALSE(cursor->RangeActive());
    EXPECT_TRUE(cursor->AtBottom());
    EXPECT_EQ(cursor->GetRecordCount(), 6u);
    EXPECT_EQ(cursor->GetNextRecord(nullptr), 0);
    EXPECT_EQ(Current(*cursor).name, "r1");
}

TEST_F(CursorKeys, AFilterThatHidesEverythingLeavesNothingCurrent) {
    std::set<std::uint32_t> all;
    for (const Row& r : fx.Rows()) all.insert(r.number);
    TFilter* filter = cursor->AddFilter(std::make_unique<HideRecords>(all));
    cursor->ActivateFilter(filter);
    EXPECT_TRUE(cursor->AtBottom() && cursor->AtTop());
    EXPECT_EQ(cursor->GetRecordCount(), 0u);
    EXPECT_EQ(cursor->GetNextRecord(nullptr), err::EndOfTable);
    EXPECT_FALSE(cursor->SetToRecordNo(3));
    const auto image = Image("b", 2);
    EXPECT_FALSE(cursor->FindKey(false, image.data(), nullptr, 2, 0, true));
    cursor->DropFilter(filter);
    EXPECT_EQ(cursor->GetRecordCount(), 6u);
    EXPECT_EQ(cursor->GetNextRecord(nullptr), 0);
}

TEST(CursorCollated, ATableWithALanguageOrdersSearchesAndRangesByItsCollation) {
    CursorFixture fx(true, false, {}, 1033);
    for (const char* name : {"banana", "Apple", "cherry", "\xC3\xA9" "clair", "Zebra", "apple"}) fx.Append(name, 1, "");
    fx.Append("x1", 2, "zz");
    fx.Append("x2", 3, "\xC3\xA9t\xC3\xA9");
    auto cursor = fx.Open();
    std::vector<std::string> names;
    cursor->SetToBegin();
    while (cursor->GetNextRecord(nullptr) == 0) names.push_back(Current(*cursor).name);
    // Letters first, case second; an accented letter beside its plain one.
    EXPECT_EQ(names, (std::vector<std::string>{"apple", "Apple", "banana", "cherry", "\xC3\xA9" "clair", "x1", "x2",
                                                "Zebra"}));
    const auto b = RecordImage(*cursor, "B", 0, "");
    EXPECT_FALSE(cursor->FindKey(false, b.data(), nullptr, 0, 1, false));
    EXPECT_EQ(Current(*cursor).name, "banana");
    const auto e = RecordImage(*cursor, "e", 0, "");
    (void)cursor->FindKey(false, e.data(), nullptr, 0, 0, true);
    EXPECT_EQ(Current(*cursor).name, "\xC3\xA9" "clair");

    // An open high end on a text field takes in every text, however it sorts.
    cursor->SetIndexName("ByCatNum");
    const auto low = RecordImage(*cursor, "", 0, "a");
    cursor->SetRange(false, low.data(), 1, nullptr, 0);
    EXPECT_EQ(cursor->GetRecordCount(), 2u);
    cursor->SetToEnd();
    (void)cursor->GetPriorRecord(nullptr);
    EXPECT_EQ(Current(*cursor).name, "x1");
    (void)cursor->GetPriorRecord(nullptr);
    EXPECT_EQ(Current(*cursor).name, "x2");
}

}  // namespace
}  // namespace pixhold::engine
