#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pixhold::engine {

// The engine's text helpers, each written once: blanks trimmed, UTF-8 cut to
// a byte limit without splitting a character, and names compared without
// regard to letter case.

// The text without the characters of `blanks` around it (by default spaces).
std::string TrimBlanks(std::string_view text, std::string_view blanks = " ");

// How many bytes of `text` remain when it is cut to at most `limit` bytes
// without splitting a UTF-8 character: a character the cut would split is
// dropped whole. Text that is not UTF-8 there (more than three continuation
// bytes in a row) is cut at the limit.
[[nodiscard]] std::size_t Utf8CutLength(std::string_view text, std::size_t limit);
// The text cut so (the whole text when it fits).
std::string CutUtf8(std::string text, std::size_t limit);

// Names compared without regard to letter case, the one way every layer of
// the engine does it: full Unicode case folding of UTF-8 text ("Äpfel" and
// "äpfel", "Straße" and "STRASSE" are the same name).

// The text case-folded (UTF-8 in, UTF-8 out).
std::string FoldCase(const std::string& text);
// Whether the two texts are the same once case-folded.
[[nodiscard]] bool SameFolded(const std::string& a, const std::string& b);
// As SameFolded, both names trimmed of surrounding blanks first (field,
// index, session and database names).
[[nodiscard]] bool SameTrimmedName(const std::string& a, const std::string& b);

}  // namespace pixhold::engine
