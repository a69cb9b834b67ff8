#pragma once

#include <stdexcept>
#include <string>

namespace pixhold::tools {

// A failure the tool reports in its own words (bad arguments, unreadable
// files, values that do not fit a field). Engine failures stay
// ECofferEngineError and are reported with their code.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Wrong use of the command line: reported with a hint to the usage text.
class UsageError : public ToolError {
public:
    using ToolError::ToolError;
};

}  // namespace pixhold::tools
