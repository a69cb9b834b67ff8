#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pixhold::tools {

// One command line of the tool: the command, the table it works on, its
// "--name value" options and its "FIELD=VALUE" assignments, in the order given.
struct CommandLine {
    std::string command;
    std::string folder;  // the table's folder, with a trailing separator
    std::string table;   // the table name
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::pair<std::string, std::string>> assignments;

    // Every value of an option that may repeat (--field, --index).
    std::vector<std::string> Values(const std::string& name) const;
    // The value of an option given at most once (UsageError when repeated).
    std::optional<std::string> Value(const std::string& name) const;
};

// What a command accepts.
struct CommandShape {
    std::vector<std::string> options;  // names without the leading "--"
    bool assignments = false;
};

// Splits argv (without the program name). The first argument is the command,
// the second FOLDER/TABLE. Raises UsageError for an unknown option, a missing
// option value, an assignment the command does not take or a missing table.
CommandLine ParseCommandLine(const std::vector<std::string>& args, const CommandShape& shape);

// Splits "FOLDER/TABLE": a table without a folder is in the current folder.
std::pair<std::string, std::string> SplitTablePath(const std::string& path);

}  // namespace pixhold::tools
