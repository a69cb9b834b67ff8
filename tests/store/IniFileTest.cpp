#include "IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "TextFile.h"

namespace pixhold::store {
namespace {

namespace fs = std::filesystem;

using test::ReadText;
using test::WriteText;

class IniFileTest : public ::testing::Test {
protected:
    std::string Path() const { return (dir / "test.ini").string(); }
    test::TempDir dir;
};

TEST_F(IniFileTest, MissingFileYieldsDefaultsAndIsCreatedOnUpdate) {
    TIniFile ini(Path());
    EXPECT_FALSE(ini.SectionExists("Options"));
    EXPECT_EQ(ini.ReadString("Options", "DBPath", "dflt"), "dflt");
    EXPECT_TRUE(ini.ReadBool("Options", "ConfirmDelete", true));
    EXPECT_FALSE(fs::exists(Path()));

    ini.WriteString("Defaults", "LastImportDir", "/pictures");
    ini.WriteBool("Defaults", "ThumbnailView", true);
    ini.WriteString("Options", "DBPath", "/data/");
    ini.WriteBool("Options", "ConfirmDelete", false);
    ini.UpdateFile();
    EXPECT_EQ(ReadText(Path()),
              "[Defaults]\nLastImportDir=/pictures\nThumbnailView=1\n\n"
              "[Options]\nDBPath=/data/\nConfirmDelete=0\n");
}

TEST_F(IniFileTest, NamesMatchWithoutLetterCaseAndBlanksAreTrimmed) {
    WriteText(Path(), "[defaults]\r\n  lastimportdir = /a b \r\nEmpty=\r\n[OPTIONS]\nDBPath=/x\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("Defaults", "LastImportDir", "d"), "/a b");
    EXPECT_EQ(ini.ReadString("DEFAULTS", "LASTIMPORTDIR", "d"), "/a b");
    EXPECT_EQ(ini.ReadString("Defaults", "Empty", "d"), "") << "a present empty value is not the default";
    EXPECT_EQ(ini.ReadString("Options", "dbpath", "d"), "/x");
    EXPECT_EQ(ini.ReadString("Defaults", "DBPath", "d"), "d") << "keys belong to their own section";
}

TEST_F(IniFileTest, FirstOfDuplicateSectionsAndKeysWins) {
    WriteText(Path(), "[S]\nk=first\nk=second\n[S]\nk=third\nother=x\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("S", "k", ""), "first");
    EXPECT_EQ(ini.ReadString("S", "other", "d"), "d");
}

struct FlagCase {
    const char* stored;
    bool whenDefaultFalse;
    bool whenDefaultTrue;
};

void PrintTo(const FlagCase& c, std::ostream* os) {
    *os << '"' << c.stored << '"';
}

class IniFlagTest : public IniFileTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(IniFlagTest, ReadsAsInteger) {
    const FlagCase& c = GetParam();
    WriteText(Path(), std::string("[Options]\nFlag=") + c.stored + "\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadBool("Options", "Flag", false), c.whenDefaultFalse) << '"' << c.stored << '"';
    EXPECT_EQ(ini.ReadBool("Options", "Flag", true), c.whenDefaultTrue) << '"' << c.stored << '"';
}

INSTANTIATE_TEST_SUITE_P(IniValues, IniFlagTest,
                         ::testing::Values(FlagCase{"0", false, false}, FlagCase{"1", true, true},
                                           FlagCase{"7", true, true}, FlagCase{"-1", true, true},
                                           FlagCase{"+0", false, false}, FlagCase{"00", false, false},
                                           FlagCase{"0x10", true, true}, FlagCase{"0X0", false, false},
                                           FlagCase{"0xff", true, true}, FlagCase{" 1 ", true, true},
                                           // larger than any integer type, still a non-zero number
                                           FlagCase{"123456789012345678901234567890", true, true},
                                           // not numbers: the default
                                           FlagCase{"abc", false, true}, FlagCase{"", false, true},
                                           FlagCase{"true", false, true}, FlagCase{"12abc", false, true},
                                           FlagCase{"0x", false, true}, FlagCase{"0xG", false, true},
                                           FlagCase{"-", false, true}, FlagCase{"1 0", false, true}));

TEST_F(IniFileTest, LongValuesAreReadCutTo2047CharactersButSavedWhole) {
    const std::string exact(2047, 'a');
    const std::string longer = std::string(3000, 'b');
    // 2046 single-byte characters, then a two-byte one: the cut must not split it.
    const std::string multiByte = std::string(2046, 'c') + "\xC3\xA9" + "d";
    WriteText(Path(), "[S]\nexact=" + exact + "\nlong=" + longer + "\nutf8=" + multiByte + "\n");

    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("S", "exact", ""), exact);
    EXPECT_EQ(ini.ReadString("S", "long", ""), longer.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("S", "utf8", ""), std::string(2046, 'c') + "\xC3\xA9");

    ini.WriteString("S", "new", "v");
    ini.UpdateFile();
    EXPECT_NE(ReadText(Path()).find("long=" + longer + "\n"), std::string::npos)
        << "an untouched long value is kept whole";
}

TEST_F(IniFileTest, SaveKeepsEverythingItDoesNotWrite) {
    const std::string original =
        "; written by hand\n"
        "loose line before any section\n"
        "[Defaults]\n"
        "LastImportDir=/old\n"
        "Unknown = keep me\n"
        "\n"
        "; about the next section\n"
        "[Plugins]\n"
        "a=1\n"
        "no equals sign here\n"
        "[Options]\n"
        "dbpath=/old/data/\n";
    WriteText(Path(), original);

    TIniFile ini(Path());
    ini.WriteString("Defaults", "LastImportDir", "/new");  // replaced in place
    ini.WriteString("Defaults", "LastExportDir", "/exp");  // added after the section's last key
    ini.WriteString("Options", "DBPath", "/data/");        // matched without letter case
    ini.WriteBool("Extra", "Flag", true);                  // new section at the end
    ini.UpdateFile();

    EXPECT_EQ(ReadText(Path()),
              "; written by hand\n"
              "loose line before any section\n"
              "[Defaults]\n"
              "LastImportDir=/new\n"
              "Unknown = keep me\n"
              "LastExportDir=/exp\n"
              "\n"
              "; about the next section\n"
              "[Plugins]\n"
              "a=1\n"
              "no equals sign here\n"
              "[Options]\n"
              "DBPath=/data/\n"
              "\n"
              "[Extra]\n"
              "Flag=1\n");
    TIniFile again(Path());
    EXPECT_EQ(again.ReadString("Defaults", "Unknown", ""), "keep me");
    EXPECT_EQ(again.ReadString("Plugins", "a", ""), "1");
}

TEST_F(IniFileTest, EveryValueWithoutLineBreakReadsBackAsWritten) {
    const std::vector<std::string> values = {"/plain/path/", " leading", "trailing ", "\t tabbed \t",
                                             "\"quoted\"", "\"", "\"half", "a = b", "; not a comment",
                                             "[not a section]", "", "caf\xC3\xA9"};
    {
        TIniFile ini(Path());
        for (std::size_t i = 0; i < values.size(); ++i) ini.WriteString("S", "k" + std::to_string(i), values[i]);
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(ini.ReadString("S", "k" + std::to_string(i), "?"), values[i]) << "before saving";
        }
        ini.UpdateFile();
    }
    TIniFile ini(Path());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(ini.ReadString("S", "k" + std::to_string(i), "?"), values[i]) << "after saving";
    }
    EXPECT_NE(ReadText(Path()).find("k0=/plain/path/\n"), std::string::npos) << "plain values are not quoted";
}

TEST_F(IniFileTest, ByteOrderMarkIsNotPartOfTheFirstSection) {
    WriteText(Path(), "\xEF\xBB\xBF[S]\nk=v\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("S", "k", ""), "v");
    ini.WriteString("S", "k", "w");
    ini.UpdateFile();
    EXPECT_EQ(ReadText(Path()), "\xEF\xBB\xBF[S]\nk=w\n");
}

TEST_F(IniFileTest, WriteFailsWithTheFilePathWhenTheFolderCannotExist) {
    // A path below a regular file fails for every user, root included.
    WriteText(dir / "plain", "x");
    const std::string path = (dir / "plain" / "test.ini").string();
    TIniFile ini(path);
    ini.WriteString("S", "k", "v");
    try {
        ini.UpdateFile();
        FAIL() << "no error";
    } catch (const EIniWriteError& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    }
}

TEST_F(IniFileTest, WhatCannotBeReadIsNotOverwritten) {
    // A folder where the file should be: it exists but cannot be read as text.
    fs::create_directory(Path());
    WriteText(fs::path(Path()) / "inside", "x");
    TIniFile ini(Path());
    ini.WriteString("S", "k", "v");
    EXPECT_THROW(ini.UpdateFile(), EIniWriteError);
    EXPECT_TRUE(fs::exists(fs::path(Path()) / "inside"));
}

TEST_F(IniFileTest, TextsThatWouldNotReadBackAreRefusedAndTheFileIsUntouched) {
    WriteText(Path(), "[S]\nk=v\n");
    TIniFile ini(Path());
    EXPECT_THROW(ini.WriteString("S", "k", "line\ninjected=1"), EIniWriteError);
    EXPECT_THROW(ini.WriteString("S", "k", "cr\rhere"), EIniWriteError);
    EXPECT_THROW(ini.WriteString("S", "a=b", "v"), EIniWriteError);
    EXPECT_THROW(ini.WriteString("S", "", "v"), EIniWriteError);
    EXPECT_THROW(ini.WriteString("S]", "k", "v"), EIniWriteError);
    try {
        ini.WriteString("S", "k", "a\nb");
    } catch (const EIniWriteError& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + Path()).c_str());
    }
    ini.UpdateFile();
    EXPECT_EQ(ReadText(Path()), "[S]\nk=v\n");
}

TEST_F(IniFileTest, ReplacingLeavesNoTemporaryFilesAndKeepsPermissions) {
    WriteText(Path(), "[S]\nk=v\n");
    fs::permissions(Path(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                    fs::perm_options::replace);
    TIniFile ini(Path());
    ini.WriteString("S", "k", "w");
    ini.UpdateFile();

    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(fs::status(Path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(IniFileTest, ThroughASymbolicLinkTheTargetIsReplaced) {
    fs::create_directory(dir / "real");
    WriteText(dir / "real" / "test.ini", "[S]\nk=v\n");
    fs::create_symlink(dir / "real" / "test.ini", Path());
    TIniFile ini(Path());
    ini.WriteString("S", "k", "w");
    ini.UpdateFile();
    EXPECT_TRUE(fs::is_symlink(Path()));
    EXPECT_EQ(ReadText(dir / "real" / "test.ini"), "[S]\nk=w\n");
}

}  // namespace
}  // namespace pixhold::store
