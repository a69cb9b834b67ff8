#include "ExpressionPrepare.h"

#include <cmath>
#include <limits>

#include "ExpressionEval.h"

namespace pixhold::engine {
namespace {

bool IsCaseFunction(const TExpToken& node) {
    return node.kind == ExpKind::Function && (node.func == ExpFunc::Upper || node.func == ExpFunc::Lower);
}

bool IsColumn(const TExpToken& node) { return node.kind == ExpKind::Column; }

bool IsTextColumn(const TExpToken& node) {
    return IsColumn(node) && IsTextType(node.value.type, node.value.blobKind);
}

// A folded constant takes the column's type where that loses nothing: a text
// compared with a string field is stored-like (no trailing blanks, empty =
// NULL), so it compares the way stored values do; a whole float becomes an
// integer. LIKE patterns keep their blanks.
void ConvertToColumnType(TExpToken& constant, const TExpToken& column, bool pattern) {
    TExpValue& v = constant.value;
    if (v.isNull) return;
    if (IsTextType(column.value.type, column.value.blobKind) && v.type == ExpType::String) {
        if (column.value.type == ExpType::String && !pattern) {
            std::size_t end = v.text.size();
            while (end > 0 && v.text[end - 1] == ' ') --end;
            v = TExpValue::String(v.text.substr(0, end));
        }
        return;
    }
    if (IsIntegerType(column.value.type) && (v.type == ExpType::Float || v.type == ExpType::Bcd)) {
        const double whole = std::trunc(v.real);
        if (whole == v.real && whole >= -9.0e18 && whole <= 9.0e18)
            v = TExpValue::Integer(static_cast<std::int64_t>(whole), ExpType::LargeInt);
    }
}

class TExpressionPreparer {
public:
    TExpressionPreparer(const TFilterPrepareOptions& options, const TExpCollation& collation, const std::string& table)
        : options_(options), collation_(collation), table_(table) {}

    void Prepare(std::unique_ptr<TExpToken>& slot);

private:
    void Fold(std::unique_ptr<TExpToken>& slot, const TExpToken& column, bool pattern = false) {
        if (slot->kind != ExpKind::Constant) slot = EvaluateToConstant(*slot, nullptr, collation_, table_);
        ConvertToColumnType(*slot, column, pattern);
    }
    void PrepareComparison(std::unique_ptr<TExpToken>& slot);
    void PrepareLike(std::unique_ptr<TExpToken>& slot);
    static std::unique_ptr<TExpToken> MakePrepared(ExpOp op, std::unique_ptr<TExpToken> column, std::string constant,
                                                   std::uint32_t partialLength, bool caseInsensitive);

    const TFilterPrepareOptions& options_;
    const TExpCollation& collation_;
    const std::string& table_;
};

std::unique_ptr<TExpToken> TExpressionPreparer::MakePrepared(ExpOp op, std::unique_ptr<TExpToken> column,
                                                             std::string constant, std::uint32_t partialLength,
                                                             bool caseInsensitive) {
    auto node = std::make_unique<TExpToken>();
    node->kind = ExpKind::PreparedCompare;
    node->op = op;
    node->text = column->text;
    node->value = TExpValue::Null(ExpType::Boolean);
    node->partialLength = partialLength;
    node->caseInsensitive = caseInsensitive;
    std::string text = constant;
    node->right = TExpToken::MakeConstant(TExpValue::String(std::move(constant)), std::move(text));
    node->left = std::move(column);
    node->UpdateHeight();
    return node;
}

void TExpressionPreparer::Prepare(std::unique_ptr<TExpToken>& slot) {
    TExpToken& node = *slot;
    if (node.left) Prepare(node.left);
    if (node.right) Prepare(node.right);
    for (auto& operand : node.operands) Prepare(operand);

    if (node.kind == ExpKind::Binary && IsComparisonOp(node.op)) {
        PrepareComparison(slot);
    } else if (node.kind == ExpKind::Predicate && IsColumn(*node.operands[0])) {
        bool constants = true;
        for (std::size_t i = 1; i < node.operands.size(); ++i)
            constants = constants && node.operands[i]->IsConstantExpression();
        if (!constants) return;
        const bool like = node.op == ExpOp::Like || node.op == ExpOp::NotLike;
        for (std::size_t i = 1; i < node.operands.size(); ++i) Fold(node.operands[i], *node.operands[0], like);
        if (like) PrepareLike(slot);
    }
}

void TExpressionPreparer::PrepareComparison(std::unique_ptr<TExpToken>& slot) {
    TExpToken& node = *slot;
    if (IsCaseFunction(*node.left) && IsCaseFunction(*node.right) && node.left->func == node.right->func &&
        IsColumn(*node.left->operands[0])) {
        node.caseInsensitive = true;
        return;
    }
    if (!IsColumn(*node.left) || !node.right->IsConstantExpression()) return;
    Fold(node.right, *node.left);
    if ((node.op != ExpOp::Eq && node.op != ExpOp::Ne) || !IsTextColumn(*node.left)) return;
    const TExpValue& constant = node.right->value;
    if (constant.isNull || constant.type != ExpType::String) return;
    const std::string& text = constant.text;
    const bool partial = text.size() > 1 && text.back() == '*' && text.front() != '*';
    if (!options_.caseInsensitive && !partial) return;
    std::string compared = text;
    std::uint32_t partialLength = 0;
    if (partial && !options_.noPartialCompare) {
        while (!compared.empty() && compared.back() == '*') compared.pop_back();
        partialLength = static_cast<std::uint32_t>(Utf8CharCount(compared));
    }
    slot = MakePrepared(node.op, std::move(node.left), std::move(compared), partialLength, options_.caseInsensitive);
}

// LIKE 'abc%' (only trailing "%", no "_") is a partial comparison of "abc";
// other patterns stay pattern matches under the filter's case option.
void TExpressionPreparer::PrepareLike(std::unique_ptr<TExpToken>& slot) {
    TExpToken& node = *slot;
    node.caseInsensitive = options_.caseInsensitive;
    const TExpValue& pattern = node.operands[1]->value;
    if (pattern.isNull || pattern.type != ExpType::String || !IsTextColumn(*node.operands[0])) return;
    std::string stem = pattern.text;
    if (stem.empty() || stem.back() != '%') return;
    while (!stem.empty() && stem.back() == '%') stem.pop_back();
    if (stem.empty() || stem.find_first_of("%_") != std::string::npos) return;
    const auto length = static_cast<std::uint32_t>(Utf8CharCount(stem));
    const ExpOp op = node.op == ExpOp::Like ? ExpOp::Eq : ExpOp::Ne;
    slot = MakePrepared(op, std::move(node.operands[0]), std::move(stem), length, options_.caseInsensitive);
}

}  // namespace

std::unique_ptr<TExpToken> PrepareFilterExpression(const TExpToken& tree, const TFilterPrepareOptions& options,
                                                   const TExpCollation& collation, const std::string& table) {
    auto copy = tree.Clone();
    TExpressionPreparer preparer(options, collation, table);
    preparer.Prepare(copy);
    return copy;
}

std::optional<TIndexableCondition> IndexableConditionOf(const TExpToken& node) {
    TIndexableCondition condition;
    condition.op = node.op;
    condition.caseInsensitive = node.caseInsensitive;
    if (node.kind == ExpKind::PreparedCompare ||
        (node.kind == ExpKind::Binary && IsComparisonOp(node.op))) {
        if (!IsColumn(*node.left) || node.right->kind != ExpKind::Constant) return std::nullopt;
        condition.fieldNumber = node.left->fieldNumber;
        condition.constants.push_back(node.right->value);
        condition.partialLength = node.partialLength;
        return condition;
    }
    if (node.kind == ExpKind::Predicate && IsColumn(*node.operands[0])) {
        condition.fieldNumber = node.operands[0]->fieldNumber;
        for (std::size_t i = 1; i < node.operands.size(); ++i) {
            if (node.operands[i]->kind != ExpKind::Constant) return std::nullopt;
            condition.constants.push_back(node.operands[i]->value);
        }
        return condition;
    }
    return std::nullopt;
}

}  // namespace pixhold::engine
