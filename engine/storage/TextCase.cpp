#include "TextCase.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace pixhold::engine {

std::string TrimBlanks(std::string_view text, std::string_view blanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

std::size_t Utf8CutLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    auto continuation = [&](std::size_t at) { return (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80; };
    // The byte after the cut starts a character: nothing is split. Otherwise
    // back to the start of the character it continues, at most three bytes.
    std::size_t end = limit;
    for (int steps = 0; steps < 3 && end > 0 && continuation(end); ++steps) --end;
    return continuation(end) ? limit : end;
}

std::string CutUtf8(std::string text, std::size_t limit) {
    text.resize(Utf8CutLength(text, limit));
    return text;
}

std::string FoldCase(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).foldCase().toUTF8String(out);
    return out;
}

bool SameFolded(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b), U_FOLD_CASE_DEFAULT) == 0;
}

bool SameTrimmedName(const std::string& a, const std::string& b) { return SameFolded(TrimBlanks(a), TrimBlanks(b)); }

}  // namespace pixhold::engine
