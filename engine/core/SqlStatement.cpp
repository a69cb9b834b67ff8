#include "SqlStatement.h"

#include "EngineError.h"
#include "ExpressionLexer.h"

namespace pixhold::engine {

namespace {

constexpr std::size_t kNearLength = 30;

bool IsReserved(const TLexToken& token) {
    for (const char* word : {"SELECT", "DISTINCT", "FROM", "WHERE", "ORDER", "BY", "ASC", "DESC"}) {
        if (token.IsKeyword(word)) return true;
    }
    return false;
}

// Recursive descent over the filter expression lexer's tokens (the same
// quotes, brackets and comments as conditions).
class TSqlParser {
public:
    explicit TSqlParser(std::string_view text) : text_(text), lexer_(text, {}) {}

    TSqlSelect Parse() {
        TSqlSelect statement;
        Expect("SELECT");
        if (Peek().IsKeyword("DISTINCT")) {
            lexer_.Next();
            statement.distinct = true;
        }
        ParseColumns(statement);
        Expect("FROM");
        statement.table = ParseTableName();
        if (Peek().IsKeyword("WHERE")) {
            lexer_.Next();
            ParseCondition(statement);
        }
        if (Peek().IsKeyword("ORDER")) {
            lexer_.Next();
            Expect("BY");
            ParseOrder(statement);
        }
        if (Peek().IsSymbol(';')) lexer_.Next();
        if (Peek().kind != LexKind::End) SyntaxError(Peek());
        return statement;
    }

private:
    const TLexToken& Peek() {
        const TLexToken& token = lexer_.Peek();
        if (token.kind == LexKind::Error) RaiseSqlError(token.text);
        return token;
    }

    [[noreturn]] void SyntaxError(const TLexToken& token) {
        if (token.kind == LexKind::End) RaiseSqlError("unexpected end of statement");
        std::string near(text_.substr(token.start, kNearLength));
        if (token.start + kNearLength < text_.size()) near += "...";
        RaiseSqlError("syntax error near '" + near + "'");
    }

    void Expect(const char* keyword) {
        if (!Peek().IsKeyword(keyword)) {
            if (Peek().kind == LexKind::End) RaiseSqlError(std::string("missing ") + keyword);
            SyntaxError(Peek());
        }
        lexer_.Next();
    }

    // A column: a name, or a name in double quotes or brackets.
    std::string ParseColumnName() {
        const TLexToken& token = Peek();
        const bool plain = token.kind == LexKind::Identifier && !IsReserved(token);
        if (!plain && token.kind != LexKind::BracketedName && token.kind != LexKind::DoubleQuoted) SyntaxError(token);
        std::string name = lexer_.Next().text;
        if (name.empty()) RaiseSqlError("empty column name");
        return name;
    }

    void ParseColumns(TSqlSelect& statement) {
        if (Peek().IsSymbol('*')) {
            lexer_.Next();
            statement.allColumns = true;
            return;
        }
        for (;;) {
            statement.columns.push_back(ParseColumnName());
            if (!Peek().IsSymbol(',')) return;
            lexer_.Next();
        }
    }

    // A table name is written as it is: the characters up to the next blank
    // (so a name with a blank ends at the blank), or a name in double quotes
    // or brackets.
    std::string ParseTableName() {
        const TLexToken& first = Peek();
        if (first.kind == LexKind::BracketedName || first.kind == LexKind::DoubleQuoted) {
            std::string name = lexer_.Next().text;
            if (name.empty()) RaiseSqlError("empty table name");
            return name;
        }
        if (first.kind == LexKind::End) RaiseSqlError("missing table name");
        if (first.kind == LexKind::SingleQuoted || first.IsSymbol(';') || first.IsSymbol(',') || IsReserved(first)) {
            SyntaxError(first);
        }
        const std::size_t start = first.start;
        std::size_t end = lexer_.Next().end;
        for (;;) {
            const TLexToken& next = Peek();
            if (next.kind == LexKind::End || next.start != end || next.IsQuoted() || next.IsSymbol(';') ||
                next.IsSymbol(',') || next.IsSymbol('(') || next.IsSymbol(')')) {
                break;
            }
            end = lexer_.Next().end;
        }
        return std::string(text_.substr(start, end - start));
    }

    // The condition runs to an ORDER BY outside parentheses, a closing
    // semicolon or the end.
    void ParseCondition(TSqlSelect& statement) {
        const std::size_t start = Peek().start;
        std::size_t end = start;
        int depth = 0;
        for (;;) {
            const TLexToken& token = Peek();
            if (token.kind == LexKind::End) break;
            if (depth == 0 && token.IsKeyword("ORDER") && lexer_.PeekSecond().IsKeyword("BY")) break;
            if (depth == 0 && token.IsSymbol(';')) break;
            if (token.IsSymbol('(')) ++depth;
            if (token.IsSymbol(')')) --depth;
            end = token.end;
            lexer_.Next();
        }
        statement.condition = std::string(text_.substr(start, end - start));
        if (statement.condition.empty()) RaiseSqlError("missing condition after WHERE");
        statement.conditionParams = SqlParameterPlaces(statement.condition);
    }

    void ParseOrder(TSqlSelect& statement) {
        for (;;) {
            TSqlOrderItem item;
            item.column = ParseColumnName();
            if (Peek().IsKeyword("ASC")) {
                lexer_.Next();
            } else if (Peek().IsKeyword("DESC")) {
                lexer_.Next();
                item.descending = true;
            }
            statement.orderBy.push_back(std::move(item));
            if (!Peek().IsSymbol(',')) return;
            lexer_.Next();
        }
    }

    std::string_view text_;
    TExpressionLexer lexer_;
};

}  // namespace

void RaiseSqlError(const std::string& detail) { RaiseEngineError(err::SqlError, ErrorContext{.text = detail}); }

TSqlSelect ParseSqlSelect(std::string_view text) { return TSqlParser(text).Parse(); }

std::vector<TSqlParamPlace> SqlParameterPlaces(std::string_view text) {
    std::vector<TSqlParamPlace> places;
    TExpressionLexer lexer(text, {});
    for (;;) {
        const TLexToken token = lexer.Next();
        // An unterminated quote or comment hides the rest of the text.
        if (token.kind == LexKind::End || token.kind == LexKind::Error) return places;
        if (!token.IsSymbol(':')) continue;
        const TLexToken& name = lexer.Peek();
        if (name.kind != LexKind::Identifier || name.start != token.end) continue;
        places.push_back({name.text, token.start, name.end});
        lexer.Next();
    }
}

std::vector<std::string> ScanSqlParameters(std::string_view text) {
    std::vector<std::string> names;
    for (const TSqlParamPlace& place : SqlParameterPlaces(text)) {
        bool seen = false;
        for (const std::string& name : names) {
            if (name.size() != place.name.size()) continue;
            bool same = true;
            for (std::size_t i = 0; i < name.size() && same; ++i) {
                same = std::tolower(static_cast<unsigned char>(name[i])) ==
                       std::tolower(static_cast<unsigned char>(place.name[i]));
            }
            seen = seen || same;
        }
        if (!seen) names.push_back(place.name);
    }
    return names;
}

}  // namespace pixhold::engine
