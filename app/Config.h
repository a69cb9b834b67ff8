#pragma once

#include <string>

namespace pixhold::app {

// Every user setting and the application shell's shared state. Loaded from
// "Pixhold.ini" when created, saved when destroyed; one instance, created by the
// main window. Fields are read and written directly.
class TConfig {
public:
    TConfig();
    ~TConfig();
    TConfig(const TConfig&) = delete;
    TConfig& operator=(const TConfig&) = delete;

    void LoadSettings();
    // Throws std::runtime_error("Unable to write to <path>") when a value cannot be written.
    void SaveSettings();
    std::string GetSettingsFolder();
    // CurrentCategory, or empty when it is "All".
    std::string CategoryKey() const;

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
};

}  // namespace pixhold::app
