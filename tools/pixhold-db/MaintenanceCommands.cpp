#include "Commands.h"
#include "ToolError.h"

namespace pixhold::tools {

namespace {
[[noreturn]] void NotYet(const CommandLine& line) {
    throw ToolError(line.command + ": table maintenance is not available in this engine build yet");
}
}  // namespace

int RunVerify(const CommandLine& line, std::ostream&) { NotYet(line); }
int RunRepair(const CommandLine& line, std::ostream&) { NotYet(line); }
int RunOptimize(const CommandLine& line, std::ostream&) { NotYet(line); }
int RunUpgrade(const CommandLine& line, std::ostream&) { NotYet(line); }

}  // namespace pixhold::tools
