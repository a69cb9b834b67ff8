#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>

namespace pixhold::store {
class TDM;
}

namespace pixhold::app {

class IPrompt;
class TForm1;

// Stores the picture file in the table and category, then deletes the file
// (write-protected ones too) once the record is on the disk. Raises when the
// file cannot be stored or deleted.
void MoveFileIntoTable(store::TDM& dm, const std::string& path, const std::string& table,
                       const std::string& category);

// What the commands ask of the dialogs (each a modal window; tests script them).
struct TCommandDialogs {
    // Choose database, preset to the current table: the text of its table
    // box, nothing when cancelled.
    std::function<std::optional<QString>(const QString& current)> ChooseDatabase;
    // Move to database: both texts are read whatever the outcome.
    struct TMoveAnswer {
        QString Table;
        QString Category;
        bool Ok = false;
    };
    std::function<TMoveAnswer()> AskMoveTarget;
    // The change-password dialog: the old and the new password, nothing when
    // cancelled. The dialog itself checks both before it closes with OK.
    struct TPasswords {
        QString Old;
        QString New;
    };
    std::function<std::optional<TPasswords>()> AskPasswords;
    // The category chooser in its assign mode; a single tab when cancelled.
    std::function<QString()> AskAssignCategory;
    // The viewer on entry ViewerIndex; modal for Quick Folder Browse.
    std::function<void(bool modal)> OpenViewer;
    // Program Options.
    std::function<void()> ShowOptions;
};

// The main window's commands on whole databases (File and Edit menus) and on
// the selected entries of the list, all through the data module. Binds
// itself to the menu entries and tool buttons of the window.
class TMainCommands {
public:
    TMainCommands(TForm1& form, store::TDM& dm, IPrompt& prompt, TCommandDialogs dialogs);

    // Gives every command its handler.
    void Bind();

    // Database commands.
    void NewDatabase();
    void OpenDatabase();
    void DeleteCurrentDatabase();
    void CompactDatabase();
    void RemoveOrphanedThumbs();
    void ChangeDatabasePassword();
    void DeleteAll();

    // Commands on the selection.
    void ImportImages();
    void ExportImages() { RunOnSelected(QStringLiteral("Export")); }
    void ExportImageThumbnails();
    void ConvertImagesToThumbnails() { RunOnSelected(QStringLiteral("ConvertToThumbs")); }
    void ChangeImageCategory();
    void MoveImagesToDatabase();
    void DeleteImage();
    void QuickFolderBrowse();

    // The dispatcher: "Export", "ConvertToThumbs", "ChangeCat", "Move",
    // "Delete"; any other word does nothing.
    void RunOnSelected(const QString& command);

    TCommandDialogs& Dialogs() { return dialogs_; }

private:
    // The captions of the selected entries in list order; each is deselected
    // on the way.
    QStringList CollectSelected();
    void ApplyToName(const QString& command, const QString& name, const QString& folder,
                     const QString& suffix);
    // The first record of the current table with this file name (the name
    // alone as a partial key).
    bool FindFirstRecord(const QString& name);
    bool TableExists(const QString& name) const;
    void RefillTableSelector(bool setText);
    void AfterTableOpened();
    std::string FolderPath(const QString& name) const;

    TForm1& form_;
    store::TDM& dm_;
    IPrompt& prompt_;
    TCommandDialogs dialogs_;
};

}  // namespace pixhold::app
