#include "ScriptedPrompt.h"

#include <stdexcept>

namespace pixhold::app {

void TScriptedPrompt::Message(const QString& caption, const QString& text, TMsgIcon icon) {
    asked_.push_back({TKind::Message, caption, text, icon, TButtons::YesNo, {}});
}

TAnswer TScriptedPrompt::Ask(const QString& caption, const QString& text, TButtons buttons,
                             TMsgIcon icon) {
    asked_.push_back({TKind::Question, caption, text, icon, buttons, {}});
    TAnswerItem item = Next(text);
    if (const auto* answer = std::get_if<TAnswer>(&item)) {
        return *answer;
    }
    throw std::logic_error("scripted answer is not a button for: " + text.toStdString());
}

std::optional<QString> TScriptedPrompt::InputText(const QString& caption, const QString& prompt,
                                                  const QString& defaultText) {
    asked_.push_back({TKind::Input, caption, prompt, TMsgIcon::None, TButtons::OkCancel,
                      defaultText});
    return TextOrCancel(prompt);
}

std::optional<QString> TScriptedPrompt::ChooseFolder(const QString& preset) {
    asked_.push_back({TKind::Folder, {}, preset, TMsgIcon::None, TButtons::OkCancel, {}});
    return TextOrCancel("folder picker at " + preset);
}

TScriptedPrompt::TAnswerItem TScriptedPrompt::Next(const QString& what) {
    if (queue_.empty()) {
        throw std::logic_error("no scripted answer for: " + what.toStdString());
    }
    TAnswerItem item = queue_.front();
    queue_.pop_front();
    return item;
}

std::optional<QString> TScriptedPrompt::TextOrCancel(const QString& what) {
    TAnswerItem item = Next(what);
    if (const auto* text = std::get_if<QString>(&item)) {
        return *text;
    }
    if (std::holds_alternative<TCancel>(item)) {
        return std::nullopt;
    }
    throw std::logic_error("scripted answer is not a text for: " + what.toStdString());
}

}  // namespace pixhold::app
