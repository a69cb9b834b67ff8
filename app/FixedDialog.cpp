#include "FixedDialog.h"

#include <QFont>
#include <QKeyEvent>

namespace pixhold::app {

TFixedDialog::TFixedDialog(const QString& objectName, const QString& caption, QSize client,
                           std::function<void()> showHelp, QWidget* parent)
    : QDialog(parent), showHelp_(std::move(showHelp)) {
    setObjectName(objectName);
    setWindowTitle(caption);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(QFont(QStringLiteral("Arial"), 9));
    setFixedSize(client);  // fixed dialog border
}

void TFixedDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    raise();
    activateWindow();
}

void TFixedDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && showHelp_) {
        showHelp_();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace pixhold::app
