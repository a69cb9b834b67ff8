#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pixhold::engine {

enum class LexKind : std::uint8_t {
    Identifier,
    BracketedName,
    SingleQuoted,
    DoubleQuoted,
    CharConstant,
    Integer,
    Real,
    Symbol,
    End,
    // A malformed token (unterminated string, name or comment): its text is
    // the message, raised only when the parser needs the token.
    Error,
};

struct TLexToken {
    LexKind kind = LexKind::End;
    // As the token table gives it: the name, the string without its quotes
    // (doubled quotes made single), the digits, the number, the symbol.
    std::string text;
    std::size_t start = 0;  // offset of the token's first character
    std::size_t end = 0;    // offset just after it

    bool IsSymbol(char c) const { return kind == LexKind::Symbol && text.size() == 1 && text[0] == c; }
    // An identifier equal to the keyword without regard to letter case.
    bool IsKeyword(std::string_view keyword) const;
    bool IsQuoted() const { return kind == LexKind::SingleQuoted || kind == LexKind::DoubleQuoted; }
};

// Splits a filter text into tokens on demand. A malformed token becomes an
// Error token, so a defect after a complete expression goes unnoticed.
class TExpressionLexer {
public:
    TExpressionLexer(std::string_view text, std::string table);

    // The token at the current position, without consuming it.
    const TLexToken& Peek();
    // The token after the current one (for two-token decisions such as
    // NOT LIKE and a string followed by ".").
    TLexToken PeekSecond();
    TLexToken Next();

    std::string_view Source() const { return text_; }
    const std::string& Table() const { return table_; }

private:
    TLexToken Scan(std::size_t& pos) const;
    // False when a comment is not closed.
    bool SkipBlanks(std::size_t& pos) const;
    TLexToken ScanQuoted(std::size_t& pos, char quote) const;
    TLexToken ScanNumber(std::size_t& pos) const;
    char At(std::size_t pos) const { return pos < text_.size() ? text_[pos] : '\0'; }

    std::string_view text_;
    std::string table_;
    std::size_t pos_ = 0;
    bool peeked_ = false;
    TLexToken current_;
    std::size_t afterCurrent_ = 0;
};

}  // namespace pixhold::engine
