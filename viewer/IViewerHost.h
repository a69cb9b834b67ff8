#pragma once

#include <QString>

#include <exception>
#include <optional>

namespace pixhold::viewer {

// What the category chooser returns when it is cancelled.
inline const QString CategoryCancelMark = QStringLiteral("\t");

// The move dialog's outcome: its table and category texts, whether it was
// confirmed or not.
struct TMoveChoice {
    bool Accepted = false;
    QString Table;
    QString Category;
};

// The file save dialog's outcome: the chosen path and the filter entry
// (counted from 1) chosen with it.
struct TSaveFileChoice {
    QString Path;
    int FilterIndex = 1;
};

// Everything the viewer needs from the windows and commands above it: message
// boxes and questions, dialogs, help, and the main window's list and record
// operations. The application implements it over the main window, the data
// module and its prompts; tests script it.
class IViewerHost {
public:
    virtual ~IViewerHost() = default;

    // A message box with OK only, under the program's title.
    virtual void ShowMessage(const QString& text) = 0;
    // The same with the information icon.
    virtual void ShowInformation(const QString& text) = 0;
    // A message box with its own caption ("Write error").
    virtual void ShowMessageBox(const QString& text, const QString& caption) = 0;
    // A confirmation with Yes and No; true for Yes.
    virtual bool Confirm(const QString& text) = 0;
    // The application's report of an error no command caught (an operation
    // abandoned on purpose shows nothing).
    virtual void ReportError(std::exception_ptr error) = 0;

    // The file save dialog: the proposed full path, the filter text
    // ("Name (*.ext)|*.ext|..."), the filter entry shown first (from 1).
    virtual std::optional<TSaveFileChoice> ChooseSaveFile(const QString& proposed, const QString& filter,
                                                          int filterIndex) = 0;
    // The category chooser: assign mode ("Change Category") or set mode
    // ("Set Category"); CategoryCancelMark when cancelled.
    virtual QString ChooseCategory(bool setMode) = 0;
    // The move dialog ("Move to database").
    virtual TMoveChoice ChooseMoveTarget() = 0;
    // The save-as dialog of stored pictures, its name box holding `name`; the
    // new name, or nothing when cancelled.
    virtual std::optional<QString> ChooseSaveAsName(const QString& name) = 0;

    // The program's help file at a window's topic, and the About box.
    virtual void ShowHelp(int context) = 0;
    virtual void ShowAbout() = 0;

    // The main window's list.
    virtual void RemoveListItem(const QString& name) = 0;
    virtual void RefreshImageList() = 0;
    // Filters the current table on CurrentCategory and rebuilds the list.
    virtual void ApplyCategoryFilter() = 0;

    // Record operations on the current record of the image table: moves the
    // picture (true when moved), and assigns a category ("All" stores none).
    virtual bool MoveImageToTable(const QString& name, const QString& table, const QString& category) = 0;
    virtual void SetImageCategory(const QString& category) = 0;
};

}  // namespace pixhold::viewer
