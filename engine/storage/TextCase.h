#pragma once

#include <string>

namespace pixhold::engine {

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
