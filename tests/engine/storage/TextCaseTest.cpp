// The engine's one comparison of names without regard to letter case.

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

}  // namespace
}  // namespace pixhold::engine
