#pragma once

#include "FixedDialog.h"

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pixhold::app {

class IPrompt;

// The viewer's "Save As" for a stored picture: a file name and the type it is
// saved as. Choosing a type puts its extension on the name; Save refuses a
// name whose extension is not the chosen type's, and a type text that is none
// of the entries.
class TfrmSaveDBImageAs : public TFixedDialog {
    Q_OBJECT
public:
    static constexpr int HelpContext = 50;
    static constexpr int ClientWidth = 388;
    static constexpr int ClientHeight = 126;

    // `fileName`: the stored file name of the picture.
    TfrmSaveDBImageAs(IPrompt& prompt, const QString& fileName, std::function<void()> showHelp = {},
                      QWidget* parent = nullptr);

    // Runs modally: the file name on Save, nothing on Cancel.
    std::optional<QString> Run();

    // The entry the type box shows, or -1 when its text is none of them.
    int ChosenType() const;
    void btnSaveClick();

    QLabel* lblFileName = nullptr;
    QLineEdit* edtFileName = nullptr;
    QLabel* lblFileType = nullptr;
    QComboBox* cboFileType = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void FileTypeChanged();

    IPrompt& prompt_;
};

// The name with its extension (from the last dot of the name on) replaced;
// an empty extension removes it.
QString ReplaceFileExtension(const QString& name, const QString& extension);
// The extension of a file name, from its last dot on; empty without a dot.
QString FileExtensionOf(const QString& name);

}  // namespace pixhold::app
