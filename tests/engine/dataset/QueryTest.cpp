#include "DatasetTestSupport.h"

#include <algorithm>

#include "CofferQuery.h"

namespace pixhold::engine::datasettest {
namespace {

const std::string kCategories = "SELECT DISTINCT Category FROM Default.dat ORDER BY Category";

class QueryTest : public DatasetFixture {
protected:
    std::unique_ptr<TCofferQuery> Query(const std::string& text) {
        auto query = std::make_unique<TCofferQuery>();
        query->SetDatabaseName("PH");
        query->SetSessionName("PHSession");
        query->RequestLive = true;
        query->SetSQLText(text);
        return query;
    }

    void AddPictures(const std::vector<std::string>& categories) {
        auto table = Table("Default.dat");
        table->Open();
        for (const std::string& category : categories) {
            const int number = n++;
            AddPicture(*table, "/pics/p" + std::to_string(number) + ".jpg", category,
                       Bytes(40, static_cast<unsigned>(number + 1)));
        }
        table->Close();
    }

    // The values of the first field of every row, read the way the category
    // list reads them.
    static std::vector<std::string> Column(TCofferQuery& query) {
        std::vector<std::string> values;
        query.Open();
        for (query.First(); !query.Eof(); query.Next()) values.push_back(query.FieldByName("Category").AsString());
        query.Close();
        return values;
    }

    void SetUp() override { CreateImageTable("Default.dat"); }

    int n = 0;
};

TEST_F(QueryTest, CategoryListOfAnEmptyTableIsEmpty) {
    auto query = Query(kCategories);
    query->Open();
    EXPECT_TRUE(query->Eof());
    EXPECT_TRUE(query->ReadOnly());
    EXPECT_EQ(query->FieldCount(), 1u);
    EXPECT_EQ(query->Fields(0).FieldName(), "Category");
    query->Close();
}

TEST_F(QueryTest, CategoryListHasTheEmptyCategoryFirst) {
    AddPictures({"", ""});
    auto query = Query(kCategories);
    EXPECT_EQ(Column(*query), (std::vector<std::string>{""}));
    AddPictures({"Trees", "birds", "Birds", "", "Trees"});
    EXPECT_EQ(Column(*query), (std::vector<std::string>{"", "birds", "Birds", "Trees"}));
    EXPECT_TRUE(query->ExecutionStats().indexSkipScan);
    EXPECT_EQ(query->ExecutionStats().index, "Category");
    EXPECT_FALSE(query->Prepared()) << "closing unprepares";
}

TEST_F(QueryTest, ResultIsReadOnly) {
    AddPictures({"Trees"});
    auto query = Query("SELECT * FROM Default.dat");
    query->Open();
    EXPECT_TRUE(query->ReadOnly());
    EXPECT_EQ(query->FieldByName("FileName").AsString(), "/pics/p0.jpg");
    EXPECT_EQ(query->FieldByName("Image").AsBytes(), Bytes(40, 1));
    EXPECT_NE(ErrorText([&] { query->Edit(); }), "");
    EXPECT_NE(ErrorText([&] { query->Append(); }), "");
    query->Close();
}

TEST_F(QueryTest, SameTextKeepsTheQueryOpenAnotherClosesIt) {
    AddPictures({"Trees"});
    auto query = Query(kCategories);
    query->Open();
    query->SetSQLText(kCategories);
    EXPECT_TRUE(query->Active());
    EXPECT_EQ(query->FieldByName("Category").AsString(), "Trees");
    query->SetSQLText("SELECT FileName FROM Default.dat");
    EXPECT_FALSE(query->Active());
    EXPECT_FALSE(query->Prepared());
}

TEST_F(QueryTest, ErrorsOfOpening) {
    AddPictures({"Trees"});
    auto none = Query("");
    EXPECT_EQ(ErrorText([&] { none->Open(); }), "No SQL statement available");
    auto tiny = Query("S");
    EXPECT_EQ(ErrorText([&] { tiny->Open(); }), "No SQL statement available");

    // A table name with a blank in it is not read as a table name.
    auto blank = Query("SELECT DISTINCT Category FROM My Pictures.dat ORDER BY Category");
    EXPECT_EQ(ErrorCode([&] { blank->Open(); }), err::SqlError);
    EXPECT_FALSE(blank->Active());
    EXPECT_FALSE(blank->Prepared());
    EXPECT_EQ(ErrorCode([&] { blank->Prepare(); }), err::SqlError);
    EXPECT_FALSE(blank->Prepared());

    auto missing = Query("SELECT DISTINCT Category FROM Other.dat ORDER BY Category");
    EXPECT_NE(ErrorText([&] { missing->Open(); }).find("SQL error - table 'Other.dat' not found"), std::string::npos);

    auto open = Query(kCategories);
    open->Open();
    EXPECT_EQ(ErrorText([&] { open->Prepare(); }), "");  // prepared while open: nothing to do
    open->Close();
    open->Prepare();
    EXPECT_TRUE(open->Prepared());
    open->Open();
    EXPECT_FALSE(open->Eof());
    open->Close();
}

TEST_F(QueryTest, ParametersKeepTheirValuesAcrossTextChanges) {
    AddPictures({"Trees", "Birds", ""});
    auto query = Query("SELECT FileName FROM Default.dat WHERE Category = :cat ORDER BY FileName");
    ASSERT_EQ(query->Params.Count(), 1u);
    EXPECT_EQ(query->Params[0].Name(), "cat");
    EXPECT_EQ(ErrorText([&] { query->Open(); }), "No value for parameter 'cat'");
    EXPECT_FALSE(query->Active());
    query->Params.ParamByName("CAT").SetAsString("Birds");
    query->Open();
    EXPECT_EQ(query->FieldByName("FileName").AsString(), "/pics/p1.jpg");
    query->Close();

    query->SetSQLText("SELECT FileName FROM Default.dat WHERE FileName = ':x' OR Category = :Cat OR FileName = :FileName");
    ASSERT_EQ(query->Params.Count(), 2u);
    EXPECT_EQ(query->Params[0].AsString(), "Birds");
    EXPECT_FALSE(query->Params[1].Bound());
    EXPECT_EQ(ErrorText([&] { query->Params.ParamByName("nothing"); }), "Parameter 'nothing' not found");

    // Unbound parameters take the data source's field of the same name.
    auto source = Query("SELECT FileName FROM Default.dat WHERE Category = 'Trees'");
    source->Open();
    query->DataSource = source.get();
    query->Open();
    std::vector<std::string> names;
    for (; !query->Eof(); query->Next()) names.push_back(query->FieldByName("FileName").AsString());
    EXPECT_EQ(names, (std::vector<std::string>{"/pics/p0.jpg", "/pics/p1.jpg"}));
    query->Close();
    source->Close();
}

TEST_F(QueryTest, ProgressOfAReadingQueryAndItsAbort) {
    AddPictures({"A", "B", "C", "D"});
    auto query = Query("SELECT FileName FROM Default.dat WHERE Type = 0");
    std::vector<int> percents;
    query->OnQueryProgress = [&](TCofferQuery& sender, int percent, bool&) {
        EXPECT_EQ(&sender, query.get());
        percents.push_back(percent);
    };
    query->Open();
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    query->Close();

    query->OnQueryProgress = [](TCofferQuery&, int percent, bool& abort) { abort = percent >= 50; };
    EXPECT_NE(ErrorText([&] { query->Open(); }).find("SQL error - the query was cancelled"), std::string::npos);
    EXPECT_FALSE(query->Active());
    EXPECT_FALSE(query->Prepared());
}

TEST_F(QueryTest, MaxRowCountLimitsTheRows) {
    AddPictures({"A", "B", "C"});
    auto query = Query(kCategories);
    EXPECT_EQ(query->MaxRowCount(), -1);
    query->SetMaxRowCount(2);
    EXPECT_EQ(Column(*query), (std::vector<std::string>{"A", "B"}));
}

}  // namespace
}  // namespace pixhold::engine::datasettest
