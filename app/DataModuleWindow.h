#pragma once

#include "DataModuleHost.h"

#include <functional>
#include <memory>
#include <vector>

namespace pixhold::app {

class IPrompt;
class TBusyCursor;
class TForm1;
class TfrmNewPassword;

// The window side of the data module: its boxes go through the prompt, the
// hourglass is the busy cursor, the password request is the reduced
// change-password dialog, and the main-window calls go to the main window.
class TDataModuleWindow final : public store::IDataModuleHost {
public:
    TDataModuleWindow(IPrompt& prompt, TForm1& form);
    ~TDataModuleWindow() override;
    TDataModuleWindow(const TDataModuleWindow&) = delete;
    TDataModuleWindow& operator=(const TDataModuleWindow&) = delete;

    // Runs the password dialog modally; true for OK. Tests replace it.
    std::function<bool(TfrmNewPassword&)> RunPasswordDialog;

    void ShowMessage(const QString& caption, const QString& text, store::TBoxIcon icon) override;
    bool AskYesNo(const QString& caption, const QString& text, store::TBoxIcon icon) override;
    store::TReplaceAnswer AskReplace(const QString& text) override;
    std::optional<QString> AskPassword() override;
    std::optional<QString> ChooseFolder(const QString& preset) override;
    void BeginBusy() override;
    void EndBusy() override;
    void ProcessMessages() override;
    bool ImportCancelRequested() override;
    void RefreshImageList() override;
    void FillCategorySelector() override;
    void ApplyViewStyle() override;
    void SetStatusText(const QString& text) override;
    void CloseMainWindow() override;

private:
    class TEscapeWatch;

    IPrompt& prompt_;
    std::unique_ptr<TEscapeWatch> escape_;
    TForm1& form_;
    std::vector<std::unique_ptr<TBusyCursor>> busy_;
};

}  // namespace pixhold::app
