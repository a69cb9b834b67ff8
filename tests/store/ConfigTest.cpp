#include "Config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "IniFile.h"
#include "ShellFolders.h"
#include "TempDir.h"
#include "TextFile.h"

namespace pixhold::store {
namespace {

namespace fs = std::filesystem;

using test::ReadText;
using test::WriteText;

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};

// A home folder, a per-user configuration folder and a program folder, all
// inside one temporary folder.
class ConfigTest : public ::testing::Test {
protected:
    ConfigTest() {
        fs::create_directories(home);
        fs::create_directories(program);
    }

    std::string UserFile() const { return config.string() + "/Norvane/Pixhold.ini"; }
    std::string LegacyFile() const { return home.string() + "/Pixhold.ini"; }
    std::string ProgramFolder() const { return program.string() + "/"; }

    test::TempDir dir;
    fs::path home = dir / "home";
    fs::path config = dir / "config";
    fs::path program = dir / "program";
    fs::path data = dir / "data";
    ScopedEnv homeEnv{"HOME", home.string()};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", config.string()};
    ScopedEnv dataEnv{"XDG_DATA_HOME", data.string()};
};

TEST_F(ConfigTest, FirstStartWithNoFileAnywhereTakesTheDefaults) {
    {
        TConfig cfg(ProgramFolder());
        EXPECT_EQ(cfg.SettingsFolder, config.string() + "/Norvane/");
        EXPECT_TRUE(fs::is_directory(cfg.SettingsFolder));
        EXPECT_EQ(cfg.DataFolder, data.string() + "/Norvane/Pixhold/") << "tables are data, not settings";
        EXPECT_FALSE(fs::exists(cfg.DataFolder)) << "the data module creates it";
        EXPECT_EQ(cfg.ProgramFolder, ProgramFolder());
        EXPECT_EQ(cfg.CurrentTable, "Default");
        EXPECT_EQ(cfg.LastMoveTableName, "Default");
        EXPECT_EQ(cfg.LastMoveCategory, "");
        EXPECT_EQ(cfg.CurrentCategory, "");
        for (const std::string* folder : {&cfg.LastImportDir, &cfg.LastExportDir, &cfg.LastBrowseDir, &cfg.LastSaveDir}) {
            EXPECT_EQ(*folder, ProgramFolder());
        }
        EXPECT_TRUE(cfg.ThumbnailView);
        EXPECT_TRUE(cfg.StoreFileThumbsInDatabase);
        EXPECT_TRUE(cfg.ConfirmDelete);
        EXPECT_TRUE(cfg.StretchImageToFit);
        EXPECT_FALSE(cfg.DeleteFilesAfterImport);
        EXPECT_FALSE(cfg.DeleteFilesAfterExport);
        EXPECT_FALSE(cfg.RecurseFoldersOnImport);
        EXPECT_FALSE(cfg.UseFoldersAsCategoriesOnImport);
        EXPECT_FALSE(cfg.RemoveOldPasswordOnOpen);
        EXPECT_FALSE(cfg.BrowseMode);
        EXPECT_FALSE(cfg.QuickBrowse);
        EXPECT_FALSE(fs::exists(UserFile())) << "nothing is saved before exit";
    }
    EXPECT_TRUE(fs::exists(UserFile()));
}

TEST_F(ConfigTest, SavedFileHasEveryKeyInOrder) {
    {
        TConfig cfg(ProgramFolder());
        cfg.LastImportDir = "/imp";
        cfg.LastExportDir = "/exp";
        cfg.LastBrowseDir = "/brw/";
        cfg.LastSaveDir = "/sav/";
        cfg.CurrentTable = "Holiday";
        cfg.LastMoveTableName = "Work";
        cfg.LastMoveCategory = "Cats";
        cfg.ThumbnailView = false;
        cfg.DataFolder = "/data/";
        cfg.DeleteFilesAfterImport = true;
        cfg.DeleteFilesAfterExport = false;
        cfg.RecurseFoldersOnImport = true;
        cfg.UseFoldersAsCategoriesOnImport = false;
        cfg.StoreFileThumbsInDatabase = true;
        cfg.ConfirmDelete = false;
        cfg.StretchImageToFit = true;
        cfg.RemoveOldPasswordOnOpen = true;
        cfg.CurrentCategory = "never stored";
        cfg.BrowseMode = true;
        cfg.QuickBrowse = true;
    }
    EXPECT_EQ(ReadText(UserFile()),
              "[Defaults]\n"
              "LastImportDir=/imp\n"
              "LastExportDir=/exp\n"
              "LastBrowseDir=/brw/\n"
              "LastSaveDir=/sav/\n"
              "LastTableName=Holiday\n"
              "LastMoveTableName=Work\n"
              "LastMoveCategory=Cats\n"
              "ThumbnailView=0\n"
              "\n"
              "[Options]\n"
              "DBPath=/data/\n"
              "DeleteFilesAfterImport=1\n"
              "DeleteFilesAfterExport=0\n"
              "RecurseFoldersOnImport=1\n"
              "UseFoldersAsCategoriesOnImport=0\n"
              "StoreFileThumbsInDatabase=1\n"
              "ConfirmDelete=0\n"
              "StretchImageToFit=1\n"
              "RemoveOldPasswordOnOpen=1\n");

    TConfig again(ProgramFolder());
    EXPECT_EQ(again.CurrentTable, "Holiday");
    EXPECT_EQ(again.LastMoveCategory, "Cats");
    EXPECT_EQ(again.DataFolder, "/data/");
    EXPECT_FALSE(again.ThumbnailView);
    EXPECT_TRUE(again.RemoveOldPasswordOnOpen);
    EXPECT_EQ(again.CurrentCategory, "");
    EXPECT_FALSE(again.BrowseMode);
    EXPECT_FALSE(again.QuickBrowse);
}

TEST_F(ConfigTest, UnknownKeysAndSectionsSurviveASave) {
    fs::create_directories(config / "Norvane");
    WriteText(UserFile(), "[Defaults]\nLastTableName=Old\nWindowLeft=10\n[Mine]\nx=y\n");
    {
        TConfig cfg(ProgramFolder());
        EXPECT_EQ(cfg.CurrentTable, "Old");
        cfg.CurrentTable = "New";
    }
    TIniFile ini(UserFile());
    EXPECT_EQ(ini.ReadString("Defaults", "LastTableName", ""), "New");
    EXPECT_EQ(ini.ReadString("Defaults", "WindowLeft", ""), "10");
    EXPECT_EQ(ini.ReadString("Mine", "x", ""), "y");
}

struct DataFolderCase {
    const char* name;
    std::optional<std::string> dbPath;  // no value: key missing
    std::vector<std::string> besideProgram;
    std::string expected;  // "<data>", "<settings>", "<program>" stand for those folders
    // Files in the earlier default folder (beside the settings file) and in the current one.
    std::vector<std::string> besideSettings = {};
    std::vector<std::string> inDataHome = {};
};

void PrintTo(const DataFolderCase& c, std::ostream* os) {
    *os << c.name;
}

class ConfigDataFolderTest : public ConfigTest, public ::testing::WithParamInterface<DataFolderCase> {};

TEST_P(ConfigDataFolderTest, ComesFromTheRightPlace) {
    const DataFolderCase& c = GetParam();
    fs::create_directories(config / "Norvane");
    if (c.dbPath) {
        const std::string stored = *c.dbPath == "<settings>" ? config.string() + "/Norvane/Pixhold/" : *c.dbPath;
        WriteText(UserFile(), "[Options]\nDBPath=" + stored + "\n");
    }
    for (const std::string& name : c.besideProgram) WriteText(program / name, "");
    for (const std::string& name : c.besideSettings) {
        fs::create_directories(config / "Norvane" / "Pixhold");
        WriteText(config / "Norvane" / "Pixhold" / name, "");
    }
    for (const std::string& name : c.inDataHome) {
        fs::create_directories(data / "Norvane" / "Pixhold");
        WriteText(data / "Norvane" / "Pixhold" / name, "");
    }

    std::string expected = c.expected;
    if (expected == "<data>") expected = data.string() + "/Norvane/Pixhold/";
    if (expected == "<settings>") expected = config.string() + "/Norvane/Pixhold/";
    if (expected == "<program>") expected = ProgramFolder();
    {
        TConfig cfg(ProgramFolder());
        EXPECT_EQ(cfg.DataFolder, expected);
    }
    EXPECT_EQ(TIniFile(UserFile()).ReadString("Options", "DBPath", ""), expected) << "written back at exit";
}

INSTANTIATE_TEST_SUITE_P(
    ConfigCases, ConfigDataFolderTest,
    ::testing::Values(
        DataFolderCase{"Missing", std::nullopt, {}, "<data>"},
        DataFolderCase{"Stored", std::string("/srv/pics/"), {}, "/srv/pics/"},
        DataFolderCase{"SeparatorAdded", std::string("/srv/pics"), {}, "/srv/pics/"},
        // An empty entry must not turn into "/", the root folder.
        DataFolderCase{"EmptyEntry", std::string(""), {}, "<data>"},
        // A stored folder is kept, also the earlier default beside the settings.
        DataFolderCase{"StoredEarlierDefault", std::string("<settings>"), {}, "<settings>"},
        // Tables in the earlier default place stay in use when the settings name no folder ...
        DataFolderCase{"TablesInEarlierDefault", std::nullopt, {}, "<settings>", {"Default.dat", "THUMBS.DAT"}},
        // ... unless the new place has tables too, or the earlier place is incomplete.
        DataFolderCase{"TablesInBothPlaces", std::nullopt, {}, "<data>", {"Default.dat", "Thumbs.dat"},
                       {"Default.dat"}},
        DataFolderCase{"OnlyDefaultInEarlierDefault", std::nullopt, {}, "<data>", {"Default.dat"}},
        DataFolderCase{"StoredWinsOverEarlierDefault", std::string("/srv/pics/"), {}, "/srv/pics/",
                       {"Default.dat", "Thumbs.dat"}},
        DataFolderCase{"TablesBesideProgram", std::string("/srv/pics/"), {"Default.dat", "Thumbs.dat"}, "<program>"},
        DataFolderCase{"TablesBesideProgramAnyCase", std::string("/srv/pics/"), {"DEFAULT.DAT", "thumbs.Dat"},
                       "<program>"},
        DataFolderCase{"OnlyDefaultBesideProgram", std::string("/srv/pics/"), {"Default.dat"}, "/srv/pics/"},
        DataFolderCase{"OnlyThumbsBesideProgram", std::nullopt, {"Thumbs.dat"}, "<data>"}),
    [](const ::testing::TestParamInfo<DataFolderCase>& param) { return std::string(param.param.name); });

struct StoredFlagCase {
    const char* stored;
    bool confirmDelete;           // default true
    bool deleteFilesAfterImport;  // default false
};

void PrintTo(const StoredFlagCase& c, std::ostream* os) {
    *os << '"' << c.stored << '"';
}

class ConfigFlagTest : public ConfigTest, public ::testing::WithParamInterface<StoredFlagCase> {};

TEST_P(ConfigFlagTest, ReadAsNumberOrDefault) {
    const StoredFlagCase& c = GetParam();
    fs::create_directories(config / "Norvane");
    WriteText(UserFile(), std::string("[Options]\nConfirmDelete=") + c.stored +
                              "\nDeleteFilesAfterImport=" + c.stored + "\n");
    TConfig cfg(ProgramFolder());
    EXPECT_EQ(cfg.ConfirmDelete, c.confirmDelete);
    EXPECT_EQ(cfg.DeleteFilesAfterImport, c.deleteFilesAfterImport);
}

INSTANTIATE_TEST_SUITE_P(ConfigValues, ConfigFlagTest,
                         ::testing::Values(StoredFlagCase{"abc", true, false}, StoredFlagCase{"0", false, false},
                                           StoredFlagCase{"1", true, true}, StoredFlagCase{"7", true, true},
                                           StoredFlagCase{"-1", true, true}, StoredFlagCase{"0x10", true, true},
                                           StoredFlagCase{"0X0", false, false}, StoredFlagCase{"", true, false}));

TEST_F(ConfigTest, LegacyFileIsMovedToThePerUserFolder) {
    WriteText(LegacyFile(),
              "[Defaults]\nLastTableName=Legacy\nLastImportDir=/old/imp\nThumbnailView=0\nOwnKey=kept\n"
              "[Options]\nDBPath=/old/data\nConfirmDelete=0\n");
    {
        TConfig cfg(ProgramFolder());
        EXPECT_EQ(cfg.CurrentTable, "Legacy");
        EXPECT_EQ(cfg.LastImportDir, "/old/imp");
        EXPECT_EQ(cfg.DataFolder, "/old/data/");
        EXPECT_FALSE(cfg.ThumbnailView);
        EXPECT_FALSE(cfg.ConfirmDelete);

        // Written during the same start, before any exit.
        EXPECT_FALSE(fs::exists(LegacyFile()));
        TIniFile ini(UserFile());
        EXPECT_EQ(ini.ReadString("Defaults", "LastTableName", ""), "Legacy");
        EXPECT_EQ(ini.ReadString("Defaults", "LastImportDir", ""), "/old/imp");
        EXPECT_EQ(ini.ReadString("Options", "DBPath", ""), "/old/data/");
        EXPECT_FALSE(ini.ReadBool("Options", "ConfirmDelete", true));
        EXPECT_EQ(ini.ReadString("Defaults", "OwnKey", ""), "kept");
    }
    TConfig again(ProgramFolder());
    EXPECT_EQ(again.CurrentTable, "Legacy");
}

TEST_F(ConfigTest, PerUserFileWinsOverALegacyFileWhichIsRemoved) {
    fs::create_directories(config / "Norvane");
    WriteText(UserFile(), "[Defaults]\nLastTableName=Current\n");
    WriteText(LegacyFile(), "[Defaults]\nLastTableName=Legacy\n");
    TConfig cfg(ProgramFolder());
    EXPECT_EQ(cfg.CurrentTable, "Current");
    EXPECT_FALSE(fs::exists(LegacyFile()));
    EXPECT_EQ(TIniFile(UserFile()).ReadString("Defaults", "LastTableName", ""), "Current");
}

TEST_F(ConfigTest, FailedMigrationKeepsTheLegacyFile) {
    WriteText(dir / "plain", "x");
    ScopedEnv blocked("XDG_CONFIG_HOME", (dir / "plain").string());
    WriteText(LegacyFile(), "[Defaults]\nLastTableName=Legacy\n");
    TConfig cfg(ProgramFolder());
    cfg.OnSaveError = [](const std::string&) {};
    EXPECT_EQ(cfg.CurrentTable, "Legacy");
    EXPECT_TRUE(fs::exists(LegacyFile()));
}

TEST_F(ConfigTest, UnwritableSettingsFileReportsItsPath) {
    // The per-user folder lies below a regular file: no user, root included, can write there.
    WriteText(dir / "plain", "x");
    ScopedEnv blocked("XDG_CONFIG_HOME", (dir / "plain").string());
    const std::string expected = "Unable to write to " + (dir / "plain").string() + "/Norvane/Pixhold.ini";

    std::vector<std::string> reported;
    {
        TConfig cfg(ProgramFolder());
        try {
            cfg.SaveSettings();
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), expected);
        }
        cfg.OnSaveError = [&reported](const std::string& message) { reported.push_back(message); };
    }
    EXPECT_EQ(reported, std::vector<std::string>{expected}) << "the destructor hands the error on";
}

TEST_F(ConfigTest, ThrowingErrorHandlerDoesNotEscapeTheDestructor) {
    WriteText(dir / "plain", "x");
    ScopedEnv blocked("XDG_CONFIG_HOME", (dir / "plain").string());
    EXPECT_NO_THROW({
        TConfig cfg(ProgramFolder());
        cfg.OnSaveError = [](const std::string& message) { throw std::runtime_error(message); };
    });
}

TEST_F(ConfigTest, WithoutUsableXdgConfigHomeTheHomeConfigFolderIsUsed) {
    for (const std::optional<std::string>& value : {std::optional<std::string>(), std::optional<std::string>(""),
                                                    std::optional<std::string>("relative/dir")}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", value);
        TConfig cfg(ProgramFolder());
        EXPECT_EQ(cfg.SettingsFolder, home.string() + "/.config/Norvane/") << value.value_or("(unset)");
    }
}

TEST_F(ConfigTest, WithoutUsableXdgDataHomeTablesGoBelowTheHomeFolder) {
    for (const std::optional<std::string>& value : {std::optional<std::string>(), std::optional<std::string>(""),
                                                    std::optional<std::string>("relative/dir")}) {
        ScopedEnv xdg("XDG_DATA_HOME", value);
        TConfig cfg(ProgramFolder());
        EXPECT_EQ(cfg.DataFolder, home.string() + "/.local/share/Norvane/Pixhold/") << value.value_or("(unset)");
    }
}

TEST_F(ConfigTest, ProgramFolderGetsASeparatorAndDefaultsToTheRunningProgram) {
    TConfig given(program.string());
    EXPECT_EQ(given.ProgramFolder, ProgramFolder());

    TConfig running;
    EXPECT_EQ(running.ProgramFolder, fs::read_symlink("/proc/self/exe").parent_path().string() + "/");
    EXPECT_EQ(running.CurrentTable, "Default");
}

TEST_F(ConfigTest, CategoryKeyIsEmptyForAll) {
    TConfig cfg(ProgramFolder());
    for (const auto& [shown, key] : std::vector<std::pair<std::string, std::string>>{
             {"All", ""}, {"", ""}, {"Cats", "Cats"}, {"all", "all"}}) {
        cfg.CurrentCategory = shown;
        EXPECT_EQ(cfg.CategoryKey(), key) << shown;
    }
}

// Where the program finds its files, for each layout it may be run from.
TEST(ConfigShellFoldersTest, ProgramFilesAreBesideTheProgramOrInShare) {
    struct Layout {
        const char* name;
        bool helpBesideProgram;
        bool shareFolder;
        const char* expected;  // below the prefix
    };
    for (const Layout& c : {Layout{"build tree", true, false, "bin/"},
                            Layout{"installed", false, true, "share/pixhold/"},
                            Layout{"files beside win over share", true, true, "bin/"},
                            Layout{"neither", false, false, "bin/"}}) {
        test::TempDir prefix;
        fs::create_directories(prefix / "bin");
        if (c.helpBesideProgram) WriteText(prefix / "bin" / "Pixhold.hlp", "");
        if (c.shareFolder) fs::create_directories(prefix / "share" / "pixhold");
        const std::string expected = prefix.folder() + c.expected;
        EXPECT_EQ(ProgramFilesFolder((prefix / "bin").string()), expected) << c.name;
        EXPECT_EQ(ProgramFilesFolder(prefix.folder() + "bin/"), expected) << c.name << ", with a separator";
    }
}

TEST(ConfigShellFoldersTest, FoldersFollowTheEnvironment) {
    test::TempDir dir;
    {
        ScopedEnv home("HOME", dir.path().string());
        ScopedEnv tmp("TMPDIR", (dir / "tmp").string());
        EXPECT_EQ(WindowsFolder(), dir.folder());
        EXPECT_EQ(TempFolder(), (dir / "tmp").string() + "/");
    }
    {
        ScopedEnv home("HOME", (dir / "gone").string());
        ScopedEnv tmp("TMPDIR", std::nullopt);
        EXPECT_EQ(WindowsFolder(), (dir / "gone").string()) << "no separator when the folder does not exist";
        EXPECT_EQ(TempFolder(), "/tmp/");
    }
    {
        ScopedEnv home("HOME", dir.path().string());
        ScopedEnv config("XDG_CONFIG_HOME", (dir / "c").string());
        ScopedEnv data("XDG_DATA_HOME", (dir / "d").string());
        EXPECT_EQ(SpecialFolderPath(TSpecialFolder::AppData), (dir / "c").string() + "/");
        EXPECT_EQ(SpecialFolderPath(TSpecialFolder::LocalData), (dir / "d").string() + "/");
    }
    {
        ScopedEnv home("HOME", dir.path().string());
        ScopedEnv config("XDG_CONFIG_HOME", "c");
        ScopedEnv data("XDG_DATA_HOME", std::nullopt);
        EXPECT_EQ(SpecialFolderPath(TSpecialFolder::AppData), dir.folder() + ".config/") << "relative: ignored";
        EXPECT_EQ(SpecialFolderPath(TSpecialFolder::LocalData), dir.folder() + ".local/share/");
    }
}

}  // namespace
}  // namespace pixhold::store
