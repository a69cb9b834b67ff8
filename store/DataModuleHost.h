#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace pixhold::store {

enum class TBoxIcon { None, Warning, Error, Confirmation };

// The last answer to the import's replace question.
enum class TReplaceAnswer : std::int16_t { None = 0, Yes, No, NoToAll, YesToAll };

// The caption of plain message boxes: the application title.
inline const QString PlainCaption = QStringLiteral("Pixhold");
// The caption of confirmation boxes.
inline const QString ConfirmCaption = QStringLiteral("Confirm");

// What the data module needs of the window side: message boxes and
// questions, the hourglass, the password prompt, pending window messages, and
// the main window's list, selectors, view style and status text. The
// application installs one; tests install a recording one.
class IDataModuleHost {
public:
    virtual ~IDataModuleHost() = default;

    // A message box with OK only.
    virtual void ShowMessage(const QString& caption, const QString& text, TBoxIcon icon) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool AskYesNo(const QString& caption, const QString& text, TBoxIcon icon) = 0;
    // The import's replace question: a confirmation with Yes, No, No to All
    // and Yes to All; closing it counts as No.
    virtual TReplaceAnswer AskReplace(const QString& text) = 0;
    // The reduced change-password dialog ("Enter Password"); the password
    // typed, or nothing when cancelled.
    virtual std::optional<QString> AskPassword() = 0;
    // The folder picker, preset to a folder; nothing when cancelled.
    virtual std::optional<QString> ChooseFolder(const QString& preset) = 0;

    // The hourglass; calls nest and come in pairs.
    virtual void BeginBusy() = 0;
    virtual void EndBusy() = 0;
    // Lets pending window messages run once.
    virtual void ProcessMessages() = 0;
    // Whether the user asked (Esc) to stop the folder import under way; the
    // request is forgotten once asked for.
    virtual bool ImportCancelRequested() { return false; }

    // The main window.
    virtual void RefreshImageList() = 0;
    virtual void FillCategorySelector() = 0;
    virtual void ApplyViewStyle() = 0;
    virtual void SetStatusText(const QString& text) = 0;
    // Closes the main window, which ends the program.
    virtual void CloseMainWindow() = 0;
};

// The hourglass for one scope; restored on every way out, errors included.
class TBusyScope {
public:
    explicit TBusyScope(IDataModuleHost& host) : host_(host) { host_.BeginBusy(); }
    ~TBusyScope() { host_.EndBusy(); }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    IDataModuleHost& host_;
};

}  // namespace pixhold::store
