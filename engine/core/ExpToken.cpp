#include "ExpToken.h"

#include <algorithm>

#include "EngineError.h"
#include "ValueText.h"

namespace pixhold::engine {

bool IsIntegerType(ExpType type) {
    return type == ExpType::SmallInt || type == ExpType::Integer || type == ExpType::Word ||
           type == ExpType::LargeInt;
}

bool IsNumericType(ExpType type) {
    return IsIntegerType(type) || type == ExpType::Float || type == ExpType::Bcd;
}

bool IsDateTimeType(ExpType type) {
    return type == ExpType::Date || type == ExpType::Time || type == ExpType::Timestamp;
}

bool IsTextType(ExpType type, ExpBlobKind blobKind) {
    return type == ExpType::String || (type == ExpType::Blob && blobKind == ExpBlobKind::Memo);
}

TExpValue TExpValue::Null(ExpType type) {
    TExpValue v;
    v.type = type;
    return v;
}

TExpValue TExpValue::Boolean(bool value) {
    TExpValue v;
    v.type = ExpType::Boolean;
    v.isNull = false;
    v.integer = value ? 1 : 0;
    return v;
}

TExpValue TExpValue::Integer(std::int64_t value, ExpType type) {
    TExpValue v;
    v.type = type;
    v.isNull = false;
    v.integer = value;
    return v;
}

TExpValue TExpValue::Real(double value, ExpType type) {
    TExpValue v;
    v.type = type;
    v.isNull = false;
    v.real = value;
    return v;
}

TExpValue TExpValue::String(std::string value) {
    TExpValue v;
    v.type = ExpType::String;
    v.isNull = value.empty();
    v.text = std::move(value);
    return v;
}

TExpValue TExpValue::Date(std::int32_t dayNumber) { return Integer(dayNumber, ExpType::Date); }
TExpValue TExpValue::Time(std::int32_t milliseconds) { return Integer(milliseconds, ExpType::Time); }
TExpValue TExpValue::Timestamp(double milliseconds) { return Real(milliseconds, ExpType::Timestamp); }

double TExpValue::AsReal() const {
    if (isNull) return 0.0;
    if (type == ExpType::Float || type == ExpType::Bcd || type == ExpType::Timestamp) return real;
    return static_cast<double>(integer);
}

double TExpValue::AsInstant() const {
    if (isNull) return 0.0;
    switch (type) {
        case ExpType::Date: return static_cast<double>(integer) * kMillisecondsPerDay;
        case ExpType::Time: return static_cast<double>(integer);
        default: return real;
    }
}

bool IsComparisonOp(ExpOp op) {
    return op == ExpOp::Eq || op == ExpOp::Ne || op == ExpOp::Lt || op == ExpOp::Le || op == ExpOp::Gt ||
           op == ExpOp::Ge;
}

ExpOp MirrorComparison(ExpOp op) {
    switch (op) {
        case ExpOp::Lt: return ExpOp::Gt;
        case ExpOp::Le: return ExpOp::Ge;
        case ExpOp::Gt: return ExpOp::Lt;
        case ExpOp::Ge: return ExpOp::Le;
        default: return op;
    }
}

std::unique_ptr<TExpToken> TExpToken::Clone() const {
    auto copy = std::make_unique<TExpToken>();
    copy->kind = kind;
    copy->op = op;
    copy->func = func;
    copy->text = text;
    copy->value = value;
    copy->size = size;
    copy->scale = scale;
    copy->quotedText = quotedText;
    copy->columnName = columnName;
    copy->correlation = correlation;
    copy->fieldNumber = fieldNumber;
    copy->field = field;
    if (left) copy->left = left->Clone();
    if (right) copy->right = right->Clone();
    copy->operands.reserve(operands.size());
    for (const auto& operand : operands) copy->operands.push_back(operand->Clone());
    copy->trimSide = trimSide;
    copy->extractPart = extractPart;
    copy->partialLength = partialLength;
    copy->caseInsensitive = caseInsensitive;
    copy->height = height;
    return copy;
}

void TExpToken::UpdateHeight() {
    int h = 0;
    if (left) h = std::max(h, left->height);
    if (right) h = std::max(h, right->height);
    for (const auto& operand : operands) h = std::max(h, operand->height);
    height = h + 1;
}

bool TExpToken::RefersToColumn() const {
    if (kind == ExpKind::Column) return true;
    if (left && left->RefersToColumn()) return true;
    if (right && right->RefersToColumn()) return true;
    return std::any_of(operands.begin(), operands.end(),
                       [](const auto& operand) { return operand->RefersToColumn(); });
}

bool TExpToken::IsConstantExpression() const {
    // Full-text functions consult the record even through a constant argument.
    if (func == ExpFunc::TextSearch || func == ExpFunc::TextOccurs) return false;
    return !RefersToColumn();
}

const char* TExpToken::KindWord() const {
    switch (kind) {
        case ExpKind::Column: return "column";
        case ExpKind::Constant: return "constant";
        case ExpKind::Function: return "function";
        default: return "expression";
    }
}

std::unique_ptr<TExpToken> TExpToken::MakeConstant(TExpValue value, std::string text) {
    auto node = std::make_unique<TExpToken>();
    node->kind = ExpKind::Constant;
    node->value = std::move(value);
    node->text = std::move(text);
    return node;
}

std::unique_ptr<TExpToken> TExpToken::MakeUnary(ExpOp op, std::unique_ptr<TExpToken> operand, std::string text) {
    auto node = std::make_unique<TExpToken>();
    node->kind = ExpKind::Unary;
    node->op = op;
    node->text = std::move(text);
    node->left = std::move(operand);
    node->UpdateHeight();
    return node;
}

std::unique_ptr<TExpToken> TExpToken::MakeBinary(ExpOp op, std::unique_ptr<TExpToken> left,
                                                 std::unique_ptr<TExpToken> right, std::string text) {
    auto node = std::make_unique<TExpToken>();
    node->kind = ExpKind::Binary;
    node->op = op;
    node->text = std::move(text);
    node->left = std::move(left);
    node->right = std::move(right);
    node->UpdateHeight();
    return node;
}

void RaiseFilterError(const std::string& table, const std::string& detail) {
    constexpr std::size_t kMaxDetail = 255;
    ErrorContext context;
    context.table = table;
    context.text = detail.substr(0, kMaxDetail);
    RaiseEngineError(err::FilterError, context);
}

}  // namespace pixhold::engine
