#include "ViewerHost.h"

#include "Config.h"
#include "ErrorReport.h"
#include "Prompt.h"
#include "fCategory.h"
#include "fDM.h"
#include "fMain.h"
#include "fViewer.h"

#include <QEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QPointer>

#include <vector>
#include <QStringList>

#include <stdexcept>

namespace pixhold::app {

namespace {

// The error of a slot the program has not filled in.
[[noreturn]] void MissingSlot(const char* what) {
    throw std::runtime_error(std::string("The viewer cannot ") + what + ": this command is not available yet");
}

// "Name (*.x)|*.x|..." as the Qt dialog's name filters: the names only.
QStringList NameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    for (qsizetype i = 0; i < parts.size(); i += 2) names.push_back(parts[i]);
    return names;
}

}  // namespace

TViewerHost::TViewerHost(TForm1& form, store::TDM& dm, IPrompt& prompt, TViewerSlots slots, QWidget* dialogParent)
    : form_(form), dm_(dm), prompt_(prompt), slots_(std::move(slots)), dialogParent_(dialogParent) {}

void TViewerHost::ShowMessage(const QString& text) { prompt_.Message(AppTitle, text, TMsgIcon::None); }

void TViewerHost::ShowInformation(const QString& text) { prompt_.Message(AppTitle, text, TMsgIcon::Information); }

void TViewerHost::ShowMessageBox(const QString& text, const QString& caption) {
    prompt_.Message(caption, text, TMsgIcon::None);
}

bool TViewerHost::Confirm(const QString& text) {
    return prompt_.Ask(QStringLiteral("Confirm"), text, TButtons::YesNo, TMsgIcon::Confirmation) == TAnswer::Yes;
}

void TViewerHost::ReportError(std::exception_ptr error) { ReportException(prompt_, std::move(error)); }

std::optional<viewer::TSaveFileChoice> TViewerHost::ChooseSaveFile(const QString& proposed, const QString& filter,
                                                                   int filterIndex) {
    if (SaveFileDialog) return SaveFileDialog(proposed, filter, filterIndex);
    QFileDialog dialog(dialogParent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    const QStringList names = NameFilters(filter);
    dialog.setNameFilters(names);
    if (filterIndex >= 1 && filterIndex <= names.size()) dialog.selectNameFilter(names[filterIndex - 1]);
    dialog.selectFile(proposed);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    viewer::TSaveFileChoice choice;
    choice.Path = dialog.selectedFiles().front();
    choice.FilterIndex = static_cast<int>(names.indexOf(dialog.selectedNameFilter())) + 1;
    if (choice.FilterIndex < 1) choice.FilterIndex = 1;
    return choice;
}

QString TViewerHost::ChooseCategory(bool setMode) {
    QStringList categories;
    for (const std::string& category : dm_.GetCategoryList(form_.Config().CurrentTable)) {
        categories.push_back(QString::fromStdString(category));
    }
    return AskCategory(setMode, categories, [this] { form_.Help().ShowTopic(TfrmCategory::HelpContext); },
                       dialogParent_);
}

viewer::TMoveChoice TViewerHost::ChooseMoveTarget() {
    if (!slots_.ChooseMoveTarget) MissingSlot("show the move dialog");
    return slots_.ChooseMoveTarget();
}

std::optional<QString> TViewerHost::ChooseSaveAsName(const QString& name) {
    if (!slots_.ChooseSaveAsName) MissingSlot("show the save-as dialog");
    return slots_.ChooseSaveAsName(name);
}

void TViewerHost::ShowHelp(int) {
    form_.Help().SetHelpFile(QString::fromStdString(form_.Config().ProgramFolder) + QStringLiteral("Pixhold.hlp"));
    form_.Help().ShowContents();
}

void TViewerHost::ShowAbout() { form_.ShowAboutBox(); }

void TViewerHost::RemoveListItem(const QString& name) { form_.RemoveListItem(name); }

void TViewerHost::RefreshImageList() { form_.RefreshImageList(); }

void TViewerHost::ApplyCategoryFilter() {
    // The main window's selector shows the category the viewer switched to.
    form_.cboCategory->setEditText(QString::fromStdString(form_.Config().CurrentCategory));
    dm_.ApplyCategoryFilter();
}

bool TViewerHost::MoveImageToTable(const QString& name, const QString& table, const QString& category) {
    if (!slots_.MoveImageToTable) MissingSlot("move pictures to another database");
    return slots_.MoveImageToTable(name, table, category);
}

void TViewerHost::SetImageCategory(const QString& category) {
    if (!slots_.SetImageCategory) MissingSlot("change the category of pictures");
    slots_.SetImageCategory(category);
}

namespace {

// The viewers open now (a closed one frees itself and leaves a null here).
std::vector<QPointer<viewer::TfrmViewer>>& OpenViewers() {
    static std::vector<QPointer<viewer::TfrmViewer>> viewers;
    std::erase_if(viewers, [](const QPointer<viewer::TfrmViewer>& v) { return v.isNull(); });
    return viewers;
}

}  // namespace

void OpenViewer(TForm1& form, store::TDM& dm, IPrompt& prompt, const TViewerSlots& slots,
                imaging::TWorkerPool* workers, bool modal) {
    // The host lives as long as its viewer.
    auto host = std::make_shared<TViewerHost>(form, dm, prompt, slots, nullptr);
    // A window of its own, not a child of the main window: the two share
    // shortcuts (Del, F5, Alt+M...), which would be ambiguous inside one window.
    auto* viewer = new viewer::TfrmViewer(form.Config(), form.PH(), &dm, *host, workers, nullptr);
    QObject::connect(viewer, &QObject::destroyed, [host] {});
    OpenViewers().push_back(viewer);
    if (!modal) {
        viewer->show();
        return;
    }
    viewer->setWindowModality(Qt::ApplicationModal);
    QPointer<viewer::TfrmViewer> alive(viewer);
    QEventLoop loop;
    QObject::connect(viewer, &QObject::destroyed, &loop, &QEventLoop::quit);
    viewer->show();
    if (alive) loop.exec();
}

namespace {

// Closing the main window closes the viewers with it, as it ends the program.
class TCloseWithMain final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            for (const QPointer<viewer::TfrmViewer>& viewer : OpenViewers()) {
                if (viewer) viewer->close();
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void CloseViewersWithMainWindow(TForm1& form) {
    form.installEventFilter(new TCloseWithMain(&form));
}

void CloseViewers(TForm1&) {
    std::vector<QPointer<viewer::TfrmViewer>> open;
    open.swap(OpenViewers());
    for (const QPointer<viewer::TfrmViewer>& viewer : open) delete viewer.data();
}

}  // namespace pixhold::app
