#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DataFile.h"
#include "ExpCollation.h"
#include "ExpToken.h"
#include "ExpressionEval.h"
#include "ExpressionPrepare.h"

namespace pixhold::engine {

// One expression filter ready to test records: the text parsed, checked
// against the table's fields, normalised and prepared with the filter's
// options and the table's collation. Construction raises the filter errors.
class TFilterExpression {
public:
    TFilterExpression(std::string_view text, const std::vector<FieldDescriptor>& fields, std::string table,
                      std::uint32_t tableLocale, TFilterPrepareOptions options = {});
    // From a tree parsed elsewhere (checked, normalised and prepared here).
    TFilterExpression(std::unique_ptr<TExpToken> parsed, const std::vector<FieldDescriptor>& fields,
                      std::string table, std::uint32_t tableLocale, TFilterPrepareOptions options = {});

    // Whether the record passes (a NULL result does not).
    bool Matches(const TExpRecordReader& record) const;

    // The tree as checked and normalised, and the prepared tree evaluated.
    const TExpToken& Checked() const { return *checked_; }
    const TExpToken& Prepared() const { return *prepared_; }
    const TExpCollation& Collation() const { return collation_; }
    const TFilterPrepareOptions& Options() const { return options_; }
    const std::string& Table() const { return table_; }

private:
    void Build(const std::vector<FieldDescriptor>& fields);

    std::string table_;
    TFilterPrepareOptions options_;
    TExpCollation collation_;
    std::unique_ptr<TExpToken> checked_;
    std::unique_ptr<TExpToken> prepared_;
};

}  // namespace pixhold::engine
