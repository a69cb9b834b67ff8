#pragma once

namespace pixhold::imaging {

// The side of every thumbnail, in the main list and in the tables.
inline constexpr int ThumbSize = 71;

}  // namespace pixhold::imaging
