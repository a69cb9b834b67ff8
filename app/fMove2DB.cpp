#include "fMove2DB.h"

#include "CompletingComboBox.h"
#include "Config.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pixhold::app {

TfrmMove2DB::TfrmMove2DB(store::TConfig& config, const QStringList& tables, TCategoriesOf categoriesOf,
                         QWidget* parent)
    : TFixedDialog(QStringLiteral("frmMove2DB"), QStringLiteral("Move to database"),
                   QSize(ClientWidth, ClientHeight), {}, parent),
      config_(config),
      categoriesOf_(std::move(categoriesOf)) {
    lblTable = new QLabel(QStringLiteral("Database to move to:"), this);
    cboTable = new TCompletingComboBox(this);
    cboTable->setObjectName(QStringLiteral("cboTable"));
    cboTable->SetTextCompletion(true);
    lblTable->setBuddy(cboTable);
    lblCategory = new QLabel(QStringLiteral("Category to assign to:"), this);
    cboCategory = new TCompletingComboBox(this);
    cboCategory->setObjectName(QStringLiteral("cboCategory"));
    cboCategory->SetTextCompletion(true);
    lblCategory->setBuddy(cboCategory);
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTable);
    layout->addWidget(cboTable);
    layout->addWidget(lblCategory);
    layout->addWidget(cboCategory);
    layout->addStretch();
    layout->addLayout(buttons);
    setTabOrder(cboTable, cboCategory);
    setTabOrder(cboCategory, btnOK);
    setTabOrder(btnOK, btnCancel);

    cboTable->addItems(tables);
    const QString lastTable = QString::fromStdString(config_.LastMoveTableName);
    cboTable->setEditText(lastTable);
    FillCategories(lastTable);
    cboCategory->setEditText(QString::fromStdString(config_.LastMoveCategory));
    // The table box has its own line edit: the focus leaves either of them.
    cboTable->installEventFilter(this);
    cboTable->lineEdit()->installEventFilter(this);
    cboTable->setFocus();
}

void TfrmMove2DB::FillCategories(const QString& table) {
    cboCategory->clear();
    if (categoriesOf_) cboCategory->addItems(categoriesOf_(table));
    cboCategory->insertItem(0, QStringLiteral("All"));
    cboCategory->setCurrentIndex(-1);
    cboCategory->setEditText(QString());
}

bool TfrmMove2DB::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == cboTable || watched == cboTable->lineEdit()) && event->type() == QEvent::FocusOut) {
        // Only when the focus goes to another control of the dialog: not to
        // the box's own list, nor away with the whole window.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const QWidget* now = QApplication::focusWidget();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && now != nullptr &&
            now != cboTable && !cboTable->isAncestorOf(now) && isAncestorOf(now)) {
            FillCategories(cboTable->currentText());
        }
    }
    return TFixedDialog::eventFilter(watched, event);
}

void TfrmMove2DB::btnOKClick() {
    config_.LastMoveTableName = TableText().toStdString();
    config_.LastMoveCategory = CategoryText().toStdString();
    accept();
}

bool TfrmMove2DB::Run() { return exec() == QDialog::Accepted; }
QString TfrmMove2DB::TableText() const { return cboTable->currentText(); }
QString TfrmMove2DB::CategoryText() const { return cboCategory->currentText(); }

TMoveTargetAnswer AskMoveTarget(store::TConfig& config, const QStringList& tables,
                                TfrmMove2DB::TCategoriesOf categoriesOf, QWidget* parent) {
    TfrmMove2DB dialog(config, tables, std::move(categoriesOf), parent);
    const bool ok = dialog.Run();
    return {dialog.TableText(), dialog.CategoryText(), ok};
}

}  // namespace pixhold::app
