#include "DataModuleWindow.h"

#include "BusyCursor.h"
#include "Prompt.h"
#include "fChangePassword.h"
#include "fMain.h"

#include <QCoreApplication>
#include <QLineEdit>

namespace pixhold::app {

namespace {

TMsgIcon IconOf(store::TBoxIcon icon) {
    switch (icon) {
        case store::TBoxIcon::Warning:
            return TMsgIcon::Warning;
        case store::TBoxIcon::Error:
            return TMsgIcon::Error;
        case store::TBoxIcon::Confirmation:
            return TMsgIcon::Confirmation;
        case store::TBoxIcon::None:
            break;
    }
    return TMsgIcon::None;
}

}  // namespace

TDataModuleWindow::TDataModuleWindow(IPrompt& prompt, TForm1& form)
    : RunPasswordDialog([](TfrmNewPassword& dialog) { return dialog.exec() == QDialog::Accepted; }),
      prompt_(prompt),
      form_(form) {}

TDataModuleWindow::~TDataModuleWindow() = default;

void TDataModuleWindow::ShowMessage(const QString& caption, const QString& text, store::TBoxIcon icon) {
    prompt_.Message(caption, text, IconOf(icon));
}

bool TDataModuleWindow::AskYesNo(const QString& caption, const QString& text, store::TBoxIcon icon) {
    return prompt_.Ask(caption, text, TButtons::YesNo, IconOf(icon)) == TAnswer::Yes;
}

std::optional<QString> TDataModuleWindow::AskPassword() {
    // The request needs no table password: its reduced form checks nothing.
    TfrmNewPassword dialog(
        prompt_, {}, [this] { form_.Help().ShowTopic(TfrmNewPassword::HelpContext); }, &form_);
    dialog.MakePasswordRequest();
    if (!RunPasswordDialog(dialog)) return std::nullopt;
    return dialog.edtNewPwd->text();
}

std::optional<QString> TDataModuleWindow::ChooseFolder(const QString& preset) {
    return prompt_.ChooseFolder(preset);
}

void TDataModuleWindow::BeginBusy() {
    busy_.push_back(std::make_unique<TBusyCursor>());
}

void TDataModuleWindow::EndBusy() {
    if (!busy_.empty()) busy_.pop_back();
}

void TDataModuleWindow::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TDataModuleWindow::RefreshImageList() {
    form_.RefreshImageList();
}

void TDataModuleWindow::FillCategorySelector() {
    form_.FillCategorySelector();
}

void TDataModuleWindow::ApplyViewStyle() {
    form_.ApplyViewStyle();
}

void TDataModuleWindow::SetStatusText(const QString& text) {
    form_.SetStatusText(text);
}

void TDataModuleWindow::CloseMainWindow() {
    form_.close();
}

}  // namespace pixhold::app
