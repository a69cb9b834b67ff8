#include "MainCommands.h"

#include "BusyCursor.h"
#include "Config.h"
#include "ErrorReport.h"
#include "ImageListModel.h"
#include "Prompt.h"
#include "TableFiles.h"
#include "fDM.h"
#include "fMain.h"

#include <QItemSelectionModel>
#include <QListView>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace pixhold::app {

namespace {

namespace fs = std::filesystem;

const QString kAll = QStringLiteral("All");
const QString kCancelMark = QStringLiteral("\t");
const QString kConfirmCaption = QStringLiteral("Confirm");
// Characters a record's category keeps.
constexpr int kCategoryLength = 10;

// Clears the attributes that keep a file from going (the write bits), then
// deletes it. False when the file is still there.
bool DeleteFileForcibly(const std::string& path) {
    store::ClearFileAttributes(path);
    std::error_code ec;
    fs::remove(path, ec);
    return !fs::exists(path, ec);
}

QString WithSeparator(QString folder) {
    if (!folder.endsWith(u'/')) folder += u'/';
    return folder;
}

}  // namespace

void MoveFileIntoTable(store::TDM& dm, const std::string& path, const std::string& table,
                       const std::string& category) {
    // Stored with the file deleted afterwards, as an import that deletes its
    // files: the record reaches the disk before the file goes.
    store::TConfig& config = dm.Config();
    const bool deleteAfter = config.DeleteFilesAfterImport;
    config.DeleteFilesAfterImport = true;
    try {
        dm.ImportFile(path, table, category);
    } catch (...) {
        config.DeleteFilesAfterImport = deleteAfter;
        throw;
    }
    config.DeleteFilesAfterImport = deleteAfter;
    std::error_code ec;
    if (fs::exists(path, ec) && !DeleteFileForcibly(path)) {
        throw std::runtime_error("Could not delete " + path);
    }
}

TMainCommands::TMainCommands(TForm1& form, store::TDM& dm, IPrompt& prompt, TCommandDialogs dialogs)
    : form_(form), dm_(dm), prompt_(prompt), dialogs_(std::move(dialogs)) {}

void TMainCommands::Bind() {
    TForm1& f = form_;
    f.BindCommand(f.NewDatabase1, [this] { NewDatabase(); });
    f.BindCommand(f.OpenDatabase1, [this] { OpenDatabase(); });
    f.BindCommand(f.DeleteCurrentDatabase1, [this] { DeleteCurrentDatabase(); });
    f.BindCommand(f.CompactDatabase1, [this] { CompactDatabase(); });
    f.BindCommand(f.RemoveOrphanedThumbs1, [this] { RemoveOrphanedThumbs(); });
    f.BindCommand(f.ChangeDatabasePassword1, [this] { ChangeDatabasePassword(); });
    f.BindCommand(f.ImportImages1, [this] { ImportImages(); });
    f.BindCommand(f.ExportImages1, [this] { ExportImages(); });
    f.BindCommand(f.ExportImageThumbnails1, [this] { ExportImageThumbnails(); });
    f.BindCommand(f.ConvertImagestoThumbnails1, [this] { ConvertImagesToThumbnails(); });
    f.BindCommand(f.ChangeImageCategory1, [this] { ChangeImageCategory(); });
    f.BindCommand(f.MoveImagestoDatabase1, [this] { MoveImagesToDatabase(); });
    f.BindCommand(f.QuickFolderBrowse1, [this] { QuickFolderBrowse(); });
    f.BindCommand(f.DeleteImage1, [this] { DeleteImage(); });
    f.BindCommand(f.DeleteAll1, [this] { DeleteAll(); });
    if (dialogs_.ShowOptions) {
        f.BindCommand(f.Options1, [this] { dialogs_.ShowOptions(); });
    }
    if (dialogs_.OpenViewer) {
        f.Hooks().OpenViewer = [this] { dialogs_.OpenViewer(false); };
    }
    f.Hooks().RunOnSelected = [this](const QString& command) { RunOnSelected(command); };
}

// ---- helpers ----

bool TMainCommands::TableExists(const QString& name) const {
    return !store::DataFilePath(dm_.Config().DataFolder, name.toStdString() + ".Dat").empty();
}

void TMainCommands::RefillTableSelector(bool setText) {
    const QString text = form_.cboTable->currentText();
    form_.FillTableSelector();
    if (!setText) form_.cboTable->setEditText(text);
}

void TMainCommands::AfterTableOpened() {
    dm_.Config().CurrentCategory.clear();
    form_.cboCategory->setEditText(QString());
    form_.FillCategorySelector();
}

std::string TMainCommands::FolderPath(const QString& name) const {
    return dm_.Config().LastBrowseDir + name.toStdString();
}

bool TMainCommands::FindFirstRecord(const QString& name) {
    return dm_.tblData.FindKey({name.toStdString()});
}

QStringList TMainCommands::CollectSelected() {
    QStringList names;
    QItemSelectionModel* selection = form_.ListView1->selectionModel();
    if (selection == nullptr) return names;
    std::vector<int> rows;
    for (const QModelIndex& index : selection->selectedIndexes()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const QStringList& shown = form_.PH().ImageNames;
    for (int row : rows) {
        if (row < shown.size()) names.push_back(shown[row]);
        selection->select(form_.ListModel().index(row), QItemSelectionModel::Deselect);
    }
    return names;
}

// ---- database commands ----

void TMainCommands::NewDatabase() {
    const QString name = prompt_
                             .InputText(QStringLiteral("Create New Database"),
                                        QStringLiteral("Enter new database name"), QString())
                             .value_or(QString());
    if (name.isEmpty()) return;
    if (TableExists(name)) {
        prompt_.Message(AppTitle, QStringLiteral("That database already exists."), TMsgIcon::None);
    } else {
        dm_.NewImageTable(name.toStdString() + ".Dat");
        if (dm_.tblData.Active()) AfterTableOpened();
    }
    RefillTableSelector(false);
}

void TMainCommands::OpenDatabase() {
    if (!dialogs_.ChooseDatabase) return;
    const std::optional<QString> name =
        dialogs_.ChooseDatabase(QString::fromStdString(dm_.Config().CurrentTable));
    if (!name) return;
    if (!TableExists(*name)) {
        prompt_.Message(AppTitle, QStringLiteral("That database does not exist."), TMsgIcon::None);
        return;
    }
    if (dm_.OpenImageTable(name->toStdString())) AfterTableOpened();
}

void TMainCommands::DeleteCurrentDatabase() {
    store::TConfig& config = dm_.Config();
    const std::string folder = config.DataFolder;
    const std::string table = config.CurrentTable;
    if (QString::fromStdString(table).compare(QStringLiteral("Default"), Qt::CaseInsensitive) == 0) {
        prompt_.Message(AppTitle, QStringLiteral("You cannot delete the default database."), TMsgIcon::None);
        return;
    }
    if (store::DataFilePath(folder, "Default.Dat").empty()) {
        prompt_.Message(AppTitle, QStringLiteral("The default database does not exist."), TMsgIcon::None);
        return;
    }
    const QString question = QStringLiteral("Are you sure you want to delete the ") +
                             QString::fromStdString(table) + QStringLiteral(" database?");
    if (prompt_.Ask(kConfirmCaption, question, TButtons::OkCancel, TMsgIcon::Confirmation) != TAnswer::Ok) {
        return;
    }
    if (!dm_.OpenImageTable("Default.Dat")) return;
    // The table and the backups an optimisation left; each is tried once.
    for (const char* extension : {".Dat", ".Blb", ".Idx", ".Bbk", ".Dbk", ".Ibk"}) {
        const std::string path = store::DataFilePath(folder, table + extension);
        if (path.empty()) continue;
        std::error_code ec;
        fs::remove(path, ec);
    }
    form_.FillTableSelector();
    AfterTableOpened();
}

void TMainCommands::CompactDatabase() {
    dm_.CompactImageTable();
}

void TMainCommands::RemoveOrphanedThumbs() {
    dm_.RemoveOrphanedThumbs();
}

void TMainCommands::ChangeDatabasePassword() {
    if (!dialogs_.AskPasswords) return;
    const std::optional<TCommandDialogs::TPasswords> passwords = dialogs_.AskPasswords();
    if (!passwords) return;
    dm_.ChangeTablePassword(passwords->Old.toStdString(), passwords->New.toStdString());
}

void TMainCommands::DeleteAll() {
    if (prompt_.Ask(kConfirmCaption, QStringLiteral("Are you sure you want to delete all images?"),
                    TButtons::YesNo, TMsgIcon::Confirmation) != TAnswer::Yes) {
        return;
    }
    dm_.DeleteAllImages();
}

// ---- commands on the selection ----

void TMainCommands::ImportImages() {
    dm_.SelectAndImportFolder();
}

void TMainCommands::ExportImageThumbnails() {
    dm_.ExportThumbnails();
}

void TMainCommands::ChangeImageCategory() {
    if (!dialogs_.AskAssignCategory) return;
    const QString answer = dialogs_.AskAssignCategory();
    if (answer == kCancelMark) return;
    form_.PH().TargetCategory = answer;
    RunOnSelected(QStringLiteral("ChangeCat"));
}

void TMainCommands::MoveImagesToDatabase() {
    if (!dialogs_.AskMoveTarget) return;
    const TCommandDialogs::TMoveAnswer answer = dialogs_.AskMoveTarget();
    form_.PH().TargetTable = answer.Table;
    form_.PH().TargetCategory = answer.Category;
    if (answer.Ok) RunOnSelected(QStringLiteral("Move"));
}

void TMainCommands::DeleteImage() {
    if (dm_.Config().ConfirmDelete &&
        prompt_.Ask(kConfirmCaption, QStringLiteral("Delete selected files?"), TButtons::YesNo,
                    TMsgIcon::Confirmation) != TAnswer::Yes) {
        return;
    }
    RunOnSelected(QStringLiteral("Delete"));
}

void TMainCommands::QuickFolderBrowse() {
    dm_.Config().QuickBrowse = true;
    if (!form_.ChooseBrowseFolder()) return;
    form_.PH().ViewerIndex = 0;
    if (dialogs_.OpenViewer) dialogs_.OpenViewer(true);
}

void TMainCommands::RunOnSelected(const QString& command) {
    dm_.ReplaceAnswer = store::TReplaceAnswer::None;
    store::TConfig& config = dm_.Config();
    if (command == QStringLiteral("ChangeCat") && config.BrowseMode) return;

    QString suffix;
    if (command == QStringLiteral("ConvertToThumbs")) {
        const std::optional<QString> answer =
            prompt_.InputText(QStringLiteral("Convert images to thumbnails"),
                              QStringLiteral("Enter text to add to thumbnails or press OK to convert."), QString());
        if (!answer) return;
        suffix = *answer;
    }

    const QStringList names = CollectSelected();

    QString folder;
    if (command == QStringLiteral("Export") && !names.isEmpty()) {
        const std::optional<QString> chosen = prompt_.ChooseFolder(QString::fromStdString(config.LastExportDir));
        if (!chosen) return;
        config.LastExportDir = chosen->toStdString();
        folder = WithSeparator(*chosen);
    }

    // The hourglass stays off the questions above; it covers the work.
    TBusyCursor busy;
    for (const QString& name : names) ApplyToName(command, name, folder, suffix);

    if (command == QStringLiteral("Export") && config.DeleteFilesAfterExport) form_.RefreshImageList();
}

void TMainCommands::ApplyToName(const QString& command, const QString& name, const QString& folder,
                                const QString& suffix) {
    store::TConfig& config = dm_.Config();
    imaging::TPH& ph = form_.PH();
    const bool folderMode = config.BrowseMode;
    if (command == QStringLiteral("ChangeCat")) {
        if (!FindFirstRecord(name)) return;
        dm_.SetImageCategory(ph.TargetCategory.toStdString());
        // The entry leaves the list when its record left the view: the
        // category as stored ("All" stores none, ten characters at most)
        // differs from the one shown.
        const QString current = QString::fromStdString(config.CurrentCategory);
        const QString stored = ph.TargetCategory == kAll ? QString() : ph.TargetCategory.left(kCategoryLength);
        if (current != kAll && stored != current) form_.RemoveListItem(name);
    } else if (command == QStringLiteral("Delete")) {
        if (folderMode) {
            const std::string path = FolderPath(name);
            if (!DeleteFileForcibly(path)) throw std::runtime_error("Could not delete " + path);
        } else if (FindFirstRecord(name)) {
            dm_.tblData.Delete();
        }
        form_.RemoveListItem(name);
    } else if (command == QStringLiteral("ConvertToThumbs")) {
        dm_.ConvertFileToThumbnail(FolderPath(name), suffix.toStdString());
    } else if (command == QStringLiteral("Move")) {
        if (folderMode) {
            MoveFileIntoTable(dm_, FolderPath(name), ph.TargetTable.toStdString(), ph.TargetCategory.toStdString());
            form_.RemoveListItem(name);
        } else if (QString::fromStdString(config.CurrentCategory) != kAll) {
            if (dm_.MoveImageToTable(name.toStdString(), ph.TargetTable.toStdString(),
                                     ph.TargetCategory.toStdString())) {
                form_.RemoveListItem(name);
            }
        }
    } else if (command == QStringLiteral("Export")) {
        dm_.ExportImage(name.toStdString(), folder.toStdString());
    }
}

}  // namespace pixhold::app
