#pragma once

#include <QComboBox>

namespace pixhold::app {

// An editable combo box that completes what is typed: with TextCompletion on,
// every key release in the edit part (except Tab, Shift and Delete) looks for
// the first entry that begins with the typed text, ignoring letter case,
// shows it and highlights the part after what was typed, so that typing on
// overwrites it. Backspace completes again on the shorter text.
class TCompletingComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TCompletingComboBox(QWidget* parent = nullptr);

    bool TextCompletion() const { return textCompletion_; }
    void SetTextCompletion(bool on) { textCompletion_ = on; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Complete();

    bool textCompletion_ = true;
};

}  // namespace pixhold::app
