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

namespace pixhold::store::test {
namespace {

class CategoryListTest : public DataModuleFixture {};

TEST_F(CategoryListTest, ListsTheDistinctCategoriesSortedWithTheEmptyOneFirst) {
    Start();
    AddPicture(dm->tblData, "a.jpg", "Dogs", Picture(10, 1));
    AddPicture(dm->tblData, "b.jpg", "Cats", Picture(10, 2));
    AddPicture(dm->tblData, "c.jpg", "", Picture(10, 3));
    AddPicture(dm->tblData, "d.jpg", "Dogs", Picture(10, 4));
    dm->tblData.FlushBuffers();
    EXPECT_EQ(dm->GetCategoryList("Default"), (std::vector<std::string>{"", "Cats", "Dogs"}));
    EXPECT_TRUE(dm->GetCategoryList("Missing").empty()) << "a table without files gives nothing, and no error";
    EXPECT_FALSE(dm->qry1.Active());
    // The main window's selector: "All" on top, then the list.
    dm->NewImageTable("Empty");
    EXPECT_TRUE(dm->GetCategoryList("Empty").empty());
}

// The list is kept between calls while the table is unchanged; every way of
// changing the table in between must show in the next list.
TEST_F(CategoryListTest, EveryChangeBetweenTwoListsShowsInTheSecond) {
    Start();
    config->CurrentCategory = "All";
    dm->ApplyCategoryFilter();
    AddPicture(dm->tblData, "a.jpg", "Dogs", Picture(10, 1));
    dm->tblData.FlushBuffers();
    using List = std::vector<std::string>;
    ASSERT_EQ(dm->GetCategoryList("Default"), List{"Dogs"});
    ASSERT_EQ(dm->GetCategoryList("Default"), List{"Dogs"}) << "the same list again";

    AddPicture(dm->tblData, "b.jpg", "Cats", Picture(10, 2));
    EXPECT_EQ(dm->GetCategoryList("Default"), (List{"Cats", "Dogs"})) << "a record appended here";

    ASSERT_TRUE(dm->tblData.FindKey({"b.jpg"}));
    dm->tblData.Edit();
    dm->tblData.FieldByName("Category").SetAsString("Birds");
    dm->tblData.Post();
    EXPECT_EQ(dm->GetCategoryList("Default"), (List{"Birds", "Dogs"})) << "a category changed here";

    // Another user's change is seen at the next read of the disk; with strict
    // change detection every read looks, so the next list shows it.
    dm->CofferSession1.SetStrictChangeDetection(true);
    {
        OtherUser other(DataFolder());
        auto table = other.Table("Default");
        table->Open();
        AddPicture(*table, "c.jpg", "Ants", Picture(10, 3));
        table->Close();
    }
    EXPECT_EQ(dm->GetCategoryList("Default"), (List{"Ants", "Birds", "Dogs"})) << "a record appended by another user";
    {
        OtherUser other(DataFolder());
        auto table = other.Table("Default");
        table->Open();
        ASSERT_TRUE(table->FindKey({"a.jpg"}));
        table->Delete();
        table->Close();
    }
    EXPECT_EQ(dm->GetCategoryList("Default"), (List{"Ants", "Birds"})) << "a record deleted by another user";

    dm->DB.StartTransaction();
    AddPicture(dm->tblData, "d.jpg", "Eels", Picture(10, 4));
    EXPECT_EQ(dm->GetCategoryList("Default"), (List{"Ants", "Birds", "Eels"})) << "inside a transaction";
    dm->DB.Rollback();
    dm->tblData.Refresh();
    EXPECT_EQ(dm->GetCategoryList("Default"), (List{"Ants", "Birds"})) << "after the rollback";

    // Made again under the same name: new files whose counters start afresh.
    dm->DeleteAllImages();
    EXPECT_TRUE(dm->GetCategoryList("Default").empty()) << "every record deleted";
    AddPicture(dm->tblData, "e.jpg", "Frogs", Picture(10, 5));
    EXPECT_EQ(dm->GetCategoryList("Default"), List{"Frogs"});
}

}  // namespace
}  // namespace pixhold::store::test
