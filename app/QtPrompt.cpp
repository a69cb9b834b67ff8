#include "QtPrompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace pixhold::app {
namespace {

QMessageBox::Icon IconOf(TMsgIcon icon) {
    switch (icon) {
    case TMsgIcon::Information: return QMessageBox::Information;
    case TMsgIcon::Warning: return QMessageBox::Warning;
    case TMsgIcon::Error: return QMessageBox::Critical;
    case TMsgIcon::Confirmation: return QMessageBox::Question;
    case TMsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void TQtPrompt::Message(const QString& caption, const QString& text, TMsgIcon icon) {
    QMessageBox box(IconOf(icon), caption, text, QMessageBox::Ok, Owner());
    box.exec();
}

TAnswer TQtPrompt::Ask(const QString& caption, const QString& text, TButtons buttons,
                       TMsgIcon icon) {
    QMessageBox box(IconOf(icon), caption, text, QMessageBox::NoButton, Owner());
    switch (buttons) {
    case TButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    case TButtons::YesNoNoToAllYesToAll:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::NoToAll |
                               QMessageBox::YesToAll);
        box.setEscapeButton(QMessageBox::No);
        break;
    case TButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return TAnswer::Yes;
    case QMessageBox::NoToAll: return TAnswer::NoToAll;
    case QMessageBox::YesToAll: return TAnswer::YesToAll;
    case QMessageBox::Ok: return TAnswer::Ok;
    case QMessageBox::Cancel: return TAnswer::Cancel;
    default: break;
    }
    return buttons == TButtons::OkCancel ? TAnswer::Cancel : TAnswer::No;
}

std::optional<QString> TQtPrompt::InputText(const QString& caption, const QString& prompt,
                                            const QString& defaultText) {
    bool ok = false;
    QString text = QInputDialog::getText(Owner(), caption, prompt, QLineEdit::Normal,
                                         defaultText, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return text;
}

std::optional<QString> TQtPrompt::ChooseFolder(const QString& preset) {
    QString folder = QFileDialog::getExistingDirectory(Owner(), QString(), preset,
                                                       QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return folder;
}

QWidget* TQtPrompt::Owner() const {
    QWidget* active = QApplication::activeWindow();
    return active != nullptr ? active : parent_;
}

}  // namespace pixhold::app
