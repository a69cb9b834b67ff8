// pixhold-db: looks into and changes the tables of the Pixhold table engine
// from the command line. See README.md ("The table utility").
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "EngineError.h"
#include "ImageCommands.h"
#include "PictureCommands.h"
#include "SqlCommand.h"
#include "ToolError.h"

using namespace pixhold::tools;

namespace {

constexpr const char* kUsage =
    "usage: pixhold-db COMMAND FOLDER/TABLE [options]\n"
    "  create FOLDER/TABLE --field NAME:TYPE[:SIZE][:required] ... [--primary FIELD;FIELD]\n"
    "         [--index NAME:FIELD;FIELD[:unique][:descending][:nocase][:compression=N]] ...\n"
    "         [--password P] [--block-size N] [--locale N]\n"
    "         types: string (SIZE 1-250), smallint, integer, word, boolean, float, date, time,\n"
    "                datetime, largeint, autoinc, blob, memo, graphic\n"
    "  info   FOLDER/TABLE\n"
    "  insert FOLDER/TABLE FIELD=VALUE ... (FIELD=@file loads a BLOB from a file)\n"
    "  update FOLDER/TABLE --key VALUE[;VALUE] FIELD=VALUE ...\n"
    "  delete FOLDER/TABLE --key VALUE[;VALUE]\n"
    "  dump   FOLDER/TABLE [--index NAME] [--filter EXPR]\n"
    "  sql    FOLDER \"SELECT [DISTINCT] COLUMNS|* FROM TABLE [WHERE EXPR] [ORDER BY COLUMNS [ASC|DESC]]\"\n"
    "  verify|repair|upgrade FOLDER/TABLE\n"
    "  optimize FOLDER/TABLE [--index NAME]\n"
    "every command takes --password P for encrypted tables\n"
    "  convert IN OUT   writes the picture file IN as OUT, in the kind OUT's extension names\n"
    "  thumb IN OUT.jpg writes the 71 x 71 thumbnail of IN as an import stores it\n"
    "  import FOLDER/TABLE PATH... [--category C] [--recurse] [--folders-as-categories]\n"
    "         [--on-duplicate number|replace|skip] [--delete-after]   stores picture files and folder trees\n"
    "  export FOLDER/TABLE DEST [--category C] [--thumbs]   writes the pictures (or thumbnails) to DEST\n";

struct Command {
    int (*run)(const CommandLine&, std::ostream&);
    CommandShape shape;
};

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"create", {RunCreate, {{"field", "index", "primary", "password", "block-size", "locale"}, false}}},
        {"info", {RunInfo, {{"password"}, false}}},
        {"dump", {RunDump, {{"password", "index", "filter"}, false}}},
        {"insert", {RunInsert, {{"password"}, true}}},
        {"update", {RunUpdate, {{"password", "key"}, true}}},
        {"delete", {RunDelete, {{"password", "key"}, false}}},
        {"verify", {RunVerify, {{"password"}, false}}},
        {"repair", {RunRepair, {{"password"}, false}}},
        {"optimize", {RunOptimize, {{"password", "index"}, false}}},
        {"upgrade", {RunUpgrade, {{"password"}, false}}},
    };
    return commands;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? std::cerr : std::cout) << kUsage;
        return args.empty() ? 2 : 0;
    }
    const auto command = Commands().find(args[0]);
    try {
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] == "convert") return RunConvert(rest, std::cout);
        if (args[0] == "thumb") return RunThumb(rest, std::cout);
        if (args[0] == "sql") return RunSql(rest, std::cout);
        if (args[0] == "import") return RunImport(rest, std::cout);
        if (args[0] == "export") return RunExport(rest, std::cout);
        if (command == Commands().end()) throw UsageError("unknown command '" + args[0] + "'");
        const CommandLine line = ParseCommandLine(args, command->second.shape);
        return command->second.run(line, std::cout);
    } catch (const UsageError& e) {
        std::cerr << "pixhold-db: " << e.what() << "\n(pixhold-db --help lists the commands)\n";
        return 2;
    } catch (const pixhold::engine::ECofferEngineError& e) {
        std::cerr << "pixhold-db: " << e.what() << '\n';
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "pixhold-db: " << e.what() << '\n';
        return 1;
    }
}
