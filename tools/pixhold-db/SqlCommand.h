#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pixhold::tools {

// sql FOLDER "SELECT ..." [--password P]: runs the statement on the tables of
// the folder and prints one JSON object per result row, as dump does.
int RunSql(const std::vector<std::string>& args, std::ostream& out);

}  // namespace pixhold::tools
