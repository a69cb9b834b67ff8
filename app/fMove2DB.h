#pragma once

#include "FixedDialog.h"

#include <QStringList>

class QLabel;
class QPushButton;

namespace pixhold::store {
class TConfig;
}

namespace pixhold::app {

class TCompletingComboBox;

// Move to database: the table to move pictures into and the category they
// take, preset to LastMoveTableName and LastMoveCategory. Leaving the table
// box refills the categories with those of the table named there. OK stores
// both texts in the settings.
class TfrmMove2DB : public TFixedDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 207;
    static constexpr int ClientHeight = 152;

    // The categories of a table of the data folder (GetCategoryList), without "All".
    using TCategoriesOf = std::function<QStringList(const QString& table)>;

    // `tables`: ListImageTables of the data folder.
    TfrmMove2DB(store::TConfig& config, const QStringList& tables, TCategoriesOf categoriesOf,
                QWidget* parent = nullptr);

    // Runs modally; true for OK.
    bool Run();
    QString TableText() const;
    QString CategoryText() const;

    // "All" and the categories of the table named in the table box.
    void FillCategories(const QString& table);
    void btnOKClick();

    QLabel* lblTable = nullptr;
    TCompletingComboBox* cboTable = nullptr;
    QLabel* lblCategory = nullptr;
    TCompletingComboBox* cboCategory = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    store::TConfig& config_;
    TCategoriesOf categoriesOf_;
};

struct TMoveTargetAnswer {
    QString Table;     // the texts, also after Cancel
    QString Category;
    bool Ok = false;
};

// Shows the dialog modally; on OK the two settings are updated.
TMoveTargetAnswer AskMoveTarget(store::TConfig& config, const QStringList& tables,
                                TfrmMove2DB::TCategoriesOf categoriesOf, QWidget* parent);

}  // namespace pixhold::app
