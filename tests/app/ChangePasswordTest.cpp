// The change-password dialog and its reduced form, the password request.

#include "ErrorReport.h"
#include "ScriptedPrompt.h"
#include "fChangePassword.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include <vector>

namespace pixhold::app {
namespace {

class ChangePasswordTest : public ::testing::Test {
protected:
    TScriptedPrompt prompt;
    QString tablePassword;
    int helpRequests = 0;
    TfrmNewPassword dialog{prompt, [this] { return tablePassword; }, [this] { ++helpRequests; }};

    void Type(const QString& oldPwd, const QString& newPwd, const QString& again) {
        dialog.edtOldPwd->setText(oldPwd);
        dialog.edtNewPwd->setText(newPwd);
        dialog.edtReenterPwd->setText(again);
    }
};

TEST_F(ChangePasswordTest, ShowsThreeMaskedFieldsInTabOrder) {
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Change Password"));
    EXPECT_EQ(TfrmNewPassword::HelpContext, 40);
    EXPECT_EQ(dialog.lblOldPwd->text(), QStringLiteral("Old password:"));
    EXPECT_EQ(dialog.lblNewPwd->text(), QStringLiteral("New password:"));
    EXPECT_EQ(dialog.lblReenterPwd->text(), QStringLiteral("Re-enter password:"));
    EXPECT_EQ(dialog.btnOK->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.btnCancel->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(dialog.btnOK->isDefault());
    for (QLineEdit* edit : {dialog.edtOldPwd, dialog.edtNewPwd, dialog.edtReenterPwd}) {
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_EQ(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), int('#'));
    }
    // Tab goes old, new, re-entered, OK, Cancel.
    std::vector<QWidget*> order;
    QWidget* w = dialog.edtOldPwd;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) != 0) order.push_back(w);
        w = w->nextInFocusChain();
    } while (w != dialog.edtOldPwd && order.size() < 5);
    EXPECT_EQ(order, (std::vector<QWidget*>{dialog.edtOldPwd, dialog.edtNewPwd, dialog.edtReenterPwd, dialog.btnOK,
                                            dialog.btnCancel}));

    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &f1);
    EXPECT_EQ(helpRequests, 1);
}

struct OkCase {
    const char* table;  // the table's password
    const char* oldPwd;
    const char* newPwd;
    const char* again;
    const char* refusal;  // nullptr: the dialog closes with OK
};

class ChangePasswordOkTest : public ChangePasswordTest, public ::testing::WithParamInterface<OkCase> {};

TEST_P(ChangePasswordOkTest, ChecksOldPasswordThenTheRepeat) {
    const OkCase& c = GetParam();
    tablePassword = QString::fromUtf8(c.table);
    dialog.open();
    Type(c.oldPwd, c.newPwd, c.again);
    dialog.btnOK->click();
    if (c.refusal == nullptr) {
        EXPECT_TRUE(prompt.Asked().empty());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.isVisible());
        return;
    }
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Kind, TScriptedPrompt::TKind::Message);
    EXPECT_EQ(prompt.Asked()[0].Caption, AppTitle);
    EXPECT_EQ(prompt.Asked()[0].Text, QString::fromUtf8(c.refusal));
    EXPECT_TRUE(dialog.isVisible());  // stays open for another try
}

const char* const kIncorrect = "The old password entered is incorrect.";
const char* const kNoMatch = "The new passwords do not match.";

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangePasswordOkTest,
    ::testing::Values(OkCase{"", "", "Secret1", "Secret1", nullptr},   // a table without password
                      OkCase{"Secret1", "Secret1", "", "", nullptr},  // removing the password
                      OkCase{"Secret1", "secret1", "x", "x", kIncorrect},  // exact comparison
                      OkCase{"", "guess", "x", "x", kIncorrect},
                      OkCase{"Secret1", "", "x", "x", kIncorrect},
                      OkCase{"Secret1", "Secret1", "New1", "new1", kNoMatch},
                      OkCase{"", "", "New1", "", kNoMatch},
                      // the old password is checked first
                      OkCase{"Secret1", "wrong", "a", "b", kIncorrect}));

TEST_F(ChangePasswordTest, ARefusedOkCanBeCorrected) {
    tablePassword = QStringLiteral("pw");
    dialog.open();
    Type("pw", "one", "two");
    dialog.btnOKClick();
    dialog.edtReenterPwd->setText(QStringLiteral("one"));
    dialog.btnOKClick();
    EXPECT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ChangePasswordTest, CancelClosesWithoutChecks) {
    tablePassword = QStringLiteral("pw");
    dialog.open();
    Type("wrong", "a", "b");
    dialog.btnCancel->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(ChangePasswordTest, ThePasswordRequestAsksForOnePasswordAndChecksNothing) {
    tablePassword = QStringLiteral("something else");
    dialog.MakePasswordRequest();
    dialog.open();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Enter Password"));
    EXPECT_FALSE(dialog.lblOldPwd->isVisible());
    EXPECT_FALSE(dialog.edtOldPwd->isVisible());
    EXPECT_FALSE(dialog.lblReenterPwd->isVisible());
    EXPECT_FALSE(dialog.edtReenterPwd->isVisible());
    EXPECT_TRUE(dialog.edtNewPwd->isVisible());
    EXPECT_EQ(dialog.lblNewPwd->text(), QStringLiteral("Password:"));
    dialog.edtNewPwd->setText(QStringLiteral("typed"));
    dialog.btnOK->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompt.Asked().empty());
}

}  // namespace
}  // namespace pixhold::app
