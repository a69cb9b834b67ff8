#pragma once

#include "Mutator.h"

#include <string>
#include <vector>

namespace pixhold::fuzz {

// Well-formed small inputs for a target, made in code.
std::vector<TInput> GeneratedSeeds(const std::string& target);

}  // namespace pixhold::fuzz
