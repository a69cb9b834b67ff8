#pragma once

#include "CompletingComboBox.h"

#include "Help.h"
#include "ImageHelper.h"
#include "ImageList.h"
#include "WebPage.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QListView;
class QMenu;
class QToolBar;

namespace pixhold::store {
class TConfig;
}

namespace pixhold::app {


class IPrompt;
// The settings live in the image store, which reads them as well.
using store::TConfig;
class TImageListModel;
class TListArea;

// What the main window asks of the parts that join it later (the data
// module, the category chooser, the viewer, the dialogs). A hook that is not
// set leaves its command disabled or the step empty.
struct TMainHooks {
    // Names of the image tables of the data folder, without extension.
    std::function<QStringList()> ListImageTables;
    // Categories of a table, without "All".
    std::function<QStringList(const QString& table)> GetCategoryList;
    // Opens a table as the current one; true when it is open afterwards.
    std::function<bool(const QString& table)> OpenImageTable;
    // Filters the current table on CurrentCategory and rebuilds the list;
    // without it the list is only rebuilt.
    std::function<void()> ApplyCategoryFilter;
    // The category chooser in its set mode; returns a single tab when cancelled.
    std::function<QString()> AskCategory;
    // A new viewer window on entry ViewerIndex, not blocking the main window.
    std::function<void()> OpenViewer;
    std::function<void()> ShowOptions;
    // Files and folders dropped onto the list, imported as with Import Images.
    std::function<void(const QStringList& paths)> ImportDropped;
    // Replaces the built-in About box.
    std::function<void()> ShowAbout;
    // The dispatcher of the commands on the selected entries.
    std::function<void(const QString& command)> RunOnSelected;
};

// The main window: menus, tool bar, the two selectors, the list of pictures
// with its preview, and the status line.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int HelpContext = 40;
    static constexpr int ClientWidth = 617;
    static constexpr int ClientHeight = 363;

    // Builds the window (hidden) and runs its creation handler: settings, image
    // helper, help file, table selector, view style. An error there is shown in
    // the standard error box and the rest of the handler is skipped.
    TForm1(IPrompt& prompt, TMainHooks hooks = {}, QWidget* parent = nullptr);
    // Frees the image helper, then the settings (which saves them).
    ~TForm1() override;

    // False when the creation handler could not even load the settings.
    bool Created() const { return config_ != nullptr && ph_ != nullptr; }
    TConfig& Config() { return *config_; }
    imaging::TPH& PH() { return *ph_; }
    const imaging::TImageList& ImageList1() const { return imageList_; }
    THelp& Help() { return help_; }
    IPrompt& Prompt() { return prompt_; }
    TMainHooks& Hooks() { return hooks_; }
    TImageListModel& ListModel() { return *model_; }

    // Operations other parts of the program use.
    void RefreshImageList();
    void RemoveListItem(const QString& name);
    // While RefreshImageList runs: shows the entries filled so far (called
    // when pending messages are processed during a long folder).
    void ShowFilledSoFar();
    void ApplyViewStyle();
    void FillCategorySelector();
    // The table selector's entries from ListImageTables, its text CurrentTable.
    void FillTableSelector();
    bool ChooseBrowseFolder();
    // Applies a command word to each selected entry (see TMainCommands).
    void RunOnSelected(const QString& command);
    void SetStatusText(const QString& text);
    QString StatusText() const;

    // Gives a command its handler and enables it (menu entry and tool button).
    void BindCommand(QAction* action, std::function<void()> handler);
    // Runs a handler; an error escaping it goes to the standard error report.
    void Guarded(const std::function<void()>& handler);
    // How the web-page commands start the browser (tests replace it).
    void SetBrowserLauncher(TWebPageOpener::TLauncher launcher);

    // Paths dropped onto the list (from a file manager).
    void DropOnList(const QStringList& paths);

    // Event handlers, public so that tests can drive them.
    void ListView1Click();
    void ListView1DblClick();
    void cboTableSelect(int index);
    void cboCategorySelect(int index);
    void Thumbnailview1Click();
    void Switchcategoryview1Click();
    void BrowseFolder1Click();
    void PixholdWebPage1Click();
    // The About box, modal.
    void ShowAboutBox();

    // The entry the list's commands act on: the focused entry when selected,
    // else the first selected one; -1 without a selection.
    int SelectedIndex() const;

    // Components.
    QToolBar* ToolBar1 = nullptr;
    QComboBox* cboTable = nullptr;
    TCompletingComboBox* cboCategory = nullptr;
    QListView* ListView1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* StatusPanel = nullptr;

    // File
    QAction* NewDatabase1 = nullptr;
    QAction* OpenDatabase1 = nullptr;
    QAction* DeleteCurrentDatabase1 = nullptr;
    QAction* CompactDatabase1 = nullptr;
    QAction* RemoveOrphanedThumbs1 = nullptr;
    QAction* ChangeDatabasePassword1 = nullptr;
    QAction* ImportImages1 = nullptr;
    QAction* ExportImages1 = nullptr;
    QAction* ExportImageThumbnails1 = nullptr;
    QAction* ConvertImagestoThumbnails1 = nullptr;
    QAction* ChangeImageCategory1 = nullptr;
    QAction* MoveImagestoDatabase1 = nullptr;
    QAction* BrowseFolder1 = nullptr;
    QAction* QuickFolderBrowse1 = nullptr;
    QAction* Exit1 = nullptr;
    // Edit
    QAction* DeleteImage1 = nullptr;
    QAction* DeleteAll1 = nullptr;
    QAction* SelectAll1 = nullptr;
    // View
    QAction* Thumbnailview1 = nullptr;
    QAction* Switchcategoryview1 = nullptr;
    QAction* Options1 = nullptr;
    QAction* Refresh1 = nullptr;
    // Help
    QAction* Contents1 = nullptr;
    QAction* KeywordSearch1 = nullptr;
    QAction* GettingStarted1 = nullptr;
    QAction* PixholdWebPage1 = nullptr;
    QAction* OtherNorvaneSoftware1 = nullptr;
    QAction* About1 = nullptr;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildList();
    void FormCreate();
    void FormDestroy();
    QAction* AddCommand(QMenu* menu, const char* name, const QString& caption,
                        const QString& shortcut);
    void Connect(QAction* action, void (TForm1::*handler)());
    void ShowHelpFile(const QString& fileName, const std::function<void(THelp&)>& request);
    QString ProgramFolder() const;

    IPrompt& prompt_;
    TMainHooks hooks_;
    std::unique_ptr<TConfig> config_;
    std::unique_ptr<imaging::TPH> ph_;
    imaging::TImageList imageList_;
    THelp help_;
    TWebPageOpener webPage_;
    TImageListModel* model_ = nullptr;
    TListArea* listArea_ = nullptr;
    bool filling_ = false;
    QElapsedTimer sinceShown_;
};

}  // namespace pixhold::app
