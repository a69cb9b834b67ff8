#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>

#include "ExpressionTestSupport.h"
#include "ValueText.h"

namespace pixhold::engine {
namespace {

// A record of the model: the fields the generated filters use.
struct ModelRecord {
    std::optional<std::string> name;
    std::optional<std::string> category;
    std::optional<std::int64_t> amount;
    std::optional<double> price;
    std::optional<bool> flag;
    std::optional<std::int32_t> shot;  // day number
};

using Reference = std::function<bool(const ModelRecord&)>;

// A generated condition: its filter text and the same condition in plain C++.
struct Condition {
    std::string text;
    Reference holds;
};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool SameText(const std::string& a, const std::string& b, bool ci) { return ci ? Upper(a) == Upper(b) : a == b; }

// Plain LIKE over ASCII: % any run, _ one character.
bool Like(const std::string& text, const std::string& pattern, bool ci) {
    const std::string t = ci ? Upper(text) : text;
    const std::string p = ci ? Upper(pattern) : pattern;
    std::function<bool(std::size_t, std::size_t)> match = [&](std::size_t i, std::size_t j) -> bool {
        if (j == p.size()) return i == t.size();
        if (p[j] == '%') {
            for (std::size_t k = i; k <= t.size(); ++k)
                if (match(k, j + 1)) return true;
            return false;
        }
        return i < t.size() && (p[j] == '_' || p[j] == t[i]) && match(i + 1, j + 1);
    };
    return match(0, 0);
}

bool Order(const char* op, double a, double b) {
    const std::string o = op;
    if (o == "=") return a == b;
    if (o == "<>") return a != b;
    if (o == "<") return a < b;
    if (o == "<=") return a <= b;
    if (o == ">") return a > b;
    return a >= b;
}

const char* Mirror(const char* op) {
    const std::string o = op;
    if (o == "<") return ">";
    if (o == "<=") return ">=";
    if (o == ">") return "<";
    if (o == ">=") return "<=";
    return op;
}

class ConditionGenerator {
public:
    ConditionGenerator(std::mt19937& random, bool caseInsensitive) : random_(random), ci_(caseInsensitive) {}

    Condition Any(int depth) {
        const int pick = depth <= 0 ? 5 : Pick(6);
        if (pick >= 3) return Atom();
        Condition a = Any(depth - 1);
        if (pick == 0) {
            return {"NOT (" + a.text + ")", [h = a.holds](const ModelRecord& r) { return !h(r); }};
        }
        Condition b = Any(depth - 1);
        if (pick == 1) {
            return {"(" + a.text + ") AND (" + b.text + ")",
                    [x = a.holds, y = b.holds](const ModelRecord& r) { return x(r) && y(r); }};
        }
        return {"(" + a.text + ") OR (" + b.text + ")",
                [x = a.holds, y = b.holds](const ModelRecord& r) { return x(r) || y(r); }};
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    template <typename T>
    const T& OneOf(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(Pick(static_cast<int>(items.size())))];
    }

    Condition Atom() {
        static const std::vector<const char*> ops = {"=", "<>", "<", "<=", ">", ">="};
        static const std::vector<std::string> categories = {"Cats", "Dogs", "cats", "Birds"};
        static const std::vector<std::string> prefixes = {"Sm", "Smi", "smi", "J", "Smithe", "Ad"};
        static const std::vector<std::string> patterns = {"Sm%", "S_i%", "%th", "%i%", "Smith", "_____", "J%s", "%"};
        const bool ci = ci_;
        switch (Pick(11)) {
            case 0: {  // Amount op k, and k op Amount (turned round before evaluation)
                const char* op = OneOf(ops);
                const int k = Pick(16) - 3;
                const bool flipped = Pick(2) == 1;
                const char* columnOp = flipped ? Mirror(op) : op;
                std::string text = flipped ? std::to_string(k) + " " + op + " Amount"
                                           : "Amount " + std::string(op) + " " + std::to_string(k);
                return {text, [columnOp, k](const ModelRecord& r) {
                            return r.amount && Order(columnOp, static_cast<double>(*r.amount), k);
                        }};
            }
            case 1: {  // Category = / <> 'X'
                const std::string c = OneOf(categories);
                const bool equal = Pick(2) == 0;
                return {"Category " + std::string(equal ? "=" : "<>") + " '" + c + "'",
                        [c, equal, ci](const ModelRecord& r) {
                            if (!r.category) return false;  // NULL = value and NULL <> value
                            return SameText(*r.category, c, ci) == equal;
                        }};
            }
            case 2: {  // the empty category
                switch (Pick(4)) {
                    case 0: return {"Category = \"\"", [](const ModelRecord& r) { return !r.category; }};
                    case 1: return {"Category <> ''", [](const ModelRecord& r) { return r.category.has_value(); }};
                    case 2: return {"Category IS NULL", [](const ModelRecord& r) { return !r.category; }};
                    default:
                        return {"Category IS NOT NULL", [](const ModelRecord& r) { return r.category.has_value(); }};
                }
            }
            case 3: {  // partial match
                const std::string prefix = OneOf(prefixes);
                const bool equal = Pick(2) == 0;
                return {"Name " + std::string(equal ? "=" : "<>") + " '" + prefix + "*'",
                        [prefix, equal, ci](const ModelRecord& r) {
                            if (!r.name) return false;
                            return SameText(r.name->substr(0, prefix.size()), prefix, ci) == equal;
                        }};
            }
            case 4: {  // LIKE
                const std::string pattern = OneOf(patterns);
                const bool negated = Pick(2) == 1;
                return {"Name " + std::string(negated ? "NOT LIKE" : "LIKE") + " '" + pattern + "'",
                        [pattern, negated, ci](const ModelRecord& r) {
                            const bool match = r.name && Like(*r.name, pattern, ci);
                            return negated ? !match : match;
                        }};
            }
            case 5: {  // BETWEEN
                const int low = Pick(12) - 2;
                const int high = low + Pick(6);
                const bool negated = Pick(2) == 1;
                return {"Amount " + std::string(negated ? "NOT BETWEEN " : "BETWEEN ") + std::to_string(low) +
                            " AND " + std::to_string(high),
                        [low, high, negated](const ModelRecord& r) {
                            const bool inside = r.amount && *r.amount >= low && *r.amount <= high;
                            return negated ? !inside : inside;
                        }};
            }
            case 6: {  // IN
                std::vector<int> list;
                std::string text;
                for (int i = 0, n = 1 + Pick(4); i < n; ++i) {
                    list.push_back(Pick(14) - 2);
                    text += (i > 0 ? ", " : "") + std::to_string(list.back());
                }
                const bool negated = Pick(2) == 1;
                return {"Amount " + std::string(negated ? "NOT IN (" : "IN (") + text + ")",
                        [list, negated](const ModelRecord& r) {
                            bool found = false;
                            for (int v : list) found = found || (r.amount && *r.amount == v);
                            return negated ? !found : found;
                        }};
            }
            case 7:  // a boolean field alone
                if (Pick(2) == 0) return {"Flag", [](const ModelRecord& r) { return r.flag.value_or(false); }};
                return {"NOT Flag", [](const ModelRecord& r) { return !r.flag.value_or(false); }};
            case 8: {  // floats against integers
                const char* op = OneOf(ops);
                const double x = Pick(8) * 1.25;
                char text[64];
                std::snprintf(text, sizeof text, "Price %s %.2f", op, x);
                return {text, [op, x](const ModelRecord& r) { return r.price && Order(op, *r.price, x); }};
            }
            case 9: {  // dates against date texts
                const char* op = OneOf(ops);
                const int day = 738960 + Pick(6);
                return {"Shot " + std::string(op) + " '" + DayNumberToText(day) + "'",
                        [op, day](const ModelRecord& r) { return r.shot && Order(op, *r.shot, day); }};
            }
            default: {  // arithmetic: NULL in, NULL out
                const char* op = OneOf(ops);
                const int k = Pick(5);
                const int m = Pick(20) - 3;
                return {"Amount * 2 + " + std::to_string(k) + " " + op + " " + std::to_string(m),
                        [op, k, m](const ModelRecord& r) {
                            return r.amount && Order(op, static_cast<double>(*r.amount * 2 + k), m);
                        }};
            }
        }
    }

    std::mt19937& random_;
    bool ci_;
};

ModelRecord RandomRecord(std::mt19937& random) {
    auto pick = [&random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    static const std::vector<std::string> names = {"Smith", "Smithers", "Jones", "smith", "Sm", "Adams", "Jess"};
    static const std::vector<std::string> categories = {"Cats", "Dogs", "cats", "Birds"};
    ModelRecord r;
    if (pick(6) != 0) r.name = names[static_cast<std::size_t>(pick(static_cast<int>(names.size())))];
    if (pick(3) != 0) r.category = categories[static_cast<std::size_t>(pick(static_cast<int>(categories.size())))];
    if (pick(4) != 0) r.amount = pick(16) - 3;
    if (pick(4) != 0) r.price = pick(8) * 1.25;
    if (pick(3) != 0) r.flag = pick(2) == 0;
    if (pick(4) != 0) r.shot = 738960 + pick(6);
    return r;
}

exptest::TMapRecord Stored(const ModelRecord& m, const std::vector<FieldDescriptor>& fields) {
    exptest::TMapRecord r(fields);
    r.Set("Name", m.name.value_or(""));
    r.Set("Category", m.category.value_or(""));
    r.Set("Amount", m.amount ? std::to_string(*m.amount) : "");
    char price[32] = "";
    if (m.price) std::snprintf(price, sizeof price, "%.2f", *m.price);
    r.Set("Price", price);
    r.Set("Flag", m.flag ? (*m.flag ? "TRUE" : "FALSE") : "");
    r.Set("Shot", m.shot ? DayNumberToText(*m.shot) : "");
    return r;
}

TEST(ExpressionRandomTest, GeneratedFiltersAgreeWithAPlainReference) {
    std::mt19937 random(20261210);
    const std::vector<FieldDescriptor> fields = exptest::TestFields();
    const TExpCollation collation(0);

    std::vector<ModelRecord> models;
    std::vector<exptest::TMapRecord> records;
    for (int i = 0; i < 30; ++i) models.push_back(RandomRecord(random));
    for (const auto& m : models) records.push_back(Stored(m, fields));

    for (int round = 0; round < 400; ++round) {
        const bool ci = round % 3 == 0;
        ConditionGenerator generator(random, ci);
        const Condition condition = generator.Any(3);
        SCOPED_TRACE(condition.text + (ci ? "  [case-insensitive]" : ""));
        const auto tree = exptest::PrepareFilter(condition.text, fields, collation, {.caseInsensitive = ci});
        for (std::size_t i = 0; i < models.size(); ++i) {
            ASSERT_EQ(EvaluateFilter(*tree, &records[i], collation, exptest::kTable), condition.holds(models[i]))
                << "record " << i;
        }
    }
}

}  // namespace
}  // namespace pixhold::engine
