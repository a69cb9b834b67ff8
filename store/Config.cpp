#include "Config.h"

#include <filesystem>
#include <iostream>
#include <utility>

#include "IniFile.h"
#include "ShellFolders.h"
#include "TableFiles.h"

namespace pixhold::store {

namespace {

namespace fs = std::filesystem;

constexpr const char* IniName = "Pixhold.ini";
constexpr const char* Defaults = "Defaults";
constexpr const char* Options = "Options";

std::string WithSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

}  // namespace

TConfig::TConfig() : TConfig(ProgramFileFolder()) {}

TConfig::TConfig(std::string programFolder)
    : ProgramFolder(WithSeparator(std::move(programFolder))), CurrentTable("Default") {
    LoadSettings();
}

TConfig::~TConfig() {
    try {
        SaveSettings();
    } catch (const std::exception& e) {
        try {
            if (OnSaveError) {
                OnSaveError(e.what());
            } else {
                std::cerr << e.what() << '\n';
            }
        } catch (...) {
            // Nothing more can be done about it while shutting down.
        }
    }
}

std::string TConfig::GetSettingsFolder() {
    std::string folder = SpecialFolderPath(TSpecialFolder::AppData);
    if (!folder.empty()) {
        folder += "Norvane/";
        std::error_code ec;
        fs::create_directories(folder, ec);  // a failure shows when the file is written
        return folder;
    }
    folder = WithSeparator(WindowsFolder());
    // Without any home folder the file would land in whatever the current
    // directory happens to be; the temporary folder is at least predictable.
    return folder.empty() ? TempFolder() : folder;
}

std::string TConfig::DefaultDataFolder() const {
    // Tables are data, not settings: they go below the per-user data folder.
    // Without one (no home folder at all) they go beside the settings file.
    const std::string dataHome = SpecialFolderPath(TSpecialFolder::LocalData);
    const std::string beside = SettingsFolder + "Pixhold/";
    if (dataHome.empty()) return beside;
    const std::string standard = dataHome + "Norvane/Pixhold/";
    // Earlier versions kept them beside the settings file by default; tables
    // found there (and none in the new place) stay in use.
    if (!DataFileExists(standard, "Default.dat") && DataFileExists(beside, "Default.dat") &&
        DataFileExists(beside, "Thumbs.dat")) {
        return beside;
    }
    return standard;
}

void TConfig::LoadSettings() {
    SettingsFolder = GetSettingsFolder();
    std::error_code ec;
    fs::create_directories(SettingsFolder, ec);
    const std::string userFile = SettingsFolder + IniName;

    // WindowsFolder has no trailing separator when the folder does not exist;
    // then there is no legacy file (rather than a file named like "/home/xPixhold.ini").
    const std::string windows = WindowsFolder();
    const std::string legacyFile = (!windows.empty() && windows.back() == '/') ? windows + IniName : "";
    const bool userExists = FileExists(userFile);
    const bool legacyExists = !legacyFile.empty() && FileExists(legacyFile);

    {
        const TIniFile ini(userExists || !legacyExists ? userFile : legacyFile);

        LastImportDir = ini.ReadString(Defaults, "LastImportDir", ProgramFolder);
        LastExportDir = ini.ReadString(Defaults, "LastExportDir", ProgramFolder);
        LastBrowseDir = ini.ReadString(Defaults, "LastBrowseDir", ProgramFolder);
        LastSaveDir = ini.ReadString(Defaults, "LastSaveDir", ProgramFolder);
        CurrentTable = ini.ReadString(Defaults, "LastTableName", "Default");
        LastMoveTableName = ini.ReadString(Defaults, "LastMoveTableName", "Default");
        LastMoveCategory = ini.ReadString(Defaults, "LastMoveCategory", "");
        ThumbnailView = ini.ReadBool(Defaults, "ThumbnailView", true);

        // Tables kept beside the program file by older installations stay in use.
        if (DataFileExists(ProgramFolder, "Default.dat") && DataFileExists(ProgramFolder, "Thumbs.dat")) {
            DataFolder = ProgramFolder;
        } else {
            // A missing entry takes the default; so does an empty one, which
            // would otherwise become "/", the root folder.
            DataFolder = WithSeparator(ini.ReadString(Options, "DBPath", ""));
            if (DataFolder.empty()) DataFolder = DefaultDataFolder();
        }

        DeleteFilesAfterImport = ini.ReadBool(Options, "DeleteFilesAfterImport", false);
        DeleteFilesAfterExport = ini.ReadBool(Options, "DeleteFilesAfterExport", false);
        RecurseFoldersOnImport = ini.ReadBool(Options, "RecurseFoldersOnImport", false);
        UseFoldersAsCategoriesOnImport = ini.ReadBool(Options, "UseFoldersAsCategoriesOnImport", false);
        StoreFileThumbsInDatabase = ini.ReadBool(Options, "StoreFileThumbsInDatabase", true);
        ConfirmDelete = ini.ReadBool(Options, "ConfirmDelete", true);
        RemoveOldPasswordOnOpen = ini.ReadBool(Options, "RemoveOldPasswordOnOpen", false);
        StretchImageToFit = ini.ReadBool(Options, "StretchImageToFit", true);
    }

    // Move a settings file from the legacy location to the per-user folder.
    if (legacyExists && legacyFile != userFile && !SpecialFolderPath(TSpecialFolder::AppData).empty()) {
        try {
            // Start from the file that was read, so keys this program does not
            // know come along too.
            TIniFile ini(userExists ? userFile : legacyFile);
            StoreSettings(ini);
            ini.UpdateFile(GetSettingsFolder() + IniName);
        } catch (const std::exception&) {
            // Keep the legacy file: the values are loaded, and the next start tries again.
            return;
        }
        fs::remove(legacyFile, ec);
    }
}

void TConfig::SaveSettings() {
    TIniFile ini(GetSettingsFolder() + IniName);
    StoreSettings(ini);
    ini.UpdateFile();
}

void TConfig::StoreSettings(TIniFile& ini) const {
    ini.WriteString(Defaults, "LastImportDir", LastImportDir);
    ini.WriteString(Defaults, "LastExportDir", LastExportDir);
    ini.WriteString(Defaults, "LastBrowseDir", LastBrowseDir);
    ini.WriteString(Defaults, "LastSaveDir", LastSaveDir);
    ini.WriteString(Defaults, "LastTableName", CurrentTable);
    ini.WriteString(Defaults, "LastMoveTableName", LastMoveTableName);
    ini.WriteString(Defaults, "LastMoveCategory", LastMoveCategory);
    ini.WriteBool(Defaults, "ThumbnailView", ThumbnailView);

    ini.WriteString(Options, "DBPath", DataFolder);
    ini.WriteBool(Options, "DeleteFilesAfterImport", DeleteFilesAfterImport);
    ini.WriteBool(Options, "DeleteFilesAfterExport", DeleteFilesAfterExport);
    ini.WriteBool(Options, "RecurseFoldersOnImport", RecurseFoldersOnImport);
    ini.WriteBool(Options, "UseFoldersAsCategoriesOnImport", UseFoldersAsCategoriesOnImport);
    ini.WriteBool(Options, "StoreFileThumbsInDatabase", StoreFileThumbsInDatabase);
    ini.WriteBool(Options, "ConfirmDelete", ConfirmDelete);
    ini.WriteBool(Options, "StretchImageToFit", StretchImageToFit);
    ini.WriteBool(Options, "RemoveOldPasswordOnOpen", RemoveOldPasswordOnOpen);
}

std::string TConfig::CategoryKey() const {
    return CurrentCategory == "All" ? std::string() : CurrentCategory;
}

}  // namespace pixhold::store
