#pragma once

#include <functional>
#include <string>

namespace pixhold::store {

class TIniFile;

// Every user setting and the application shell's shared state. Loaded from
// "Pixhold.ini" when created, saved when destroyed; one instance, created by the
// main window. Fields are read and written directly. File format and folders:
// docs/settings.md.
//
// Saving at exit: a destructor must not throw, so ~TConfig() saves inside a
// try/catch and hands the error text ("Unable to write to <path>") to
// OnSaveError. The main window sets OnSaveError to show the text in a plain
// message box, then simply deletes the object; shut-down continues either way.
// Without a handler the text goes to standard error. (Calling SaveSettings()
// yourself before deleting also works, but the file is then written twice.)
class TConfig {
public:
    // ProgramFolder is the folder of the program's files: the running program
    // file's folder, or share/pixhold/ of an installation (ShellFolders.h).
    TConfig();
    // ProgramFolder is `programFolder` (a separator is added when missing); for tests.
    explicit TConfig(std::string programFolder);
    ~TConfig();
    TConfig(const TConfig&) = delete;
    TConfig& operator=(const TConfig&) = delete;

    void LoadSettings();
    // Throws EIniWriteError (IniFile.h; a std::runtime_error) whose text is
    // "Unable to write to <path>" when the file cannot be written; the file is
    // replaced as a whole, so it then keeps its previous contents.
    void SaveSettings();
    // Folder of "Pixhold.ini" with a trailing separator, created when missing.
    std::string GetSettingsFolder();
    // CurrentCategory, or empty when it is "All".
    std::string CategoryKey() const;
    // The data folder when the settings name none: $XDG_DATA_HOME/Norvane/Pixhold/
    // (see docs/settings.md); needs SettingsFolder.
    std::string DefaultDataFolder() const;

    // Receives the error text when saving in the destructor fails.
    std::function<void(const std::string& message)> OnSaveError;

    // In declaration order.
    std::string SettingsFolder;
    std::string DataFolder;
    std::string CurrentCategory;
    std::string ProgramFolder;
    std::string CurrentTable;
    std::string LastMoveTableName;
    std::string LastMoveCategory;
    std::string LastImportDir;
    std::string LastExportDir;
    std::string LastBrowseDir;
    std::string LastSaveDir;
    bool StretchImageToFit = true;
    bool DeleteFilesAfterImport = false;
    bool DeleteFilesAfterExport = false;
    bool RecurseFoldersOnImport = false;
    bool UseFoldersAsCategoriesOnImport = false;
    bool StoreFileThumbsInDatabase = true;
    bool ConfirmDelete = true;
    bool ThumbnailView = true;
    bool BrowseMode = false;
    bool QuickBrowse = false;
    bool RemoveOldPasswordOnOpen = false;

private:
    void StoreSettings(TIniFile& ini) const;
};

}  // namespace pixhold::store
