#include "ExpressionCheck.h"

#include <cctype>

#include "ValueText.h"

namespace pixhold::engine {
namespace {

std::string InContext() { return std::string(" in ") + kFilterContext; }

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Classes of mutually compatible types.
enum class TypeClass { Null, Text, Numeric, DateTime, Boolean, Binary };

TypeClass ClassOf(const TExpValue& v) {
    if (v.type == ExpType::Null) return TypeClass::Null;
    if (IsTextType(v.type, v.blobKind)) return TypeClass::Text;
    if (IsNumericType(v.type)) return TypeClass::Numeric;
    if (IsDateTimeType(v.type)) return TypeClass::DateTime;
    if (v.type == ExpType::Boolean) return TypeClass::Boolean;
    return TypeClass::Binary;
}

bool Compatible(const TExpToken& a, const TExpToken& b) {
    const TypeClass ca = ClassOf(a.value);
    const TypeClass cb = ClassOf(b.value);
    return ca == TypeClass::Null || cb == TypeClass::Null || ca == cb;
}

bool IsA(const TExpToken& node, TypeClass c) {
    const TypeClass own = ClassOf(node.value);
    return own == TypeClass::Null || own == c;
}

bool IsIntegerOrNull(const TExpToken& node) {
    return node.value.type == ExpType::Null || IsIntegerType(node.value.type);
}

ExpType ArithmeticType(ExpType a, ExpType b) {
    if (a == ExpType::Null) return b;
    if (b == ExpType::Null) return a;
    if (a == ExpType::Bcd && b == ExpType::Bcd) return ExpType::Bcd;
    if (a == ExpType::Float || b == ExpType::Float || a == ExpType::Bcd || b == ExpType::Bcd) return ExpType::Float;
    if (a == ExpType::LargeInt || b == ExpType::LargeInt) return ExpType::LargeInt;
    return ExpType::Integer;
}

const char* UnaryText(ExpOp op) {
    switch (op) {
        case ExpOp::Not: return "NOT";
        case ExpOp::Negate: return "-";
        case ExpOp::Plus: return "+";
        case ExpOp::And: return "AND";
        case ExpOp::Or: return "OR";
        default: return "";
    }
}

const char* FunctionName(ExpFunc func) {
    switch (func) {
        case ExpFunc::Upper: return "UPPER";
        case ExpFunc::Lower: return "LOWER";
        default: return "";
    }
}

std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

class TExpressionChecker {
public:
    TExpressionChecker(const std::vector<FieldDescriptor>& fields, const std::string& table)
        : fields_(fields), table_(table) {}

    void Check(std::unique_ptr<TExpToken>& slot);
    void WrapBooleanColumn(std::unique_ptr<TExpToken>& slot);

private:
    [[noreturn]] void Fail(const std::string& text) const { RaiseFilterError(table_, text); }
    [[noreturn]] void FailBinary(const TExpToken& a, const TExpToken& b) const {
        Fail(std::string("Type mismatch between ") + a.KindWord() + " '" + a.text + "'" + " and " + b.KindWord() +
             " '" + b.text + "'" + InContext());
    }
    [[noreturn]] void FailUnary(ExpOp op, const TExpToken& operand) const {
        Fail(std::string("Type mismatch between '") + UnaryText(op) + "'" + " operator and " + "'" + operand.text +
             "'" + InContext());
    }
    void FailFunction(const std::string& text) const { Fail(text + InContext()); }

    const FieldDescriptor* FindField(const std::string& name) const;
    void ResolveColumn(TExpToken& node) const;
    void ConvertDateConstant(TExpToken& target, const TExpToken& other) const;
    void CheckComparable(TExpToken& a, TExpToken& b) const;
    void CheckUnary(TExpToken& node);
    void CheckBinary(TExpToken& node);
    void CheckPredicate(TExpToken& node);
    void CheckFunction(TExpToken& node);

    const std::vector<FieldDescriptor>& fields_;
    const std::string& table_;
};

const FieldDescriptor* TExpressionChecker::FindField(const std::string& name) const {
    for (const auto& field : fields_)
        if (SameName(field.name, name)) return &field;
    return nullptr;
}

void TExpressionChecker::ResolveColumn(TExpToken& node) const {
    const FieldDescriptor* field = FindField(node.columnName);
    // A filter reads one table: a correlation name can only be that table's.
    if (field == nullptr || (!node.correlation.empty() && !SameName(node.correlation, table_))) {
        Fail("Invalid column name '" + node.columnName + "'" + " or table correlation name " + "'" +
             node.correlation + "'" + " specified in " + kFilterContext);
    }
    node.fieldNumber = static_cast<std::uint16_t>(field->number != 0 ? field->number : (field - fields_.data()) + 1);
    node.field = *field;
    node.size = field->size;
    node.scale = field->decimals;
    node.value = ExpValueTypeOfField(*field);
}

// A date, time or timestamp compared with a string constant: the constant
// takes the other side's type.
void TExpressionChecker::ConvertDateConstant(TExpToken& target, const TExpToken& other) const {
    if (target.kind != ExpKind::Constant || target.value.type != ExpType::String || !IsDateTimeType(other.value.type))
        return;
    const std::string text = target.value.text;
    const LocalMoment now = CurrentLocalMoment();
    try {
        switch (other.value.type) {
            case ExpType::Date: target.value = TExpValue::Date(DateTextToDayNumber(text, now)); break;
            case ExpType::Time: target.value = TExpValue::Time(TimeTextToMilliseconds(text, now)); break;
            default: target.value = TExpValue::Timestamp(DateTimeTextToMilliseconds(text, now)); break;
        }
    } catch (const EConvertError&) {
        Fail("Date, time, or timestamp expression expected, instead found '" + text + "'" + InContext());
    }
    target.quotedText = false;
}

void TExpressionChecker::CheckComparable(TExpToken& a, TExpToken& b) const {
    ConvertDateConstant(a, b);
    ConvertDateConstant(b, a);
    if (!Compatible(a, b)) FailBinary(a, b);
}

void TExpressionChecker::WrapBooleanColumn(std::unique_ptr<TExpToken>& slot) {
    if (slot->kind != ExpKind::Column || slot->value.type != ExpType::Boolean) return;
    std::string text = slot->text;
    auto truth = TExpToken::MakeConstant(TExpValue::Boolean(true), "TRUE");
    slot = TExpToken::MakeBinary(ExpOp::Eq, std::move(slot), std::move(truth), std::move(text));
    slot->value = TExpValue::Null(ExpType::Boolean);
}

void TExpressionChecker::Check(std::unique_ptr<TExpToken>& slot) {
    TExpToken& node = *slot;
    switch (node.kind) {
        case ExpKind::Constant:
            if (node.quotedText && node.value.text != "*" && FindField(node.value.text) != nullptr) {
                node.kind = ExpKind::Column;
                node.columnName = node.value.text;
                ResolveColumn(node);
            }
            return;
        case ExpKind::Column: ResolveColumn(node); return;
        case ExpKind::Unary: CheckUnary(node); return;
        case ExpKind::Binary: CheckBinary(node); return;
        case ExpKind::Predicate: CheckPredicate(node); return;
        case ExpKind::Function: CheckFunction(node); return;
        case ExpKind::PreparedCompare: return;
    }
}

void TExpressionChecker::CheckUnary(TExpToken& node) {
    Check(node.left);
    if (node.op == ExpOp::Not) {
        WrapBooleanColumn(node.left);
        if (!IsA(*node.left, TypeClass::Boolean)) FailUnary(node.op, *node.left);
        node.value = TExpValue::Null(ExpType::Boolean);
        return;
    }
    if (!IsA(*node.left, TypeClass::Numeric)) FailUnary(node.op, *node.left);
    ExpType type = node.left->value.type;
    if (node.op == ExpOp::Negate && (type == ExpType::Word || type == ExpType::SmallInt)) type = ExpType::Integer;
    node.value = TExpValue::Null(type);
}

void TExpressionChecker::CheckBinary(TExpToken& node) {
    Check(node.left);
    Check(node.right);
    TExpToken& a = *node.left;
    TExpToken& b = *node.right;
    if (IsComparisonOp(node.op)) {
        CheckComparable(a, b);
        node.value = TExpValue::Null(ExpType::Boolean);
        return;
    }
    switch (node.op) {
        case ExpOp::And:
        case ExpOp::Or:
            WrapBooleanColumn(node.left);
            WrapBooleanColumn(node.right);
            if (!IsA(*node.left, TypeClass::Boolean)) FailUnary(node.op, *node.left);
            if (!IsA(*node.right, TypeClass::Boolean)) FailUnary(node.op, *node.right);
            node.value = TExpValue::Null(ExpType::Boolean);
            return;
        case ExpOp::Add:
            if (IsA(a, TypeClass::Text) && IsA(b, TypeClass::Text) &&
                (ClassOf(a.value) == TypeClass::Text || ClassOf(b.value) == TypeClass::Text)) {
                node.value = TExpValue::Null(ExpType::String);
                return;
            }
            [[fallthrough]];
        default:
            if (!IsA(a, TypeClass::Numeric) || !IsA(b, TypeClass::Numeric)) FailBinary(a, b);
            node.value = TExpValue::Null(node.op == ExpOp::Div ? ExpType::Float
                                                               : ArithmeticType(a.value.type, b.value.type));
            return;
    }
}

void TExpressionChecker::CheckPredicate(TExpToken& node) {
    for (auto& operand : node.operands) Check(operand);
    TExpToken& value = *node.operands[0];
    if (node.op == ExpOp::Like || node.op == ExpOp::NotLike) {
        TExpToken& pattern = *node.operands[1];
        if (!IsA(value, TypeClass::Text) || !IsA(pattern, TypeClass::Text)) FailBinary(value, pattern);
    } else {
        for (std::size_t i = 1; i < node.operands.size(); ++i) CheckComparable(value, *node.operands[i]);
    }
    node.value = TExpValue::Null(ExpType::Boolean);
}

void TExpressionChecker::CheckFunction(TExpToken& node) {
    for (auto& operand : node.operands) Check(operand);
    auto& args = node.operands;
    auto arg = [&args](std::size_t i) -> TExpToken& { return *args[i]; };
    switch (node.func) {
        case ExpFunc::Upper:
        case ExpFunc::Lower:
            if (!IsA(arg(0), TypeClass::Text))
                FailFunction(std::string("Type mismatch between ") + FunctionName(node.func) +
                             " function and function argument");
            node.value = TExpValue::Null(ExpType::String);
            return;
        case ExpFunc::Length:
            if (!IsA(arg(0), TypeClass::Text) && arg(0).value.type != ExpType::Blob)
                FailFunction("Type mismatch between LENGTH function and function argument");
            node.value = TExpValue::Null(ExpType::Integer);
            return;
        case ExpFunc::Substring:
            if (!IsA(arg(0), TypeClass::Text))
                FailFunction("Expression argument of SUBSTRING function must be a string or memo");
            if (!IsIntegerOrNull(arg(1))) FailFunction("FROM argument of SUBSTRING function must be an integer value");
            if (args.size() > 2 && !IsIntegerOrNull(arg(2)))
                FailFunction("FOR argument of SUBSTRING function must be an integer value");
            node.value = TExpValue::Null(ExpType::String);
            return;
        case ExpFunc::Replace:
            if (!IsA(arg(0), TypeClass::Text) || !IsA(arg(1), TypeClass::Text))
                FailFunction("Type mismatch between REPLACE function and search string argument");
            if (!IsA(arg(2), TypeClass::Text)) FailFunction("IN argument of REPLACE function must be a string or memo");
            node.value = TExpValue::Null(ExpType::String);
            return;
        case ExpFunc::Pos:
        case ExpFunc::Occurs: {
            const std::string name = node.func == ExpFunc::Pos ? "POS" : "OCCURS";
            if (!IsA(arg(0), TypeClass::Text))
                FailFunction("Type mismatch between " + name + " function and search string argument");
            if (!IsA(arg(1), TypeClass::Text)) FailFunction("Type mismatch between " + name + " function and IN argument");
            node.value = TExpValue::Null(ExpType::Integer);
            return;
        }
        case ExpFunc::Trim:
            if (arg(0).kind != ExpKind::Constant || arg(0).value.type != ExpType::String ||
                CharacterCount(arg(0).value.text) != 1)
                FailFunction("Trim character argument of TRIM function must be a single character constant");
            if (!IsA(arg(1), TypeClass::Text)) FailFunction("FROM argument of TRIM function must be a string or memo");
            node.value = TExpValue::Null(ExpType::String);
            return;
        case ExpFunc::Extract:
            if (!IsA(arg(0), TypeClass::DateTime))
                FailFunction("FROM argument of EXTRACT function must be a date, time, or timestamp");
            node.value = TExpValue::Null(ExpType::Integer);
            return;
        case ExpFunc::Cast:
            // The target type was set by the parser.
            return;
        case ExpFunc::Abs:
            if (!IsA(arg(0), TypeClass::Numeric))
                FailFunction("Expression argument of ABS function must be an integer, floating-point, or BCD type");
            node.value = TExpValue::Null(arg(0).value.type == ExpType::Null ? ExpType::Integer : arg(0).value.type);
            return;
        case ExpFunc::Round:
            if (arg(0).value.type != ExpType::Null && arg(0).value.type != ExpType::Float &&
                arg(0).value.type != ExpType::Bcd)
                FailFunction("Expression argument of ROUND function must be a floating-point or BCD type");
            if (args.size() > 1) {
                const TExpToken& places = arg(1);
                if (places.kind != ExpKind::Constant || !IsIntegerType(places.value.type))
                    FailFunction("Decimal places argument of ROUND function must be an integer constant");
                if (places.value.integer < 0 || places.value.integer > 32)
                    FailFunction("Decimal places argument of ROUND function must be an integer constant between 0 and 32");
            }
            node.value = TExpValue::Null(arg(0).value.type == ExpType::Null ? ExpType::Float : arg(0).value.type);
            return;
        case ExpFunc::If:
        case ExpFunc::IfNull: {
            if (node.func == ExpFunc::If) {
                WrapBooleanColumn(args[0]);
                if (!IsA(arg(0), TypeClass::Boolean))
                    FailFunction("First expression argument of IF function must be a boolean type");
            }
            if (!Compatible(arg(1), arg(2))) FailBinary(arg(1), arg(2));
            const TExpValue& type = arg(1).value.type != ExpType::Null ? arg(1).value : arg(2).value;
            node.value = TExpValue::Null(type.type);
            node.value.blobKind = type.blobKind;
            return;
        }
        case ExpFunc::Coalesce: {
            const TExpToken* typed = nullptr;
            for (const auto& operand : args) {
                if (typed == nullptr && operand->value.type != ExpType::Null) typed = operand.get();
                if (typed != nullptr && !Compatible(*typed, *operand)) FailBinary(*typed, *operand);
            }
            node.value = TExpValue::Null(typed != nullptr ? typed->value.type : ExpType::Null);
            if (typed != nullptr) node.value.blobKind = typed->value.blobKind;
            return;
        }
        case ExpFunc::TextSearch:
        case ExpFunc::TextOccurs: {
            const std::string name = node.func == ExpFunc::TextSearch ? "TEXTSEARCH" : "TEXTOCCURS";
            if (arg(1).kind != ExpKind::Column) FailFunction(name + " function column argument must be a valid column name");
            if (arg(0).kind != ExpKind::Constant || arg(0).value.type != ExpType::String)
                FailFunction(name + " search text function argument must be a string constant");
            node.value = TExpValue::Null(node.func == ExpFunc::TextSearch ? ExpType::Boolean : ExpType::Integer);
            return;
        }
        case ExpFunc::LastAutoInc:
        case ExpFunc::IdentCurrent:
            // The table name is not a value of this record.
            args[0]->kind = ExpKind::Constant;
            node.value = TExpValue::Null(ExpType::Integer);
            return;
        case ExpFunc::None: return;
    }
}

}  // namespace

TExpValue ExpValueTypeOfField(const FieldDescriptor& field) {
    TExpValue v;
    switch (field.type) {
        case fieldtype::String: v.type = ExpType::String; break;
        case fieldtype::Date: v.type = ExpType::Date; break;
        case fieldtype::Boolean: v.type = ExpType::Boolean; break;
        case fieldtype::SmallInt: v.type = ExpType::SmallInt; break;
        case fieldtype::Integer: v.type = ExpType::Integer; break;
        case fieldtype::Float: v.type = ExpType::Float; break;
        case fieldtype::Decimal: v.type = ExpType::Bcd; break;
        case fieldtype::Time: v.type = ExpType::Time; break;
        case fieldtype::DateTime: v.type = ExpType::Timestamp; break;
        case fieldtype::Word: v.type = ExpType::Word; break;
        case fieldtype::LargeInt: v.type = ExpType::LargeInt; break;
        case fieldtype::Blob:
            v.type = ExpType::Blob;
            if (field.subtype == fieldsubtype::Memo || field.subtype == fieldsubtype::FormattedMemo) {
                v.blobKind = ExpBlobKind::Memo;
            } else if (field.subtype == fieldsubtype::Graphic) {
                v.blobKind = ExpBlobKind::Graphic;
            }
            break;
        default: v.type = ExpType::Blob; break;  // bytes and variable bytes
    }
    return v;
}

void CheckFilterExpression(std::unique_ptr<TExpToken>& tree, const std::vector<FieldDescriptor>& fields,
                           const std::string& table) {
    TExpressionChecker checker(fields, table);
    checker.Check(tree);
    checker.WrapBooleanColumn(tree);
    if (tree->value.type != ExpType::Boolean) RaiseFilterError(table, "filter expression must be a boolean expression");
}

void NormalizeComparisons(TExpToken& tree) {
    if (tree.left) NormalizeComparisons(*tree.left);
    if (tree.right) NormalizeComparisons(*tree.right);
    for (auto& operand : tree.operands) NormalizeComparisons(*operand);
    if (tree.kind == ExpKind::Binary && IsComparisonOp(tree.op) && tree.left->IsConstantExpression() &&
        tree.right->RefersToColumn()) {
        std::swap(tree.left, tree.right);
        tree.op = MirrorComparison(tree.op);
    }
}

}  // namespace pixhold::engine
