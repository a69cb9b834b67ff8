#include "FilterExpression.h"

#include "ExpressionCheck.h"
#include "ExpressionParser.h"

namespace pixhold::engine {

TFilterExpression::TFilterExpression(std::string_view text, const std::vector<FieldDescriptor>& fields,
                                     std::string table, std::uint32_t tableLocale, TFilterPrepareOptions options)
    : table_(std::move(table)), options_(options), collation_(tableLocale) {
    checked_ = ParseFilterExpression(text, table_);
    Build(fields);
}

TFilterExpression::TFilterExpression(std::unique_ptr<TExpToken> parsed, const std::vector<FieldDescriptor>& fields,
                                     std::string table, std::uint32_t tableLocale, TFilterPrepareOptions options)
    : table_(std::move(table)), options_(options), collation_(tableLocale), checked_(std::move(parsed)) {
    if (!checked_) RaiseFilterError(table_, "filter expression must be a boolean expression");
    Build(fields);
}

void TFilterExpression::Build(const std::vector<FieldDescriptor>& fields) {
    CheckFilterExpression(checked_, fields, table_);
    NormalizeComparisons(*checked_);
    prepared_ = PrepareFilterExpression(*checked_, options_, collation_, table_);
}

bool TFilterExpression::Matches(const TExpRecordReader& record) const {
    return EvaluateFilter(*prepared_, &record, collation_, table_);
}

}  // namespace pixhold::engine
