// Pixhold: start-up and shut-down.

#include "ErrorReport.h"
#include "QtPrompt.h"
#include "Splash.h"
#include "fMain.h"

#include <QApplication>

#include <memory>

namespace {

using pixhold::app::TForm1;

// The data module's start-up: opens the data folder and the current table and
// fills the list. Returns false when no image table could be opened, which
// ends the program. Until the image store joins, the list stays empty.
bool CreateDataModule(TForm1& form) {
    form.FillCategorySelector();
    form.ApplyViewStyle();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pixhold::app;

    QApplication app(argc, argv);
    QApplication::setApplicationName(AppTitle);

    auto splash = std::make_unique<TfrmSplash>();
    splash->ShowNow();

    TQtPrompt prompt;
    auto form = std::make_unique<TForm1>(prompt);
    if (!form->Created()) {
        // Without settings nothing can work; the reason has been shown.
        return 1;
    }
    prompt.SetParent(form.get());

    // An error inside the data module's start-up is reported and start-up
    // goes on; only a table that is known not to be open ends the program.
    bool tableOpen = true;
    try {
        tableOpen = CreateDataModule(*form);
    } catch (...) {
        ReportException(prompt, std::current_exception());
    }
    splash.reset();

    int result = 0;
    if (tableOpen) {
        form->show();
        result = QApplication::exec();
    }

    // Released most recent first: viewers, the data module, then the main
    // window, whose destruction saves the settings.
    prompt.SetParent(nullptr);
    form.reset();
    return result;
}
