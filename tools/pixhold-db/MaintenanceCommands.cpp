#include <iostream>

#include "Commands.h"
#include "OpenTable.h"
#include "TableMaintenance.h"
#include "ToolError.h"

namespace pixhold::tools {

using namespace engine;

namespace {

// The table's maintenance with the engine's log going to `out`, one message
// a line, as it is written.
class Maintenance {
public:
    Maintenance(const CommandLine& line, std::ostream& out) : folder_(line.folder), table_(folder_.Directory(), line.table) {
        if (const auto password = line.Value("password")) folder_.Session().AddPassword(*password);
        table_.Events.OnLog = [&out](const std::string& message) { out << message << '\n' << std::flush; };
    }
    TTableMaintenance& Table() { return table_; }

private:
    FolderSession folder_;
    TTableMaintenance table_;
};

}  // namespace

int RunVerify(const CommandLine& line, std::ostream& out) {
    Maintenance maintenance(line, out);
    if (maintenance.Table().VerifyTable()) {
        out << "verify: no damage found\n";
        return 0;
    }
    throw ToolError("verify: the table " + line.folder + line.table +
                    " is damaged (see the log above); pixhold-db repair mends it");
}

int RunRepair(const CommandLine& line, std::ostream& out) {
    Maintenance maintenance(line, out);
    const bool valid = maintenance.Table().RepairTable();
    out << (valid ? "repair: nothing was wrong\n" : "repair: the damage found was mended\n");
    return 0;
}

int RunOptimize(const CommandLine& line, std::ostream& out) {
    Maintenance maintenance(line, out);
    maintenance.Table().OptimizeTable(line.Value("index").value_or(""));
    out << "optimize: " << line.folder << line.table
        << " rewritten; the replaced files are kept as backups (.DBK, .IBK, .BBK)\n";
    return 0;
}

int RunUpgrade(const CommandLine& line, std::ostream& out) {
    Maintenance maintenance(line, out);
    maintenance.Table().UpgradeTable();
    return 0;
}

}  // namespace pixhold::tools
