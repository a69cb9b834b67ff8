#pragma once

#include "IViewerHost.h"

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace pixhold::imaging {
class TWorkerPool;
}
namespace pixhold::store {
class TDM;
}

namespace pixhold::app {

class IPrompt;
class TForm1;

// The parts of the viewer's host that other windows and record operations
// provide. A slot left empty makes its command fail with a clear message.
struct TViewerSlots {
    // The move dialog ("Move to database").
    std::function<viewer::TMoveChoice()> ChooseMoveTarget;
    // The save-as dialog of stored pictures, its name box holding the name;
    // the new name, or nothing when cancelled.
    std::function<std::optional<QString>(const QString& name)> ChooseSaveAsName;
    // TDM::MoveImageToTable(name, table, category) on the current record.
    std::function<bool(const QString& name, const QString& table, const QString& category)> MoveImageToTable;
    // TDM::SetImageCategory(category) on the current record.
    std::function<void(const QString& category)> SetImageCategory;
};

// The viewer's host in the program: message boxes and questions through the
// prompt, the file save dialog, the category chooser, help and About through
// the main window, the list operations of the main window, and the record
// operations of the data module.
class TViewerHost final : public viewer::IViewerHost {
public:
    TViewerHost(TForm1& form, store::TDM& dm, IPrompt& prompt, TViewerSlots slots, QWidget* dialogParent);

    void ShowMessage(const QString& text) override;
    void ShowInformation(const QString& text) override;
    void ShowMessageBox(const QString& text, const QString& caption) override;
    bool Confirm(const QString& text) override;
    void ReportError(std::exception_ptr error) override;
    std::optional<viewer::TSaveFileChoice> ChooseSaveFile(const QString& proposed, const QString& filter,
                                                          int filterIndex) override;
    QString ChooseCategory(bool setMode) override;
    viewer::TMoveChoice ChooseMoveTarget() override;
    std::optional<QString> ChooseSaveAsName(const QString& name) override;
    void ShowHelp(int context) override;
    void ShowAbout() override;
    void RemoveListItem(const QString& name) override;
    void RefreshImageList() override;
    void ApplyCategoryFilter() override;
    bool MoveImageToTable(const QString& name, const QString& table, const QString& category) override;
    void SetImageCategory(const QString& category) override;

    // Replaces the file save dialog (tests).
    std::function<std::optional<viewer::TSaveFileChoice>(const QString& proposed, const QString& filter, int index)>
        SaveFileDialog;

private:
    TForm1& form_;
    store::TDM& dm_;
    IPrompt& prompt_;
    TViewerSlots slots_;
    QWidget* dialogParent_;
};

// Opens a viewer on entry ViewerIndex of the main list. Non-modal (a double
// click on the list): a new window each time, which frees itself when
// closed. Modal (Quick Folder Browse): returns when the viewer has been closed
// and freed. `workers` decode the neighbouring entries ahead (may be null).
void OpenViewer(TForm1& form, store::TDM& dm, IPrompt& prompt, const TViewerSlots& slots,
                imaging::TWorkerPool* workers, bool modal);

// Closes and frees every open viewer; the program calls it before the data
// module goes, since viewers use it.
void CloseViewers(TForm1& form);
// Viewers are windows of their own; this closes them when the main window closes.
void CloseViewersWithMainWindow(TForm1& form);

}  // namespace pixhold::app
