#pragma once

#include "Prompt.h"

class QWidget;

namespace pixhold::app {

// The program's prompts: QMessageBox, QInputDialog and QFileDialog.
class TQtPrompt final : public IPrompt {
public:
    // Boxes are centred on the parent when there is one.
    explicit TQtPrompt(QWidget* parent = nullptr) : parent_(parent) {}

    void SetParent(QWidget* parent) { parent_ = parent; }

    void Message(const QString& caption, const QString& text, TMsgIcon icon) override;
    TAnswer Ask(const QString& caption, const QString& text, TButtons buttons,
                TMsgIcon icon) override;
    std::optional<QString> InputText(const QString& caption, const QString& prompt,
                                     const QString& defaultText) override;
    std::optional<QString> ChooseFolder(const QString& preset) override;

private:
    // The window a box belongs to: the active one (a viewer, say), else the parent.
    QWidget* Owner() const;

    QWidget* parent_;
};

}  // namespace pixhold::app
