#include "fSaveDBImageAs.h"

#include "ErrorReport.h"
#include "ImageFns.h"
#include "Prompt.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pixhold::app {

namespace {

QString TypeExtension(int index) { return QString::fromStdString(imaging::ExtensionOfFileType(index)); }

}  // namespace

QString FileExtensionOf(const QString& name) {
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 || dot < slash ? QString() : name.mid(dot);
}

QString ReplaceFileExtension(const QString& name, const QString& extension) {
    const QString current = FileExtensionOf(name);
    return name.left(name.size() - current.size()) + extension;
}

TfrmSaveDBImageAs::TfrmSaveDBImageAs(IPrompt& prompt, const QString& fileName, std::function<void()> showHelp,
                                     QWidget* parent)
    : TFixedDialog(QStringLiteral("frmSaveDBImageAs"), QStringLiteral("Save As"), QSize(ClientWidth, ClientHeight),
                   std::move(showHelp), parent),
      prompt_(prompt) {
    lblFileName = new QLabel(QStringLiteral("File name:"), this);
    edtFileName = new QLineEdit(fileName, this);
    edtFileName->setObjectName(QStringLiteral("edtFileName"));
    lblFileName->setBuddy(edtFileName);
    lblFileType = new QLabel(QStringLiteral("Save as type:"), this);
    cboFileType = new QComboBox(this);
    cboFileType->setObjectName(QStringLiteral("cboFileType"));
    cboFileType->setEditable(true);
    cboFileType->setInsertPolicy(QComboBox::NoInsert);
    cboFileType->setCompleter(nullptr);
    for (const char* entry : imaging::SaveAsTypes) cboFileType->addItem(QString::fromLatin1(entry));
    lblFileType->setBuddy(cboFileType);
    // The entry of the name's own extension, when there is one.
    cboFileType->setCurrentIndex(-1);
    cboFileType->setEditText(QString());
    for (int i = 0; i < cboFileType->count(); ++i) {
        if (TypeExtension(i) == FileExtensionOf(fileName)) {
            cboFileType->setCurrentIndex(i);
            break;
        }
    }
    btnSave = new QPushButton(QStringLiteral("Save"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cboFileType, &QComboBox::currentIndexChanged, this, [this] { FileTypeChanged(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(lblFileName, 0, 0);
    grid->addWidget(edtFileName, 0, 1);
    grid->addWidget(btnSave, 0, 2);
    grid->addWidget(lblFileType, 1, 0);
    grid->addWidget(cboFileType, 1, 1);
    grid->addWidget(btnCancel, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    setTabOrder(edtFileName, cboFileType);
    setTabOrder(cboFileType, btnSave);
    setTabOrder(btnSave, btnCancel);
    edtFileName->setFocus();
}

int TfrmSaveDBImageAs::ChosenType() const {
    const int current = cboFileType->currentIndex();
    if (current >= 0 && cboFileType->itemText(current) == cboFileType->currentText()) return current;
    return cboFileType->findText(cboFileType->currentText(), Qt::MatchExactly);
}

void TfrmSaveDBImageAs::FileTypeChanged() {
    edtFileName->setText(ReplaceFileExtension(edtFileName->text(), TypeExtension(ChosenType())));
}

void TfrmSaveDBImageAs::btnSaveClick() {
    if (TypeExtension(ChosenType()) != FileExtensionOf(edtFileName->text())) {
        prompt_.Message(AppTitle, QStringLiteral("The chosen extension does not match the current file extension."),
                        TMsgIcon::None);
        return;
    }
    QStringList entries;
    for (int i = 0; i < cboFileType->count(); ++i) entries << cboFileType->itemText(i);
    const QString typed = cboFileType->currentText();
    if (typed.isEmpty() || !entries.join(QLatin1Char('\n')).contains(typed)) {
        prompt_.Message(AppTitle, QStringLiteral("That is not a valid extension."), TMsgIcon::None);
        return;
    }
    accept();
}

std::optional<QString> TfrmSaveDBImageAs::Run() {
    if (exec() != QDialog::Accepted) return std::nullopt;
    return edtFileName->text();
}

}  // namespace pixhold::app
