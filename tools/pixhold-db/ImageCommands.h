#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pixhold::tools {

// Commands on image tables with the program's own rules. `args` holds the
// words after the command's name.
int RunImport(const std::vector<std::string>& args, std::ostream& out);
int RunExport(const std::vector<std::string>& args, std::ostream& out);

}  // namespace pixhold::tools
