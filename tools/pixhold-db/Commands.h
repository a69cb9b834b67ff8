#pragma once

#include <ostream>

#include "CommandLine.h"

namespace pixhold::tools {

// Each command writes its result to `out` and returns the process exit code
// (0 success). Failures are raised: ToolError, UsageError or the engine's
// ECofferEngineError.
int RunCreate(const CommandLine& line, std::ostream& out);
int RunInfo(const CommandLine& line, std::ostream& out);
int RunDump(const CommandLine& line, std::ostream& out);
int RunInsert(const CommandLine& line, std::ostream& out);
int RunUpdate(const CommandLine& line, std::ostream& out);
int RunDelete(const CommandLine& line, std::ostream& out);
int RunVerify(const CommandLine& line, std::ostream& out);
int RunRepair(const CommandLine& line, std::ostream& out);
int RunOptimize(const CommandLine& line, std::ostream& out);
int RunUpgrade(const CommandLine& line, std::ostream& out);

}  // namespace pixhold::tools
