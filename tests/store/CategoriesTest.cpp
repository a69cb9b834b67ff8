// The category filter of the current image table.

#include "DataModuleFixture.h"

namespace pixhold::store::test {
namespace {

TEST(CategoryFilter, QuotesTheCategoryWithInnerQuotesDoubled) {
    EXPECT_EQ(CategoryFilter("Sea"), "Category = 'Sea'");
    EXPECT_EQ(CategoryFilter(""), "Category = ''");
    EXPECT_EQ(CategoryFilter("Kid's"), "Category = 'Kid''s'");
    EXPECT_EQ(CategoryFilter("''"), "Category = ''''''");
}

class ApplyCategoryFilterTest : public DataModuleFixture {};

TEST_F(ApplyCategoryFilterTest, ShowsOneCategoryOrAllAndRebuildsTheList) {
    Start();
    AddPicture(dm->tblData, "a.jpg", "Kid's", Picture(10, 1));
    AddPicture(dm->tblData, "b.jpg", "Sea", Picture(10, 2));
    AddPicture(dm->tblData, "c.jpg", "", Picture(10, 3));
    const struct {
        const char* Category;
        std::vector<std::string> Shown;
    } cases[] = {
        {"Kid's", {"a.jpg/Kid's"}},
        {"Sea", {"b.jpg/Sea"}},
        {"", {"c.jpg/"}},
        {"All", {"a.jpg/Kid's", "b.jpg/Sea", "c.jpg/"}},
        {"Nobody", {}},
    };
    for (const auto& c : cases) {
        host.Clear();
        config->CurrentCategory = c.Category;
        dm->ApplyCategoryFilter();
        EXPECT_EQ(Names(dm->tblData), c.Shown) << c.Category;
        EXPECT_EQ(host.Calls, std::vector<std::string>{"Refresh"}) << c.Category;
    }
}

}  // namespace
}  // namespace pixhold::store::test
