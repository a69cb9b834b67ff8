#include "Commands.h"
#include "ToolError.h"

namespace pixhold::tools {

namespace {
[[noreturn]] void NotYet(const CommandLine& line) {
    throw ToolError(line.command + ": record editing is not available in this engine build yet");
}
}  // namespace

int RunInsert(const CommandLine& line, std::ostream&) { NotYet(line); }
int RunUpdate(const CommandLine& line, std::ostream&) { NotYet(line); }
int RunDelete(const CommandLine& line, std::ostream&) { NotYet(line); }

}  // namespace pixhold::tools
