#pragma once

#include "FixedDialog.h"

#include <QStringList>

class QPushButton;

namespace pixhold::app {

class TCompletingComboBox;

// Choose database: the image tables of the data folder in a completing combo
// box, preset to the current table. OK and Cancel only close; the caller
// reads the text.
class TfrmSelectTable : public TFixedDialog {
    Q_OBJECT
public:
    static constexpr int HelpContext = 40;
    static constexpr int ClientWidth = 215;
    static constexpr int ClientHeight = 96;

    // `tables`: ListImageTables of the data folder; `currentTable`: CurrentTable.
    TfrmSelectTable(const QStringList& tables, const QString& currentTable, std::function<void()> showHelp = {},
                    QWidget* parent = nullptr);

    QString TableText() const;

    TCompletingComboBox* cboTable = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
};

struct TSelectTableAnswer {
    QString Table;  // the combo box's text, also after Cancel
    bool Ok = false;
};

// Shows the dialog modally over `parent` (centred on it).
TSelectTableAnswer SelectTable(const QStringList& tables, const QString& currentTable,
                               std::function<void()> showHelp, QWidget* parent);

}  // namespace pixhold::app
