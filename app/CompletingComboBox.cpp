#include "CompletingComboBox.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace pixhold::app {

TCompletingComboBox::TCompletingComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);  // the completion is our own
    lineEdit()->installEventFilter(this);
}

bool TCompletingComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::KeyRelease && textCompletion_) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Tab && key != Qt::Key_Backtab && key != Qt::Key_Shift && key != Qt::Key_Delete) {
            Complete();
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void TCompletingComboBox::Complete() {
    QLineEdit* edit = lineEdit();
    // What was typed: the text up to the cursor (a highlighted completion
    // after it is not typed text).
    const QString typed = edit->hasSelectedText() ? edit->text().left(edit->selectionStart()) : edit->text();
    if (typed.isEmpty()) return;
    for (int i = 0; i < count(); ++i) {
        const QString entry = itemText(i);
        if (entry.startsWith(typed, Qt::CaseInsensitive)) {
            setCurrentIndex(i);
            edit->setText(entry);
            edit->setSelection(static_cast<int>(typed.size()), static_cast<int>(entry.size() - typed.size()));
            return;
        }
    }
}

}  // namespace pixhold::app
