#pragma once

#include "Prompt.h"

#include <deque>
#include <optional>
#include <variant>
#include <vector>

namespace pixhold::app {

// A prompt for tests: answers from a queue, records everything it was asked.
// Message boxes take no answer. A question, input box or folder picker with no
// queued answer, or with an answer of the wrong kind, throws std::logic_error.
class TScriptedPrompt final : public IPrompt {
public:
    enum class TKind { Message, Question, Input, Folder };

    struct TCancel {};  // cancels an input box or a folder picker

    struct TRecord {
        TKind Kind;
        QString Caption;   // message, question, input box
        QString Text;      // message or question text, input prompt, folder preset
        TMsgIcon Icon = TMsgIcon::None;
        TButtons Buttons = TButtons::YesNo;
        QString DefaultText;  // input box
    };

    // Queue an answer to a question.
    void AnswerButton(TAnswer answer) { queue_.emplace_back(answer); }
    // Queue a text for an input box or a folder for a folder picker.
    void AnswerText(const QString& text) { queue_.emplace_back(text); }
    // Queue a cancellation of an input box or folder picker.
    void AnswerCancel() { queue_.emplace_back(TCancel{}); }

    const std::vector<TRecord>& Asked() const { return asked_; }
    std::size_t PendingAnswers() const { return queue_.size(); }
    void Clear() { asked_.clear(); queue_.clear(); }

    void Message(const QString& caption, const QString& text, TMsgIcon icon) override;
    TAnswer Ask(const QString& caption, const QString& text, TButtons buttons,
                TMsgIcon icon) override;
    std::optional<QString> InputText(const QString& caption, const QString& prompt,
                                     const QString& defaultText) override;
    std::optional<QString> ChooseFolder(const QString& preset) override;

private:
    using TAnswerItem = std::variant<TAnswer, QString, TCancel>;
    TAnswerItem Next(const QString& what);
    std::optional<QString> TextOrCancel(const QString& what);

    std::deque<TAnswerItem> queue_;
    std::vector<TRecord> asked_;
};

}  // namespace pixhold::app
