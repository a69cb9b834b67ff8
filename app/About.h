#pragma once

#include <QDialog>

#include <functional>

class QLabel;

namespace pixhold::app {

class TWebPageOpener;

// The About box: program picture, product name, version and build, and the
// maker's web address, which opens in the browser without a question.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int HelpContext = 61;

    // showHelp is run for F1 (topic 61 of the program's help file).
    TAboutBox(TWebPageOpener& webPage, std::function<void()> showHelp, QWidget* parent = nullptr);

    // "Version " and 1.01 with two decimals and the user's decimal separator.
    static QString VersionLine();

    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Build = nullptr;
    QLabel* WebAddress = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TWebPageOpener& webPage_;
    std::function<void()> showHelp_;
};

}  // namespace pixhold::app
