#include "CommandLine.h"

#include <algorithm>
#include <tuple>

#include "ToolError.h"

namespace pixhold::tools {

std::vector<std::string> CommandLine::Values(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : options)
        if (key == name) values.push_back(value);
    return values;
}

std::optional<std::string> CommandLine::Value(const std::string& name) const {
    const std::vector<std::string> values = Values(name);
    if (values.size() > 1) throw UsageError("--" + name + " is given more than once");
    if (values.empty()) return std::nullopt;
    return values.front();
}

std::pair<std::string, std::string> SplitTablePath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    std::string table = slash == std::string::npos ? path : path.substr(slash + 1);
    if (table.empty()) throw UsageError("'" + path + "' names no table (expected FOLDER/TABLE)");
    return {folder, table};
}

CommandLine ParseCommandLine(const std::vector<std::string>& args, const CommandShape& shape) {
    CommandLine line;
    if (args.empty()) throw UsageError("no command given");
    line.command = args[0];
    if (args.size() < 2 || args[1].rfind("--", 0) == 0)
        throw UsageError(line.command + ": FOLDER/TABLE is missing");
    std::tie(line.folder, line.table) = SplitTablePath(args[1]);
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) == 0) {
            const std::string name = arg.substr(2);
            if (std::find(shape.options.begin(), shape.options.end(), name) == shape.options.end())
                throw UsageError(line.command + ": unknown option '" + arg + "'");
            if (i + 1 >= args.size()) throw UsageError(line.command + ": " + arg + " needs a value");
            line.options.emplace_back(name, args[++i]);
            continue;
        }
        const std::size_t equals = arg.find('=');
        if (!shape.assignments || equals == std::string::npos || equals == 0)
            throw UsageError(line.command + ": unexpected argument '" + arg + "'");
        line.assignments.emplace_back(arg.substr(0, equals), arg.substr(equals + 1));
    }
    return line;
}

}  // namespace pixhold::tools
