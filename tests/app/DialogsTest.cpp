// Choose database, Move to database and the stored picture's Save As, driven
// through their widgets.

#include "CompletingComboBox.h"
#include "Config.h"
#include "ErrorReport.h"
#include "ScriptedPrompt.h"
#include "TempDir.h"
#include "fMove2DB.h"
#include "fSaveDBImageAs.h"
#include "fSelectTable.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <map>

namespace pixhold::app {
namespace {

// Runs `steps` once the modal loop of the dialog has started.
void WhileModal(const std::function<void()>& steps) { QTimer::singleShot(0, steps); }

// Tab order from the first widget: those that take the focus by Tab.
std::vector<QWidget*> TabOrder(QWidget* first, std::size_t count) {
    std::vector<QWidget*> order;
    QWidget* w = first;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isEnabled() && w->isVisibleTo(w->window()) &&
            w->focusProxy() == nullptr) {
            order.push_back(w);
        }
        w = w->nextInFocusChain();
    } while (w != first && order.size() < count);
    return order;
}

// Esc, and closing by the window frame, close with Cancel.
void ExpectEscAndFrameCancel(QDialog& dialog) {
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    dialog.show();
    dialog.setResult(QDialog::Accepted);
    dialog.close();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// Saves a picture of the dialog when PIXHOLD_DIALOG_SHOTS names a folder.
void Shot(QWidget& dialog, const char* name) {
    if (const char* folder = std::getenv("PIXHOLD_DIALOG_SHOTS")) {
        dialog.show();
        QTest::qWait(20);
        dialog.grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
    }
}

// ---- Choose database ----

TEST(SelectTable, ListsTheTablesPresetToTheCurrentOne) {
    int help = 0;
    TfrmSelectTable dialog({"Default", "Holiday 2004", "Work"}, "Work", [&] { ++help; });
    EXPECT_EQ(dialog.windowTitle(), "Choose database");
    EXPECT_EQ(dialog.size(), QSize(215, 96));
    EXPECT_EQ(TfrmSelectTable::HelpContext, 40);
    EXPECT_EQ(dialog.cboTable->count(), 3);
    EXPECT_EQ(dialog.cboTable->currentText(), "Work");
    EXPECT_TRUE(dialog.cboTable->TextCompletion());
    EXPECT_EQ(dialog.btnOK->text(), "OK");
    EXPECT_TRUE(dialog.btnOK->isDefault());
    EXPECT_EQ(dialog.btnCancel->text(), "Cancel");
    EXPECT_EQ(dialog.font().family(), "Arial");
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_F1);
    EXPECT_EQ(help, 1);
    Shot(dialog, "choose-database");
    ExpectEscAndFrameCancel(dialog);
}

TEST(SelectTable, ReturnsTheTypedTextAndWhetherOkWasPressed) {
    for (const bool ok : {true, false}) {
        QWidget owner;
        WhileModal([&] {
            auto* dialog = owner.findChild<TfrmSelectTable*>();
            ASSERT_NE(dialog, nullptr);
            dialog->cboTable->lineEdit()->clear();
            QTest::keyClicks(dialog->cboTable->lineEdit(), "hol");
            if (ok) {
                QTest::keyClick(dialog->cboTable->lineEdit(), Qt::Key_Return);  // the default button
            } else {
                dialog->btnCancel->click();
            }
        });
        const TSelectTableAnswer answer = SelectTable({"Default", "Holiday 2004"}, "Default", {}, &owner);
        EXPECT_EQ(answer.Ok, ok);
        EXPECT_EQ(answer.Table, "Holiday 2004") << "completed, and read after Cancel too";
    }
}

// ---- Move to database ----

class Move2DBTest : public ::testing::Test {
protected:
    Move2DBTest() {
        config.LastMoveTableName = "Work";
        config.LastMoveCategory = "Cats";
    }
    QStringList CategoriesOf(const QString& table) {
        asked.push_back(table);
        const auto it = categories.find(table);
        return it == categories.end() ? QStringList{} : it->second;
    }
    static QStringList Entries(const QComboBox* box) {
        QStringList entries;
        for (int i = 0; i < box->count(); ++i) entries << box->itemText(i);
        return entries;
    }

    pixhold::test::TempDir programFolder;
    store::TConfig config{programFolder.path().string()};
    std::map<QString, QStringList> categories{{"Work", {"", "Cats", "Dogs"}}, {"Default", {"Sea"}}};
    QStringList asked;
    TfrmMove2DB::TCategoriesOf categoriesOf = [this](const QString& table) { return CategoriesOf(table); };
};

TEST_F(Move2DBTest, OpensOnTheLastTargetWithItsCategories) {
    TfrmMove2DB dialog(config, {"Default", "Work"}, categoriesOf);
    EXPECT_EQ(dialog.windowTitle(), "Move to database");
    EXPECT_EQ(dialog.size(), QSize(207, 152));
    EXPECT_EQ(dialog.lblTable->text(), "Database to move to:");
    EXPECT_EQ(dialog.lblCategory->text(), "Category to assign to:");
    EXPECT_EQ(Entries(dialog.cboTable), (QStringList{"Default", "Work"}));
    EXPECT_EQ(dialog.cboTable->currentText(), "Work");
    EXPECT_EQ(Entries(dialog.cboCategory), (QStringList{"All", "", "Cats", "Dogs"}));
    EXPECT_EQ(dialog.cboCategory->currentText(), "Cats");
    EXPECT_TRUE(dialog.cboTable->TextCompletion());
    EXPECT_TRUE(dialog.cboCategory->TextCompletion());
    EXPECT_TRUE(dialog.btnOK->isDefault());
    dialog.show();
    EXPECT_EQ(TabOrder(dialog.cboTable, 4),
              (std::vector<QWidget*>{dialog.cboTable, dialog.cboCategory, dialog.btnOK, dialog.btnCancel}));
    Shot(dialog, "move-to-database");
    ExpectEscAndFrameCancel(dialog);
}

TEST_F(Move2DBTest, LeavingTheTableBoxRefillsTheCategoriesOfTheTableNamedThere) {
    TfrmMove2DB dialog(config, {"Default", "Work"}, categoriesOf);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.cboTable->setFocus();
    dialog.cboTable->lineEdit()->clear();
    QTest::keyClicks(dialog.cboTable->lineEdit(), "def");
    EXPECT_EQ(dialog.cboTable->currentText(), "Default");
    QTest::keyClick(dialog.cboTable->lineEdit(), Qt::Key_Tab);
    EXPECT_TRUE(dialog.cboCategory->hasFocus());
    EXPECT_EQ(Entries(dialog.cboCategory), (QStringList{"All", "Sea"}));
    EXPECT_EQ(dialog.cboCategory->currentText(), "") << "cleared";

    // A new table name: only "All".
    dialog.cboTable->setFocus();
    dialog.cboTable->lineEdit()->clear();
    QTest::keyClicks(dialog.cboTable->lineEdit(), "Brand new");
    dialog.btnOK->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(asked.back(), "Brand new");
    EXPECT_EQ(Entries(dialog.cboCategory), QStringList{"All"});
}

TEST_F(Move2DBTest, OkStoresBothTextsAndCancelLeavesTheSettings) {
    for (const bool ok : {false, true}) {
        TfrmMove2DB dialog(config, {"Default", "Work"}, categoriesOf);
        WhileModal([&] {
            dialog.cboCategory->lineEdit()->clear();
            QTest::keyClicks(dialog.cboCategory->lineEdit(), "New cat");
            (ok ? dialog.btnOK : dialog.btnCancel)->click();
        });
        EXPECT_EQ(dialog.Run(), ok);
        EXPECT_EQ(dialog.TableText(), "Work");
        EXPECT_EQ(dialog.CategoryText(), "New cat");
        EXPECT_EQ(config.LastMoveCategory, ok ? "New cat" : "Cats");
        EXPECT_EQ(config.LastMoveTableName, "Work");
    }
}

// ---- Save As for a stored picture ----

class SaveDBImageAsTest : public ::testing::Test {
protected:
    TScriptedPrompt prompt;
    int help = 0;

    std::unique_ptr<TfrmSaveDBImageAs> Make(const QString& name) {
        return std::make_unique<TfrmSaveDBImageAs>(prompt, name, [this] { ++help; });
    }
};

TEST_F(SaveDBImageAsTest, ShowsTheNameAndTheSevenTypes) {
    auto dialog = Make("photo.jpg");
    EXPECT_EQ(dialog->windowTitle(), "Save As");
    EXPECT_EQ(dialog->size(), QSize(388, 126));
    EXPECT_EQ(TfrmSaveDBImageAs::HelpContext, 50);
    EXPECT_EQ(dialog->lblFileName->text(), "File name:");
    EXPECT_EQ(dialog->lblFileType->text(), "Save as type:");
    EXPECT_EQ(dialog->btnSave->text(), "Save");
    EXPECT_TRUE(dialog->btnSave->isDefault());
    EXPECT_TRUE(dialog->cboFileType->isEditable());
    const QStringList expected{"GIF Image (*.gif)",       "JPEG Image File (*.jpg)",    "JPEG Image File (*.jpeg)",
                               "Bitmaps (*.bmp)",         "Icons (*.ico)",              "Enhanced Metafiles (*.emf)",
                               "Metafiles (*.wmf)"};
    QStringList entries;
    for (int i = 0; i < dialog->cboFileType->count(); ++i) entries << dialog->cboFileType->itemText(i);
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(dialog->edtFileName->text(), "photo.jpg");
    EXPECT_EQ(dialog->cboFileType->currentText(), "JPEG Image File (*.jpg)") << "the name's own type";
    dialog->show();
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    EXPECT_EQ(help, 1);
    Shot(*dialog, "save-as");
    ExpectEscAndFrameCancel(*dialog);
}

TEST_F(SaveDBImageAsTest, ChoosingATypePutsItsExtensionOnTheName) {
    auto dialog = Make("my.photo.jpg");
    const struct {
        int Index;
        const char* Name;
    } steps[] = {{3, "my.photo.bmp"}, {2, "my.photo.jpeg"}, {0, "my.photo.gif"}, {6, "my.photo.wmf"}, {-1, "my.photo"}};
    for (const auto& step : steps) {
        dialog->cboFileType->setCurrentIndex(step.Index);
        EXPECT_EQ(dialog->edtFileName->text(), step.Name) << step.Index;
    }
    // Picked with the keyboard.
    dialog->edtFileName->setText("my.photo.jpg");
    dialog->show();
    dialog->cboFileType->setFocus();
    dialog->cboFileType->setCurrentIndex(3);
    QTest::keyClick(dialog->cboFileType, Qt::Key_Down);
    EXPECT_EQ(dialog->edtFileName->text(), "my.photo.ico");
}

TEST_F(SaveDBImageAsTest, SaveRefusesAMismatchedExtensionAndATypeThatIsNoEntry) {
    const QString kMismatch = "The chosen extension does not match the current file extension.";
    const QString kInvalid = "That is not a valid extension.";
    const struct {
        const char* Preset;
        const char* TypedName;  // typed over the name; nullptr: kept
        int Index;              // chosen entry before typing, -2: none chosen
        const char* TypedType;  // typed into the type box; nullptr: kept
        QString Refusal;        // empty: closes with the name
    } cases[] = {
        {"photo.jpg", nullptr, 3, nullptr, {}},
        {"photo.jpg", "photo.gif", 3, nullptr, kMismatch},
        {"photo.jpg", "photo.JPG", 1, nullptr, kMismatch},  // compared exactly
        {"photo.png", nullptr, -2, nullptr, kMismatch},     // no entry, but the name has one
        {"photo", nullptr, -2, nullptr, kInvalid},          // empty type text
        {"photo", nullptr, -2, "Foo", kInvalid},
        {"photo", nullptr, -2, "(*.bmp)", {}},  // occurs within the entries
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Preset) + " " + (c.TypedName ? c.TypedName : "") + " " +
                     (c.TypedType ? c.TypedType : ""));
        prompt.Clear();
        auto dialog = Make(c.Preset);
        if (c.Index >= -1) dialog->cboFileType->setCurrentIndex(c.Index);
        if (c.TypedName) {
            dialog->edtFileName->clear();
            QTest::keyClicks(dialog->edtFileName, c.TypedName);
        }
        if (c.TypedType) {
            dialog->cboFileType->lineEdit()->clear();
            QTest::keyClicks(dialog->cboFileType->lineEdit(), c.TypedType);
        }
        const QString name = dialog->edtFileName->text();
        std::optional<QString> result;
        bool stayedOpen = false;
        WhileModal([&] {
            QTest::mouseClick(dialog->btnSave, Qt::LeftButton);
            stayedOpen = dialog->isVisible();
            if (stayedOpen) dialog->btnCancel->click();
        });
        result = dialog->Run();
        if (c.Refusal.isEmpty()) {
            EXPECT_FALSE(stayedOpen);
            EXPECT_EQ(result, std::optional<QString>(name));
            EXPECT_TRUE(prompt.Asked().empty());
        } else {
            EXPECT_TRUE(stayedOpen);
            EXPECT_EQ(result, std::nullopt);
            ASSERT_EQ(prompt.Asked().size(), 1u);
            EXPECT_EQ(prompt.Asked()[0].Text, c.Refusal);
            EXPECT_EQ(prompt.Asked()[0].Caption, AppTitle);
        }
    }
}

}  // namespace
}  // namespace pixhold::app
