#pragma once

#include <string>
#include <string_view>

namespace pixhold::tools {

// A JSON string literal of a text: quotes, backslashes and control characters
// escaped; bytes that are not valid UTF-8 become U+FFFD so that the output
// stays valid JSON whatever a damaged record holds.
std::string JsonString(std::string_view text);

}  // namespace pixhold::tools
