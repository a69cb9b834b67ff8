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
#include "fDM.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>

#include <chrono>
#include <deque>
#include <future>

namespace pixhold::store {

// What the worker threads make of one file before it is stored.
struct TPreparedFile {
    bool Missing = false;
    imaging::TByteVector Bytes;
    imaging::TByteVector Thumb;
    std::string Error;  // the decoder's (or the file's) error text
};

namespace {

// Longest texts the image table keeps, in characters.
constexpr int kMaxFileName = 250;
constexpr int kMaxCategory = 10;

std::string Cut(const std::string& text, int characters) {
    const QString whole = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (whole.size() <= characters) return text;
    QString cut;
    int count = 0;
    for (auto it = whole.cbegin(); it != whole.cend() && count < characters; ++count) {
        const bool pair = it->isHighSurrogate() && (it + 1) != whole.cend();
        cut += *it++;
        if (pair) cut += *it++;
    }
    return cut.toStdString();
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Entries of a folder in the order the file system returns them.
std::vector<std::string> FolderEntries(const std::string& folder, bool folders) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::stat((folder + name).c_str(), &st) != 0) continue;
        if (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

TPreparedFile Prepare(const std::string& path) {
    TPreparedFile prepared;
    if (!IsFile(path)) {
        prepared.Missing = true;
        return prepared;
    }
    try {
        prepared.Bytes = imaging::ReadPictureFile(path);
        if (prepared.Bytes.empty()) throw imaging::EInvalidGraphic("The picture file is empty");
        prepared.Thumb = imaging::RecordThumbnailJpeg(prepared.Bytes, NameOf(path));
    } catch (const std::exception& e) {
        prepared.Error = e.what();
    }
    return prepared;
}

// name with the first occurrence of base (any letter case) replaced by base + n.
std::string NumberedName(const std::string& name, const std::string& base, int n) {
    const QString q = QString::fromStdString(name);
    const QString b = QString::fromStdString(base);
    const qsizetype at = q.indexOf(b, 0, Qt::CaseInsensitive);
    if (at < 0 || b.isEmpty()) return name;
    QString numbered = q;
    numbered.replace(at, b.size(), b + QString::number(n));
    return numbered.toStdString();
}

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

void TDM::ImportFolder(const std::string& folder, const std::string& category) {
    ImportFolderFiles(folder, category);
    if (!config_.RecurseFoldersOnImport) return;
    for (const std::string& name : FolderEntries(folder, true)) {
        if (name.front() == '.') continue;  // hidden entries are not returned
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
            ShowImportProgress(NameOf(path));
            StoreFile(path, table, chosen, Prepare(path));
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
            ahead.push_back(workers_->Submit([path = paths[next]] { return Prepare(path); }));
            ++next;
        }
    };
    for (std::size_t i = 0; i < paths.size(); ++i) {
        fill();
        TPreparedFile prepared =
            imaging::AwaitResult<TPreparedFile>(ahead.front(), [this] { host_.ProcessMessages(); });
        ahead.pop_front();
        ShowImportProgress(NameOf(paths[i]));
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
    StoreFile(path, table, category, Prepare(path));
}

void TDM::StoreFile(const std::string& path, const std::string& table, const std::string& category,
                    TPreparedFile prepared) {
    if (prepared.Missing) return;
    if (!prepared.Error.empty()) throw imaging::EInvalidGraphic(prepared.Error);
    const std::string original = Cut(NameOf(path), kMaxFileName);
    const imaging::TImageType code = imaging::ImageTypeOfExtension(original);

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

    std::string name = original;
    bool replace = false;
    if (tblDest.FindKey({name})) {
        if (ReplaceAnswer != TReplaceAnswer::NoToAll && ReplaceAnswer != TReplaceAnswer::YesToAll) {
            ReplaceAnswer = host_.AskReplace(QString::fromStdString(name) + QStringLiteral(" already exists. Replace?"));
        }
        replace = ReplaceAnswer == TReplaceAnswer::Yes || ReplaceAnswer == TReplaceAnswer::YesToAll;
        if (!replace) {
            const std::string base = FileBaseName(original);
            for (int n = 1;; ++n) {
                name = NumberedName(original, base, n);
                if (!tblDest.FindKey({name})) break;
            }
        }
    }
    if (replace) {
        tblDest.FindKey({original});
        tblDest.Edit();
    } else {
        tblDest.Append();
    }
    tblDest.FieldByName("FileName").SetAsString(Cut(name, kMaxFileName));
    tblDest.FieldByName("Category").SetAsString(Cut(category, kMaxCategory));
    tblDest.CreateBlobStream(tblDest.FieldByName("Image"), engine::TBlobStreamMode::bmWrite)->WriteAll(prepared.Bytes);
    tblDest.CreateBlobStream(tblDest.FieldByName("Thumb"), engine::TBlobStreamMode::bmWrite)->WriteAll(prepared.Thumb);
    tblDest.FieldByName("Type").SetAsInteger(static_cast<int>(code));
    tblDest.Post();
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
