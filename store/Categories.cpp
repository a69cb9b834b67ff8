// The data module's category operations.

#include "Config.h"
#include "DataModuleHost.h"
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

}  // namespace pixhold::store
