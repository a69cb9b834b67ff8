#include "ExpressionParser.h"

#include <array>
#include <charconv>
#include <cctype>
#include <limits>
#include <utility>

#include "ValueText.h"

namespace pixhold::engine {
namespace {

std::string InContext() { return std::string(" in ") + kFilterContext; }

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct FunctionName {
    std::string_view name;
    ExpFunc func;
};

constexpr std::array<FunctionName, 19> kFunctions = {{
    {"UPPER", ExpFunc::Upper},           {"LOWER", ExpFunc::Lower},
    {"LENGTH", ExpFunc::Length},         {"SUBSTRING", ExpFunc::Substring},
    {"REPLACE", ExpFunc::Replace},       {"POS", ExpFunc::Pos},
    {"OCCURS", ExpFunc::Occurs},         {"TRIM", ExpFunc::Trim},
    {"EXTRACT", ExpFunc::Extract},       {"CAST", ExpFunc::Cast},
    {"ABS", ExpFunc::Abs},               {"ROUND", ExpFunc::Round},
    {"IF", ExpFunc::If},                 {"IFNULL", ExpFunc::IfNull},
    {"COALESCE", ExpFunc::Coalesce},     {"TEXTSEARCH", ExpFunc::TextSearch},
    {"TEXTOCCURS", ExpFunc::TextOccurs}, {"LASTAUTOINC", ExpFunc::LastAutoInc},
    {"IDENT_CURRENT", ExpFunc::IdentCurrent},
}};

constexpr std::array<std::string_view, 6> kAggregates = {"SUM", "RUNSUM", "AVG", "MIN", "MAX", "COUNT"};

// Words that end or join operands; they never stand for a column.
constexpr std::array<std::string_view, 15> kReserved = {"AND",  "OR",   "NOT",  "LIKE", "BETWEEN",
                                                        "IN",   "IS",   "THEN", "ELSE", "FROM",
                                                        "FOR",  "WITH", "AS",   "TO",   "SELECT"};

struct PartName {
    std::string_view name;
    ExtractPart part;
};
constexpr std::array<PartName, 9> kExtractParts = {{
    {"YEAR", ExtractPart::Year},
    {"MONTH", ExtractPart::Month},
    {"WEEK", ExtractPart::Week},
    {"DAY", ExtractPart::Day},
    {"DAYOFWEEK", ExtractPart::DayOfWeek},
    {"DAYOFYEAR", ExtractPart::DayOfYear},
    {"HOUR", ExtractPart::Hour},
    {"MINUTE", ExtractPart::Minute},
    {"SECOND", ExtractPart::Second},
}};

struct CastName {
    std::string_view name;
    ExpType type;
    ExpBlobKind blobKind;
};
constexpr std::array<CastName, 28> kCastTypes = {{
    {"SMALLINT", ExpType::SmallInt, ExpBlobKind::Binary},   {"WORD", ExpType::Word, ExpBlobKind::Binary},
    {"INTEGER", ExpType::Integer, ExpBlobKind::Binary},     {"INT", ExpType::Integer, ExpBlobKind::Binary},
    {"LARGEINT", ExpType::LargeInt, ExpBlobKind::Binary},   {"AUTOINC", ExpType::Integer, ExpBlobKind::Binary},
    {"DECIMAL", ExpType::Bcd, ExpBlobKind::Binary},         {"NUMERIC", ExpType::Bcd, ExpBlobKind::Binary},
    {"FLOAT", ExpType::Float, ExpBlobKind::Binary},         {"MONEY", ExpType::Float, ExpBlobKind::Binary},
    {"CHARACTER", ExpType::String, ExpBlobKind::Binary},    {"CHAR", ExpType::String, ExpBlobKind::Binary},
    {"VARCHAR", ExpType::String, ExpBlobKind::Binary},      {"BYTES", ExpType::Blob, ExpBlobKind::Binary},
    {"VARBYTES", ExpType::Blob, ExpBlobKind::Binary},       {"BINARY", ExpType::Blob, ExpBlobKind::Binary},
    {"VARBINARY", ExpType::Blob, ExpBlobKind::Binary},      {"DATE", ExpType::Date, ExpBlobKind::Binary},
    {"TIME", ExpType::Time, ExpBlobKind::Binary},           {"TIMESTAMP", ExpType::Timestamp, ExpBlobKind::Binary},
    {"BOOLEAN", ExpType::Boolean, ExpBlobKind::Binary},     {"BOOL", ExpType::Boolean, ExpBlobKind::Binary},
    {"BIT", ExpType::Boolean, ExpBlobKind::Binary},         {"BLOB", ExpType::Blob, ExpBlobKind::Binary},
    {"LONGVARBINARY", ExpType::Blob, ExpBlobKind::Binary},  {"LONGVARCHAR", ExpType::Blob, ExpBlobKind::Memo},
    {"MEMO", ExpType::Blob, ExpBlobKind::Memo},             {"GRAPHIC", ExpType::Blob, ExpBlobKind::Graphic},
}};

ExpFunc FunctionOf(const TLexToken& token) {
    for (const auto& f : kFunctions)
        if (token.IsKeyword(f.name)) return f.func;
    return ExpFunc::None;
}

bool IsAggregate(const TLexToken& token) {
    for (auto name : kAggregates)
        if (token.IsKeyword(name)) return true;
    return false;
}

bool IsReserved(const TLexToken& token) {
    for (auto name : kReserved)
        if (token.IsKeyword(name)) return true;
    return false;
}

bool IsColumnName(const TLexToken& token) {
    return token.kind == LexKind::Identifier || token.kind == LexKind::BracketedName;
}

std::string EncodeCharacter(unsigned code) {
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

}  // namespace

// Bounds the recursion of the descent.
class TExpressionParser::DepthGuard {
public:
    explicit DepthGuard(TExpressionParser& parser) : parser_(parser) {
        if (++parser_.depth_ > kMaxExpressionDepth) {
            parser_.Fail("Expression nested more than " + std::to_string(kMaxExpressionDepth) + " levels deep" +
                         InContext());
        }
    }
    ~DepthGuard() { --parser_.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    TExpressionParser& parser_;
};

TExpressionParser::TExpressionParser(std::string_view text, std::string table, TParserSwitches switches)
    : lexer_(text, std::move(table)), switches_(switches) {}

std::unique_ptr<TExpToken> TExpressionParser::Parse() { return ParseExpression(); }

TLexToken TExpressionParser::Take() {
    TLexToken token = lexer_.Next();
    lastEnd_ = token.end;
    return token;
}

std::string TExpressionParser::SourceFrom(std::size_t start) const {
    const std::string_view source = lexer_.Source();
    if (start >= lastEnd_ || start >= source.size()) return {};
    return std::string(source.substr(start, lastEnd_ - start));
}

void TExpressionParser::Fail(const std::string& text) { RaiseFilterError(lexer_.Table(), text); }

void TExpressionParser::FailFound(const std::string& what) {
    if (lexer_.Peek().kind == LexKind::Error) Fail(lexer_.Peek().text);
    Fail(what + ", instead found '" + lexer_.Peek().text + "'" + InContext());
}

void TExpressionParser::FailUnexpected() {
    if (lexer_.Peek().kind == LexKind::Error) Fail(lexer_.Peek().text);
    Fail("Unknown or unexpected symbol '" + lexer_.Peek().text + "'" + InContext());
}

void TExpressionParser::ExpectKeyword(std::string_view keyword, const std::string& what) {
    if (!lexer_.Peek().IsKeyword(keyword)) FailFound(what);
    Take();
}

void TExpressionParser::ExpectSymbol(char symbol, const std::string& what) {
    if (!lexer_.Peek().IsSymbol(symbol)) FailFound(what);
    Take();
}

// Sets the node's source text and height; refuses trees deeper than the bound
// (long operator chains deepen the tree without deepening the descent).
std::unique_ptr<TExpToken> TExpressionParser::Finish(std::unique_ptr<TExpToken> node, std::size_t start) {
    if (node->kind != ExpKind::Constant && node->kind != ExpKind::Column) node->text = SourceFrom(start);
    node->UpdateHeight();
    if (node->height > kMaxExpressionDepth)
        Fail("Expression nested more than " + std::to_string(kMaxExpressionDepth) + " levels deep" + InContext());
    return node;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseExpression() {
    DepthGuard guard(*this);
    const std::size_t start = lexer_.Peek().start;
    auto left = ParseAndTerm();
    while (lexer_.Peek().IsKeyword("OR")) {
        Take();
        auto right = ParseAndTerm();
        left = Finish(TExpToken::MakeBinary(ExpOp::Or, std::move(left), std::move(right), {}), start);
    }
    return left;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseAndTerm() {
    const std::size_t start = lexer_.Peek().start;
    auto left = ParseNotTerm();
    while (lexer_.Peek().IsKeyword("AND")) {
        Take();
        auto right = ParseNotTerm();
        left = Finish(TExpToken::MakeBinary(ExpOp::And, std::move(left), std::move(right), {}), start);
    }
    return left;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseNotTerm() {
    const std::size_t start = lexer_.Peek().start;
    if (!lexer_.Peek().IsKeyword("NOT")) return ParseComparison();
    Take();
    // A second NOT reaches the primary, which refuses it.
    auto operand = ParseComparison();
    return Finish(TExpToken::MakeUnary(ExpOp::Not, std::move(operand), {}), start);
}

std::unique_ptr<TExpToken> TExpressionParser::ParseComparison() {
    const std::size_t start = lexer_.Peek().start;
    auto left = ParseSum();
    const TLexToken& token = lexer_.Peek();
    ExpOp op = ExpOp::None;
    if (token.IsSymbol('=')) {
        Take();
        op = ExpOp::Eq;
    } else if (token.IsSymbol('<')) {
        Take();
        if (lexer_.Peek().IsSymbol('>')) {
            Take();
            op = ExpOp::Ne;
        } else if (lexer_.Peek().IsSymbol('=')) {
            Take();
            op = ExpOp::Le;
        } else {
            op = ExpOp::Lt;
        }
    } else if (token.IsSymbol('>')) {
        Take();
        if (lexer_.Peek().IsSymbol('=')) {
            Take();
            op = ExpOp::Ge;
        } else {
            op = ExpOp::Gt;
        }
    } else {
        return ParsePredicate(std::move(left), start);
    }
    auto right = ParseSum();
    return Finish(TExpToken::MakeBinary(op, std::move(left), std::move(right), {}), start);
}

std::unique_ptr<TExpToken> TExpressionParser::ParsePredicate(std::unique_ptr<TExpToken> value, std::size_t start) {
    const TLexToken& token = lexer_.Peek();
    bool negated = false;
    if (token.IsKeyword("NOT")) {
        const TLexToken second = lexer_.PeekSecond();
        if (!second.IsKeyword("LIKE") && !second.IsKeyword("BETWEEN") && !second.IsKeyword("IN")) return value;
        negated = true;
    } else if (!token.IsKeyword("LIKE") && !token.IsKeyword("BETWEEN") && !token.IsKeyword("IN") &&
               !token.IsKeyword("IS")) {
        return value;
    }
    if (!switches_.extendedPredicates)
        Fail("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed" + InContext());
    if (negated) Take();

    const TLexToken keyword = Take();
    auto node = std::make_unique<TExpToken>();
    node->kind = ExpKind::Predicate;
    if (keyword.IsKeyword("IS")) {
        bool isNot = false;
        if (lexer_.Peek().IsKeyword("NOT")) {
            Take();
            isNot = true;
        }
        if (!lexer_.Peek().IsKeyword("NULL")) FailUnexpected();
        const TLexToken nullToken = Take();
        auto nullConstant = TExpToken::MakeConstant(TExpValue::Null(), nullToken.text);
        return Finish(TExpToken::MakeBinary(isNot ? ExpOp::Ne : ExpOp::Eq, std::move(value), std::move(nullConstant), {}),
                      start);
    }
    if (keyword.IsKeyword("LIKE")) {
        node->op = negated ? ExpOp::NotLike : ExpOp::Like;
        node->operands.push_back(std::move(value));
        node->operands.push_back(ParseSum());
    } else if (keyword.IsKeyword("BETWEEN")) {
        node->op = negated ? ExpOp::NotBetween : ExpOp::Between;
        node->operands.push_back(std::move(value));
        node->operands.push_back(ParseSum());
        ExpectKeyword("AND", negated ? "Expected AND operator in NOT BETWEEN operator"
                                     : "Expected AND operator in BETWEEN operator");
        node->operands.push_back(ParseSum());
    } else {
        return ParseInList(std::move(value), negated, start);
    }
    return Finish(std::move(node), start);
}

std::unique_ptr<TExpToken> TExpressionParser::ParseInList(std::unique_ptr<TExpToken> value, bool negated,
                                                          std::size_t start) {
    const std::string name = negated ? "NOT IN" : "IN";
    ExpectSymbol('(', "Expected left parentheses for " + name + " operator");
    if (lexer_.Peek().IsKeyword("SELECT")) Fail("Sub-select queries are not allowed" + InContext());
    if (lexer_.Peek().IsSymbol(')'))
        Fail("You must provide at least one value as an operand of the " + name + " operator " + InContext());
    auto node = std::make_unique<TExpToken>();
    node->kind = ExpKind::Predicate;
    node->op = negated ? ExpOp::NotIn : ExpOp::In;
    node->operands.push_back(std::move(value));
    node->operands.push_back(ParseSum());
    while (lexer_.Peek().IsSymbol(',')) {
        Take();
        node->operands.push_back(ParseSum());
    }
    ExpectSymbol(')', "Expected right parentheses after " + name + " operator");
    return Finish(std::move(node), start);
}

std::unique_ptr<TExpToken> TExpressionParser::ParseSum() {
    const std::size_t start = lexer_.Peek().start;
    auto left = ParseProduct();
    for (;;) {
        const TLexToken& token = lexer_.Peek();
        ExpOp op = ExpOp::None;
        if (token.IsSymbol('+')) {
            op = ExpOp::Add;
        } else if (token.IsSymbol('-')) {
            op = ExpOp::Sub;
        } else if (token.IsSymbol('|')) {
            Take();
            if (!lexer_.Peek().IsSymbol('|'))
                FailFound("Second concatenation symbol '|' expected after first concatentation symbol");
            op = ExpOp::Add;
        } else {
            return left;
        }
        Take();
        auto right = ParseProduct();
        left = Finish(TExpToken::MakeBinary(op, std::move(left), std::move(right), {}), start);
    }
}

std::unique_ptr<TExpToken> TExpressionParser::ParseProduct() {
    const std::size_t start = lexer_.Peek().start;
    auto left = ParseSigned();
    for (;;) {
        const TLexToken& token = lexer_.Peek();
        ExpOp op = ExpOp::None;
        if (token.IsSymbol('*')) {
            op = ExpOp::Mul;
        } else if (token.IsSymbol('/')) {
            op = ExpOp::Div;
        } else {
            return left;
        }
        Take();
        auto right = ParseSigned();
        left = Finish(TExpToken::MakeBinary(op, std::move(left), std::move(right), {}), start);
    }
}

std::unique_ptr<TExpToken> TExpressionParser::ParseSigned() {
    const std::size_t start = lexer_.Peek().start;
    const TLexToken& token = lexer_.Peek();
    if (!token.IsSymbol('+') && !token.IsSymbol('-')) return ParsePrimary();
    const ExpOp op = token.IsSymbol('+') ? ExpOp::Plus : ExpOp::Negate;
    Take();
    auto operand = ParsePrimary();
    return Finish(TExpToken::MakeUnary(op, std::move(operand), {}), start);
}

std::unique_ptr<TExpToken> TExpressionParser::ParsePrimary() {
    DepthGuard guard(*this);
    const TLexToken token = lexer_.Peek();
    switch (token.kind) {
        case LexKind::Integer:
        case LexKind::Real:
            Take();
            return ParseNumber(token);
        case LexKind::SingleQuoted:
        case LexKind::DoubleQuoted: {
            if (lexer_.PeekSecond().IsSymbol('.')) return ParseColumn(token);
            Take();
            auto node = TExpToken::MakeConstant(token.text.empty() ? TExpValue::Null() : TExpValue::String(token.text),
                                                token.text);
            node->quotedText = !token.text.empty();
            return node;
        }
        case LexKind::CharConstant:
            Take();
            return ParseCharConstant(token);
        case LexKind::BracketedName:
            return ParseColumn(token);
        case LexKind::Identifier:
            break;
        case LexKind::Symbol:
            if (token.IsSymbol('(')) {
                Take();
                auto inner = ParseExpression();
                ExpectSymbol(')', "Right parentheses expected");
                return inner;
            }
            if (token.IsSymbol('*')) Fail("* (all columns) symbol is not allowed" + InContext());
            if (token.IsSymbol('?')) Fail("Parameters are not allowed" + InContext());
            FailUnexpected();
        case LexKind::End:
        case LexKind::Error:
            FailUnexpected();
    }

    // Identifiers: constants, functions, columns.
    if (token.IsKeyword("TRUE") || token.IsKeyword("FALSE")) {
        Take();
        return TExpToken::MakeConstant(TExpValue::Boolean(token.IsKeyword("TRUE")), token.text);
    }
    if (token.IsKeyword("NULL")) {
        Take();
        return TExpToken::MakeConstant(TExpValue::Null(), token.text);
    }
    if (token.IsKeyword("CURRENT_DATE") || token.IsKeyword("CURRENT_TIME") || token.IsKeyword("CURRENT_TIMESTAMP"))
        return ParseCurrent(token);
    const ExpFunc func = FunctionOf(token);
    if (func != ExpFunc::None) return ParseFunction(func, Upper(token.text), token.start);
    if (lexer_.PeekSecond().IsSymbol('(')) {
        if (IsAggregate(token)) Fail("Aggregate functions are not allowed" + InContext());
        Fail("Unknown or unexpected function '" + token.text + "'" + " found" + InContext());
    }
    if (IsReserved(token)) FailUnexpected();
    return ParseColumn(token);
}

std::unique_ptr<TExpToken> TExpressionParser::ParseNumber(const TLexToken& token) {
    const char* first = token.text.data();
    const char* last = first + token.text.size();
    if (token.kind == LexKind::Integer) {
        std::int64_t value = 0;
        const auto [ptr, ec] = std::from_chars(first, last, value);
        if (ec == std::errc() && ptr == last) {
            const bool fits32 = value >= std::numeric_limits<std::int32_t>::min() &&
                                value <= std::numeric_limits<std::int32_t>::max();
            return TExpToken::MakeConstant(TExpValue::Integer(value, fits32 ? ExpType::Integer : ExpType::LargeInt),
                                           token.text);
        }
    }
    double real = 0.0;
    const auto [ptr, ec] = std::from_chars(first, last, real);
    if (ec != std::errc() || ptr != last)
        Fail("Constant '" + token.text + "'" + " is not a valid number " + InContext());
    return TExpToken::MakeConstant(TExpValue::Real(real), token.text);
}

std::unique_ptr<TExpToken> TExpressionParser::ParseCharConstant(const TLexToken& token) {
    unsigned code = 0;
    const char* first = token.text.data();
    const char* last = first + token.text.size();
    const auto [ptr, ec] = std::from_chars(first, last, code);
    if (ec != std::errc() || ptr != last || code > 255)
        Fail(std::string("Character constants (#) must be within the range of ") + "0" + " to " + "255" + InContext());
    auto node = TExpToken::MakeConstant(TExpValue::String(EncodeCharacter(code)), token.text);
    return node;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseColumn(const TLexToken& first) {
    Take();
    auto node = std::make_unique<TExpToken>();
    node->kind = ExpKind::Column;
    if (lexer_.Peek().IsSymbol('.')) {
        Take();
        const TLexToken& name = lexer_.Peek();
        if (name.IsSymbol('*')) Fail("* (all columns) symbol is not allowed" + InContext());
        if (!IsColumnName(name)) FailUnexpected();
        node->correlation = first.text;
        node->columnName = Take().text;
    } else {
        node->columnName = first.text;
    }
    node->text = node->columnName;
    return node;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseCurrent(const TLexToken& token) {
    Take();
    const std::string name = Upper(token.text);
    if (lexer_.Peek().IsSymbol('(')) {
        Take();
        ExpectSymbol(')', "Right parentheses expected after " + name + " function argument");
    }
    const LocalMoment now = CurrentLocalMoment();
    TExpValue value;
    if (name == "CURRENT_DATE") {
        value = TExpValue::Date(now.dayNumber);
    } else if (name == "CURRENT_TIME") {
        value = TExpValue::Time(now.milliseconds);
    } else {
        value = TExpValue::Timestamp(static_cast<double>(now.dayNumber) * kMillisecondsPerDay + now.milliseconds);
    }
    return TExpToken::MakeConstant(value, token.text);
}

void TExpressionParser::ParseCastType(TExpToken& node) {
    const TLexToken& token = lexer_.Peek();
    const CastName* found = nullptr;
    for (const auto& c : kCastTypes)
        if (token.IsKeyword(c.name)) found = &c;
    if (found == nullptr) FailUnexpected();
    Take();
    node.value = TExpValue::Null(found->type);
    node.value.blobKind = found->blobKind;
    if (!lexer_.Peek().IsSymbol('(')) return;
    Take();
    auto readNumber = [this]() -> unsigned {
        const TLexToken& n = lexer_.Peek();
        unsigned value = 0;
        const char* first = n.text.data();
        const auto [ptr, ec] = std::from_chars(first, first + n.text.size(), value);
        if (n.kind != LexKind::Integer || ec != std::errc() || ptr != first + n.text.size() || value > 65535)
            FailUnexpected();
        Take();
        return value;
    };
    node.size = static_cast<std::uint16_t>(readNumber());
    if (lexer_.Peek().IsSymbol(',')) {
        Take();
        node.scale = static_cast<std::uint8_t>(std::min(readNumber(), 255U));
    }
    ExpectSymbol(')', "Right parentheses expected after CAST function argument");
}

std::unique_ptr<TExpToken> TExpressionParser::ParseFunction(ExpFunc func, const std::string& name, std::size_t start) {
    Take();
    ExpectSymbol('(', "Left parentheses expected after " + name + " keyword");
    auto node = std::make_unique<TExpToken>();
    node->kind = ExpKind::Function;
    node->func = func;
    auto& args = node->operands;
    const std::string thenWhat = "THEN keyword or comma expected after first " + name + " function argument";
    const std::string elseWhat = "ELSE keyword or comma expected after second " + name + " function argument";

    switch (func) {
        case ExpFunc::Upper:
        case ExpFunc::Lower:
        case ExpFunc::Length:
        case ExpFunc::Abs:
            args.push_back(ParseExpression());
            break;
        case ExpFunc::Substring:
            args.push_back(ParseExpression());
            ExpectKeyword("FROM", "FROM keyword expected after first SUBSTRING function argument");
            args.push_back(ParseExpression());
            if (lexer_.Peek().IsKeyword("FOR")) {
                Take();
                args.push_back(ParseExpression());
            }
            break;
        case ExpFunc::Replace:
            args.push_back(ParseSum());
            ExpectKeyword("WITH", "WITH keyword expected after first REPLACE function argument");
            args.push_back(ParseSum());
            ExpectKeyword("IN", "IN keyword expected after second REPLACE function argument");
            args.push_back(ParseExpression());
            break;
        case ExpFunc::Pos:
        case ExpFunc::Occurs:
        case ExpFunc::TextSearch:
        case ExpFunc::TextOccurs:
            args.push_back(ParseSum());
            ExpectKeyword("IN", "IN keyword expected after first " + name + " function argument");
            args.push_back(ParseExpression());
            break;
        case ExpFunc::Trim: {
            const TLexToken& side = lexer_.Peek();
            if (side.IsKeyword("LEADING")) {
                node->trimSide = TrimSide::Leading;
            } else if (side.IsKeyword("TRAILING")) {
                node->trimSide = TrimSide::Trailing;
            } else if (side.IsKeyword("BOTH")) {
                node->trimSide = TrimSide::Both;
            } else {
                FailFound("LEADING, TRAILING, or BOTH keyword expected after TRIM keyword");
            }
            Take();
            args.push_back(ParseSum());
            ExpectKeyword("FROM", "FROM keyword expected after second TRIM function argument");
            args.push_back(ParseExpression());
            break;
        }
        case ExpFunc::Extract: {
            const PartName* found = nullptr;
            for (const auto& p : kExtractParts)
                if (lexer_.Peek().IsKeyword(p.name)) found = &p;
            if (found == nullptr) {
                FailFound("YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword expected "
                          "after EXTRACT keyword");
            }
            node->extractPart = found->part;
            Take();
            ExpectKeyword("FROM", "FROM keyword expected after EXTRACT part");
            args.push_back(ParseExpression());
            break;
        }
        case ExpFunc::Cast:
            args.push_back(ParseExpression());
            ExpectKeyword("AS", "AS keyword expected after first CAST function argument");
            ParseCastType(*node);
            break;
        case ExpFunc::Round:
            args.push_back(ParseExpression());
            if (lexer_.Peek().IsKeyword("TO")) {
                Take();
                args.push_back(ParseExpression());
            }
            break;
        case ExpFunc::If:
        case ExpFunc::IfNull:
            args.push_back(ParseExpression());
            if (!lexer_.Peek().IsKeyword("THEN") && !lexer_.Peek().IsSymbol(',')) FailFound(thenWhat);
            Take();
            args.push_back(ParseExpression());
            if (!lexer_.Peek().IsKeyword("ELSE") && !lexer_.Peek().IsSymbol(',')) FailFound(elseWhat);
            Take();
            args.push_back(ParseExpression());
            break;
        case ExpFunc::Coalesce:
            if (lexer_.Peek().IsSymbol(')'))
                Fail("You must provide at least one value as an argument of the COALESCE operator " + InContext());
            args.push_back(ParseExpression());
            while (lexer_.Peek().IsSymbol(',')) {
                Take();
                args.push_back(ParseExpression());
            }
            break;
        case ExpFunc::LastAutoInc:
        case ExpFunc::IdentCurrent: {
            // The table name argument only matters to queries; a filter gives 0.
            const TLexToken& table = lexer_.Peek();
            if (!IsColumnName(table) && !table.IsQuoted()) FailUnexpected();
            args.push_back(TExpToken::MakeConstant(TExpValue::String(table.text), table.text));
            Take();
            break;
        }
        case ExpFunc::None:
            FailUnexpected();
    }
    ExpectSymbol(')', "Right parentheses expected after " + name + " function argument");
    return Finish(std::move(node), start);
}

std::unique_ptr<TExpToken> ParseFilterExpression(std::string_view text, const std::string& table) {
    TExpressionParser parser(text, table);
    return parser.Parse();
}

}  // namespace pixhold::engine
