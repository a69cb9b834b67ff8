#include "fSelectTable.h"

#include "CompletingComboBox.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace pixhold::app {

TfrmSelectTable::TfrmSelectTable(const QStringList& tables, const QString& currentTable,
                                 std::function<void()> showHelp, QWidget* parent)
    : TFixedDialog(QStringLiteral("frmSelectTable"), QStringLiteral("Choose database"),
                   QSize(ClientWidth, ClientHeight), std::move(showHelp), parent) {
    cboTable = new TCompletingComboBox(this);
    cboTable->setObjectName(QStringLiteral("cboTable"));
    cboTable->SetTextCompletion(true);
    cboTable->addItems(tables);
    cboTable->setEditText(currentTable);
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(cboTable);
    layout->addStretch();
    layout->addLayout(buttons);
    setTabOrder(cboTable, btnOK);
    setTabOrder(btnOK, btnCancel);
    cboTable->setFocus();
}

QString TfrmSelectTable::TableText() const { return cboTable->currentText(); }

TSelectTableAnswer SelectTable(const QStringList& tables, const QString& currentTable,
                               std::function<void()> showHelp, QWidget* parent) {
    TfrmSelectTable dialog(tables, currentTable, std::move(showHelp), parent);
    const bool ok = dialog.exec() == QDialog::Accepted;
    return {dialog.TableText(), ok};
}

}  // namespace pixhold::app
