#include "ImageCommands.h"

#include "CofferBlobStream.h"
#include "CofferDatabase.h"
#include "CofferSession.h"
#include "CofferTable.h"
#include "CommandLine.h"
#include "ImageFns.h"
#include "ImageTableDefs.h"
#include "ImportRecord.h"
#include "PictureFile.h"
#include "TableFiles.h"
#include "ToolError.h"
#include "fDM.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>

namespace pixhold::tools {

namespace {

constexpr const char* kSession = "PixholdDbImages";
constexpr const char* kDatabase = "PixholdDbFolder";

// A session, a database on the table's folder and a handle on the image table.
class TImageTable {
public:
    TImageTable(const std::string& folder, const std::string& table, const std::optional<std::string>& password,
                bool create)
        : session_(kSession), database_(&session_), handle_() {
        session_.SetSessionName(kSession);
        if (password) session_.AddPassword(*password);
        database_.SetDatabaseName(kDatabase);
        database_.SetSessionName(kSession);
        database_.SetDirectory(folder);
        database_.Open();
        if (create) store::CreateImageTable(kSession, kDatabase, table);
        handle_.SetSessionName(kSession);
        handle_.SetDatabaseName(kDatabase);
        handle_.SetTableName(table);
        handle_.Open();
    }
    engine::TCofferTable& Handle() { return handle_; }

private:
    engine::TCofferSession session_;
    engine::TCofferDatabase database_;
    engine::TCofferTable handle_;
};

// "--name value" and "--flag" options and the other words, in order.
struct TArgs {
    std::vector<std::string> Words;
    std::map<std::string, std::string> Values;
    std::vector<std::string> Flags;

    bool Flag(const std::string& name) const { return std::find(Flags.begin(), Flags.end(), name) != Flags.end(); }
    std::optional<std::string> Value(const std::string& name) const {
        const auto it = Values.find(name);
        return it == Values.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
};

TArgs Parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
            const std::vector<std::string>& flags) {
    TArgs result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            result.Words.push_back(arg);
            continue;
        }
        const std::string name = arg.substr(2);
        if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
            if (i + 1 >= args.size()) throw UsageError("--" + name + " needs a value");
            if (result.Values.count(name)) throw UsageError("--" + name + " given twice");
            result.Values[name] = args[++i];
        } else if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
            result.Flags.push_back(name);
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
    return result;
}

std::string WithSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Imports files and folder trees by the program's rules, one line per file.
class TImportRun {
public:
    TImportRun(engine::TCofferTable& table, const TArgs& args, std::ostream& out)
        : table_(table), out_(out) {
        category_ = args.Value("category").value_or("");
        if (category_ == "All") category_.clear();
        recurse_ = args.Flag("recurse");
        foldersAsCategories_ = args.Flag("folders-as-categories");
        deleteAfter_ = args.Flag("delete-after");
        const std::string duplicate = args.Value("on-duplicate").value_or("number");
        if (duplicate == "number") {
            choice_ = store::TDuplicateChoice::Number;
        } else if (duplicate == "replace") {
            choice_ = store::TDuplicateChoice::Replace;
        } else if (duplicate == "skip") {
            choice_ = store::TDuplicateChoice::Skip;
        } else {
            throw UsageError("--on-duplicate takes number, replace or skip");
        }
    }

    void Path(const std::string& path) {
        if (IsFolder(path)) {
            Folder(WithSeparator(path), category_, true);
        } else {
            File(path, category_);
        }
    }

    int Stored() const { return stored_; }
    int Skipped() const { return skipped_; }
    int Failed() const { return failed_; }

private:
    void Folder(const std::string& folder, const std::string& category, bool top) {
        const std::string chosen = foldersAsCategories_ && !top ? category : category_;
        for (const std::string& name : store::FolderEntries(folder, false)) {
            if (imaging::IsPictureFile(name)) File(folder + name, chosen);
        }
        if (!recurse_) return;
        for (const std::string& name : store::FolderEntries(folder, true)) Folder(folder + name + "/", name, false);
    }

    void File(const std::string& path, const std::string& category) {
        const store::TPreparedFile prepared = store::PrepareImportFile(path);
        if (prepared.Missing) {
            out_ << path << ": no such file\n";
            ++failed_;
            return;
        }
        if (!prepared.Error.empty()) {
            out_ << path << ": " << prepared.Error << '\n';
            ++failed_;
            return;
        }
        const std::string name = store::StoreImportRecord(table_, store::FileNameOf(path), category, prepared,
                                                          [this](const std::string&) { return choice_; });
        if (name.empty()) {
            out_ << path << ": skipped, the table has it already\n";
            ++skipped_;
            return;
        }
        ++stored_;
        out_ << path << ": stored as " << name << (category.empty() ? "" : " in " + store::CutText(category, 10))
             << '\n';
        if (deleteAfter_) {
            table_.FlushBuffers();  // the record is on the disk before the file goes
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0) ::unlink(path.c_str());
        }
    }

    engine::TCofferTable& table_;
    std::ostream& out_;
    std::string category_;
    bool recurse_ = false;
    bool foldersAsCategories_ = false;
    bool deleteAfter_ = false;
    store::TDuplicateChoice choice_ = store::TDuplicateChoice::Number;
    int stored_ = 0;
    int skipped_ = 0;
    int failed_ = 0;
};

}  // namespace

int RunImport(const std::vector<std::string>& args, std::ostream& out) {
    const TArgs parsed = Parse(args, {"category", "on-duplicate", "password"},
                               {"recurse", "folders-as-categories", "delete-after"});
    if (parsed.Words.size() < 2) throw UsageError("import takes FOLDER/TABLE and at least one PATH");
    const auto [folder, table] = SplitTablePath(parsed.Words[0]);
    std::filesystem::create_directories(folder);
    TImageTable image(folder, table, parsed.Value("password"), true);
    TImportRun run(image.Handle(), parsed, out);
    for (std::size_t i = 1; i < parsed.Words.size(); ++i) run.Path(parsed.Words[i]);
    image.Handle().FlushBuffers();
    out << run.Stored() << " stored, " << run.Skipped() << " skipped, " << run.Failed() << " failed\n";
    return run.Failed() > 0 ? 1 : 0;
}

int RunExport(const std::vector<std::string>& args, std::ostream& out) {
    const TArgs parsed = Parse(args, {"category", "password"}, {"thumbs"});
    if (parsed.Words.size() != 2) throw UsageError("export takes FOLDER/TABLE and DEST");
    const auto [folder, table] = SplitTablePath(parsed.Words[0]);
    const std::string dest = WithSeparator(parsed.Words[1]);
    if (!IsFolder(dest)) throw ToolError(dest + ": no such folder");
    TImageTable image(folder, table, parsed.Value("password"), false);
    engine::TCofferTable& t = image.Handle();
    if (const auto category = parsed.Value("category"); category && *category != "All") {
        t.SetFilter(store::CategoryFilter(*category));
        t.SetFiltered(true);
    }
    const bool thumbs = parsed.Flag("thumbs");
    int written = 0;
    int failed = 0;
    for (t.First(); !t.Eof(); t.Next()) {
        const std::string name = t.FieldByName("FileName").AsString();
        // As the program's export: the picture under its name, the thumbnail
        // under the name with its extension replaced by ".jpg".
        const std::string base = name.rfind('.') == std::string::npos ? name : name.substr(0, name.rfind('.'));
        const std::string target = dest + (thumbs ? base + ".jpg" : name);
        const auto bytes =
            t.CreateBlobStream(t.FieldByName(thumbs ? "Thumb" : "Image"), engine::TBlobStreamMode::bmRead)->ReadAll();
        try {
            imaging::WritePictureFile(target, bytes);
            out << target << ": " << bytes.size() << " bytes\n";
            ++written;
        } catch (const std::exception& e) {
            out << target << ": " << e.what() << '\n';
            ++failed;
        }
    }
    out << written << " written, " << failed << " failed\n";
    return failed > 0 ? 1 : 0;
}

}  // namespace pixhold::tools
