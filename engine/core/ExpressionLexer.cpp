#include "ExpressionLexer.h"

#include <cctype>

#include "ExpToken.h"

namespace pixhold::engine {
namespace {

bool IsNameStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || (u >= 128 && u <= 254);
}

bool IsNamePart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return IsNameStart(c) || (u >= '0' && u <= '9') || u == '!' || u == '$' || u == '@';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string InContext() { return std::string(" in ") + kFilterContext; }

}  // namespace

bool TLexToken::IsKeyword(std::string_view keyword) const {
    if (kind != LexKind::Identifier || text.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(keyword[i])))
            return false;
    }
    return true;
}

TExpressionLexer::TExpressionLexer(std::string_view text, std::string table)
    : text_(text), table_(std::move(table)) {}

const TLexToken& TExpressionLexer::Peek() {
    if (!peeked_) {
        std::size_t pos = pos_;
        current_ = Scan(pos);
        afterCurrent_ = pos;
        peeked_ = true;
    }
    return current_;
}

TLexToken TExpressionLexer::PeekSecond() {
    Peek();
    std::size_t pos = afterCurrent_;
    return Scan(pos);
}

TLexToken TExpressionLexer::Next() {
    Peek();
    peeked_ = false;
    pos_ = afterCurrent_;
    return current_;
}

bool TExpressionLexer::SkipBlanks(std::size_t& pos) const {
    for (;;) {
        const auto c = static_cast<unsigned char>(At(pos));
        if (pos < text_.size() && c >= 1 && c <= 32) {
            ++pos;
        } else if (At(pos) == '/' && At(pos + 1) == '*') {
            const std::size_t close = text_.find("*/", pos + 2);
            if (close == std::string_view::npos) return false;
            pos = close + 2;
        } else {
            return true;
        }
    }
}

TLexToken TExpressionLexer::Scan(std::size_t& pos) const {
    TLexToken token;
    token.start = pos;
    if (!SkipBlanks(pos)) {
        token.kind = LexKind::Error;
        token.text = "Missing ending comment slash and asterisk" + InContext();
        token.end = text_.size();
        return token;
    }
    token.start = pos;
    // A zero character ends the text as its end would.
    if (pos >= text_.size() || text_[pos] == '\0') {
        token.kind = LexKind::End;
        token.end = pos;
        return token;
    }
    const char c = text_[pos];
    if (IsNameStart(c)) {
        std::size_t end = pos + 1;
        while (end < text_.size() && IsNamePart(text_[end])) ++end;
        token.kind = LexKind::Identifier;
        token.text = std::string(text_.substr(pos, end - pos));
        pos = end;
    } else if (c == '[') {
        const std::size_t close = text_.find(']', pos + 1);
        if (close == std::string_view::npos) {
            token.kind = LexKind::Error;
            token.text = "Missing right bracket after '" + std::string(text_.substr(pos + 1)) + "'" + InContext();
            token.end = text_.size();
            return token;
        }
        token.kind = LexKind::BracketedName;
        token.text = std::string(text_.substr(pos + 1, close - pos - 1));
        pos = close + 1;
    } else if (c == '\'' || c == '"') {
        return ScanQuoted(pos, c);
    } else if (c == '#' && IsDigit(At(pos + 1))) {
        std::size_t end = pos + 1;
        while (IsDigit(At(end))) ++end;
        token.kind = LexKind::CharConstant;
        token.text = std::string(text_.substr(pos + 1, end - pos - 1));
        pos = end;
    } else if (IsDigit(c) || (c == '.' && IsDigit(At(pos + 1)))) {
        return ScanNumber(pos);
    } else {
        token.kind = LexKind::Symbol;
        token.text = std::string(1, c);
        ++pos;
    }
    token.end = pos;
    return token;
}

TLexToken TExpressionLexer::ScanQuoted(std::size_t& pos, char quote) const {
    TLexToken token;
    token.start = pos;
    token.kind = quote == '\'' ? LexKind::SingleQuoted : LexKind::DoubleQuoted;
    std::size_t i = pos + 1;
    for (;;) {
        if (i >= text_.size()) {
            token.text = std::string(quote == '\'' ? "Missing single quote after '" : "Missing double quote after '") +
                         token.text + "'" + InContext();
            token.kind = LexKind::Error;
            token.end = text_.size();
            return token;
        }
        if (text_[i] == quote) {
            if (At(i + 1) == quote) {
                token.text += quote;
                i += 2;
                continue;
            }
            ++i;
            break;
        }
        token.text += text_[i++];
    }
    pos = i;
    token.end = pos;
    return token;
}

// Digits, points and an exponent with its sign are taken as one token; whether
// they form a number is the parser's check, so "1.2.3" is one malformed number.
TLexToken TExpressionLexer::ScanNumber(std::size_t& pos) const {
    TLexToken token;
    token.start = pos;
    token.kind = LexKind::Integer;
    std::size_t i = pos;
    for (;;) {
        const char c = At(i);
        if (IsDigit(c)) {
            ++i;
        } else if (c == '.') {
            token.kind = LexKind::Real;
            ++i;
        } else if (c == 'e' || c == 'E') {
            token.kind = LexKind::Real;
            ++i;
            if (At(i) == '+' || At(i) == '-') ++i;
        } else {
            break;
        }
    }
    token.text = std::string(text_.substr(pos, i - pos));
    pos = i;
    token.end = pos;
    return token;
}

}  // namespace pixhold::engine
