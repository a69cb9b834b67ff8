// The main window's commands with the real data module behind them: menus
// triggered, questions answered from a script, the list, the selectors, the
// status line and the files on disk checked after each step.

#include "DataModuleWindow.h"
#include "FormFixture.h"
#include "ImageListFill.h"
#include "JpegCodec.h"
#include "MainCommands.h"
#include "PictureFile.h"
#include "TableFiles.h"
#include "WorkerPool.h"
#include "CofferBlobStream.h"
#include "fChangePassword.h"
#include "fDM.h"

#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <set>

namespace pixhold::app::test {
namespace {

namespace fs = std::filesystem;

imaging::TByteVector Jpeg(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return imaging::EncodeJpeg(image, 90);
}

void Put(const fs::path& path, const imaging::TByteVector& bytes) {
    fs::create_directories(path.parent_path());
    imaging::WritePictureFile(path.string(), bytes);
}

class MainCommandsTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        TMainHooks hooks;
        hooks.AskCategory = [this] { return nextShown; };
        MakeForm(std::move(hooks));
        form->Config().DataFolder = data.folder();
        form->Hooks().ListImageTables = [this] { return store::ListImageTables(form->Config().DataFolder); };
        form->Hooks().OpenImageTable = [this](const QString& table) { return dm->OpenImageTable(table.toStdString()); };
        form->Hooks().GetCategoryList = [this](const QString& table) {
            QStringList list;
            for (const std::string& c : dm->GetCategoryList(table.toStdString())) list.push_back(QString::fromStdString(c));
            return list;
        };
        form->Hooks().ApplyCategoryFilter = [this] { dm->ApplyCategoryFilter(); };
        window = std::make_unique<TDataModuleWindow>(prompt, *form);
        dm = std::make_unique<store::TDM>(form->Config(), *window);
        fill = std::make_unique<store::TImageListFill>(*dm, workers);
        form->PH().SetFillSource([this](imaging::TPH& ph, imaging::TImageList& list) { fill->Fill(ph, list); });
        dm->DataModuleCreate();

        TCommandDialogs dialogs;
        dialogs.ChooseDatabase = [this](const QString& current) -> std::optional<QString> {
            chooserPresets.push_back(current);
            return nextDatabase;
        };
        dialogs.AskMoveTarget = [this] { return nextMove; };
        dialogs.AskPasswords = [this] { return nextPasswords; };
        dialogs.AskAssignCategory = [this] { return nextCategory; };
        dialogs.OpenViewer = [this](bool modal) { viewerOpenings.push_back(modal); };
        dialogs.ShowOptions = [] {};
        commands = std::make_unique<TMainCommands>(*form, *dm, prompt, std::move(dialogs));
        commands->Bind();
        form->FillTableSelector();
        prompt.Clear();
    }
    void TearDown() override {
        commands.reset();
        fill.reset();
        dm.reset();
        window.reset();
        FormFixture::TearDown();
    }

    // The list as the user sees it.
    QStringList Shown() const {
        QStringList shown;
        for (int i = 0; i < Rows(); ++i) shown.push_back(Caption(i));
        return shown;
    }
    std::set<QString> ShownSet() const {
        const QStringList shown = Shown();
        return {shown.begin(), shown.end()};
    }
    void SelectNames(const QStringList& wanted) {
        form->ListView1->clearSelection();
        for (int i = 0; i < Rows(); ++i) {
            if (wanted.contains(Caption(i))) {
                form->ListView1->selectionModel()->select(form->ListModel().index(i), QItemSelectionModel::Select);
            }
        }
    }
    int SelectedCount() const { return static_cast<int>(form->ListView1->selectionModel()->selectedIndexes().size()); }
    QStringList Categories() const {
        QStringList items;
        for (int i = 0; i < form->cboCategory->count(); ++i) items.push_back(form->cboCategory->itemText(i));
        return items;
    }
    QStringList Tables() const {
        QStringList items;
        for (int i = 0; i < form->cboTable->count(); ++i) items.push_back(form->cboTable->itemText(i));
        return items;
    }
    // Records of a table as name/category, read through a table handle of its own.
    std::set<std::string> RecordsOf(const std::string& table) {
        engine::TCofferTable t;
        t.SetSessionName(dm->CofferSession1.SessionName());
        t.SetDatabaseName(dm->DB.DatabaseName());
        t.SetTableName(table);
        t.Open();
        std::set<std::string> records;
        for (t.First(); !t.Eof(); t.Next()) {
            records.insert(t.FieldByName("FileName").AsString() + "/" + t.FieldByName("Category").AsString());
        }
        t.Close();
        return records;
    }
    void ShowCategory(const QString& category) {
        const int at = form->cboCategory->findText(category);
        ASSERT_GE(at, 0) << category.toStdString();
        form->cboCategorySelect(at);
    }
    std::string Folder(const fs::path& p) const { return p.string() + "/"; }

    pixhold::test::TempDir data;
    pixhold::test::TempDir pictures;
    pixhold::test::TempDir exported;
    imaging::TWorkerPool workers{1};
    std::unique_ptr<TDataModuleWindow> window;
    std::unique_ptr<store::TDM> dm;
    std::unique_ptr<store::TImageListFill> fill;
    std::unique_ptr<TMainCommands> commands;

    std::optional<QString> nextDatabase;
    std::vector<QString> chooserPresets;
    TCommandDialogs::TMoveAnswer nextMove;
    std::optional<TCommandDialogs::TPasswords> nextPasswords;
    QString nextCategory = QStringLiteral("\t");
    QString nextShown = QStringLiteral("\t");
    std::vector<bool> viewerOpenings;
};

// Every command of the menus is enabled once the commands are bound.
TEST_F(MainCommandsTest, EveryMenuEntryIsEnabled) {
    for (QAction* action : form->findChildren<QAction*>()) {
        if (action->isSeparator() || action->menu() != nullptr || action->text().isEmpty()) continue;
        EXPECT_TRUE(action->isEnabled()) << action->objectName().toStdString();
    }
}

// A new user's session from the first table to its deletion.
TEST_F(MainCommandsTest, ATableFromCreationToDeletion) {
    store::TConfig& config = form->Config();
    config.ConfirmDelete = true;
    config.RecurseFoldersOnImport = true;
    config.UseFoldersAsCategoriesOnImport = true;

    // New Database.
    prompt.AnswerText(QStringLiteral("Holiday"));
    form->NewDatabase1->trigger();
    EXPECT_EQ(config.CurrentTable, "Holiday");
    EXPECT_EQ(form->StatusText(), QStringLiteral("Database: Holiday"));
    EXPECT_EQ(Tables(), (QStringList{QStringLiteral("Default"), QStringLiteral("Holiday")}));
    EXPECT_TRUE(store::DataFileExists(data.folder(), "Holiday.Dat"));
    EXPECT_EQ(Rows(), 0);

    // Import a folder tree: the subfolder becomes a category.
    Put(pictures.path() / "top.jpg", Jpeg(40, 30, qRgb(200, 0, 0)));
    Put(pictures.path() / "two.jpg", Jpeg(30, 40, qRgb(0, 200, 0)));
    Put(pictures.path() / "Cats" / "tom.jpg", Jpeg(20, 20, qRgb(0, 0, 200)));
    Put(pictures.path() / "Cats" / "kit.jpg", Jpeg(20, 20, qRgb(9, 9, 9)));
    prompt.AnswerText(QString::fromStdString(pictures.folder()));
    form->ImportImages1->trigger();
    EXPECT_EQ(RecordsOf("Holiday"), (std::set<std::string>{"top.jpg/", "two.jpg/", "tom.jpg/Cats", "kit.jpg/Cats"}));
    form->FillCategorySelector();
    EXPECT_EQ(Categories(), (QStringList{QStringLiteral("All"), QString(), QStringLiteral("Cats")}));
    // A table opens on the records without category.
    EXPECT_EQ(ShownSet(), (std::set<QString>{QStringLiteral("top.jpg"), QStringLiteral("two.jpg")}));

    // Change Image Category: "two.jpg" goes to Cats and leaves the view.
    SelectNames({QStringLiteral("two.jpg")});
    nextCategory = QStringLiteral("Cats");
    form->ChangeImageCategory1->trigger();
    EXPECT_EQ(Shown(), QStringList{QStringLiteral("top.jpg")});
    EXPECT_EQ(RecordsOf("Holiday").count("two.jpg/Cats"), 1u);

    // Move Images to Database, from the Cats view into Default under "Pets".
    ShowCategory(QStringLiteral("Cats"));
    EXPECT_EQ(ShownSet(), (std::set<QString>{QStringLiteral("tom.jpg"), QStringLiteral("kit.jpg"),
                                             QStringLiteral("two.jpg")}));
    SelectNames({QStringLiteral("tom.jpg")});
    nextMove = {QStringLiteral("Default"), QStringLiteral("Pets"), true};
    form->MoveImagestoDatabase1->trigger();
    EXPECT_EQ(ShownSet(), (std::set<QString>{QStringLiteral("kit.jpg"), QStringLiteral("two.jpg")}));
    EXPECT_EQ(RecordsOf("Default"), (std::set<std::string>{"tom.jpg/Pets"}));
    EXPECT_EQ(form->PH().TargetTable, QStringLiteral("Default"));
    EXPECT_EQ(SelectedCount(), 0);

    // Export Images: the picture's bytes, unchanged.
    SelectNames({QStringLiteral("kit.jpg")});
    prompt.AnswerText(QString::fromStdString(exported.folder()));
    form->ExportImages1->trigger();
    EXPECT_EQ(imaging::ReadPictureFile((exported.path() / "kit.jpg").string()),
              imaging::ReadPictureFile((pictures.path() / "Cats" / "kit.jpg").string()));
    EXPECT_EQ(config.LastExportDir, exported.folder());

    // Delete Image, confirmed.
    SelectNames({QStringLiteral("kit.jpg")});
    prompt.AnswerButton(TAnswer::Yes);
    form->DeleteImage1->trigger();
    EXPECT_EQ(Shown(), QStringList{QStringLiteral("two.jpg")});
    EXPECT_EQ(prompt.Asked().back().Text, QStringLiteral("Delete selected files?"));
    EXPECT_EQ(RecordsOf("Holiday"), (std::set<std::string>{"top.jpg/", "two.jpg/Cats"}));

    // Compact, then a password: the table opens again only with it.
    form->CompactDatabase1->trigger();
    EXPECT_TRUE(dm->tblData.Active());
    nextPasswords = TCommandDialogs::TPasswords{QString(), QStringLiteral("secret")};
    form->ChangeDatabasePassword1->trigger();
    EXPECT_TRUE(dm->tblData.Active());
    dm->CofferSession1.RemoveAllPasswords();
    dm->OpenImageTable("Default");
    window->RunPasswordDialog = [](TfrmNewPassword& dialog) {
        dialog.edtNewPwd->setText(QStringLiteral("secret"));
        return true;
    };
    nextDatabase = QStringLiteral("holiday");
    form->OpenDatabase1->trigger();
    // The table is opened under the name as typed.
    EXPECT_EQ(form->StatusText(), QStringLiteral("Database: holiday"));
    EXPECT_TRUE(config.CurrentCategory.empty());
    EXPECT_EQ(Shown(), QStringList{QStringLiteral("top.jpg")});

    // Delete Current Database: asked with OK and Cancel, then every file goes.
    prompt.AnswerButton(TAnswer::Ok);
    form->DeleteCurrentDatabase1->trigger();
    EXPECT_EQ(prompt.Asked().back().Text, QStringLiteral("Are you sure you want to delete the holiday database?"));
    EXPECT_EQ(config.CurrentTable, "Default");
    for (const char* ext : {".Dat", ".Blb", ".Idx"}) EXPECT_FALSE(store::DataFileExists(data.folder(), std::string("Holiday") + ext));
    EXPECT_EQ(Tables(), QStringList{QStringLiteral("Default")});
    EXPECT_EQ(form->cboTable->currentText(), QStringLiteral("Default"));
    EXPECT_EQ(Categories(), (QStringList{QStringLiteral("All"), QStringLiteral("Pets")}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainCommandsTest, DatabaseCommandRefusals) {
    struct TCase {
        const char* Name;
        std::function<void()> Act;
        const char* Message;
        std::size_t Asked;  // boxes shown, the refusal last
    };
    const TCase cases[] = {
        {"new with an existing name in another case",
         [this] {
             prompt.AnswerText(QStringLiteral("dEFAULT"));
             form->NewDatabase1->trigger();
         },
         "That database already exists.", 2},
        {"open a missing table",
         [this] {
             nextDatabase = QStringLiteral("Nowhere");
             form->OpenDatabase1->trigger();
         },
         "That database does not exist.", 1},
        {"delete the default table",
         [this] { form->DeleteCurrentDatabase1->trigger(); },
         "You cannot delete the default database.", 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        prompt.Clear();
        c.Act();
        ASSERT_EQ(prompt.Asked().size(), c.Asked);
        EXPECT_EQ(prompt.Asked().back().Kind, TScriptedPrompt::TKind::Message);
        EXPECT_EQ(prompt.Asked().back().Text, QString::fromUtf8(c.Message));
        EXPECT_EQ(form->Config().CurrentTable, "Default");
        EXPECT_EQ(form->StatusText(), QStringLiteral("Database: Default"));
        EXPECT_TRUE(dm->tblData.Active());
    }
}

TEST_F(MainCommandsTest, NewDatabaseCancelledChangesNothingNotEvenTheTableList) {
    form->cboTable->addItem(QStringLiteral("Stale"));
    prompt.AnswerCancel();
    form->NewDatabase1->trigger();
    prompt.AnswerText(QString());
    form->NewDatabase1->trigger();
    EXPECT_EQ(Tables(), (QStringList{QStringLiteral("Default"), QStringLiteral("Stale")}));
    EXPECT_EQ(store::ListImageTables(form->Config().DataFolder), QStringList{QStringLiteral("Default")});
}

TEST_F(MainCommandsTest, DeleteCurrentDatabaseCancelledKeepsTheTable) {
    dm->NewImageTable("Spare.Dat");
    form->Hooks().ListImageTables = [this] { return store::ListImageTables(form->Config().DataFolder); };
    prompt.AnswerButton(TAnswer::Cancel);
    form->DeleteCurrentDatabase1->trigger();
    EXPECT_EQ(form->Config().CurrentTable, "Spare");
    EXPECT_TRUE(dm->tblData.Active());
    EXPECT_TRUE(store::DataFileExists(data.folder(), "Spare.Dat"));

    // The default table gone: refused before any question.
    dm->tblThumbs.Close();
    for (const char* ext : {".DAT", ".BLB", ".IDX"}) fs::remove(data.path() / (std::string("Default") + ext));
    prompt.Clear();
    form->DeleteCurrentDatabase1->trigger();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Text, QStringLiteral("The default database does not exist."));
    EXPECT_TRUE(store::DataFileExists(data.folder(), "Spare.Dat"));
}

TEST_F(MainCommandsTest, DeleteAllOnlyInTheCategoryShown) {
    Put(pictures.path() / "a.jpg", Jpeg(8, 8, qRgb(1, 1, 1)));
    Put(pictures.path() / "Cats" / "c.jpg", Jpeg(8, 8, qRgb(2, 2, 2)));
    form->Config().RecurseFoldersOnImport = true;
    form->Config().UseFoldersAsCategoriesOnImport = true;
    dm->ImportFolder(pictures.folder(), "");
    form->FillCategorySelector();
    ShowCategory(QStringLiteral("Cats"));

    prompt.AnswerButton(TAnswer::No);
    form->DeleteAll1->trigger();
    EXPECT_EQ(RecordsOf("Default").size(), 2u);

    prompt.AnswerButton(TAnswer::Yes);
    form->DeleteAll1->trigger();
    EXPECT_EQ(prompt.Asked().back().Text, QStringLiteral("Are you sure you want to delete all images?"));
    EXPECT_EQ(RecordsOf("Default"), (std::set<std::string>{"a.jpg/"}));
    EXPECT_EQ(Rows(), 0);
}

// The folder-mode side of the commands on the selection.
class FolderCommandsTest : public MainCommandsTest {
protected:
    void SetUp() override {
        MainCommandsTest::SetUp();
        Put(pictures.path() / "a.jpg", Jpeg(40, 20, qRgb(200, 0, 0)));
        Put(pictures.path() / "b.jpg", Jpeg(20, 40, qRgb(0, 200, 0)));
        Put(pictures.path() / "c.jpg", Jpeg(30, 30, qRgb(0, 0, 200)));
        prompt.AnswerText(QString::fromStdString(pictures.folder()));
        form->BrowseFolder1->trigger();
        prompt.Clear();
        ASSERT_EQ(Rows(), 3);
        ASSERT_EQ(form->StatusText(), QStringLiteral("Folder: ") + QString::fromStdString(pictures.folder()));
    }
};

TEST_F(FolderCommandsTest, ChangeCategoryDoesNothingNotEvenDeselect) {
    SelectNames({QStringLiteral("a.jpg")});
    nextCategory = QStringLiteral("Cats");
    form->ChangeImageCategory1->trigger();
    EXPECT_EQ(SelectedCount(), 1);
    EXPECT_EQ(Rows(), 3);
}

TEST_F(FolderCommandsTest, DeleteRemovesWriteProtectedFilesToo) {
    fs::permissions(pictures.path() / "b.jpg", fs::perms::owner_read);
    form->Config().ConfirmDelete = false;
    SelectNames({QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
    form->DeleteImage1->trigger();
    EXPECT_TRUE(prompt.Asked().empty());
    EXPECT_EQ(Shown(), QStringList{QStringLiteral("c.jpg")});
    EXPECT_FALSE(fs::exists(pictures.path() / "a.jpg"));
    EXPECT_FALSE(fs::exists(pictures.path() / "b.jpg"));
}

TEST_F(FolderCommandsTest, DeleteConfirmedWithNoLeavesEverything) {
    form->Config().ConfirmDelete = true;
    SelectNames({QStringLiteral("a.jpg")});
    prompt.AnswerButton(TAnswer::No);
    form->DeleteImage1->trigger();
    EXPECT_EQ(Rows(), 3);
    EXPECT_TRUE(fs::exists(pictures.path() / "a.jpg"));
}

TEST_F(FolderCommandsTest, MoveImportsEachFileAndDeletesIt) {
    const imaging::TByteVector original = imaging::ReadPictureFile((pictures.path() / "b.jpg").string());
    SelectNames({QStringLiteral("b.jpg")});
    nextMove = {QStringLiteral("Default"), QStringLiteral("Trip"), true};
    form->MoveImagestoDatabase1->trigger();
    EXPECT_FALSE(fs::exists(pictures.path() / "b.jpg"));
    EXPECT_EQ(ShownSet(), (std::set<QString>{QStringLiteral("a.jpg"), QStringLiteral("c.jpg")}));
    EXPECT_EQ(RecordsOf("Default"), (std::set<std::string>{"b.jpg/Trip"}));
    // The folder still shows: the commands act on the table, the list on the folder.
    EXPECT_TRUE(form->Config().BrowseMode);
    dm->OpenImageTable("Default");
    dm->tblData.SetFiltered(false);
    ASSERT_TRUE(dm->tblData.FindKey({"b.jpg"}));
    EXPECT_EQ(dm->tblData.CreateBlobStream(dm->tblData.FieldByName("Image"), engine::TBlobStreamMode::bmRead)->ReadAll(),
              original);
}

TEST_F(FolderCommandsTest, MoveIntoAMissingTableKeepsTheFile) {
    SelectNames({QStringLiteral("b.jpg")});
    nextMove = {QStringLiteral("Nowhere"), QString(), true};
    form->MoveImagestoDatabase1->trigger();
    EXPECT_TRUE(fs::exists(pictures.path() / "b.jpg"));
    EXPECT_EQ(Rows(), 3);
    ASSERT_FALSE(prompt.Asked().empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FolderCommandsTest, ConvertToThumbnails) {
    struct TCase {
        const char* Suffix;  // nullptr: the input box is cancelled
        const char* Written;
    };
    const TCase cases[] = {{nullptr, nullptr}, {"_small", "a_small.jpg"}, {"", "a.jpg"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Suffix ? c.Suffix : "cancelled");
        SelectNames({QStringLiteral("a.jpg")});
        if (c.Suffix) {
            prompt.AnswerText(QString::fromUtf8(c.Suffix));
        } else {
            prompt.AnswerCancel();
        }
        form->ConvertImagestoThumbnails1->trigger();
        EXPECT_EQ(prompt.Asked().back().Caption, QStringLiteral("Convert images to thumbnails"));
        EXPECT_EQ(prompt.Asked().back().Text, QStringLiteral("Enter text to add to thumbnails or press OK to convert."));
        if (c.Written == nullptr) {
            EXPECT_EQ(SelectedCount(), 1);  // cancelled before anything was collected
            continue;
        }
        const QImage written = imaging::DecodeJpeg(imaging::ReadPictureFile((pictures.path() / c.Written).string()));
        EXPECT_EQ(written.size(), QSize(100, 100));
    }
    // The picture itself was left alone while a suffix was given, and
    // replaced by its copy without one.
    EXPECT_TRUE(fs::exists(pictures.path() / "a_small.jpg"));
}

TEST_F(FolderCommandsTest, QuickFolderBrowseOpensAModalViewerOnTheFirstEntry) {
    prompt.AnswerText(QString::fromStdString(pictures.folder()));
    form->QuickFolderBrowse1->trigger();
    EXPECT_TRUE(form->Config().QuickBrowse);
    EXPECT_EQ(viewerOpenings, std::vector<bool>{true});
    EXPECT_EQ(form->PH().ViewerIndex, 0);
    EXPECT_TRUE(form->PH().ThumbBitmaps.empty());

    // Cancelled: no viewer.
    prompt.AnswerCancel();
    form->QuickFolderBrowse1->trigger();
    EXPECT_EQ(viewerOpenings.size(), 1u);
}

// Keyboard: Enter opens the viewer on the current entry, non-modally.
TEST_F(FolderCommandsTest, EnterOpensTheViewerOnTheCurrentEntry) {
    form->show();
    form->ListView1->setFocus();
    form->ListView1->setCurrentIndex(form->ListModel().index(0));
    QTest::keyClick(form->ListView1, Qt::Key_End);
    QTest::keyClick(form->ListView1, Qt::Key_Return);
    EXPECT_EQ(viewerOpenings, std::vector<bool>{false});
    EXPECT_EQ(form->PH().ViewerIndex, 2);
}

TEST_F(MainCommandsTest, NothingSelectedAsksForNothing) {
    form->ExportImages1->trigger();
    form->MoveImagestoDatabase1->trigger();  // the dialog is shown, the dispatcher finds nothing
    EXPECT_TRUE(prompt.Asked().empty());
}

}  // namespace
}  // namespace pixhold::app::test
