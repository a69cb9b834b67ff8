#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pixhold::tools {

// Commands on picture files rather than tables. `args` holds the words after
// the command's name. They return the exit code; failures are raised.
int RunConvert(const std::vector<std::string>& args, std::ostream& out);
int RunThumb(const std::vector<std::string>& args, std::ostream& out);

}  // namespace pixhold::tools
