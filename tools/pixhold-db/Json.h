#pragma once

#include <string>
#include <string_view>

namespace pixhold::tools {

// A JSON string literal of a text: quotes, backslashes and control characters
// escaped; bytes that are not valid UTF-8 become U+FFFD so that the output
// stays valid JSON whatever a damaged record holds.
std::string JsonString(std::string_view text);

// A text for a line of plain output: kept as it is where it is valid UTF-8
// without control characters, every other byte written as \xNN (and a
// backslash as \\), so that a damaged name cannot garble the output.
std::string PlainText(std::string_view text);

}  // namespace pixhold::tools
