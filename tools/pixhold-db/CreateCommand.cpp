#include <filesystem>

#include "Commands.h"
#include "DefinitionText.h"
#include "OpenTable.h"
#include "TableMaintenance.h"
#include "ToolError.h"

namespace pixhold::tools {

int RunCreate(const CommandLine& line, std::ostream& out) {
    CreateOptions options;
    options.fields = line.Values("field");
    options.indexes = line.Values("index");
    options.primary = line.Value("primary").value_or("");
    options.password = line.Value("password").value_or("");
    options.blockSize = line.Value("block-size").value_or("");
    options.locale = line.Value("locale").value_or("");
    const engine::TableDefinition definition = BuildTableDefinition(options);

    std::error_code error;
    if (!std::filesystem::is_directory(line.folder, error))
        throw ToolError("create: folder " + line.folder + " does not exist");
    FolderSession folder(line.folder);
    // The definition is checked before any file is made; an existing table
    // is never overwritten (13060).
    engine::TTableMaintenance(folder.Directory(), line.table).CreateTable(definition, false);
    out << "created " << line.folder << line.table << " (" << definition.fields.size() << " fields, "
        << definition.indexes.size() - (definition.indexes.front().fieldCount == 0 ? 1 : 0) << " indexes)\n";
    return 0;
}

}  // namespace pixhold::tools
