// The engine's text helpers: trimming, cutting UTF-8, and the one comparison
// of names without regard to letter case.

#include <gtest/gtest.h>

#include "TextCase.h"

namespace pixhold::engine {
namespace {

struct NameCase {
    const char* a;
    const char* b;
    bool folded;   // SameFolded
    bool trimmed;  // SameTrimmedName
};

TEST(TextCase, NamesCompareWithFullCaseFolding) {
    const NameCase cases[] = {
        {"Name", "name", true, true},
        {"Äpfel", "äpfel", true, true},
        {"Straße", "STRASSE", true, true},
        {"ΣΊΣΥΦΟΣ", "σίσυφος", true, true},
        {" Äpfel ", "äpfel", false, true},
        {"Apfel", "Äpfel", false, false},
        {"Name", "Name2", false, false},
        {"", "  ", false, true},
        {"", "", true, true},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(SameFolded(c.a, c.b), c.folded);
        EXPECT_EQ(SameFolded(c.b, c.a), c.folded);
        EXPECT_EQ(SameTrimmedName(c.a, c.b), c.trimmed);
    }
    EXPECT_EQ(FoldCase("ÄPFEL"), FoldCase("äpfel"));
    EXPECT_EQ(FoldCase("Straße"), "strasse");
}

struct CutCase {
    const char* text;
    std::size_t limit;
    std::size_t kept;
};

TEST(TextCase, Utf8IsCutWithoutSplittingACharacter) {
    // "aé€😀": 1, 2, 3 and 4 bytes.
    const CutCase cases[] = {
        {"abc", 5, 3},
        {"abc", 3, 3},
        {"abc", 2, 2},
        {"abc", 0, 0},
        {"a\xC3\xA9", 2, 1},                      // é would be split
        {"a\xC3\xA9", 3, 3},
        {"\xE2\x82\xAC", 1, 0},                   // €
        {"\xE2\x82\xAC", 2, 0},
        {"\xE2\x82\xAC!", 3, 3},
        {"x\xF0\x9F\x98\x80", 4, 1},               // 😀
        {"x\xF0\x9F\x98\x80", 2, 1},
        {"x\xF0\x9F\x98\x80y", 5, 5},
        {"\xC3\xA9\xC3\xA9", 3, 2},
        // Not UTF-8: a run of more than three continuation bytes, or one
        // with no character to continue, is cut at the limit.
        {"ab\x80\x80\x80\x80\x80\x80", 6, 6},
        {"\x80\x80", 1, 1},
        {"ab\x80\x80\x80\x80", 4, 1},  // "b" taken as the start of a 4-byte character
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " at " + std::to_string(c.limit));
        EXPECT_EQ(Utf8CutLength(c.text, c.limit), c.kept);
        EXPECT_EQ(CutUtf8(c.text, c.limit), std::string(c.text).substr(0, c.kept));
    }
}

TEST(TextCase, BlanksAreTrimmedAtBothEnds) {
    EXPECT_EQ(TrimBlanks("  Name of it  "), "Name of it");
    EXPECT_EQ(TrimBlanks("Name"), "Name");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks("\tName\t"), "\tName\t") << "only spaces unless told";
    EXPECT_EQ(TrimBlanks("\t Name\r\n", " \t\r\n"), "Name");
}

}  // namespace
}  // namespace pixhold::engine
