// Program Options: the flags, the database location and the data-folder
// change, with the database actions scripted.

#include "Config.h"
#include "ErrorReport.h"
#include "ScriptedPrompt.h"
#include "TempDir.h"
#include "TextFile.h"
#include "fOptions.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace pixhold::app {
namespace {

namespace fs = std::filesystem;

// Records what the dialog asked of the database; the move is the store's own
// unless a result is scripted.
class TScriptedActions final : public IOptionsActions {
public:
    std::vector<std::string> Calls;
    bool FailDisconnect = false;
    bool FailConnect = false;
    std::optional<store::TDataFolderMove> MoveResult;
    const store::TConfig* Config = nullptr;

    void DisconnectDatabase() override {
        Calls.push_back("Disconnect");
        if (FailDisconnect) throw std::runtime_error("Cannot close the table");
    }
    void ConnectDatabase() override {
        Calls.push_back("Connect:" + Config->DataFolder);
        if (FailConnect) throw std::runtime_error("Cannot open the folder");
    }
    store::TDataFolderMove MoveDataTables(const std::string& oldFolder, const std::string& newFolder) override {
        Calls.push_back("Move:" + oldFolder + ">" + newFolder);
        if (MoveResult) return *MoveResult;
        return store::MoveDataTables(oldFolder, newFolder);
    }
};

class OptionsTest : public ::testing::Test {
protected:
    OptionsTest() {
        config.DataFolder = root.folder() + "Data/";
        fs::create_directories(config.DataFolder);
        actions.Config = &config;
    }

    std::unique_ptr<TfrmOptions> Make() {
        return std::make_unique<TfrmOptions>(config, prompt, actions, [this] { ++help; });
    }

    // Types the location, presses OK; true when the dialog closed with OK.
    bool OkWithLocation(TfrmOptions& dialog, const QString& location) {
        bool closed = false;
        QTimer::singleShot(0, [&] {
            dialog.pcOptions->setCurrentWidget(dialog.tsData);
            dialog.edtDBPath->clear();
            QTest::keyClicks(dialog.edtDBPath, location);
            dialog.tnOK->click();
            closed = !dialog.isVisible();
            if (!closed) dialog.btnCancel->click();
        });
        return dialog.Run() && closed;
    }

    pixhold::test::TempDir root;
    pixhold::test::TempDir programFolder;
    store::TConfig config{programFolder.path().string()};
    TScriptedPrompt prompt;
    TScriptedActions actions;
    int help = 0;
};

TEST_F(OptionsTest, ShowsTheFlagsOnTwoPagesOpeningOnGeneral) {
    config.DeleteFilesAfterExport = true;
    config.StoreFileThumbsInDatabase = false;
    auto dialog = Make();
    EXPECT_EQ(dialog->windowTitle(), "Program Options");
    EXPECT_EQ(dialog->size(), QSize(402, 300));
    EXPECT_EQ(TfrmOptions::HelpContext, 60);
    ASSERT_EQ(dialog->pcOptions->count(), 2) << "the categories page is not built";
    EXPECT_EQ(dialog->pcOptions->tabText(0), "General");
    EXPECT_EQ(dialog->pcOptions->tabText(1), "Data");
    EXPECT_EQ(dialog->pcOptions->currentWidget(), dialog->tsGeneral);
    const struct {
        QCheckBox* Box;
        const char* Caption;
        bool Value;
        QWidget* Page;
    } boxes[] = {
        {dialog->chkDeleteFilesAfterImport, "Delete files after import", false, dialog->tsGeneral},
        {dialog->chkDeleteFilesAfterExport, "Delete files after export", true, dialog->tsGeneral},
        {dialog->chkRecurseFoldersOnImport, "Recurse folders on import", false, dialog->tsGeneral},
        {dialog->chkUseFoldersAsCategoriesOnImport, "Use subfolders as categories on import", false,
         dialog->tsGeneral},
        {dialog->chkConfirmDelete, "Confirm file deletes", true, dialog->tsGeneral},
        {dialog->chkStretchImageToFit, "Stretch image to fit", true, dialog->tsGeneral},
        {dialog->chkStoreFileThumbsInDatabase, "Store file thumbs in database", false, dialog->tsData},
        {dialog->chkRemoveOldPasswordOnOpen, "Remove old password on open", false, dialog->tsData},
    };
    for (const auto& b : boxes) {
        EXPECT_EQ(b.Box->text(), b.Caption);
        EXPECT_EQ(b.Box->isChecked(), b.Value) << b.Caption;
        EXPECT_TRUE(b.Page->isAncestorOf(b.Box)) << b.Caption;
    }
    EXPECT_EQ(dialog->edtDBPath->text().toStdString(), config.DataFolder);
    EXPECT_EQ(dialog->btnDBBrowse->text(), QStringLiteral("\u2026"));
    EXPECT_TRUE(dialog->btnDBBrowse->font().bold());
    EXPECT_EQ(dialog->tnOK->text(), "OK");
    EXPECT_TRUE(dialog->tnOK->isDefault());
    EXPECT_EQ(dialog->btnCancel->text(), "Cancel");
    EXPECT_EQ(dialog->btnHelp->text(), "Help");
    dialog->btnHelp->click();
    dialog->show();
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    EXPECT_EQ(help, 2);
    if (const char* folder = std::getenv("PIXHOLD_DIALOG_SHOTS")) {
        QTest::qWait(20);
        dialog->grab().save(QString::fromLocal8Bit(folder) + "/options-general.png");
        dialog->pcOptions->setCurrentWidget(dialog->tsData);
        QTest::qWait(20);
        dialog->grab().save(QString::fromLocal8Bit(folder) + "/options-data.png");
    }
}

TEST_F(OptionsTest, OkCopiesTheFlagsAndCancelChangesNothing) {
    for (const bool ok : {false, true}) {
        auto dialog = Make();
        QTimer::singleShot(0, [&] {
            QTest::mouseClick(dialog->chkRecurseFoldersOnImport, Qt::LeftButton, {},
                              QPoint(5, dialog->chkRecurseFoldersOnImport->height() / 2));
            dialog->chkConfirmDelete->click();
            dialog->pcOptions->setCurrentWidget(dialog->tsData);
            dialog->chkRemoveOldPasswordOnOpen->click();
            (ok ? dialog->tnOK : dialog->btnCancel)->click();
        });
        EXPECT_EQ(dialog->Run(), ok);
        EXPECT_EQ(config.RecurseFoldersOnImport, ok);
        EXPECT_EQ(config.ConfirmDelete, !ok);
        EXPECT_EQ(config.RemoveOldPasswordOnOpen, ok);
        EXPECT_TRUE(actions.Calls.empty());
    }
    auto dialog = Make();
    dialog->show();
    dialog->close();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(OptionsTest, TheSameLocationInAnotherCaseOrWithoutTheSeparatorChangesNothing) {
    const std::string folder = config.DataFolder;
    for (const QString& same : {QString::fromStdString(folder), QString::fromStdString(folder).toUpper(),
                                QString::fromStdString(folder.substr(0, folder.size() - 1))}) {
        auto dialog = Make();
        EXPECT_TRUE(OkWithLocation(*dialog, same)) << same.toStdString();
        EXPECT_EQ(config.DataFolder, folder);
    }
    EXPECT_TRUE(actions.Calls.empty());
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(OptionsTest, ARelativeOrEmptyLocationIsRefused) {
    for (const QString& bad : {QString("relative/place"), QString("  ")}) {
        prompt.Clear();
        auto dialog = Make();
        EXPECT_FALSE(OkWithLocation(*dialog, bad));
        ASSERT_EQ(prompt.Asked().size(), 1u);
        EXPECT_EQ(prompt.Asked()[0].Text, "The database location must be a full folder path.");
    }
    EXPECT_TRUE(actions.Calls.empty());
}

TEST_F(OptionsTest, ANewLocationAnsweredNoSwitchesWithoutMoving) {
    const std::string oldFolder = config.DataFolder;
    const std::string newFolder = root.folder() + "Elsewhere/";
    prompt.AnswerButton(TAnswer::No);
    auto dialog = Make();
    EXPECT_TRUE(OkWithLocation(*dialog, QString::fromStdString(newFolder.substr(0, newFolder.size() - 1))));
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Text, "Move all data tables to new location?");
    EXPECT_EQ(prompt.Asked()[0].Buttons, TButtons::YesNo);
    EXPECT_EQ(prompt.Asked()[0].Icon, TMsgIcon::Confirmation);
    EXPECT_EQ(config.DataFolder, newFolder);
    EXPECT_EQ(actions.Calls, (std::vector<std::string>{"Disconnect", "Connect:" + newFolder}));
    EXPECT_FALSE(fs::exists(newFolder)) << "the dialog does not make the folder";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(OptionsTest, ANewLocationAnsweredYesMovesTheCacheAndEveryListedTable) {
    const std::string oldFolder = config.DataFolder;
    const std::string newFolder = root.folder() + "new/place/";
    for (const char* file : {"Default.Dat", "Default.Idx", "Default.Blb", "Thumbs.Dat", "Thumbs.Idx", "Thumbs.Blb",
                             "work.dat", "work.idx", "work.blb", "Broken.Dat", "Broken.Blb"}) {
        pixhold::test::WriteText(oldFolder + file, file);
    }
    prompt.AnswerButton(TAnswer::Yes);
    auto dialog = Make();
    EXPECT_TRUE(OkWithLocation(*dialog, QString::fromStdString(newFolder)));
    EXPECT_EQ(actions.Calls, (std::vector<std::string>{"Disconnect", "Move:" + oldFolder + ">" + newFolder,
                                                       "Connect:" + newFolder}));
    for (const char* file : {"Default.Dat", "Default.Idx", "Default.BLB", "Thumbs.Dat", "Thumbs.Idx", "Thumbs.BLB",
                             "Work.Dat", "Work.Idx", "Work.BLB"}) {
        EXPECT_TRUE(fs::exists(newFolder + file)) << file;
    }
    EXPECT_EQ(pixhold::test::ReadText(newFolder + "Work.BLB"), "work.blb");
    EXPECT_TRUE(fs::exists(oldFolder + "Broken.Dat")) << "not listed: it stays";
    EXPECT_FALSE(fs::exists(oldFolder + "Default.Dat"));
    EXPECT_EQ(prompt.Asked().size(), 1u) << "nothing to report";
}

TEST_F(OptionsTest, TablesThatStayBehindAreNamedToTheUser) {
    store::TDataFolderMove result;
    result.Moved = {"Thumbs"};
    result.StayedBehind = {"Default", "Work"};
    result.Error = "Cannot copy a to b: No space left on device";
    result.OldFilesLeft = {"Thumbs"};
    actions.MoveResult = result;
    prompt.AnswerButton(TAnswer::Yes);
    const std::string oldFolder = config.DataFolder;
    auto dialog = Make();
    EXPECT_TRUE(OkWithLocation(*dialog, QString::fromStdString(root.folder() + "new/")));
    ASSERT_EQ(prompt.Asked().size(), 3u);
    const QString behind = prompt.Asked()[1].Text;
    EXPECT_TRUE(behind.contains("Default, Work")) << behind.toStdString();
    EXPECT_TRUE(behind.contains(QString::fromStdString(oldFolder))) << behind.toStdString();
    EXPECT_TRUE(behind.contains("No space left on device")) << behind.toStdString();
    EXPECT_EQ(prompt.Asked()[1].Icon, TMsgIcon::Warning);
    EXPECT_TRUE(prompt.Asked()[2].Text.contains("Thumbs")) << prompt.Asked()[2].Text.toStdString();
}

TEST_F(OptionsTest, AFailureOnTheWayStillSwitchesAndReconnectsThenIsReported) {
    const std::string newFolder = root.folder() + "other/";
    for (const bool failDisconnect : {true, false}) {
        SCOPED_TRACE(failDisconnect ? "disconnect fails" : "connect fails");
        config.DataFolder = root.folder() + "Data/";
        prompt.Clear();
        actions.Calls.clear();
        actions.FailDisconnect = failDisconnect;
        actions.FailConnect = !failDisconnect;
        if (!failDisconnect) prompt.AnswerButton(TAnswer::No);
        auto dialog = Make();
        EXPECT_TRUE(OkWithLocation(*dialog, QString::fromStdString(newFolder)));
        EXPECT_EQ(config.DataFolder, newFolder);
        EXPECT_EQ(actions.Calls.back(), "Connect:" + newFolder);
        const auto& report = prompt.Asked().back();
        EXPECT_EQ(report.Caption, AppTitle);
        EXPECT_EQ(report.Icon, TMsgIcon::Error);
        EXPECT_EQ(report.Text, failDisconnect ? "Cannot close the table." : "Cannot open the folder.");
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is back before the report";
    }
}

TEST_F(OptionsTest, TheFolderPickerFillsTheLocationWithASeparator) {
    auto dialog = Make();
    prompt.AnswerText("/chosen/place");
    dialog->btnDBBrowse->click();
    EXPECT_EQ(dialog->edtDBPath->text(), "/chosen/place/");
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Kind, TScriptedPrompt::TKind::Folder);
    EXPECT_EQ(prompt.Asked()[0].Text.toStdString(), config.DataFolder) << "preset to the data folder";
    prompt.AnswerCancel();
    dialog->btnDBBrowse->click();
    EXPECT_EQ(dialog->edtDBPath->text(), "/chosen/place/");
    EXPECT_EQ(config.DataFolder, root.folder() + "Data/") << "nothing changes before OK";
}

}  // namespace
}  // namespace pixhold::app
