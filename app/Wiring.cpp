#include "Wiring.h"

#include "Config.h"
#include "fCategory.h"
#include "fChangePassword.h"
#include "fDM.h"
#include "fMain.h"
#include "fMove2DB.h"
#include "fOptions.h"
#include "fSaveDBImageAs.h"
#include "fSelectTable.h"

#include <QDialog>
#include <QLineEdit>

namespace pixhold::app {

namespace {

QStringList CategoriesOf(TForm1& form, const QString& table) {
    return form.Hooks().GetCategoryList ? form.Hooks().GetCategoryList(table) : QStringList();
}

QStringList TablesOf(TForm1& form) {
    return form.Hooks().ListImageTables ? form.Hooks().ListImageTables() : QStringList();
}

std::function<void()> HelpAt(TForm1& form, int topic) {
    return [&form, topic] { form.Help().ShowTopic(topic); };
}

TMoveTargetAnswer AskMove(TForm1& form) {
    return AskMoveTarget(
        form.Config(), TablesOf(form), [&form](const QString& table) { return CategoriesOf(form, table); }, &form);
}

}  // namespace

TCommandDialogs MakeCommandDialogs(TForm1& form, store::TDM& dm, IPrompt& prompt, imaging::TWorkerPool* workers) {
    TCommandDialogs dialogs;
    dialogs.ChooseDatabase = [&form](const QString& current) -> std::optional<QString> {
        const TSelectTableAnswer answer =
            SelectTable(TablesOf(form), current, HelpAt(form, TfrmSelectTable::HelpContext), &form);
        if (!answer.Ok) return std::nullopt;
        return answer.Table;
    };
    dialogs.AskMoveTarget = [&form] {
        const TMoveTargetAnswer answer = AskMove(form);
        return TCommandDialogs::TMoveAnswer{answer.Table, answer.Category, answer.Ok};
    };
    dialogs.AskPasswords = [&form, &dm, &prompt]() -> std::optional<TCommandDialogs::TPasswords> {
        TfrmNewPassword dialog(
            prompt, [&dm] { return QString::fromStdString(dm.tblData.GetTablePassword()); },
            HelpAt(form, TfrmNewPassword::HelpContext), &form);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return TCommandDialogs::TPasswords{dialog.edtOldPwd->text(), dialog.edtNewPwd->text()};
    };
    dialogs.AskAssignCategory = [&form] {
        const QStringList categories = CategoriesOf(form, QString::fromStdString(form.Config().CurrentTable));
        return AskCategory(false, categories, HelpAt(form, TfrmCategory::HelpContext), &form);
    };
    dialogs.OpenViewer = [&form, &dm, &prompt, workers](bool modal) {
        OpenViewer(form, dm, prompt, MakeViewerSlots(form, dm, prompt), workers, modal);
    };
    dialogs.ShowOptions = [&form, &dm, &prompt] {
        TDataModuleOptionsActions actions(dm);
        TfrmOptions options(form.Config(), prompt, actions, HelpAt(form, TfrmOptions::HelpContext), &form);
        options.Run();
    };
    return dialogs;
}

TViewerSlots MakeViewerSlots(TForm1& form, store::TDM& dm, IPrompt& prompt) {
    TViewerSlots slots;
    slots.ChooseMoveTarget = [&form] {
        const TMoveTargetAnswer answer = AskMove(form);
        return viewer::TMoveChoice{answer.Ok, answer.Table, answer.Category};
    };
    slots.ChooseSaveAsName = [&form, &prompt](const QString& name) {
        TfrmSaveDBImageAs dialog(prompt, name, HelpAt(form, TfrmSaveDBImageAs::HelpContext), &form);
        return dialog.Run();
    };
    slots.MoveImageToTable = [&dm](const QString& name, const QString& table, const QString& category) {
        return dm.MoveImageToTable(name.toStdString(), table.toStdString(), category.toStdString());
    };
    slots.SetImageCategory = [&dm](const QString& category) { dm.SetImageCategory(category.toStdString()); };
    return slots;
}

}  // namespace pixhold::app
