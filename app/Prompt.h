#pragma once

#include <QString>

#include <optional>

namespace pixhold::app {

enum class TMsgIcon { None, Information, Warning, Error, Confirmation };

// The button sets questions come with.
enum class TButtons {
    YesNo,
    YesNoNoToAllYesToAll,  // the import replace question
    OkCancel,
};

enum class TAnswer { Ok, Cancel, Yes, No, NoToAll, YesToAll };

// Every message box, question, text-input box and folder picker of the shell
// goes through this interface, so that tests can answer them from a script.
class IPrompt {
public:
    virtual ~IPrompt() = default;

    // A message box with OK only.
    virtual void Message(const QString& caption, const QString& text, TMsgIcon icon) = 0;
    // A question; returns the button pressed. Closing the box counts as the
    // set's negative answer (No or Cancel).
    virtual TAnswer Ask(const QString& caption, const QString& text, TButtons buttons,
                        TMsgIcon icon) = 0;
    // The text-input box; nothing when cancelled.
    virtual std::optional<QString> InputText(const QString& caption, const QString& prompt,
                                             const QString& defaultText) = 0;
    // The modal folder picker, preset to a folder; nothing when cancelled.
    virtual std::optional<QString> ChooseFolder(const QString& preset) = 0;
};

}  // namespace pixhold::app
