#include <gtest/gtest.h>

#include "ExpressionTestSupport.h"
#include "FilterExpression.h"
#include "TableContext.h"
#include "ValueText.h"

namespace pixhold::engine {
namespace {

class ExpressionPrepareTest : public ::testing::Test {
protected:
    std::vector<FieldDescriptor> fields = exptest::TestFields();
    TExpCollation collation{0};

    std::unique_ptr<TExpToken> Checked(const std::string& text) {
        auto tree = ParseFilterExpression(text, exptest::kTable);
        CheckFilterExpression(tree, fields, exptest::kTable);
        NormalizeComparisons(*tree);
        return tree;
    }
    std::unique_ptr<TExpToken> Prepared(const std::string& text, TFilterPrepareOptions options = {}) {
        return exptest::PrepareFilter(text, fields, collation, options);
    }
    static std::uint16_t FieldNumber(const char* name) {
        const auto f = exptest::TestFields();
        for (std::size_t i = 0; i < f.size(); ++i)
            if (f[i].name == name) return static_cast<std::uint16_t>(i + 1);
        return 0;
    }
};

TEST_F(ExpressionPrepareTest, ComparisonsWithTheColumnOnTheRightAreTurnedRound) {
    struct Turn {
        const char* filter;
        ExpOp op;
    };
    for (const Turn& t : {Turn{"'Cats' = Category", ExpOp::Eq}, Turn{"5 < Amount", ExpOp::Gt},
                          Turn{"5 <= Amount", ExpOp::Ge}, Turn{"1 + 1 > Amount", ExpOp::Lt},
                          Turn{"2 >= Amount", ExpOp::Le}, Turn{"'' <> Category", ExpOp::Ne}}) {
        SCOPED_TRACE(t.filter);
        const auto tree = Checked(t.filter);
        ASSERT_EQ(tree->kind, ExpKind::Binary);
        EXPECT_EQ(tree->op, t.op);
        EXPECT_EQ(tree->left->kind, ExpKind::Column);
    }
    // Two columns, or a column on the left already, stay as written.
    const auto both = Checked("Type < Amount");
    EXPECT_EQ(both->left->columnName, "Type");
    EXPECT_EQ(both->op, ExpOp::Lt);
}

TEST_F(ExpressionPrepareTest, IndexableConditionsOfPreparedFilters) {
    struct Expect {
        const char* filter;
        TFilterPrepareOptions options;
        const char* field;
        ExpOp op;
        std::vector<std::string> constants;  // value texts; "" is NULL
        std::uint32_t partialLength;
        bool caseInsensitive;
    };
    const Expect cases[] = {
        {"Category = \"\"", {}, "Category", ExpOp::Eq, {""}, 0, false},
        {"Category IS NULL", {}, "Category", ExpOp::Eq, {""}, 0, false},
        {"Category = 'Cats'", {}, "Category", ExpOp::Eq, {"Cats"}, 0, false},
        {"'Cats' = Category", {}, "Category", ExpOp::Eq, {"Cats"}, 0, false},
        {"Category = 'Cats  '", {}, "Category", ExpOp::Eq, {"Cats"}, 0, false},
        {"Category = 'Cats'", {.caseInsensitive = true}, "Category", ExpOp::Eq, {"Cats"}, 0, true},
        {"Name = 'Smi*'", {}, "Name", ExpOp::Eq, {"Smi"}, 3, false},
        {"Name <> 'Smi**'", {}, "Name", ExpOp::Ne, {"Smi"}, 3, false},
        {"Name = 'Smi*'", {.noPartialCompare = true}, "Name", ExpOp::Eq, {"Smi*"}, 0, false},
        {"Name = '\xC3\x89" "c*'", {}, "Name", ExpOp::Eq, {"\xC3\x89" "c"}, 2, false},
        {"Name = '*'", {}, "Name", ExpOp::Eq, {"*"}, 0, false},
        {"Name LIKE 'Smi%'", {}, "Name", ExpOp::Eq, {"Smi"}, 3, false},
        {"Name NOT LIKE 'Smi%%'", {}, "Name", ExpOp::Ne, {"Smi"}, 3, false},
        {"Name LIKE 'S_i%'", {}, "Name", ExpOp::Like, {"S_i%"}, 0, false},
        {"Name LIKE 'S%i%'", {}, "Name", ExpOp::Like, {"S%i%"}, 0, false},
        {"Name LIKE '%'", {}, "Name", ExpOp::Like, {"%"}, 0, false},
        {"Amount > 2 + 3", {}, "Amount", ExpOp::Gt, {"5"}, 0, false},
        {"Amount = 10.0", {}, "Amount", ExpOp::Eq, {"10"}, 0, false},
        {"Amount IN (1 + 1, 3)", {}, "Amount", ExpOp::In, {"2", "3"}, 0, false},
        {"Amount NOT BETWEEN 1 AND 2 * 5", {}, "Amount", ExpOp::NotBetween, {"1", "10"}, 0, false},
        {"Shot >= '2024-03-15'", {}, "Shot", ExpOp::Ge, {"2024-03-15"}, 0, false},
        {"Flag", {}, "Flag", ExpOp::Eq, {"TRUE"}, 0, false},
    };
    for (const Expect& c : cases) {
        SCOPED_TRACE(c.filter);
        const auto tree = Prepared(c.filter, c.options);
        const auto condition = IndexableConditionOf(*tree);
        ASSERT_TRUE(condition.has_value());
        EXPECT_EQ(condition->fieldNumber, FieldNumber(c.field));
        EXPECT_EQ(condition->op, c.op);
        EXPECT_EQ(condition->partialLength, c.partialLength);
        EXPECT_EQ(condition->caseInsensitive, c.caseInsensitive);
        std::vector<std::string> texts;
        for (const auto& v : condition->constants) texts.push_back(ValueToText(v));
        EXPECT_EQ(texts, c.constants);
    }
}

TEST_F(ExpressionPrepareTest, ConditionsThatNoIndexAnswers) {
    for (const char* filter : {"Amount > Type", "Flag AND Amount = 1", "NOT Flag", "Amount + 1 = 2",
                               "UPPER(Name) = UPPER('x')", "Name LIKE Category"}) {
        SCOPED_TRACE(filter);
        EXPECT_FALSE(IndexableConditionOf(*Prepared(filter)).has_value());
    }
}

TEST_F(ExpressionPrepareTest, CaseFunctionsOnBothSidesMarkTheComparisonCaseInsensitive) {
    EXPECT_TRUE(Prepared("UPPER(Name) = UPPER('smith')")->caseInsensitive);
    EXPECT_TRUE(Prepared("LOWER(Name) < LOWER('x')")->caseInsensitive);
    EXPECT_FALSE(Prepared("UPPER(Name) = LOWER('smith')")->caseInsensitive);
    EXPECT_FALSE(Prepared("UPPER(Name + 'x') = UPPER('smith')")->caseInsensitive);
}

TEST_F(ExpressionPrepareTest, PreparationLeavesTheCheckedTreeAlone) {
    const auto tree = Checked("Name = 'Smi*' AND Amount > 1 + 1");
    const auto prepared = PrepareFilterExpression(*tree, {}, collation, exptest::kTable);
    EXPECT_EQ(tree->left->kind, ExpKind::Binary);
    EXPECT_EQ(tree->left->right->value.text, "Smi*");
    EXPECT_EQ(tree->right->right->kind, ExpKind::Binary);
    EXPECT_EQ(prepared->left->kind, ExpKind::PreparedCompare);
    EXPECT_EQ(prepared->right->right->kind, ExpKind::Constant);
}

TEST_F(ExpressionPrepareTest, CurrentDateIsTakenWhenTheTextIsParsed) {
    const int before = CurrentLocalMoment().dayNumber;
    const auto tree = Checked("Shot = CURRENT_DATE");
    const int after = CurrentLocalMoment().dayNumber;
    ASSERT_EQ(tree->right->kind, ExpKind::Constant);
    EXPECT_GE(tree->right->value.integer, before);
    EXPECT_LE(tree->right->value.integer, after);
    EXPECT_EQ(tree->right->value.type, ExpType::Date);
}

// The adapter the cursor uses: values straight from a data file's record image.
class FakeTableOwner : public TTableOwner {
public:
    bool TransactionLockHeld() const override { return false; }
    bool WrittenTo() const override { return written; }
    void MarkWrittenTo() override { written = true; }
    bool written = false;
};

TEST(ExpressionDataFileReader, FiltersReadARecordOfADataFile) {
    static int counter = 0;
    FakeTableOwner owner;
    TDataFile file(owner);
    file.Name = "expression-reader-" + std::to_string(++counter) + ".Dat";
    file.InMemory = true;
    std::vector<FieldDescriptor> fields = exptest::TestFields();
    file.CreateHeader({}, fields);
    file.WriteFieldDescriptors();
    file.WriteHeader(true);

    TRecord* record = file.AllocateRecord(nullptr);
    const std::string name = "Smith";
    file.PutField(*record, 1, reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    const std::string blanks = "   ";
    file.PutField(*record, 2, reinterpret_cast<const std::uint8_t*>(blanks.data()), blanks.size());
    const auto amount = ValueTextToStored(fieldtype::Integer, 4, "42");
    file.PutField(*record, 4, amount->data(), amount->size());
    const std::string notes = "stored elsewhere";
    file.PutField(*record, 11, reinterpret_cast<const std::uint8_t*>("\x01\0\0\0\x01\0\0\0"), 8);

    const TExpCollation collation(file.Header().Locale());
    const TDataFileRecordReader plain(file, *record);
    const TDataFileRecordReader withBlobs(file, *record,
                                          [&notes](const FieldDescriptor&, const std::vector<std::uint8_t>& slot,
                                                   std::vector<std::uint8_t>& contents) {
                                              if (slot.size() != 8) return false;
                                              contents.assign(notes.begin(), notes.end());
                                              return true;
                                          });
    auto passes = [&](const std::string& text, const TExpRecordReader& reader) {
        auto tree = exptest::PrepareFilter(text, file.Fields(), collation);
        return EvaluateFilter(*tree, &reader, collation, exptest::kTable);
    };
    EXPECT_TRUE(passes("Name = 'Smith' AND Amount = 42", plain));
    EXPECT_TRUE(passes("Category = \"\"", plain));
    EXPECT_TRUE(passes("Type IS NULL AND Amount > 41", plain));
    EXPECT_TRUE(passes("LENGTH(Notes) = 8", plain));
    EXPECT_TRUE(passes("Notes = 'stored elsewhere'", withBlobs));
    file.ReleaseRecord(record);
}

}  // namespace
}  // namespace pixhold::engine

namespace pixhold::engine {
namespace {

TEST(FilterExpression, BundlesTheStepsOfAddingAFilter) {
    const std::vector<FieldDescriptor> fields = exptest::TestFields();
    exptest::TMapRecord cats(fields);
    cats.Set("Category", "Cats").Set("Name", "Smith");
    exptest::TMapRecord none(fields);
    none.Set("Name", "Jones");

    const TFilterExpression byCategory("Category = 'Cats'", fields, exptest::kTable, 0);
    EXPECT_TRUE(byCategory.Matches(cats));
    EXPECT_FALSE(byCategory.Matches(none));
    const TFilterExpression empty("Category = \"\"", fields, exptest::kTable, 1033);
    EXPECT_FALSE(empty.Matches(cats));
    EXPECT_TRUE(empty.Matches(none));
    const TFilterExpression ci("Category = 'CATS'", fields, exptest::kTable, 1033, {.caseInsensitive = true});
    EXPECT_TRUE(ci.Matches(cats));
    EXPECT_EQ(ci.Prepared().kind, ExpKind::PreparedCompare);

    const TFilterExpression parsed(ParseFilterExpression("'Jones' = Name", exptest::kTable), fields, exptest::kTable, 0);
    EXPECT_EQ(parsed.Checked().left->columnName, "Name");
    EXPECT_TRUE(parsed.Matches(none));

    EXPECT_EQ(exptest::FilterErrorText([&] { TFilterExpression("Amount", fields, exptest::kTable, 0); }),
              "filter expression must be a boolean expression");
}

}  // namespace
}  // namespace pixhold::engine
