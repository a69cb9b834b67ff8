#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pixhold::imaging {

// The bytes of an encoded picture, read-only; codecs never keep the span.
using TBytes = std::span<const std::uint8_t>;
using TByteVector = std::vector<std::uint8_t>;

}  // namespace pixhold::imaging
