#include <gtest/gtest.h>

#include "ExpressionTestSupport.h"

namespace pixhold::engine {
namespace {

struct ErrorCase {
    const char* filter;
    const char* message;
};

// Malformed or ill-typed filters and the exact detail text of their 10051 error.
const ErrorCase kErrors[] = {
    // Lexer.
    {"Category = 'Cats", "Missing single quote after 'Cats' in filter expression"},
    {"Category = \"Cats", "Missing double quote after 'Cats' in filter expression"},
    {"Category = 'it''s", "Missing single quote after 'it's' in filter expression"},
    {"[Category = 'x'", "Missing right bracket after 'Category = 'x'' in filter expression"},
    {"Category = /* x 'a'", "Missing ending comment slash and asterisk in filter expression"},
    {"Amount = 1.2.3", "Constant '1.2.3' is not a valid number  in filter expression"},
    {"Amount = 1e", "Constant '1e' is not a valid number  in filter expression"},
    {"Amount = 2E+", "Constant '2E+' is not a valid number  in filter expression"},
    {"Category = #256", "Character constants (#) must be within the range of 0 to 255 in filter expression"},
    {"Category = #99999999999999999999", "Character constants (#) must be within the range of 0 to 255 in filter expression"},
    // Grammar.
    {"", "Unknown or unexpected symbol '' in filter expression"},
    {"Category = ", "Unknown or unexpected symbol '' in filter expression"},
    {"Category = )", "Unknown or unexpected symbol ')' in filter expression"},
    {"NOT NOT Flag", "Unknown or unexpected symbol 'NOT' in filter expression"},
    {"Amount = --1", "Unknown or unexpected symbol '-' in filter expression"},
    {"Category IS 'x'", "Unknown or unexpected symbol 'x' in filter expression"},
    {"AND = 1", "Unknown or unexpected symbol 'AND' in filter expression"},
    {"(Category = 'Cats'", "Right parentheses expected, instead found '' in filter expression"},
    {"(Category = 'Cats' 'x'", "Right parentheses expected, instead found 'x' in filter expression"},
    {"FOO(Name) = 1", "Unknown or unexpected function 'FOO' found in filter expression"},
    {"LOWER Name = 'x'", "Left parentheses expected after LOWER keyword, instead found 'Name' in filter expression"},
    {"LOWER(Name = 'x'", "Right parentheses expected after LOWER function argument, instead found '' in filter expression"},
    {"UPPER(Name, 1) = 'x'", "Right parentheses expected after UPPER function argument, instead found ',' in filter expression"},
    {"Name | 'x' = 'y'",
     "Second concatenation symbol '|' expected after first concatentation symbol, instead found 'x' in filter expression"},
    {"Amount BETWEEN 1 OR 2", "Expected AND operator in BETWEEN operator, instead found 'OR' in filter expression"},
    {"Amount NOT BETWEEN 1 , 2", "Expected AND operator in NOT BETWEEN operator, instead found ',' in filter expression"},
    {"Amount IN 1", "Expected left parentheses for IN operator, instead found '1' in filter expression"},
    {"Amount NOT IN 1", "Expected left parentheses for NOT IN operator, instead found '1' in filter expression"},
    {"Amount IN (1, 2", "Expected right parentheses after IN operator, instead found '' in filter expression"},
    {"Amount NOT IN (1 2)", "Expected right parentheses after NOT IN operator, instead found '2' in filter expression"},
    {"Amount IN ()", "You must provide at least one value as an operand of the IN operator  in filter expression"},
    {"Amount NOT IN ()", "You must provide at least one value as an operand of the NOT IN operator  in filter expression"},
    {"SUBSTRING(Name, 1) = 'x'",
     "FROM keyword expected after first SUBSTRING function argument, instead found ',' in filter expression"},
    {"REPLACE('a' IN Name) = 'x'",
     "WITH keyword expected after first REPLACE function argument, instead found 'IN' in filter expression"},
    {"REPLACE('a' WITH 'b' FROM Name) = 'x'",
     "IN keyword expected after second REPLACE function argument, instead found 'FROM' in filter expression"},
    {"POS('a', Name) = 1", "IN keyword expected after first POS function argument, instead found ',' in filter expression"},
    {"OCCURS('a' FROM Name) = 1",
     "IN keyword expected after first OCCURS function argument, instead found 'FROM' in filter expression"},
    {"CAST(Amount TO INTEGER) = 1",
     "AS keyword expected after first CAST function argument, instead found 'TO' in filter expression"},
    {"TRIM(' ' FROM Name) = 'x'",
     "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found ' ' in filter expression"},
    {"TRIM(BOTH ' ' IN Name) = 'x'",
     "FROM keyword expected after second TRIM function argument, instead found 'IN' in filter expression"},
    {"EXTRACT(CENTURY FROM Shot) = 1",
     "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword expected after EXTRACT keyword, "
     "instead found 'CENTURY' in filter expression"},
    {"IF(Flag; 1, 2) = 1",
     "THEN keyword or comma expected after first IF function argument, instead found ';' in filter expression"},
    {"IF(Flag THEN 1 ; 2) = 1",
     "ELSE keyword or comma expected after second IF function argument, instead found ';' in filter expression"},
    {"IFNULL(Amount 1, 2) = 1",
     "THEN keyword or comma expected after first IFNULL function argument, instead found '1' in filter expression"},
    {"IFNULL(Amount THEN 1 2) = 1",
     "ELSE keyword or comma expected after second IFNULL function argument, instead found '2' in filter expression"},
    {"COALESCE() = 1", "You must provide at least one value as an argument of the COALESCE operator  in filter expression"},
    // Refused constructs.
    {"SUM(Amount) > 1", "Aggregate functions are not allowed in filter expression"},
    {"count(Amount) > 1", "Aggregate functions are not allowed in filter expression"},
    {"* = 1", "* (all columns) symbol is not allowed in filter expression"},
    {"Images.* = 1", "* (all columns) symbol is not allowed in filter expression"},
    {"Amount = ?", "Parameters are not allowed in filter expression"},
    {"Amount IN (SELECT Amount FROM Images)", "Sub-select queries are not allowed in filter expression"},
    // Columns and types.
    {"Colour = 'red'", "Invalid column name 'Colour' or table correlation name '' specified in filter expression"},
    {"Other.Category = 'x'",
     "Invalid column name 'Category' or table correlation name 'Other' specified in filter expression"},
    {"Shot = 'yesterday'", "Date, time, or timestamp expression expected, instead found 'yesterday' in filter expression"},
    {"At BETWEEN '10:00' AND 'noon'", "Date, time, or timestamp expression expected, instead found 'noon' in filter expression"},
    {"Category = 'Type'", "Type mismatch between column 'Category' and column 'Type' in filter expression"},
    {"Category = 5", "Type mismatch between column 'Category' and constant '5' in filter expression"},
    {"Flag = 1", "Type mismatch between column 'Flag' and constant '1' in filter expression"},
    {"Shot > Amount", "Type mismatch between column 'Shot' and column 'Amount' in filter expression"},
    {"NOT Amount", "Type mismatch between 'NOT' operator and 'Amount' in filter expression"},
    {"-Name = 1", "Type mismatch between '-' operator and 'Name' in filter expression"},
    {"Flag AND Amount", "Type mismatch between 'AND' operator and 'Amount' in filter expression"},
    {"Amount + Name = 1", "Type mismatch between column 'Amount' and column 'Name' in filter expression"},
    {"Amount * 2 = 'x'", "Type mismatch between expression 'Amount * 2' and constant 'x' in filter expression"},
    {"UPPER(Name) = 1", "Type mismatch between function 'UPPER(Name)' and constant '1' in filter expression"},
    {"Amount LIKE '1%'", "Type mismatch between column 'Amount' and constant '1%' in filter expression"},
    {"Amount IN (1, 'x')", "Type mismatch between column 'Amount' and constant 'x' in filter expression"},
    {"Amount", "filter expression must be a boolean expression"},
    {"Amount + 1", "filter expression must be a boolean expression"},
    {"NULL", "filter expression must be a boolean expression"},
    {"Category", "filter expression must be a boolean expression"},
    // Function arguments.
    {"SUBSTRING(Amount FROM 1) = 'x'",
     "Expression argument of SUBSTRING function must be a string or memo in filter expression"},
    {"SUBSTRING(Name FROM 'a') = 'x'", "FROM argument of SUBSTRING function must be an integer value in filter expression"},
    {"SUBSTRING(Name FROM 1 FOR 1.5) = 'x'",
     "FOR argument of SUBSTRING function must be an integer value in filter expression"},
    {"TRIM(BOTH Amount FROM Name) = 'x'",
     "Trim character argument of TRIM function must be a single character constant in filter expression"},
    {"TRIM(BOTH 'ab' FROM Name) = 'x'",
     "Trim character argument of TRIM function must be a single character constant in filter expression"},
    {"TRIM(BOTH 'a' FROM Amount) = 'x'", "FROM argument of TRIM function must be a string or memo in filter expression"},
    {"REPLACE('a' WITH 'b' IN Amount) = 'x'", "IN argument of REPLACE function must be a string or memo in filter expression"},
    {"REPLACE(Amount WITH 'b' IN Name) = 'x'",
     "Type mismatch between REPLACE function and search string argument in filter expression"},
    {"EXTRACT(YEAR FROM Name) = 1",
     "FROM argument of EXTRACT function must be a date, time, or timestamp in filter expression"},
    {"ABS(Name) = 1",
     "Expression argument of ABS function must be an integer, floating-point, or BCD type in filter expression"},
    {"ROUND(Amount) = 1", "Expression argument of ROUND function must be a floating-point or BCD type in filter expression"},
    {"ROUND(Price TO Amount) = 1",
     "Decimal places argument of ROUND function must be an integer constant in filter expression"},
    {"ROUND(Price TO 33) = 1",
     "Decimal places argument of ROUND function must be an integer constant between 0 and 32 in filter expression"},
    {"IF(Amount THEN 1 ELSE 2) = 1", "First expression argument of IF function must be a boolean type in filter expression"},
    {"IF(Flag THEN 1 ELSE 'x') = 1", "Type mismatch between constant '1' and constant 'x' in filter expression"},
    {"UPPER(Amount) = 'x'", "Type mismatch between UPPER function and function argument in filter expression"},
    {"CAST(Amount AS COLOUR) = 1", "Unknown or unexpected symbol 'COLOUR' in filter expression"},
    {"CAST(Amount AS CHAR(x)) = 1", "Unknown or unexpected symbol 'x' in filter expression"},
    {"Amount = CAST('abc' AS INTEGER)", "Constant 'abc' is not a valid number  in filter expression"},
    {"Amount = 1 / 0", "Division by zero in filter expression"},
    {"LENGTH(Amount) = 1", "Type mismatch between LENGTH function and function argument in filter expression"},
    {"POS(Amount IN Name) = 1", "Type mismatch between POS function and search string argument in filter expression"},
    {"POS('a' IN Amount) = 1", "Type mismatch between POS function and IN argument in filter expression"},
    {"OCCURS(Amount IN Name) = 1", "Type mismatch between OCCURS function and search string argument in filter expression"},
    {"OCCURS('a' IN Amount) = 1", "Type mismatch between OCCURS function and IN argument in filter expression"},
    {"TEXTSEARCH('a' IN 'b')", "TEXTSEARCH function column argument must be a valid column name in filter expression"},
    {"TEXTSEARCH(Name IN Notes)", "TEXTSEARCH search text function argument must be a string constant in filter expression"},
    {"TEXTOCCURS('a' IN 1) = 1", "TEXTOCCURS function column argument must be a valid column name in filter expression"},
    {"TEXTOCCURS(Name IN Notes) = 1",
     "TEXTOCCURS search text function argument must be a string constant in filter expression"},
};

class ExpressionErrorTest : public ::testing::Test {
protected:
    std::vector<FieldDescriptor> fields = exptest::TestFields();
    TExpCollation collation{0};

    std::string ErrorOf(const std::string& filter) {
        return exptest::FilterErrorText([&] { exptest::PrepareFilter(filter, fields, collation); });
    }
};

TEST_F(ExpressionErrorTest, TableOfMalformedFilters) {
    for (const ErrorCase& c : kErrors) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(ErrorOf(c.filter), c.message);
    }
}

TEST_F(ExpressionErrorTest, ErrorIsTheFilterErrorOfTheTable) {
    try {
        exptest::PrepareFilter("Amount", fields, collation);
        FAIL() << "accepted";
    } catch (const ECofferEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), err::FilterError);
        EXPECT_EQ(e.ContextTable(), exptest::kTable);
        EXPECT_EQ(e.Message(), "Coffer Engine Error # 10051 Filter error for the table 'Images' - filter expression "
                               "must be a boolean expression");
    }
}

TEST_F(ExpressionErrorTest, DetailTextIsCutTo255Characters) {
    const std::string name(400, 'Q');
    const std::string text = ErrorOf(name + " = 1");
    EXPECT_EQ(text.size(), 255u);
    EXPECT_EQ(text.rfind("Invalid column name 'QQQ", 0), 0u);
}

TEST_F(ExpressionErrorTest, HostileNestingIsRefusedWithoutExhaustingTheStack) {
    const std::string deepest = "Expression nested more than 200 levels deep in filter expression";
    EXPECT_EQ(ErrorOf(std::string(100000, '(') + "Flag" + std::string(100000, ')')), deepest);
    std::string chain = "Flag";
    for (int i = 0; i < 100000; ++i) chain += " OR Flag";
    EXPECT_EQ(ErrorOf(chain), deepest);
    std::string sum = "Amount";
    for (int i = 0; i < 100000; ++i) sum += " + 1";
    EXPECT_EQ(ErrorOf(sum + " > 0"), deepest);
    std::string calls;
    for (int i = 0; i < 100000; ++i) calls += "UPPER(";
    EXPECT_EQ(ErrorOf(calls), deepest);
    // Ordinary depths stay accepted.
    EXPECT_EQ(ErrorOf(std::string(60, '(') + "Flag" + std::string(60, ')')), "");
    std::string list = "Amount IN (0";
    for (int i = 1; i < 10000; ++i) list += ", " + std::to_string(i);
    EXPECT_EQ(ErrorOf(list + ")"), "");
}

TEST_F(ExpressionErrorTest, ExtendedPredicatesCanBeSwitchedOff) {
    const std::string refused = "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in filter "
                                "expression";
    for (const char* text : {"Name LIKE 'x'", "Amount BETWEEN 1 AND 2", "Amount NOT IN (1)", "Category IS NULL"}) {
        SCOPED_TRACE(text);
        TExpressionParser parser(text, exptest::kTable, {.extendedPredicates = false});
        EXPECT_EQ(exptest::FilterErrorText([&] { parser.Parse(); }), refused);
    }
}

// Parsing stops after a complete expression: a later defect is never seen.
TEST_F(ExpressionErrorTest, TextAfterACompleteExpressionIsNotExamined) {
    EXPECT_EQ(ErrorOf("Category = 'A' 'unterminated"), "");
    EXPECT_EQ(ErrorOf("Category = 'A' ) ) #999"), "");
    EXPECT_EQ(ErrorOf("Category = 'A' /* open"), "");
    EXPECT_EQ(ErrorOf("Category = 'A' [open"), "");
}

}  // namespace
}  // namespace pixhold::engine
