#include "ExpressionEval.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "ByteCodec.h"
#include "ExpressionCheck.h"
#include "ValueText.h"

namespace pixhold::engine {
namespace {

std::string InContext() { return std::string(" in ") + kFilterContext; }

bool IsText(const TExpValue& v) { return IsTextType(v.type, v.blobKind); }

std::string TrimmedCopy(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return std::string(text.substr(begin, end - begin));
}

// Float values that are no number (a damaged record) are unordered: unequal
// to everything and neither less nor greater.
constexpr int kUnordered = 2;

template <typename T>
int OrderOfNumbers(T x, T y) {
    if (x < y) return -1;
    if (x > y) return 1;
    return x == y ? 0 : kUnordered;
}

// Three-way order of two non-NULL values of compatible types.
int OrderOf(const TExpValue& a, const TExpValue& b, const TExpCollation& collation, bool caseInsensitive) {
    if (IsText(a) || IsText(b)) return collation.Compare(a.text, b.text, caseInsensitive);
    if (IsNumericType(a.type) && IsNumericType(b.type)) {
        if (IsIntegerType(a.type) && IsIntegerType(b.type))
            return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
        const long double x = IsIntegerType(a.type) ? static_cast<long double>(a.integer) : a.real;
        const long double y = IsIntegerType(b.type) ? static_cast<long double>(b.integer) : b.real;
        return OrderOfNumbers(x, y);
    }
    if (IsDateTimeType(a.type) && IsDateTimeType(b.type)) return OrderOfNumbers(a.AsInstant(), b.AsInstant());
    if (a.type == ExpType::Boolean && b.type == ExpType::Boolean) {
        const bool x = a.integer != 0;
        const bool y = b.integer != 0;
        return x == y ? 0 : (x ? 1 : -1);
    }
    // BLOBs and bytes: byte order.
    const int r = a.text.compare(b.text);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool Holds(ExpOp op, int order) {
    switch (op) {
        case ExpOp::Eq: return order == 0;
        case ExpOp::Ne: return order != 0;
        case ExpOp::Lt: return order == -1;
        case ExpOp::Le: return order == -1 || order == 0;
        case ExpOp::Gt: return order == 1;
        case ExpOp::Ge: return order == 1 || order == 0;
        default: return false;
    }
}

// Week of the year, weeks starting on Sunday, week 1 holding 1 January.
int WeekOfYear(const CalendarDate& date, std::int32_t dayNumber) {
    const std::int32_t first = DayNumberOf({date.year, 1, 1});
    const int firstWeekday = static_cast<int>(first % 7);  // 0 Sunday (day 1 was a Monday)
    return static_cast<int>((dayNumber - first + firstWeekday) / 7) + 1;
}

std::int64_t ExtractFrom(const TExpValue& v, ExtractPart part) {
    bool hasDate = false;
    bool hasTime = false;
    std::int64_t day = 0;
    std::int64_t ms = 0;
    if (v.type == ExpType::Date) {
        hasDate = true;
        day = v.integer;
    } else if (v.type == ExpType::Time) {
        hasTime = true;
        ms = v.integer;
    } else {
        // A damaged stored timestamp (infinite, NaN, beyond any day number) has no parts.
        if (!std::isfinite(v.real) || std::fabs(v.real) > 1e17) return 0;
        hasDate = hasTime = true;
        const double d = std::floor(v.real / kMillisecondsPerDay);
        day = static_cast<std::int64_t>(d);
        ms = static_cast<std::int64_t>(v.real - d * kMillisecondsPerDay);
    }
    switch (part) {
        case ExtractPart::Hour: return hasTime ? ms / 3600000 : 0;
        case ExtractPart::Minute: return hasTime ? (ms / 60000) % 60 : 0;
        case ExtractPart::Second: return hasTime ? (ms / 1000) % 60 : 0;
        default: break;
    }
    if (!hasDate || day < 1 || day > std::numeric_limits<std::int32_t>::max()) return 0;
    const auto dayNumber = static_cast<std::int32_t>(day);
    const CalendarDate date = DateOfDayNumber(dayNumber);
    switch (part) {
        case ExtractPart::Year: return date.year;
        case ExtractPart::Month: return date.month;
        case ExtractPart::Day: return date.day;
        case ExtractPart::DayOfWeek: return dayNumber % 7 + 1;  // 1 Sunday .. 7 Saturday
        case ExtractPart::DayOfYear: return dayNumber - DayNumberOf({date.year, 1, 1}) + 1;
        case ExtractPart::Week: return WeekOfYear(date, dayNumber);
        default: return 0;
    }
}

std::string RealToText(double value) {
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, ptr) : std::string("0");
}

class TExpressionEvaluator {
public:
    TExpressionEvaluator(const TExpRecordReader* reader, const TExpCollation& collation, const std::string& table)
        : reader_(reader), collation_(collation), table_(table) {}

    TExpValue Eval(const TExpToken& node);

private:
    [[noreturn]] void Fail(const std::string& text) const { RaiseFilterError(table_, text); }
    TExpValue Column(const TExpToken& node);
    TExpValue Unary(const TExpToken& node);
    TExpValue Binary(const TExpToken& node);
    TExpValue Arithmetic(const TExpToken& node, const TExpValue& a, const TExpValue& b);
    TExpValue Predicate(const TExpToken& node);
    TExpValue Prepared(const TExpToken& node);
    TExpValue Function(const TExpToken& node);
    TExpValue TextFunction(const TExpToken& node);
    TExpValue Cast(const TExpToken& node, const TExpValue& v);
    std::int64_t ToInteger(const TExpValue& v, ExpType target);
    double ToReal(const TExpValue& v);

    const TExpRecordReader* reader_;
    const TExpCollation& collation_;
    const std::string& table_;
    std::vector<std::uint8_t> bytes_;
};

TExpValue TExpressionEvaluator::Eval(const TExpToken& node) {
    switch (node.kind) {
        case ExpKind::Constant: return node.value;
        case ExpKind::Column: return Column(node);
        case ExpKind::Unary: return Unary(node);
        case ExpKind::Binary: return Binary(node);
        case ExpKind::Predicate: return Predicate(node);
        case ExpKind::PreparedCompare: return Prepared(node);
        case ExpKind::Function: return Function(node);
    }
    return TExpValue::Null();
}

TExpValue TExpressionEvaluator::Column(const TExpToken& node) {
    if (reader_ == nullptr) Fail("Column '" + node.columnName + "' read without a record" + InContext());
    if (!reader_->ReadField(node.field, node.fieldNumber, bytes_)) {
        TExpValue v = TExpValue::Null(node.value.type);
        v.blobKind = node.value.blobKind;
        return v;
    }
    return DecodeStoredValue(node.field, bytes_);
}

TExpValue TExpressionEvaluator::Unary(const TExpToken& node) {
    const TExpValue v = Eval(*node.left);
    if (node.op == ExpOp::Not) return TExpValue::Boolean(!v.IsTrue());
    if (node.op == ExpOp::Plus || v.isNull) return v;
    if (IsIntegerType(v.type)) {
        if (v.integer == std::numeric_limits<std::int64_t>::min())
            return TExpValue::Real(-static_cast<double>(v.integer));
        return TExpValue::Integer(-v.integer, node.value.type);
    }
    return TExpValue::Real(-v.real, v.type);
}

TExpValue TExpressionEvaluator::Binary(const TExpToken& node) {
    // AND and OR settle the right operand first and read the left only when
    // it still matters.
    if (node.op == ExpOp::And) {
        if (!Eval(*node.right).IsTrue()) return TExpValue::Boolean(false);
        return TExpValue::Boolean(Eval(*node.left).IsTrue());
    }
    if (node.op == ExpOp::Or) {
        if (Eval(*node.right).IsTrue()) return TExpValue::Boolean(true);
        return TExpValue::Boolean(Eval(*node.left).IsTrue());
    }
    const TExpValue a = Eval(*node.left);
    const TExpValue b = Eval(*node.right);
    if (IsComparisonOp(node.op))
        return TExpValue::Boolean(CompareExpValues(node.op, a, b, collation_, node.caseInsensitive));
    return Arithmetic(node, a, b);
}

TExpValue TExpressionEvaluator::Arithmetic(const TExpToken& node, const TExpValue& a, const TExpValue& b) {
    if (node.value.type == ExpType::String) {
        return TExpValue::String(a.text + b.text);  // a NULL text adds nothing
    }
    if (a.isNull || b.isNull) return TExpValue::Null(node.value.type);
    if (node.op == ExpOp::Div) {
        const double divisor = b.AsReal();
        if (divisor == 0.0) Fail("Division by zero" + InContext());
        return TExpValue::Real(a.AsReal() / divisor);
    }
    if (IsIntegerType(node.value.type)) {
        std::int64_t r = 0;
        bool overflow = false;
        switch (node.op) {
            case ExpOp::Add: overflow = __builtin_add_overflow(a.integer, b.integer, &r); break;
            case ExpOp::Sub: overflow = __builtin_sub_overflow(a.integer, b.integer, &r); break;
            default: overflow = __builtin_mul_overflow(a.integer, b.integer, &r); break;
        }
        if (!overflow) return TExpValue::Integer(r, node.value.type);
        // Past the 64-bit range the result continues as a float.
    }
    const double x = a.AsReal();
    const double y = b.AsReal();
    const ExpType type = node.value.type == ExpType::Bcd ? ExpType::Bcd : ExpType::Float;
    switch (node.op) {
        case ExpOp::Add: return TExpValue::Real(x + y, type);
        case ExpOp::Sub: return TExpValue::Real(x - y, type);
        default: return TExpValue::Real(x * y, type);
    }
}

TExpValue TExpressionEvaluator::Predicate(const TExpToken& node) {
    const TExpValue value = Eval(*node.operands[0]);
    switch (node.op) {
        case ExpOp::Like:
        case ExpOp::NotLike: {
            const TExpValue pattern = Eval(*node.operands[1]);
            const bool match = !value.isNull && !pattern.isNull &&
                               MatchLikePattern(value.text, pattern.text, collation_, node.caseInsensitive);
            return TExpValue::Boolean(node.op == ExpOp::Like ? match : !match);
        }
        case ExpOp::Between:
        case ExpOp::NotBetween: {
            bool inside = CompareExpValues(ExpOp::Ge, value, Eval(*node.operands[1]), collation_, node.caseInsensitive);
            if (inside)
                inside = CompareExpValues(ExpOp::Le, value, Eval(*node.operands[2]), collation_, node.caseInsensitive);
            return TExpValue::Boolean(node.op == ExpOp::Between ? inside : !inside);
        }
        default: {
            bool found = false;
            for (std::size_t i = 1; i < node.operands.size() && !found; ++i)
                found = CompareExpValues(ExpOp::Eq, value, Eval(*node.operands[i]), collation_, node.caseInsensitive);
            return TExpValue::Boolean(node.op == ExpOp::In ? found : !found);
        }
    }
}

TExpValue TExpressionEvaluator::Prepared(const TExpToken& node) {
    const TExpValue value = Eval(*node.left);
    const TExpValue& constant = node.right->value;
    // NULL = value and NULL <> value are both false.
    if (value.isNull) return TExpValue::Boolean(false);
    const std::string_view text =
        node.partialLength > 0 ? Utf8Prefix(value.text, node.partialLength) : std::string_view(value.text);
    const bool equal = collation_.Compare(text, constant.text, node.caseInsensitive) == 0;
    return TExpValue::Boolean(node.op == ExpOp::Eq ? equal : !equal);
}

TExpValue TExpressionEvaluator::Function(const TExpToken& node) {
    const auto& args = node.operands;
    switch (node.func) {
        case ExpFunc::If: return Eval(*args[0]).IsTrue() ? Eval(*args[1]) : Eval(*args[2]);
        case ExpFunc::IfNull: return Eval(*args[0]).isNull ? Eval(*args[1]) : Eval(*args[2]);
        case ExpFunc::Coalesce:
            for (const auto& arg : args) {
                TExpValue v = Eval(*arg);
                if (!v.isNull) return v;
            }
            return TExpValue::Null(node.value.type);
        case ExpFunc::LastAutoInc:
        case ExpFunc::IdentCurrent: return TExpValue::Integer(0);
        case ExpFunc::Cast: return Cast(node, Eval(*args[0]));
        case ExpFunc::Extract: {
            const TExpValue v = Eval(*args[0]);
            if (v.isNull) return TExpValue::Null(ExpType::Integer);
            return TExpValue::Integer(ExtractFrom(v, node.extractPart));
        }
        case ExpFunc::Abs: {
            const TExpValue v = Eval(*args[0]);
            if (v.isNull) return v;
            if (IsIntegerType(v.type)) {
                if (v.integer == std::numeric_limits<std::int64_t>::min())
                    return TExpValue::Real(-static_cast<double>(v.integer));
                return TExpValue::Integer(v.integer < 0 ? -v.integer : v.integer, v.type);
            }
            return TExpValue::Real(std::fabs(v.real), v.type);
        }
        case ExpFunc::Round: {
            const TExpValue v = Eval(*args[0]);
            if (v.isNull) return v;
            const std::int64_t places = args.size() > 1 ? args[1]->value.integer : 0;
            const double factor = std::pow(10.0, static_cast<double>(places));
            const double scaled = v.AsReal() * factor;
            if (!std::isfinite(scaled)) return v;
            return TExpValue::Real(std::round(scaled) / factor, v.type == ExpType::Bcd ? ExpType::Bcd : ExpType::Float);
        }
        default: return TextFunction(node);
    }
}

TExpValue TExpressionEvaluator::TextFunction(const TExpToken& node) {
    const auto& args = node.operands;
    switch (node.func) {
        case ExpFunc::Upper:
        case ExpFunc::Lower: {
            const TExpValue v = Eval(*args[0]);
            if (v.isNull) return TExpValue::Null(ExpType::String);
            return TExpValue::String(node.func == ExpFunc::Upper ? collation_.ToUpper(v.text)
                                                                 : collation_.ToLower(v.text));
        }
        case ExpFunc::Length: {
            const TExpValue v = Eval(*args[0]);
            if (v.isNull) return TExpValue::Null(ExpType::Integer);
            const std::size_t n = IsText(v) ? Utf8CharCount(v.text) : v.text.size();
            return TExpValue::Integer(static_cast<std::int64_t>(n));
        }
        case ExpFunc::Substring: {
            const TExpValue s = Eval(*args[0]);
            const TExpValue from = Eval(*args[1]);
            if (s.isNull || from.isNull) return TExpValue::Null(ExpType::String);
            const std::size_t skip = from.integer < 1 ? 0 : static_cast<std::size_t>(from.integer - 1);
            std::string_view rest = s.text;
            rest.remove_prefix(Utf8Prefix(rest, skip).size());
            if (args.size() > 2) {
                const TExpValue count = Eval(*args[2]);
                if (count.isNull) return TExpValue::Null(ExpType::String);
                if (count.integer < 0) return TExpValue::String({});
                rest = Utf8Prefix(rest, static_cast<std::size_t>(count.integer));
            }
            return TExpValue::String(std::string(rest));
        }
        case ExpFunc::Replace: {
            const TExpValue find = Eval(*args[0]);
            const TExpValue with = Eval(*args[1]);
            const TExpValue s = Eval(*args[2]);
            if (s.isNull) return TExpValue::Null(ExpType::String);
            if (find.isNull) return TExpValue::String(s.text);
            std::string out;
            std::size_t at = 0;
            for (std::size_t hit; (hit = s.text.find(find.text, at)) != std::string::npos; at = hit + find.text.size())
                out.append(s.text, at, hit - at).append(with.text);
            out.append(s.text, at, std::string::npos);
            return TExpValue::String(std::move(out));
        }
        case ExpFunc::Pos:
        case ExpFunc::Occurs: {
            const TExpValue find = Eval(*args[0]);
            const TExpValue s = Eval(*args[1]);
            if (s.isNull || find.isNull) return TExpValue::Integer(0);
            if (node.func == ExpFunc::Pos) {
                const std::size_t hit = s.text.find(find.text);
                if (hit == std::string::npos) return TExpValue::Integer(0);
                return TExpValue::Integer(static_cast<std::int64_t>(Utf8CharCount(std::string_view(s.text).substr(0, hit))) + 1);
            }
            std::int64_t count = 0;
            for (std::size_t at = s.text.find(find.text); at != std::string::npos;
                 at = s.text.find(find.text, at + find.text.size()))
                ++count;
            return TExpValue::Integer(count);
        }
        case ExpFunc::Trim: {
            const std::string c = args[0]->value.text;
            const TExpValue s = Eval(*args[1]);
            if (s.isNull || c.empty()) return s.isNull ? TExpValue::Null(ExpType::String) : s;
            std::string_view text = s.text;
            if (node.trimSide != TrimSide::Trailing)
                while (text.substr(0, c.size()) == c) text.remove_prefix(c.size());
            if (node.trimSide != TrimSide::Leading)
                while (text.size() >= c.size() && text.substr(text.size() - c.size()) == c)
                    text.remove_suffix(c.size());
            return TExpValue::String(std::string(text));
        }
        case ExpFunc::TextSearch:
        case ExpFunc::TextOccurs: {
            // Without the table's full-text index at hand the words are looked
            // up in the column's text itself: whole words, case ignored.
            const TExpValue s = Eval(*args[1]);
            auto words = [this](const std::string& text) {
                std::vector<std::string> out;
                std::string word;
                for (char ch : text) {
                    const auto u = static_cast<unsigned char>(ch);
                    if (std::isalnum(u) || u >= 128) {
                        word += ch;
                    } else if (!word.empty()) {
                        out.push_back(collation_.ToUpper(word));
                        word.clear();
                    }
                }
                if (!word.empty()) out.push_back(collation_.ToUpper(word));
                return out;
            };
            const std::vector<std::string> wanted = words(args[0]->value.text);
            const std::vector<std::string> present = s.isNull ? std::vector<std::string>{} : words(s.text);
            std::int64_t occurrences = 0;
            bool all = !wanted.empty();
            for (const auto& w : wanted) {
                std::int64_t n = 0;
                for (const auto& p : present) n += (p == w) ? 1 : 0;
                occurrences += n;
                all = all && n > 0;
            }
            if (node.func == ExpFunc::TextSearch) return TExpValue::Boolean(all);
            return TExpValue::Integer(occurrences);
        }
        default: return TExpValue::Null();
    }
}

double TExpressionEvaluator::ToReal(const TExpValue& v) {
    if (v.type == ExpType::Boolean) return v.integer != 0 ? 1.0 : 0.0;
    if (!IsText(v) && v.type != ExpType::Blob) return v.AsReal();
    const std::string text = TrimmedCopy(v.text);
    double r = 0.0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), r);
    if (ec != std::errc() || ptr != text.data() + text.size() || text.empty())
        Fail("Constant '" + v.text + "'" + " is not a valid number " + InContext());
    return r;
}

std::int64_t TExpressionEvaluator::ToInteger(const TExpValue& v, ExpType target) {
    std::int64_t r = 0;
    if (IsIntegerType(v.type) || v.type == ExpType::Boolean) {
        r = v.type == ExpType::Boolean ? (v.integer != 0 ? 1 : 0) : v.integer;
    } else {
        bool parsed = false;
        if (IsText(v)) {
            const std::string text = TrimmedCopy(v.text);
            const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), r);
            parsed = ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
        }
        if (!parsed) {
            const double d = std::trunc(ToReal(v));
            if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18))
                Fail("Constant '" + ValueToText(v) + "'" + " is not a valid number " + InContext());
            r = static_cast<std::int64_t>(d);
        }
    }
    std::int64_t low = std::numeric_limits<std::int64_t>::min();
    std::int64_t high = std::numeric_limits<std::int64_t>::max();
    if (target == ExpType::SmallInt) {
        low = -32768;
        high = 32767;
    } else if (target == ExpType::Word) {
        low = 0;
        high = 65535;
    } else if (target == ExpType::Integer) {
        low = std::numeric_limits<std::int32_t>::min();
        high = std::numeric_limits<std::int32_t>::max();
    }
    if (r < low || r > high) Fail("Constant '" + ValueToText(v) + "'" + " is not a valid number " + InContext());
    return r;
}

TExpValue TExpressionEvaluator::Cast(const TExpToken& node, const TExpValue& v) {
    const ExpType target = node.value.type;
    if (v.isNull) {
        TExpValue n = TExpValue::Null(target);
        n.blobKind = node.value.blobKind;
        return n;
    }
    try {
        const LocalMoment now = CurrentLocalMoment();
        switch (target) {
            case ExpType::String: {
                std::string text = ValueToText(v);
                if (node.size > 0) text = std::string(Utf8Prefix(text, node.size));
                return TExpValue::String(std::move(text));
            }
            case ExpType::Blob: {
                TExpValue b = TExpValue::String(ValueToText(v));
                b.type = ExpType::Blob;
                b.blobKind = node.value.blobKind;
                return b;
            }
            case ExpType::Boolean:
                if (IsText(v)) return TExpValue::Boolean(BooleanTextToValue(TrimmedCopy(v.text)));
                return TExpValue::Boolean(ToReal(v) != 0.0);
            case ExpType::SmallInt:
            case ExpType::Word:
            case ExpType::Integer:
            case ExpType::LargeInt: return TExpValue::Integer(ToInteger(v, target), target);
            case ExpType::Float: return TExpValue::Real(ToReal(v));
            case ExpType::Bcd: {
                const double factor = std::pow(10.0, node.size > 0 ? node.scale : 4);
                return TExpValue::Real(std::round(ToReal(v) * factor) / factor, ExpType::Bcd);
            }
            case ExpType::Date:
                if (IsText(v)) return TExpValue::Date(DateTextToDayNumber(TrimmedCopy(v.text), now));
                if (v.type == ExpType::Date) return v;
                if (v.type == ExpType::Timestamp) {
                    const double day = std::floor(v.real / kMillisecondsPerDay);
                    if (!(day >= 0.0 && day <= std::numeric_limits<std::int32_t>::max()))
                        Fail("'" + RealToText(v.real) + "' is not a valid date" + InContext());
                    return TExpValue::Date(static_cast<std::int32_t>(day));
                }
                break;
            case ExpType::Time:
                if (IsText(v)) return TExpValue::Time(TimeTextToMilliseconds(TrimmedCopy(v.text), now));
                if (v.type == ExpType::Time) return v;
                if (v.type == ExpType::Timestamp) {
                    if (!std::isfinite(v.real)) Fail("'" + RealToText(v.real) + "' is not a valid time" + InContext());
                    return TExpValue::Time(static_cast<std::int32_t>(std::fmod(v.real, kMillisecondsPerDay)));
                }
                break;
            case ExpType::Timestamp:
                if (IsText(v)) return TExpValue::Timestamp(DateTimeTextToMilliseconds(TrimmedCopy(v.text), now));
                if (IsDateTimeType(v.type)) return TExpValue::Timestamp(v.AsInstant());
                break;
            case ExpType::Null: break;
        }
    } catch (const EConvertError& e) {
        Fail(e.what() + InContext());
    }
    Fail("Type mismatch between CAST function and function argument" + InContext());
}

}  // namespace

TDataFileRecordReader::TDataFileRecordReader(const TDataFile& file, const TRecord& record, BlobLoader blobLoader)
    : file_(file), record_(record), blobLoader_(std::move(blobLoader)) {}

bool TDataFileRecordReader::ReadField(const FieldDescriptor& field, std::uint16_t number,
                                      std::vector<std::uint8_t>& bytes) const {
    if (!file_.GetField(record_, number, bytes)) return false;
    if (field.type != fieldtype::Blob || !blobLoader_) return true;
    std::vector<std::uint8_t> contents;
    if (!blobLoader_(field, bytes, contents)) return false;
    bytes = std::move(contents);
    return true;
}

TExpValue DecodeStoredValue(const FieldDescriptor& field, const std::vector<std::uint8_t>& bytes) {
    const std::uint8_t* p = bytes.data();
    auto need = [&bytes](std::size_t n) { return bytes.size() >= n; };
    switch (field.type) {
        case fieldtype::String: {
            const auto* chars = reinterpret_cast<const char*>(p);
            return TExpValue::String(std::string(chars, strnlen(chars, bytes.size())));
        }
        case fieldtype::Date:
            if (need(4)) return TExpValue::Date(bytes::GetI32(p, 0));
            break;
        case fieldtype::Boolean:
            if (need(2)) return TExpValue::Boolean(bytes::GetU16(p, 0) != 0);
            break;
        case fieldtype::SmallInt:
            if (need(2)) return TExpValue::Integer(bytes::GetI16(p, 0), ExpType::SmallInt);
            break;
        case fieldtype::Integer:
            if (need(4)) return TExpValue::Integer(bytes::GetI32(p, 0), ExpType::Integer);
            break;
        case fieldtype::Float:
            if (need(8)) return TExpValue::Real(bytes::GetF64(p, 0));
            break;
        case fieldtype::Decimal:
            if (need(kDecimalSize)) {
                const std::string text = DecimalStoredToText(bytes);
                double r = 0.0;
                std::from_chars(text.data(), text.data() + text.size(), r);
                return TExpValue::Real(r, ExpType::Bcd);
            }
            break;
        case fieldtype::Time:
            if (need(4)) return TExpValue::Time(bytes::GetI32(p, 0));
            break;
        case fieldtype::DateTime:
            if (need(8)) return TExpValue::Timestamp(bytes::GetF64(p, 0));
            break;
        case fieldtype::Word:
            if (need(2)) return TExpValue::Integer(bytes::GetU16(p, 0), ExpType::Word);
            break;
        case fieldtype::LargeInt:
            if (need(8)) return TExpValue::Integer(bytes::GetI64(p, 0), ExpType::LargeInt);
            break;
        default: {
            TExpValue v = ExpValueTypeOfField(field);
            v.isNull = false;
            v.text.assign(bytes.begin(), bytes.end());
            return v;
        }
    }
    return TExpValue::Null();
}

std::string ValueToText(const TExpValue& value) {
    if (value.isNull) return {};
    switch (value.type) {
        case ExpType::String:
        case ExpType::Blob: return value.text;
        case ExpType::Boolean: return value.integer != 0 ? "TRUE" : "FALSE";
        case ExpType::Date: return DayNumberToText(static_cast<std::int32_t>(value.integer));
        case ExpType::Time: return MillisecondsToTimeText(static_cast<std::int32_t>(value.integer));
        case ExpType::Timestamp: return DateTimeToText(value.real);
        case ExpType::Float:
        case ExpType::Bcd: return RealToText(value.real);
        case ExpType::Null: return {};
        default: return std::to_string(value.integer);
    }
}

bool CompareExpValues(ExpOp op, const TExpValue& a, const TExpValue& b, const TExpCollation& collation,
                      bool caseInsensitive) {
    switch (op) {
        case ExpOp::Eq:
            if (a.isNull || b.isNull) return a.isNull && b.isNull;
            return OrderOf(a, b, collation, caseInsensitive) == 0;
        case ExpOp::Ne:
            // value <> NULL is true; NULL <> value and NULL <> NULL are false.
            if (a.isNull) return false;
            if (b.isNull) return true;
            return OrderOf(a, b, collation, caseInsensitive) != 0;
        default:
            break;
    }
    // Strings order a NULL as the empty text; other types are never ordered
    // against exactly one NULL.
    if (IsText(a) || IsText(b)) return Holds(op, collation.Compare(a.text, b.text, caseInsensitive));
    if (a.isNull != b.isNull) return false;
    if (a.isNull) return Holds(op, 0);
    return Holds(op, OrderOf(a, b, collation, caseInsensitive));
}

bool MatchLikePattern(std::string_view text, std::string_view pattern, const TExpCollation& collation,
                      bool caseInsensitive) {
    // Iterative matching with one backtrack point (the last "%"): no recursion,
    // at most text × pattern steps.
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '%') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t tl = Utf8CharLength(text, t);
            const std::size_t pl = Utf8CharLength(pattern, p);
            if (pattern[p] == '_' ||
                collation.Compare(text.substr(t, tl), pattern.substr(p, pl), caseInsensitive) == 0) {
                t += tl;
                p += pl;
                continue;
            }
        }
        if (starP == std::string_view::npos) return false;
        starT += Utf8CharLength(text, starT);
        t = starT;
        p = starP;
    }
    while (p < pattern.size() && pattern[p] == '%') ++p;
    return p == pattern.size();
}

TExpValue EvaluateExpression(const TExpToken& tree, const TExpRecordReader* reader, const TExpCollation& collation,
                             const std::string& table) {
    TExpressionEvaluator evaluator(reader, collation, table);
    return evaluator.Eval(tree);
}

std::unique_ptr<TExpToken> EvaluateToConstant(const TExpToken& tree, const TExpRecordReader* reader,
                                              const TExpCollation& collation, const std::string& table) {
    TExpValue value = EvaluateExpression(tree, reader, collation, table);
    std::string text = ValueToText(value);
    return TExpToken::MakeConstant(std::move(value), std::move(text));
}

bool EvaluateFilter(const TExpToken& tree, const TExpRecordReader* reader, const TExpCollation& collation,
                    const std::string& table) {
    return EvaluateExpression(tree, reader, collation, table).IsTrue();
}

}  // namespace pixhold::engine
