#pragma once

#include "DataFolderMove.h"
#include "FixedDialog.h"

#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace pixhold::store {
class TConfig;
class TDM;
}  // namespace pixhold::store

namespace pixhold::app {

class IPrompt;

// What Program Options does to the database when the data folder changes.
class IOptionsActions {
public:
    virtual ~IOptionsActions() = default;
    // Closes every table of the data module and the database.
    virtual void DisconnectDatabase() = 0;
    // Connects the database to DataFolder (no table is opened).
    virtual void ConnectDatabase() = 0;
    // Moves "Thumbs" and every image table; creates the new folder.
    virtual store::TDataFolderMove MoveDataTables(const std::string& oldFolder, const std::string& newFolder) = 0;
};

// The program's actions: the data module's connection and the store's move.
class TDataModuleOptionsActions final : public IOptionsActions {
public:
    explicit TDataModuleOptionsActions(store::TDM& dm) : dm_(dm) {}
    void DisconnectDatabase() override;
    void ConnectDatabase() override;
    store::TDataFolderMove MoveDataTables(const std::string& oldFolder, const std::string& newFolder) override;

private:
    store::TDM& dm_;
};

// Program Options: the eight option flags on the "General" and "Data" pages
// and the database location. OK copies the flags into the settings; a new
// location disconnects the database, offers to move every table there, and
// connects the database to the new folder.
class TfrmOptions : public TFixedDialog {
    Q_OBJECT
public:
    static constexpr int HelpContext = 60;
    static constexpr int ClientWidth = 402;
    static constexpr int ClientHeight = 300;

    // `showHelp` opens the help at the dialog's topic (Help button and F1).
    TfrmOptions(store::TConfig& config, IPrompt& prompt, IOptionsActions& actions,
                std::function<void()> showHelp = {}, QWidget* parent = nullptr);

    // Runs modally; true when closed with OK (the settings are changed then).
    bool Run();

    void btnDBBrowseClick();
    void btnOKClick();

    QTabWidget* pcOptions = nullptr;
    QWidget* tsGeneral = nullptr;
    QWidget* tsData = nullptr;
    QCheckBox* chkDeleteFilesAfterImport = nullptr;
    QCheckBox* chkDeleteFilesAfterExport = nullptr;
    QCheckBox* chkRecurseFoldersOnImport = nullptr;
    QCheckBox* chkUseFoldersAsCategoriesOnImport = nullptr;
    QCheckBox* chkConfirmDelete = nullptr;
    QCheckBox* chkStretchImageToFit = nullptr;
    QLineEdit* edtDBPath = nullptr;
    QPushButton* btnDBBrowse = nullptr;
    QCheckBox* chkStoreFileThumbsInDatabase = nullptr;
    QCheckBox* chkRemoveOldPasswordOnOpen = nullptr;
    QPushButton* tnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnHelp = nullptr;

private:
    void ChangeDataFolder(const std::string& folder);
    void ReportMove(const store::TDataFolderMove& move, const std::string& oldFolder, const std::string& newFolder);

    store::TConfig& config_;
    IPrompt& prompt_;
    IOptionsActions& actions_;
    std::function<void()> showHelp_;
};

}  // namespace pixhold::app
