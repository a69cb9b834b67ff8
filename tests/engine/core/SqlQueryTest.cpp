#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "CursorTestSupport.h"
#include "EngineError.h"
#include "RecordBuffer.h"
#include "SqlQuery.h"

namespace pixhold::engine {
namespace {

using cursortest::CursorFixture;

// The SQL error detail a statement raises ("" when it raises none; the code
// for other engine errors).
std::string SqlErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ECofferEngineError& e) {
        if (e.ErrorCode() != err::SqlError) return "engine error " + std::to_string(e.ErrorCode());
        const std::string message = e.what();
        const std::string ending = "SQL error - " + e.ContextText();
        EXPECT_TRUE(message.ends_with(ending)) << message;
        return e.ContextText();
    }
    return {};
}

// Each row of a result cursor as "value|value|...", absent values empty.
std::vector<std::string> RowsOf(TDataCursor& cursor) {
    std::vector<std::string> rows;
    std::vector<std::uint8_t> buffer(cursor.RecordSize(), 0);
    cursor.SetToBegin();
    while (cursor.GetNextRecord(buffer.data()) == 0) {
        std::string row;
        for (const FieldDescriptor& field : cursor.Fields()) {
            if (!row.empty() || &field != &cursor.Fields().front()) row += '|';
            if (field.type == fieldtype::String) {
                row += recordbuffer::Text(field, buffer.data());
            } else if (recordbuffer::IsPresent(field, buffer.data())) {
                const auto value = recordbuffer::Value(field, buffer.data());
                std::int32_t n = 0;
                std::memcpy(&n, value.data(), sizeof n);
                row += std::to_string(n);
            }
        }
        rows.push_back(row);
    }
    return rows;
}

int CodeOfAppend(TDataCursor& cursor, std::vector<std::uint8_t>& buffer) {
    try {
        cursor.AppendRecord(buffer.data(), false);
    } catch (const ECofferEngineError& e) {
        return e.ErrorCode();
    }
    return 0;
}

struct SqlRun {
    std::vector<std::string> rows;
    TSqlExecutionStats stats;
};

SqlRun Execute(CursorFixture& fx, const std::string& text, const std::vector<TSqlParamValue>& params = {}) {
    TSqlQuery query(fx.Directory());
    query.Prepare(text);
    std::unique_ptr<TDataCursor> cursor = query.Execute(params);
    EXPECT_TRUE(cursor->ReadOnly);
    SqlRun run{RowsOf(*cursor), query.Stats()};
    cursor->CloseCursor();
    return run;
}

TEST(SqlStatementTest, ParsesTheSubset) {
    const TSqlSelect s = ParseSqlSelect(
        "select distinct Cat, \"Num\" FROM Pics.dat WHERE (Num > 3) AND Name <> 'order by x' "
        "ORDER BY Cat DESC, Num asc;");
    EXPECT_TRUE(s.distinct);
    EXPECT_FALSE(s.allColumns);
    EXPECT_EQ(s.columns, (std::vector<std::string>{"Cat", "Num"}));
    EXPECT_EQ(s.table, "Pics.dat");
    EXPECT_EQ(s.condition, "(Num > 3) AND Name <> 'order by x'");
    ASSERT_EQ(s.orderBy.size(), 2u);
    EXPECT_EQ(s.orderBy[0].column, "Cat");
    EXPECT_TRUE(s.orderBy[0].descending);
    EXPECT_FALSE(s.orderBy[1].descending);

    const TSqlSelect all = ParseSqlSelect("SELECT * FROM [My Table]");
    EXPECT_TRUE(all.allColumns);
    EXPECT_EQ(all.table, "My Table");
}

TEST(SqlStatementTest, SyntaxErrorsNameThePlace) {
    const struct {
        const char* text;
        const char* detail;
    } cases[] = {
        {"SELECT DISTINCT Category FROM My Table ORDER BY Category", "syntax error near 'Table ORDER BY Category'"},
        {"SELECT FROM t", "syntax error near 'FROM t'"},
        {"SELECT a b FROM t", "syntax error near 'b FROM t'"},
        {"SELECT a FROM", "missing table name"},
        {"SELECT a", "missing FROM"},
        {"DELETE FROM t", "syntax error near 'DELETE FROM t'"},
        {"SELECT a FROM t WHERE", "missing condition after WHERE"},
        {"SELECT a FROM t WHERE ORDER BY a", "missing condition after WHERE"},
        {"SELECT a FROM t ORDER a", "syntax error near 'a'"},
        {"SELECT a FROM t ORDER BY", "unexpected end of statement"},
        {"SELECT a FROM t ORDER BY a DESC b", "syntax error near 'b'"},
        {"SELECT a FROM t; x", "syntax error near 'x'"},
        {"SELECT a FROM 'quoted'", "syntax error near ''quoted''"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SqlErrorOf([&] { ParseSqlSelect(c.text); }), c.detail) << c.text;
    }
    EXPECT_NE(SqlErrorOf([] { ParseSqlSelect("SELECT a FROM t WHERE b = 'open"); }), "");
}

TEST(SqlStatementTest, ParametersOutsideQuotesOnly) {
    EXPECT_EQ(ScanSqlParameters("SELECT * FROM t WHERE a = :First AND b = ':quoted' AND c = :second "
                                "/* :comment */ AND d = :FIRST AND e = [x:y] AND f = : gap"),
              (std::vector<std::string>{"First", "second"}));
    const TSqlSelect s = ParseSqlSelect("SELECT * FROM t WHERE Name = :n");
    ASSERT_EQ(s.conditionParams.size(), 1u);
    EXPECT_EQ(s.conditionParams[0].name, "n");
    EXPECT_EQ(s.condition.substr(s.conditionParams[0].start), ":n");
}

class SqlDistinctTest : public ::testing::TestWithParam<std::uint16_t> {};

TEST(SqlQueryTest, EmptyTableGivesNoRows) {
    CursorFixture fx;
    for (const char* text : {"SELECT DISTINCT Cat FROM Pics ORDER BY Cat", "SELECT * FROM Pics",
                             "SELECT Name FROM Pics WHERE Num > 1 ORDER BY Name"}) {
        EXPECT_TRUE(Execute(fx, text).rows.empty()) << text;
    }
}

TEST(SqlQueryTest, RecordsWithoutCategoryGiveOneEmptyRowFirst) {
    CursorFixture fx;
    fx.Append("a", 1, "");
    fx.Append("b", 2, "");
    EXPECT_EQ(Execute(fx, "SELECT DISTINCT Cat FROM Pics ORDER BY Cat").rows, (std::vector<std::string>{""}));
    fx.Append("c", 3, "Dog");
    fx.Append("d", 4, "Cat");
    fx.Append("e", 5, "Dog");
    const SqlRun run = Execute(fx, "SELECT DISTINCT Cat FROM Pics ORDER BY Cat");
    EXPECT_EQ(run.rows, (std::vector<std::string>{"", "Cat", "Dog"}));
    EXPECT_TRUE(run.stats.indexSkipScan);
    EXPECT_EQ(Execute(fx, "SELECT DISTINCT Cat FROM Pics ORDER BY Cat DESC").rows,
              (std::vector<std::string>{"Dog", "Cat", ""}));
    // With a condition the rows are read and sorted in memory.
    const SqlRun filtered = Execute(fx, "SELECT DISTINCT Cat FROM Pics WHERE Num >= 2 ORDER BY Cat");
    EXPECT_FALSE(filtered.stats.indexSkipScan);
    EXPECT_EQ(filtered.rows, (std::vector<std::string>{"", "Cat", "Dog"}));
}

TEST(SqlQueryTest, ColumnsOrderConditionAndParameters) {
    CursorFixture fx;
    fx.Append("b", 2, "Dog");
    fx.Append("a", 1, "Owl");
    fx.Append("c", 3, "Dog");
    fx.Append("it's", 4, "");
    EXPECT_EQ(Execute(fx, "SELECT Num, Name FROM Pics ORDER BY Num DESC").rows,
              (std::vector<std::string>{"4|it's", "3|c", "2|b", "1|a"}));
    EXPECT_EQ(Execute(fx, "SELECT * FROM Pics WHERE Cat = 'Dog' ORDER BY Name").rows,
              (std::vector<std::string>{"b|2|Dog", "c|3|Dog"}));
    EXPECT_EQ(Execute(fx, "SELECT Name FROM Pics WHERE Cat = :c OR Name = :n OR Num = :k ORDER BY Name",
                      {{"C", TSqlParamValue::Kind::Text, "Owl"},
                       {"n", TSqlParamValue::Kind::Text, "it's"},
                       {"k", TSqlParamValue::Kind::Number, "3"}})
                  .rows,
              (std::vector<std::string>{"a", "c", "it's"}));
    EXPECT_EQ(Execute(fx, "SELECT DISTINCT Cat, Num FROM Pics WHERE Num < 4 ORDER BY Cat DESC").rows,
              (std::vector<std::string>{"Owl|1", "Dog|2", "Dog|3"}));

    TSqlQuery limited(fx.Directory());
    limited.MaxRowCount = 2;
    limited.Prepare("SELECT Name FROM Pics ORDER BY Name");
    auto cursor = limited.Execute();
    EXPECT_EQ(RowsOf(*cursor), (std::vector<std::string>{"a", "b"}));
    cursor->CloseCursor();
}

TEST(SqlQueryTest, StatementErrors) {
    CursorFixture fx;
    fx.Append("a", 1, "Cat");
    const struct {
        const char* text;
        const char* detail;
    } cases[] = {
        {"SELECT DISTINCT Cat FROM Nothing ORDER BY Cat", "table 'Nothing' not found"},
        {"SELECT Colour FROM Pics", "unknown column 'Colour' in table 'Pics'"},
        {"SELECT Name FROM Pics ORDER BY Colour", "unknown column 'Colour' in table 'Pics'"},
        {"SELECT Name FROM Pics ORDER BY Num", "ORDER BY column 'Num' is not selected"},
        {"SELECT Name, name FROM Pics", "column 'name' is selected twice"},
        {"SELECT Name FROM Pics WHERE :p = 1", "no value for parameter 'p'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SqlErrorOf([&] { Execute(fx, c.text); }), c.detail) << c.text;
    }
    // A number or boolean parameter is a constant, never more of the condition.
    EXPECT_EQ(SqlErrorOf([&] { Execute(fx, "SELECT Name FROM Pics WHERE Num = :p", {{"p", TSqlParamValue::Kind::Number, "1 OR TRUE"}}); }),
              "parameter 'p' has no valid value '1 OR TRUE'");
    EXPECT_EQ(SqlErrorOf([&] { Execute(fx, "SELECT Name FROM Pics WHERE Num = :p", {{"p", TSqlParamValue::Kind::Boolean, "x"}}); }),
              "parameter 'p' has no valid value 'x'");
    EXPECT_EQ(Execute(fx, "SELECT Name FROM Pics WHERE Num = :p", {{"p", TSqlParamValue::Kind::Number, "1"}}).rows,
              (std::vector<std::string>{"a"}));
    const std::string bad = SqlErrorOf([&] { Execute(fx, "SELECT Name FROM Pics WHERE Colour = 1"); });
    EXPECT_EQ(bad.rfind("invalid condition 'Colour = 1': ", 0), 0u) << bad;
    // Nothing of a failed run stays in the directory.
    EXPECT_EQ(fx.Directory().TableCount(), 1u);
}

TEST(SqlQueryTest, ResultTableGoesWithTheStatement) {
    CursorFixture fx;
    fx.Append("a", 1, "Cat");
    const std::size_t before = fx.Directory().TableCount();
    {
        TSqlQuery query(fx.Directory());
        query.Prepare("SELECT * FROM Pics");
        auto cursor = query.Execute();
        EXPECT_EQ(fx.Directory().TableCount(), before) << "results live in the session's in-memory directory";
        EXPECT_TRUE(cursor->InMemory);
        std::vector<std::uint8_t> buffer(cursor->RecordSize(), 0);
        ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
        EXPECT_NE(CodeOfAppend(*cursor, buffer), 0);
        cursor->CloseCursor();
        EXPECT_TRUE(cursor->Directory().TableExists(cursor->TableName, true));
        query.DropResult();
        EXPECT_FALSE(cursor->Directory().TableExists(cursor->TableName, true));
    }
    EXPECT_EQ(fx.Directory().TableCount(), before);
}

// A result is no part of the database's transaction: it is read and dropped
// while the transaction goes on, and a rollback leaves it alone.
TEST(SqlQueryTest, ResultOutsideTheDirectoryTransaction) {
    CursorFixture fx;
    fx.Append("a", 1, "Cat");
    fx.Directory().StartTransaction();
    {
        TSqlQuery query(fx.Directory());
        query.Prepare("SELECT Name FROM Pics");
        auto cursor = query.Execute();
        fx.Directory().Rollback();
        EXPECT_EQ(RowsOf(*cursor), (std::vector<std::string>{"a"}));
        cursor->CloseCursor();
        query.DropResult();
    }
    fx.Directory().StartTransaction();
    EXPECT_EQ(Execute(fx, "SELECT Name FROM Pics").rows, (std::vector<std::string>{"a"}));
    fx.Directory().Commit(true, false);
}

// DISTINCT through the index skip-scan gives what reading every record and
// sorting gives, and reads a few keys per value, not the table.
TEST_P(SqlDistinctTest, SkipScanMatchesScanAndSort) {
    CursorFixture fx(true, false, {}, GetParam());
    std::mt19937 random(7);
    const std::vector<std::string> values = {"", "Cat", "cat", "Dog", "A", "b", "Zz", "abc", "ab", "Hen"};
    for (int i = 0; i < 1200; ++i) {
        fx.Append("n" + std::to_string(i), i, values[random() % values.size()]);
    }
    for (const cursortest::Row& row : std::vector<cursortest::Row>(fx.Rows())) {
        if (row.cat == "Zz" || random() % 5 == 0) fx.Delete(row.number);
    }
    std::set<std::string> expected;
    for (const cursortest::Row& row : fx.Rows()) expected.insert(row.cat);

    const SqlRun skip = Execute(fx, "SELECT DISTINCT Cat FROM Pics ORDER BY Cat");
    // A condition true for every record keeps the query on the reading path.
    const SqlRun scan = Execute(fx, "SELECT DISTINCT Cat FROM Pics WHERE Num >= 0 ORDER BY Cat");
    EXPECT_TRUE(skip.stats.indexSkipScan);
    EXPECT_FALSE(scan.stats.indexSkipScan);
    EXPECT_EQ(skip.rows, scan.rows);
    EXPECT_EQ(std::set<std::string>(skip.rows.begin(), skip.rows.end()), expected);
    EXPECT_EQ(skip.rows.size(), expected.size());
    EXPECT_EQ(skip.rows.front(), "");
    if (GetParam() == 0) {
        EXPECT_TRUE(std::is_sorted(skip.rows.begin(), skip.rows.end()));
    }
    EXPECT_EQ(skip.stats.descents, expected.size() + 1);
    EXPECT_LE(skip.stats.keysRead, 2 * expected.size() + 2);
    EXPECT_EQ(skip.stats.recordsRead, 0u);
    EXPECT_EQ(scan.stats.recordsRead, fx.Rows().size());

    std::vector<std::string> reversed(skip.rows.rbegin(), skip.rows.rend());
    EXPECT_EQ(Execute(fx, "SELECT DISTINCT Cat FROM Pics ORDER BY Cat DESC").rows, reversed);
}

INSTANTIATE_TEST_SUITE_P(Languages, SqlDistinctTest, ::testing::Values(std::uint16_t{0}, std::uint16_t{1033}),
                         [](const auto& param) { return param.param == 0 ? std::string("Bytes") : std::string("EnUs"); });

}  // namespace
}  // namespace pixhold::engine
