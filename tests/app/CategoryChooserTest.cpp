// The completing combo box and the category chooser, driven with keys.

#include "CompletingComboBox.h"
#include "fCategory.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace pixhold::app {
namespace {

TEST(CompletingComboBox, CompletesTypedTextInAnyCaseAndHighlightsTheRest) {
    TCompletingComboBox box;
    box.addItems({"All", "Cats", "Dogs", "Dolphins"});
    box.setEditText(QString());
    box.show();
    QTest::keyClicks(box.lineEdit(), "d");
    EXPECT_EQ(box.currentText(), "Dogs");
    EXPECT_EQ(box.lineEdit()->selectedText(), "ogs");
    // Typing on overwrites the completed part.
    QTest::keyClicks(box.lineEdit(), "OL");
    EXPECT_EQ(box.currentText(), "Dolphins");
    EXPECT_EQ(box.lineEdit()->selectedText(), "phins");
    // Nothing begins with this: the text stays as typed.
    box.lineEdit()->setText(QString());
    QTest::keyClicks(box.lineEdit(), "x");
    EXPECT_EQ(box.currentText(), "x");
    // Delete removes without completing; Backspace completes again.
    box.lineEdit()->setText("Cat");
    box.lineEdit()->setCursorPosition(3);
    QTest::keyClick(box.lineEdit(), Qt::Key_Backspace);
    EXPECT_EQ(box.currentText(), "Cats");
    box.lineEdit()->setText("Ca");
    box.lineEdit()->setCursorPosition(0);
    QTest::keyClick(box.lineEdit(), Qt::Key_Delete);
    EXPECT_EQ(box.currentText(), "a");
    // Off: nothing is completed.
    box.SetTextCompletion(false);
    box.lineEdit()->setText(QString());
    QTest::keyClicks(box.lineEdit(), "c");
    EXPECT_EQ(box.currentText(), "c");
}

TEST(CategoryChooser, ListsAllAndTheCategoriesInBothModes) {
    TfrmCategory dialog({"", "Cats", "Dogs"});
    EXPECT_EQ(dialog.windowTitle(), "Change Category");
    EXPECT_EQ(dialog.Label1->text(), "Choose category to assign image to");
    ASSERT_EQ(dialog.cboCategory->count(), 4);
    EXPECT_EQ(dialog.cboCategory->itemText(0), "All");
    EXPECT_EQ(dialog.cboCategory->itemText(1), "");
    EXPECT_EQ(dialog.cboCategory->currentText(), "");
    EXPECT_TRUE(dialog.btnOK->isDefault());
    EXPECT_EQ(dialog.size(), QSize(TfrmCategory::ClientWidth, TfrmCategory::ClientHeight));
    dialog.MakeSetMode();
    EXPECT_EQ(dialog.windowTitle(), "Set Category");
    EXPECT_EQ(dialog.Label1->text(), "Choose category to set database to");
}

TEST(CategoryChooser, OkReturnsTheTypedTextAndCancelTheTab) {
    const struct {
        const char* Typed;
        bool Ok;
        QString Answer;
    } cases[] = {
        {"do", true, "Dogs"},        // completed
        {"Birds", true, "Birds"},    // a new category
        {"", true, ""},              // no category
        {"Dogs", false, "\t"},       // cancelled
    };
    for (const auto& c : cases) {
        TfrmCategory dialog({"Cats", "Dogs"});
        QTimer::singleShot(0, &dialog, [&dialog, &c] {
            QTest::keyClicks(dialog.cboCategory->lineEdit(), c.Typed);
            QTest::mouseClick(c.Ok ? dialog.btnOK : dialog.btnCancel, Qt::LeftButton);
        });
        EXPECT_EQ(dialog.Choose(), c.Answer) << c.Typed;
    }
    // Closing by the frame counts as Cancel.
    TfrmCategory dialog({"Cats"});
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.close(); });
    EXPECT_EQ(dialog.Choose(), TfrmCategory::CancelMark);
}

}  // namespace
}  // namespace pixhold::app
