#include <map>
#include <random>
#include <set>

#include "DatasetTestSupport.h"

namespace pixhold::engine::datasettest {
namespace {

// Random appends, edits and deletes through two handles of one table, checked
// after every step against a model of the (FileName, Category) pairs: the
// walk in primary-index order both ways, the count, and each category filter.
class DataSetModelTest : public DatasetFixture {};

using Key = std::pair<std::string, std::string>;  // the empty category sorts first

std::vector<std::string> Walk(TCofferTable& table, bool forward) {
    std::vector<std::string> seen;
    if (forward) {
        for (table.First(); !table.Eof(); table.Next()) {
            seen.push_back(table.FieldByName("FileName").AsString() + "|" + table.FieldByName("Category").AsString());
        }
    } else {
        for (table.Last(); !table.Bof(); table.Prior()) {
            seen.push_back(table.FieldByName("FileName").AsString() + "|" + table.FieldByName("Category").AsString());
        }
    }
    return seen;
}

TEST_F(DataSetModelTest, RandomChangesMatchTheModel) {
    CreateImageTable("Model.dat");
    auto writer = Table("Model.dat");
    auto reader = Table("Model.dat");
    writer->Open();
    reader->Open();
    std::set<Key> model;
    std::mt19937 random(20261210);
    const std::vector<std::string> categories = {"", "c1", "c2"};
    auto randomKey = [&] {
        return Key{"n" + std::to_string(random() % 40), categories[random() % categories.size()]};
    };
    for (int step = 0; step < 160; ++step) {
        const unsigned op = random() % 10;
        if (op < 5 || model.empty()) {
            const Key key = randomKey();
            writer->Append();
            writer->FieldByName("FileName").SetAsString(key.first);
            writer->FieldByName("Category").SetAsString(key.second);
            writer->FieldByName("Type").SetAsInteger(step);
            const int code = ErrorCode([&] { writer->Post(); });
            if (model.count(key) != 0) {
                ASSERT_EQ(code, err::DuplicateKey) << step;
                writer->Cancel();
            } else {
                ASSERT_EQ(code, 0) << step;
                model.insert(key);
                ASSERT_EQ(writer->FieldByName("FileName").AsString(), key.first) << "post stands on the new record";
            }
        } else {
            auto it = model.begin();
            std::advance(it, random() % model.size());
            const Key key = *it;
            ASSERT_TRUE(writer->FindKey({key.first, key.second})) << step;
            if (op < 8) {
                const Key moved{key.first, categories[random() % categories.size()]};
                writer->Edit();
                writer->FieldByName("Category").SetAsString(moved.second);
                const int code = ErrorCode([&] { writer->Post(); });
                if (moved != key && model.count(moved) != 0) {
                    ASSERT_EQ(code, err::DuplicateKey) << step;
                    writer->Cancel();
                } else {
                    ASSERT_EQ(code, 0) << step;
                    model.erase(key);
                    model.insert(moved);
                }
            } else {
                writer->Delete();
                model.erase(key);
            }
        }
        std::vector<std::string> expected;
        for (const Key& key : model) expected.push_back(key.first + "|" + key.second);
        reader->Refresh();
        ASSERT_EQ(Walk(*reader, true), expected) << step;
        ASSERT_EQ(reader->RecordCount(), model.size()) << step;
        if (step % 20 == 0) {
            std::vector<std::string> backwards(expected.rbegin(), expected.rend());
            ASSERT_EQ(Walk(*reader, false), backwards) << step;
            for (const std::string& category : categories) {
                reader->SetFilter("Category = \"" + category + "\"");
                reader->SetFiltered(true);
                std::vector<std::string> inCategory;
                for (const Key& key : model) {
                    if (key.second == category) inCategory.push_back(key.first + "|" + key.second);
                }
                ASSERT_EQ(Walk(*reader, true), inCategory) << step << " " << category;
            }
            reader->SetFiltered(false);
        }
    }
}

}  // namespace
}  // namespace pixhold::engine::datasettest
