#include <filesystem>

#include "Commands.h"
#include "DataTable.h"
#include "EngineError.h"
#include "OpenTable.h"
#include "DefinitionText.h"
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
    // An existing table is never overwritten.
    if (folder.Directory().TableExists(line.table, false))
        throw engine::ECofferEngineError(engine::err::TableExists, {.database = line.folder, .table = line.table});
    engine::TDataTable* table = nullptr;
    const int result = folder.Directory().CreateTable(line.table, false, definition, table);
    if (result < 0)
        throw engine::ECofferEngineError(static_cast<std::uint16_t>(-result),
                                         {.database = line.folder, .table = line.table});
    folder.Directory().CloseTable(table);
    out << "created " << line.folder << line.table << " (" << definition.fields.size() << " fields, "
        << definition.indexes.size() - (definition.indexes.front().fieldCount == 0 ? 1 : 0) << " indexes)\n";
    return 0;
}

}  // namespace pixhold::tools
