// Names of table files in the data folder.

#include "TableFiles.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pixhold::store {
namespace {

struct NameCase {
    const char* path;
    const char* base;
};

class FileBaseNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileBaseNameTest, CutsFolderAndExtension) {
    EXPECT_EQ(FileBaseName(GetParam().path), GetParam().base) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Names, FileBaseNameTest,
                         ::testing::Values(NameCase{"Default.Dat", "Default"}, NameCase{"Default", "Default"},
                                           NameCase{"/data/pics/Holiday.Dat", "Holiday"},
                                           NameCase{"C:\\data\\Work.dat", "Work"}, NameCase{"a.jpg.jpg", "a"},
                                           NameCase{"my.pics.Dat", "my.pics"}, NameCase{"", ""},
                                           NameCase{"folder.d/name", "name"}));

TEST(CapitalizeWords, UpperCasesEachWordStart) {
    const std::pair<QString, QString> cases[] = {
        {"default", "Default"},   {"my_pics2a", "My_Pics2A"}, {"HOLIDAY PICS", "Holiday Pics"},
        {"thumbs", "Thumbs"},     {"", ""},                   {"émile zola", "Émile Zola"},
        {"x-ray", "X-Ray"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(CapitalizeWords(text), expected) << text.toStdString();
}

TEST(TableFiles, ListsCompleteTablesButNotTheCache) {
    test::TempDir dir;
    auto touch = [&](const std::string& name) { std::ofstream(dir / name) << "x"; };
    for (const char* name : {"Default.Dat", "Default.Idx", "Default.Blb", "Thumbs.Dat", "Thumbs.Idx", "Thumbs.Blb",
                             "holiday.dat", "holiday.idx", "holiday.blb", "NoIndex.Dat", "NoIndex.Blb",
                             "NoData.Idx", "NoData.Blb", "work.DAT", "work.IDX", "work.BLB", "Orphan.Dat"}) {
        touch(name);
    }
    std::filesystem::create_directory(dir / "Folder.Blb");
    EXPECT_EQ(ListImageTables(dir.folder()), (QStringList{"Default", "Holiday", "Work"}));
    EXPECT_TRUE(DataFileExists(dir.folder(), "DEFAULT.dat"));
    EXPECT_FALSE(DataFileExists(dir.folder(), "Folder.Blb"));
    EXPECT_FALSE(DataFileExists(dir.folder(), "Default.Dbk"));
    std::filesystem::create_directory(dir / "sub");
    EXPECT_FALSE(DataFileExists(dir.folder() + "sub/", "../Default.Dat"));
    EXPECT_TRUE(ListImageTables((dir / "missing").string() + "/").isEmpty());
}

}  // namespace
}  // namespace pixhold::store
