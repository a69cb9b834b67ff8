#include "fCategory.h"

#include "CompletingComboBox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pixhold::app {

TfrmCategory::TfrmCategory(const QStringList& categories, std::function<void()> showHelp, QWidget* parent)
    : QDialog(parent), showHelp_(std::move(showHelp)) {
    setObjectName(QStringLiteral("frmCategory"));
    setWindowTitle(QStringLiteral("Change Category"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Label1 = new QLabel(QStringLiteral("Choose category to assign image to"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    cboCategory = new TCompletingComboBox(this);
    cboCategory->setObjectName(QStringLiteral("cboCategory"));
    cboCategory->addItems(categories);
    cboCategory->insertItem(0, QStringLiteral("All"));
    cboCategory->setEditText(QString());
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(cboCategory);
    layout->addLayout(buttons);
    setFixedSize(ClientWidth, ClientHeight);
    cboCategory->setFocus();
}

void TfrmCategory::MakeSetMode() {
    setWindowTitle(QStringLiteral("Set Category"));
    Label1->setText(QStringLiteral("Choose category to set database to"));
}

QString TfrmCategory::Choose() {
    return exec() == QDialog::Accepted ? cboCategory->currentText() : CancelMark;
}

void TfrmCategory::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && showHelp_) {
        showHelp_();
        return;
    }
    QDialog::keyPressEvent(event);
}

QString AskCategory(bool setMode, const QStringList& categories, std::function<void()> showHelp,
                    QWidget* parent) {
    TfrmCategory dialog(categories, std::move(showHelp), parent);
    if (setMode) dialog.MakeSetMode();
    return dialog.Choose();
}

}  // namespace pixhold::app
