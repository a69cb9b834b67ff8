// The data module's import: folder trees of picture files into image tables.

#include "CofferBlobStream.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "GraphicError.h"
#include "ImageFns.h"
#include "PictureFile.h"
#include "TableFiles.h"
#include "Thumbnail.h"
#include "WorkerPool.h"
#include "ImportRecord.h"
#include "fDM.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>

#include <chrono>
#include <deque>
#include <future>

namespace pixhold::store {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Ends the import of the folder tree the user asked to stop.
struct TImportCancelled {};

}  // namespace

void TDM::SelectAndImportFolder() {
    TBusyScope busy(host_);
    const std::optional<QString> chosen = host_.ChooseFolder(QString::fromStdString(config_.LastImportDir));
    if (!chosen) return;
    std::string folder = chosen->toStdString();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    config_.LastImportDir = folder;
    folder += '/';
    import_ = TImportProgress{true, 0, 0, 0};
    (void)host_.ImportCancelRequested();  // an Esc from before the import does not count
    struct TEnd {
        TDM& dm;
        ~TEnd() { dm.import_.Active = false; }
    } end{*this};
    try {
        ImportFolder(folder, config_.CategoryKey());
    } catch (const TImportCancelled&) {
        // What was stored stays stored; the list shows it.
    }
    host_.RefreshImageList();
    host_.ApplyViewStyle();
}

void TDM::ImportPaths(const std::vector<std::string>& paths) {
    TBusyScope busy(host_);
    import_ = TImportProgress{true, 0, 0, 0};
    (void)host_.ImportCancelRequested();
    struct TEnd {
        TDM& dm;
        ~TEnd() { dm.import_.Active = false; }
    } end{*this};
    struct TRestore {
        std::string& setting;
        std::string saved;
        ~TRestore() { setting = saved; }
    } restore{config_.LastImportDir, config_.LastImportDir};
    try {
        for (std::string path : paths) {
            while (path.size() > 1 && path.back() == '/') path.pop_back();
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                // The dropped folder stands for the picked one: its own files
                // take the current category, its subfolders their names.
                config_.LastImportDir = path;
                ImportFolder(path + "/", config_.CategoryKey());
            } else if (imaging::IsPictureFile(path)) {
                ++import_.Found;
                ShowImportProgress(FileNameOf(path));
                ImportFile(path, config_.CurrentTable, config_.CategoryKey());
            }
        }
    } catch (const TImportCancelled&) {
        // What was stored stays stored; the list shows it.
    }
    host_.RefreshImageList();
    host_.ApplyViewStyle();
}

void TDM::ImportFolder(const std::string& folder, const std::string& category) {
    ImportFolderFiles(folder, category);
    if (!config_.RecurseFoldersOnImport) return;
    for (const std::string& name : FolderEntries(folder, true)) {
        ImportFolder(folder + name + "/", name);
    }
}

void TDM::ImportFolderFiles(const std::string& folder, const std::string& category) {
    const std::string chosen =
        config_.UseFoldersAsCategoriesOnImport && folder != config_.LastImportDir ? category : config_.CategoryKey();
    std::vector<std::string> paths;
    for (const std::string& name : FolderEntries(folder, false)) {
        if (imaging::IsPictureFile(name)) paths.push_back(folder + name);
    }
    import_.Found += static_cast<int>(paths.size());
    const std::string table = config_.CurrentTable;

    if (workers_ == nullptr) {
        for (const std::string& path : paths) {
            ShowImportProgress(FileNameOf(path));
            StoreFile(path, table, chosen, PrepareImportFile(path));
        }
        return;
    }
    // The files after the current one are prepared on the workers; when the
    // import stops (an undecodable file, a failure, Esc), nothing after the
    // stopping point is stored and the remaining results are dropped.
    std::deque<std::future<TPreparedFile>> ahead;
    std::size_t next = 0;
    const std::size_t window = 2 * workers_->Threads() + 2;
    auto fill = [&] {
        while (next < paths.size() && ahead.size() < window) {
            ahead.push_back(workers_->Submit([path = paths[next]] { return PrepareImportFile(path); }));
            ++next;
        }
    };
    for (std::size_t i = 0; i < paths.size(); ++i) {
        fill();
        TPreparedFile prepared =
            imaging::AwaitResult<TPreparedFile>(ahead.front(), [this] { host_.ProcessMessages(); });
        ahead.pop_front();
        ShowImportProgress(FileNameOf(paths[i]));
        StoreFile(paths[i], table, chosen, std::move(prepared));
    }
}

void TDM::ShowImportProgress(const std::string& name) {
    if (!import_.Active) return;
    host_.ProcessMessages();
    if (host_.ImportCancelRequested()) throw TImportCancelled{};
    ++import_.Done;
    const std::int64_t now = NowMs();
    if (now - import_.LastShownMs < 250 && import_.Done != 1) return;
    import_.LastShownMs = now;
    host_.SetStatusText(QStringLiteral("Importing %1 of %2: %3")
                            .arg(import_.Done)
                            .arg(import_.Found)
                            .arg(QString::fromStdString(name)));
}

void TDM::ImportFile(const std::string& path, const std::string& table, const std::string& category) {
    StoreFile(path, table, category, PrepareImportFile(path));
}

void TDM::StoreFile(const std::string& path, const std::string& table, const std::string& category,
                    TPreparedFile prepared) {
    if (prepared.Missing) return;
    if (!prepared.Error.empty()) throw imaging::EInvalidGraphic(prepared.Error);

    if (tblDest.Active()) tblDest.Close();
    tblDest.SetTableName(table);
    tblDest.Open();
    struct TCloseOnError {
        engine::TCofferTable& table;
        bool stored = false;
        ~TCloseOnError() {
            if (!stored && table.Active()) {
                try {
                    if (table.Editing()) table.Cancel();
                    table.Close();
                } catch (...) {
                }
            }
        }
    } guard{tblDest};

    StoreImportRecord(tblDest, FileNameOf(path), category, prepared, [this](const std::string& name) {
        if (ReplaceAnswer != TReplaceAnswer::NoToAll && ReplaceAnswer != TReplaceAnswer::YesToAll) {
            ReplaceAnswer = host_.AskReplace(QString::fromStdString(name) + QStringLiteral(" already exists. Replace?"));
        }
        const bool replace = ReplaceAnswer == TReplaceAnswer::Yes || ReplaceAnswer == TReplaceAnswer::YesToAll;
        return replace ? TDuplicateChoice::Replace : TDuplicateChoice::Number;
    });
    if (config_.DeleteFilesAfterImport) {
        // The record is on the disk before its only other copy goes.
        tblDest.FlushBuffers();
    }
    guard.stored = true;
    tblDest.Close();
    struct stat st {};
    if (config_.DeleteFilesAfterImport && ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0) {
        ::unlink(path.c_str());  // a read-only file stays, silently
    }
}

}  // namespace pixhold::store
