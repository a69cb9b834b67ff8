#pragma once

#include <QDialog>
#include <QSize>

#include <functional>

namespace pixhold::app {

// What the small modal dialogs share: a caption, a fixed client area, the
// Arial font, F1 for their help topic, and coming to the front when shown.
// Esc and closing by the window frame reject the dialog (Cancel).
class TFixedDialog : public QDialog {
    Q_OBJECT
public:
    TFixedDialog(const QString& objectName, const QString& caption, QSize client, std::function<void()> showHelp,
                 QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<void()> showHelp_;
};

}  // namespace pixhold::app
