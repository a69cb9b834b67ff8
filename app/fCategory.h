#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QLabel;
class QPushButton;

namespace pixhold::app {

class TCompletingComboBox;

// The category chooser: "All" and the current table's categories in a
// completing combo box. Assign mode ("Change Category") picks a category for
// pictures; set mode ("Set Category") picks the category to show.
class TfrmCategory : public QDialog {
    Q_OBJECT
public:
    static constexpr int HelpContext = 50;
    static constexpr int ClientWidth = 172;
    static constexpr int ClientHeight = 124;
    // What a cancelled chooser returns.
    static inline const QString CancelMark = QStringLiteral("\t");

    // `categories`: the table's categories without "All".
    explicit TfrmCategory(const QStringList& categories, std::function<void()> showHelp = {},
                          QWidget* parent = nullptr);

    void MakeSetMode();
    // Runs modally: the combo box's text on OK, CancelMark otherwise.
    QString Choose();

    QLabel* Label1 = nullptr;
    TCompletingComboBox* cboCategory = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<void()> showHelp_;
};

// Shows the chooser (set mode when asked) over the given categories and
// returns the answer, or the cancel mark.
QString AskCategory(bool setMode, const QStringList& categories, std::function<void()> showHelp,
                    QWidget* parent);

}  // namespace pixhold::app
