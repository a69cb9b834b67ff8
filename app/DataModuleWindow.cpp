#include "DataModuleWindow.h"

#include "BusyCursor.h"
#include "Prompt.h"
#include "Termination.h"
#include "fChangePassword.h"
#include "fMain.h"

#include <QCoreApplication>
#include <QKeyEvent>
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

// Notes an Esc pressed anywhere in the program, for a folder import that
// lets window messages run between its files.
class TDataModuleWindow::TEscapeWatch final : public QObject {
public:
    TEscapeWatch() {
        if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->installEventFilter(this);
    }
    bool Take() {
        const bool pressed = pressed_;
        pressed_ = false;
        return pressed;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            pressed_ = true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool pressed_ = false;
};

TDataModuleWindow::TDataModuleWindow(IPrompt& prompt, TForm1& form)
    : RunPasswordDialog([](TfrmNewPassword& dialog) { return dialog.exec() == QDialog::Accepted; }),
      prompt_(prompt),
      escape_(std::make_unique<TEscapeWatch>()),
      form_(form) {}

TDataModuleWindow::~TDataModuleWindow() = default;

void TDataModuleWindow::ShowMessage(const QString& caption, const QString& text, store::TBoxIcon icon) {
    prompt_.Message(caption, text, IconOf(icon));
}

store::TReplaceAnswer TDataModuleWindow::AskReplace(const QString& text) {
    switch (prompt_.Ask(store::ConfirmCaption, text, TButtons::YesNoNoToAllYesToAll, TMsgIcon::Confirmation)) {
        case TAnswer::Yes:
            return store::TReplaceAnswer::Yes;
        case TAnswer::NoToAll:
            return store::TReplaceAnswer::NoToAll;
        case TAnswer::YesToAll:
            return store::TReplaceAnswer::YesToAll;
        default:
            return store::TReplaceAnswer::No;
    }
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
    form_.ShowFilledSoFar();
    QCoreApplication::processEvents();
}

bool TDataModuleWindow::ImportCancelRequested() {
    // Esc, or the program asked to end (a signal, the session's end): the
    // import stops between two files, every stored picture whole.
    return escape_->Take() || TTerminationWatch::EndRequested();
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
