#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DataFile.h"

namespace pixhold::engine {

// Value types of filter expressions. Null is the type of the untyped NULL
// constant, which is compatible with every other type.
enum class ExpType : std::uint8_t {
    Null,
    String,
    Date,
    Blob,
    Boolean,
    SmallInt,
    Integer,
    Float,
    Bcd,
    Time,
    Timestamp,
    Word,
    LargeInt,
};

// BLOB subtypes as the expressions see them.
enum class ExpBlobKind : std::uint8_t { Binary, Memo, Graphic };

bool IsIntegerType(ExpType type);
bool IsNumericType(ExpType type);
bool IsDateTimeType(ExpType type);
// Strings and memos: the types that compare and concatenate as text.
bool IsTextType(ExpType type, ExpBlobKind blobKind);

// One value of an expression. Integers of every width live in `integer`
// (also dates as day numbers and times as milliseconds since midnight),
// floats, decimals and timestamps (milliseconds since the start of day 1) in
// `real`, strings and BLOB contents in `text`. A NULL value reads as zero and
// the empty text.
struct TExpValue {
    ExpType type = ExpType::Null;
    ExpBlobKind blobKind = ExpBlobKind::Binary;
    bool isNull = true;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string text;

    static TExpValue Null(ExpType type = ExpType::Null);
    static TExpValue Boolean(bool value);
    static TExpValue Integer(std::int64_t value, ExpType type = ExpType::Integer);
    static TExpValue Real(double value, ExpType type = ExpType::Float);
    // The empty string is NULL.
    static TExpValue String(std::string value);
    static TExpValue Date(std::int32_t dayNumber);
    static TExpValue Time(std::int32_t milliseconds);
    static TExpValue Timestamp(double milliseconds);

    bool IsTrue() const { return !isNull && type == ExpType::Boolean && integer != 0; }
    // The value as a double, for comparing and computing across numeric types.
    double AsReal() const;
    // The instant of a date, time or timestamp in milliseconds (a date is
    // midnight of its day).
    double AsInstant() const;
};

enum class ExpKind : std::uint8_t {
    Unary,
    Binary,
    Column,
    Constant,
    Function,
    Predicate,
    // = or <> between a string column and a string constant, with a
    // partial-match length and a case-insensitive flag.
    PreparedCompare,
};

enum class ExpOp : std::uint8_t {
    None,
    // unary
    Plus,
    Negate,
    Not,
    // comparisons
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    // logic
    And,
    Or,
    // arithmetic ("+" also concatenates)
    Add,
    Sub,
    Mul,
    Div,
    // predicates
    Like,
    NotLike,
    Between,
    NotBetween,
    In,
    NotIn,
};

bool IsComparisonOp(ExpOp op);
// < becomes >, <= becomes >=; = and <> stay.
ExpOp MirrorComparison(ExpOp op);

enum class ExpFunc : std::uint8_t {
    None,
    Upper,
    Lower,
    Length,
    Substring,
    Replace,
    Pos,
    Occurs,
    Trim,
    Extract,
    Cast,
    Abs,
    Round,
    If,
    IfNull,
    Coalesce,
    TextSearch,
    TextOccurs,
    LastAutoInc,
    IdentCurrent,
};

enum class TrimSide : std::uint8_t { Leading, Trailing, Both };
enum class ExtractPart : std::uint8_t { Year, Month, Week, Day, DayOfWeek, DayOfYear, Hour, Minute, Second };

// One node of a parsed filter expression.
class TExpToken {
public:
    ExpKind kind = ExpKind::Constant;
    ExpOp op = ExpOp::None;
    ExpFunc func = ExpFunc::None;
    // The text messages name: a constant's token text, a column's name, the
    // source text of an operator or function.
    std::string text;
    // The type of the node's result; for a constant also its value.
    TExpValue value;
    // Declared length and scale (columns, CAST targets).
    std::uint16_t size = 0;
    std::uint8_t scale = 0;
    // A constant written as a quoted string: it may name a field (Check).
    bool quotedText = false;

    // Columns: the name as written, the correlation name, and once resolved
    // the field number (from 1) and its descriptor.
    std::string columnName;
    std::string correlation;
    std::uint16_t fieldNumber = 0;
    FieldDescriptor field;

    // Unary operators use `left`; binary operators and comparisons both.
    std::unique_ptr<TExpToken> left;
    std::unique_ptr<TExpToken> right;
    // Functions and predicates: the arguments (predicates: the tested value
    // first, then the pattern, the bounds or the list).
    std::vector<std::unique_ptr<TExpToken>> operands;

    // Function details.
    TrimSide trimSide = TrimSide::Both;
    ExtractPart extractPart = ExtractPart::Year;

    // Prepared comparisons: characters of the column compared (0 = all) and
    // whether letter case is ignored. Comparisons of UPPER or LOWER on both
    // sides carry the case-insensitive flag too.
    std::uint32_t partialLength = 0;
    bool caseInsensitive = false;

    // Levels of the subtree (1 for a leaf); the parser bounds it.
    int height = 1;

    std::unique_ptr<TExpToken> Clone() const;
    // Sets `height` from the children.
    void UpdateHeight();

    // Whether the subtree reads no column.
    bool IsConstantExpression() const;
    // Whether the subtree reads some column.
    bool RefersToColumn() const;
    // "expression", "column", "constant" or "function", for type messages.
    const char* KindWord() const;

    static std::unique_ptr<TExpToken> MakeConstant(TExpValue value, std::string text);
    static std::unique_ptr<TExpToken> MakeUnary(ExpOp op, std::unique_ptr<TExpToken> operand, std::string text);
    static std::unique_ptr<TExpToken> MakeBinary(ExpOp op, std::unique_ptr<TExpToken> left,
                                                 std::unique_ptr<TExpToken> right, std::string text);
};

// Filter errors: code 10051 with the detail text (cut to 255 characters) as
// the error's context text.
[[noreturn]] void RaiseFilterError(const std::string& table, const std::string& detail);

// The context text that ends filter messages.
inline constexpr const char* kFilterContext = "filter expression";

// The deepest nesting of parentheses, operators and arguments accepted; deeper
// texts are refused instead of exhausting the stack in the recursive passes.
inline constexpr int kMaxExpressionDepth = 200;

}  // namespace pixhold::engine
