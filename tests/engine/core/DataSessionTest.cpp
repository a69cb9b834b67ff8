#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "DataDirectory.h"
#include "DataSession.h"
#include "TempDir.h"

namespace pixhold::engine {
namespace {

using pixhold::test::TempDir;

TEST(DataSession, DirectoriesThatDifferOnlyInCaseOrBlanksShareOneObject) {
    TempDir dir;
    TDataSession session;
    const std::string folder = dir.path().string();
    std::string upper = folder;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    TDataDirectory* a = session.OpenDataDirectory("PH", folder);
    TDataDirectory* b = session.OpenDataDirectory("Other", "  " + upper + "/  ");
    ASSERT_EQ(a, b);
    EXPECT_EQ(a->Path(), folder + "/");
    EXPECT_EQ(a->UseCount(), 2);
    EXPECT_EQ(session.DirectoryCount(), 1u);

    session.CloseDataDirectory(b);
    EXPECT_EQ(session.DirectoryCount(), 1u);
    EXPECT_EQ(a->UseCount(), 1);
    EXPECT_FALSE(a->TableExists("Nothing", false));  // still usable

    session.CloseDataDirectory(a);
    EXPECT_EQ(session.DirectoryCount(), 0u);
    session.CloseDataDirectory(a);  // no longer known: ignored
}

TEST(DataSession, AnEmptyDirectoryIsTheCurrentFolderOfTheSessionsCreation) {
    TempDir first;
    TempDir second;
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(first.path());
    TDataSession session;
    std::filesystem::current_path(second.path());

    TDataDirectory* dir = session.OpenDataDirectory("PH", "   ");
    EXPECT_EQ(dir->Path(), std::filesystem::canonical(first.path()).string() + "/");
    EXPECT_EQ(session.DefaultDir(), dir->Path());
    // The in-memory directory has no path at all.
    EXPECT_EQ(session.OpenDataDirectory("memory", "")->Path(), "");
    std::filesystem::current_path(saved);
}

TEST(DataSession, PasswordsAreKeptOnceAndComparedExactly) {
    TDataSession session;
    session.AddPassword("Secret");
    session.AddPassword("Secret");
    session.AddPassword("secret");
    session.AddPassword("");
    EXPECT_EQ(session.PasswordCount(), 2u);
    EXPECT_TRUE(session.HasPassword("Secret"));
    EXPECT_TRUE(session.HasPassword("secret"));
    EXPECT_FALSE(session.HasPassword("SECRET"));
    EXPECT_FALSE(session.HasPassword("Secret "));

    session.RemovePassword("SECRET");  // no entry: nothing happens
    EXPECT_EQ(session.PasswordCount(), 2u);
    session.RemovePassword("Secret");
    EXPECT_FALSE(session.HasPassword("Secret"));
    EXPECT_TRUE(session.HasPassword("secret"));
    session.RemoveAllPasswords();
    EXPECT_EQ(session.PasswordCount(), 0u);
}

TEST(DataSession, PrivateDirectoryFallsBackToTheDefaultDirectory) {
    TDataSession session;
    EXPECT_FALSE(session.GetPrivateDir().empty());
    EXPECT_EQ(session.GetPrivateDir().back(), '/');
    session.SetPrivateDir("  /var/pixhold/private  ");
    EXPECT_EQ(session.GetPrivateDir(), "/var/pixhold/private/");
    session.SetPrivateDir("");
    EXPECT_EQ(session.GetPrivateDir(), session.DefaultDir());
}

}  // namespace
}  // namespace pixhold::engine
