// Pixhold: start-up and shut-down.

#include "CofferSession.h"
#include "Config.h"
#include "DataModuleWindow.h"
#include "ErrorReport.h"
#include "fCategory.h"
#include "ImageListFill.h"
#include "MainCommands.h"
#include "ViewerHost.h"
#include "Wiring.h"
#include "QtPrompt.h"
#include "Splash.h"
#include "TableFiles.h"
#include "Termination.h"
#include "WorkerPool.h"
#include "fDM.h"
#include "fMain.h"

#include <QApplication>

#include <iostream>
#include <memory>

int main(int argc, char** argv) {
    using namespace pixhold::app;
    using pixhold::store::TDM;

    QApplication app(argc, argv);
    QApplication::setApplicationName(AppTitle);
    // The desktop entry it was started from (the window's icon and name on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.norvane.Pixhold"));
    // From here on SIGTERM, SIGINT, SIGHUP and the end of the desktop session
    // end the program as Exit does. Made first, so it is freed last: no signal
    // can interrupt the shut-down below.
    TTerminationWatch termination;

    auto splash = std::make_unique<TfrmSplash>();
    splash->ShowNow();

    TQtPrompt prompt;
    // Errors a dataset catches without passing on (in a record filter) are
    // shown like any other.
    pixhold::engine::TCofferSessionList::Instance().ErrorReport = [&prompt](const std::exception& error) {
        ReportError(prompt, QString::fromUtf8(error.what()));
    };

    // The data module joins after the main window; the window's hooks find
    // it through this pointer.
    std::unique_ptr<TDM> dm;
    TMainHooks hooks;
    hooks.OpenImageTable = [&dm](const QString& table) {
        return dm != nullptr && dm->OpenImageTable(table.toStdString());
    };
    hooks.GetCategoryList = [&dm](const QString& table) {
        QStringList list;
        if (dm == nullptr) return list;
        for (const std::string& category : dm->GetCategoryList(table.toStdString())) {
            list.push_back(QString::fromStdString(category));
        }
        return list;
    };
    hooks.ApplyCategoryFilter = [&dm] {
        if (dm != nullptr) dm->ApplyCategoryFilter();
    };
    TForm1* formPtr = nullptr;
    hooks.AskCategory = [&formPtr] {
        TForm1& f = *formPtr;
        const QStringList categories = f.Hooks().GetCategoryList
                                           ? f.Hooks().GetCategoryList(QString::fromStdString(f.Config().CurrentTable))
                                           : QStringList();
        return AskCategory(true, categories, [&f] { f.Help().ShowTopic(TfrmCategory::HelpContext); }, &f);
    };
    auto form = std::make_unique<TForm1>(prompt, std::move(hooks));
    formPtr = form.get();
    if (!form->Created()) {
        // Without settings nothing can work; the reason has been shown.
        pixhold::engine::TCofferSessionList::Instance().ErrorReport = nullptr;
        return 1;
    }
    prompt.SetParent(form.get());
    TForm1& mainForm = *form;
    // Settings written when the session asks for its data, and when the
    // program ends without coming back here (a lost display connection).
    auto saveSettingsNow = [&mainForm] {
        try {
            mainForm.Config().SaveSettings();
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
        }
    };
    termination.OnCommitData = saveSettingsNow;
    termination.SaveAtUnexpectedExit(saveSettingsNow);
    mainForm.Hooks().ListImageTables = [&mainForm] {
        return pixhold::store::ListImageTables(mainForm.Config().DataFolder);
    };
    mainForm.FillTableSelector();

    // An error inside the data module's start-up is reported and start-up
    // goes on; without an open image table the program ends.
    TDataModuleWindow dmWindow(prompt, mainForm);
    pixhold::imaging::TWorkerPool workers;
    std::unique_ptr<pixhold::store::TImageListFill> listFill;
    std::unique_ptr<TMainCommands> commands;
    mainForm.PH().SetFillSource([&listFill](pixhold::imaging::TPH& ph, pixhold::imaging::TImageList& list) {
        if (listFill) listFill->Fill(ph, list);
    });
    try {
        dm = std::make_unique<TDM>(mainForm.Config(), dmWindow);
        listFill = std::make_unique<pixhold::store::TImageListFill>(*dm, workers);
        dm->SetWorkers(&workers);
        commands = std::make_unique<TMainCommands>(mainForm, *dm, prompt,
                                                   MakeCommandDialogs(mainForm, *dm, prompt, &workers));
        commands->Bind();
        CloseViewersWithMainWindow(mainForm);
        mainForm.Hooks().ImportDropped = [&dm](const QStringList& paths) {
            std::vector<std::string> list;
            for (const QString& path : paths) list.push_back(path.toStdString());
            dm->ImportPaths(list);
        };
        dm->DataModuleCreate();
    } catch (...) {
        ReportException(prompt, std::current_exception());
    }
    splash.reset();

    int result = 0;
    // A signal during start-up ends the program before its window shows.
    if (dm != nullptr && dm->tblData.Active() && !TTerminationWatch::EndRequested()) {
        form->show();
        result = QApplication::exec();
    }

    // Released most recent first: viewers, the data module, then the main
    // window, whose destruction saves the settings.
    termination.OnCommitData = nullptr;
    termination.SaveAtUnexpectedExit({});
    CloseViewers(mainForm);
    commands.reset();
    listFill.reset();
    dm.reset();
    prompt.SetParent(nullptr);
    form.reset();
    pixhold::engine::TCofferSessionList::Instance().ErrorReport = nullptr;
    termination.IgnoreFromNowOn();
    return result;
}
