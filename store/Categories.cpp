// The data module's category operations.

#include "Config.h"
#include "DataModuleHost.h"
#include "TableFiles.h"
#include "fDM.h"

namespace pixhold::store {

// The filter expression of one category: the text in single quotes, each
// quote inside doubled.
std::string CategoryFilter(const std::string& category) {
    std::string expression = "Category = '";
    for (const char c : category) {
        expression += c;
        if (c == '\'') expression += '\'';
    }
    return expression + "'";
}

void TDM::ApplyCategoryFilter() {
    if (config_.CurrentCategory != "All") {
        tblData.SetFilter(CategoryFilter(config_.CurrentCategory));
        tblData.SetFiltered(true);
    } else {
        tblData.SetFiltered(false);
        tblData.Refresh();
    }
    host_.RefreshImageList();
}

std::vector<std::string> TDM::GetCategoryList(const std::string& table) {
    // The stamp is taken before the query reads, so a change made while it
    // reads shows the next time.
    std::optional<engine::TContentStamp> stamp;
    try {
        stamp = DB.OpenTableStamp(table);
    } catch (...) {
        // Unreadable counters: the query reads and reports what is wrong.
    }
    if (stamp && categoryList_ && categoryList_->Folder == config_.DataFolder && categoryList_->Table == table &&
        categoryList_->Stamp == *stamp) {
        return categoryList_->List;
    }
    categoryList_.reset();
    std::vector<std::string> list;
    if (!DataFileExists(config_.DataFolder, table + ".blb")) return list;
    qry1.SetSQLText("SELECT DISTINCT Category FROM " + table + " ORDER BY Category");
    qry1.Open();
    struct TClose {
        engine::TCofferQuery& query;
        ~TClose() {
            try {
                query.Close();
            } catch (...) {
            }
        }
    } close{qry1};
    engine::TField& category = qry1.FieldByName("Category");
    for (qry1.First(); !qry1.Eof(); qry1.Next()) list.push_back(category.AsString());
    if (stamp) categoryList_ = TCategoryListCache{config_.DataFolder, table, *stamp, list};
    return list;
}

}  // namespace pixhold::store
