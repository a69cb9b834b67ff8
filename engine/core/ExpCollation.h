#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "TableLocale.h"

struct UCollator;

namespace pixhold::engine {

// How filter expressions compare and case-map texts: by the table's locale and
// sort, ignoring non-spacing marks, with or without regard to letter case. A
// table whose language identifier is 0 has no locale and compares byte by byte
// (case-insensitive comparisons then compare the upper-cased texts).
class TExpCollation {
public:
    explicit TExpCollation(std::uint32_t tableLocale);
    ~TExpCollation();
    TExpCollation(const TExpCollation&) = delete;
    TExpCollation& operator=(const TExpCollation&) = delete;

    // −1, 0 or 1.
    int Compare(std::string_view a, std::string_view b, bool caseInsensitive) const;
    std::string ToUpper(std::string_view text) const { return locale_.ToUpper(text); }
    std::string ToLower(std::string_view text) const { return locale_.ToLower(text); }
    bool HasLocale() const { return caseSensitive_ != nullptr; }

private:
    TableLocale locale_;
    UCollator* caseSensitive_ = nullptr;
    UCollator* caseInsensitive_ = nullptr;
};

// The characters of a UTF-8 text: each code point's bytes (a stray byte counts
// as one character).
std::size_t Utf8CharLength(std::string_view text, std::size_t at);
std::size_t Utf8CharCount(std::string_view text);
// The first `count` characters of the text.
std::string_view Utf8Prefix(std::string_view text, std::size_t count);

}  // namespace pixhold::engine
