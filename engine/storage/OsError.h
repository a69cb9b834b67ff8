#pragma once

#include <cstdint>

namespace pixhold::engine {

// The engine error code for an operating-system error number (errno).
// Unknown numbers give 11047.
std::uint16_t MapOsError(int osError);

// MapOsError of the current errno, negated, as the file layer returns it.
int NegatedOsError();

}  // namespace pixhold::engine
