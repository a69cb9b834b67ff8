#include "fChangePassword.h"

#include "ErrorReport.h"
#include "Prompt.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>

namespace pixhold::app {

namespace {

// Password boxes show "#" for every character typed.
class TMaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '#';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

TfrmNewPassword::TfrmNewPassword(IPrompt& prompt, std::function<QString()> tablePassword,
                                 std::function<void()> showHelp, QWidget* parent)
    : QDialog(parent), prompt_(prompt), tablePassword_(std::move(tablePassword)), showHelp_(std::move(showHelp)) {
    setObjectName(QStringLiteral("frmNewPassword"));
    setWindowTitle(QStringLiteral("Change Password"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* mask = new TMaskStyle;
    mask->setParent(this);
    auto makeField = [this, mask](QLabel*& label, QLineEdit*& edit, const char* labelName, const char* editName,
                                  const QString& caption) {
        label = new QLabel(caption, this);
        label->setObjectName(QString::fromLatin1(labelName));
        edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(editName));
        edit->setStyle(mask);
        edit->setEchoMode(QLineEdit::Password);
        label->setBuddy(edit);
    };
    makeField(lblOldPwd, edtOldPwd, "lblOldPwd", "edtOldPwd", QStringLiteral("Old password:"));
    makeField(lblNewPwd, edtNewPwd, "lblNewPwd", "edtNewPwd", QStringLiteral("New password:"));
    makeField(lblReenterPwd, edtReenterPwd, "lblReenterPwd", "edtReenterPwd", QStringLiteral("Re-enter password:"));

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(lblOldPwd, 0, 0);
    grid->addWidget(edtOldPwd, 0, 1);
    grid->addWidget(lblNewPwd, 1, 0);
    grid->addWidget(edtNewPwd, 1, 1);
    grid->addWidget(lblReenterPwd, 2, 0);
    grid->addWidget(edtReenterPwd, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    grid->addLayout(buttons, 3, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);  // fixed dialog border

    setTabOrder(edtOldPwd, edtNewPwd);
    setTabOrder(edtNewPwd, edtReenterPwd);
    setTabOrder(edtReenterPwd, btnOK);
    setTabOrder(btnOK, btnCancel);
    edtOldPwd->setFocus();
}

void TfrmNewPassword::MakePasswordRequest() {
    setWindowTitle(QStringLiteral("Enter Password"));
    lblOldPwd->hide();
    edtOldPwd->hide();
    lblReenterPwd->hide();
    edtReenterPwd->hide();
    lblNewPwd->setText(QStringLiteral("Password:"));
    edtNewPwd->setFocus();
}

void TfrmNewPassword::btnOKClick() {
    if (!edtOldPwd->isHidden()) {
        const QString current = tablePassword_ ? tablePassword_() : QString();
        if (edtOldPwd->text() != current) {
            prompt_.Message(AppTitle, QStringLiteral("The old password entered is incorrect."), TMsgIcon::None);
            return;
        }
        if (edtNewPwd->text() != edtReenterPwd->text()) {
            prompt_.Message(AppTitle, QStringLiteral("The new passwords do not match."), TMsgIcon::None);
            return;
        }
    }
    accept();
}

void TfrmNewPassword::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    raise();
    activateWindow();
}

void TfrmNewPassword::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && showHelp_) {
        showHelp_();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace pixhold::app
