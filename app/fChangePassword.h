#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pixhold::app {

class IPrompt;

// The change-password dialog: old password, new password and the new one
// again, masked with "#". Its reduced form asks only for a password when the
// engine meets an enciphered table whose password the session lacks.
class TfrmNewPassword : public QDialog {
    Q_OBJECT
public:
    static constexpr int HelpContext = 40;

    // `tablePassword` tells the current table's password (empty for a table
    // without one) when OK is pressed; `showHelp` is run for F1.
    TfrmNewPassword(IPrompt& prompt, std::function<QString()> tablePassword, std::function<void()> showHelp = {},
                    QWidget* parent = nullptr);

    // The reduced form: caption "Enter Password", only the password box,
    // labelled "Password:"; OK closes without checks.
    void MakePasswordRequest();

    // OK: the old password must be the table's, the new one typed twice the same.
    void btnOKClick();

    QLabel* lblOldPwd = nullptr;
    QLineEdit* edtOldPwd = nullptr;
    QLabel* lblNewPwd = nullptr;
    QLineEdit* edtNewPwd = nullptr;
    QLabel* lblReenterPwd = nullptr;
    QLineEdit* edtReenterPwd = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    IPrompt& prompt_;
    std::function<QString()> tablePassword_;
    std::function<void()> showHelp_;
};

}  // namespace pixhold::app
