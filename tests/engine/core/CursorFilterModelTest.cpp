// Random filters over a random table of many field types, each index kind
// (ascending, case-insensitive, descending field, descending index, without
// counts) and an unindexed field: the records a cursor shows must be exactly
// those a plain evaluation of the filter over every record keeps, whether the
// indexes answered the filter or not, after the table changes under the
// cursor and after the cursor is told of changes record by record.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "BTree.h"
#include "CursorTestSupport.h"
#include "DataCursor.h"
#include "DataDirectory.h"
#include "DataSession.h"
#include "DataTable.h"
#include "EngineError.h"
#include "ExpressionEval.h"
#include "FilterExpression.h"
#include "IndexKey.h"
#include "Record.h"
#include "TempDir.h"
#include "ValueText.h"

namespace pixhold::engine {
namespace {

using cursortest::DeletedKeyOfReusedSlot;
using cursortest::WriteUnderLock;

// Field numbers of the model table.
enum Col { Id = 1, Name, Cat, Num, Small, Real, Day, Flag, Big, Free, Stamp, W, ColumnCount = W };

FieldDescriptor Field(const std::string& name, std::uint8_t type, std::uint8_t size = 0,
                      std::uint8_t subtype = fieldsubtype::None) {
    FieldDescriptor f;
    f.name = name;
    f.type = type;
    f.size = size;
    f.subtype = subtype;
    return f;
}

IndexDescriptor Index(const std::string& name, std::vector<std::uint16_t> fields, bool unique = false) {
    IndexDescriptor d;
    d.name = name;
    d.unique = unique;
    d.fieldCount = static_cast<std::uint8_t>(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) d.fieldNumbers[i] = fields[i];
    return d;
}

TableDefinition ModelTable(std::uint16_t languageID) {
    TableDefinition d;
    d.params.languageID = languageID;
    d.fields = {Field("Id", fieldtype::Integer, 0, fieldsubtype::AutoInc),
                Field("Name", fieldtype::String, 8),
                Field("Cat", fieldtype::String, 4),
                Field("Num", fieldtype::Integer),
                Field("Small", fieldtype::SmallInt),
                Field("Real", fieldtype::Float),
                Field("Day", fieldtype::Date),
                Field("Flag", fieldtype::Boolean),
                Field("Big", fieldtype::LargeInt),
                Field("Free", fieldtype::Integer),
                Field("Stamp", fieldtype::DateTime),
                Field("W", fieldtype::Word)};
    d.indexes.push_back(Index("", {Id}, true));
    IndexDescriptor nameCI = Index("NameCI", {Name, Num});
    nameCI.caseInsensitive = true;
    d.indexes.push_back(nameCI);
    d.indexes.push_back(Index("ByCat", {Cat, Num}));
    IndexDescriptor numDown = Index("NumDown", {Num});  // a descending field
    numDown.fieldDescending[0] = 1;
    d.indexes.push_back(numDown);
    IndexDescriptor small = Index("BySmall", {Small});
    small.noCounts = true;
    small.compression = static_cast<std::uint8_t>(KeyCompression::Full);
    d.indexes.push_back(small);
    d.indexes.push_back(Index("ByReal", {Real}));
    d.indexes.push_back(Index("ByDay", {Day}));
    d.indexes.push_back(Index("ByFlag", {Flag}));
    IndexDescriptor big = Index("BigDown", {Big});  // a descending index
    big.descending = true;
    d.indexes.push_back(big);
    d.indexes.push_back(Index("ByStamp", {Stamp}));
    d.indexes.push_back(Index("ByW", {W}));
    return d;
}

// One row: the value text of each field after Id (empty = null).
using Values = std::vector<std::string>;

// Writes records and all their keys the way a writing cursor would.
class ModelWriter {
public:
    explicit ModelWriter(TDataTable& table) : table_(table) {}

    std::uint32_t Append(const Values& values) {
        std::uint32_t number = 0;
        WriteUnderLock(table_, [&] {
            TDataFile& data = table_.DataFile();
            const std::vector<std::uint8_t> oldKey = DeletedKeyOfReusedSlot(data);
            TRecord* record = data.AllocateRecord(nullptr);
            for (std::uint16_t n = Name; n <= ColumnCount; ++n) {
                const FieldDescriptor& f = table_.Fields()[n - 1];
                const auto stored = ValueTextToStored(f.type, f.physicalSize, values[n - Name]);
                if (stored) data.PutField(*record, n, stored->data(), stored->size());
                else data.PutNull(*record, n);
            }
            number = record->RecordNumber();
            const auto keys = Keys(record->Data());
            std::vector<std::uint8_t> deletedKey(kDeletedKeyLength);
            TKeyBuilder::BuildDeletedKey(recordlayout::StatusActive, record->RecordID(), deletedKey.data());
            data.ReleaseRecord(record);
            for (const auto& [slot, key] : keys) Tree(slot).InsertKey(key.data(), number);
            if (!oldKey.empty()) Tree(kDeletedSlot).DeleteKey(oldKey.data());
            Tree(kDeletedSlot).InsertKey(deletedKey.data(), number);
            table_.IndexFile().IncActiveRecords();
        });
        return number;
    }

    void Delete(std::uint32_t number) {
        WriteUnderLock(table_, [&] {
            TDataFile& data = table_.DataFile();
            TRecord* record = data.GetRecord(nullptr, number);
            const auto keys = Keys(record->Data());
            std::vector<std::uint8_t> activeKey(kDeletedKeyLength), deletedKey(kDeletedKeyLength);
            TKeyBuilder::BuildDeletedKey(recordlayout::StatusActive, record->RecordID(), activeKey.data());
            TKeyBuilder::BuildDeletedKey(recordlayout::StatusDeleted, record->RecordID(), deletedKey.data());
            data.FreeRecord(record);
            data.ReleaseRecord(record);
            for (const auto& [slot, key] : keys) Tree(slot).DeleteKey(key.data());
            Tree(kDeletedSlot).DeleteKey(activeKey.data());
            Tree(kDeletedSlot).InsertKey(deletedKey.data(), number);
            table_.IndexFile().DecActiveRecords();
        });
    }

    // The record image as stored.
    std::vector<std::uint8_t> Image(std::uint32_t number) {
        TRecord* record = table_.DataFile().GetRecord(nullptr, number);
        std::vector<std::uint8_t> image(record->Data(), record->Data() + record->Size());
        table_.DataFile().ReleaseRecord(record);
        return image;
    }

private:
    struct TreeOf {
        TKeyLayout layout;
        std::unique_ptr<TKeyComparer> comparer;
        std::unique_ptr<TIndexTree> tree;
    };
    TIndexTree& Tree(int slot) {
        auto& t = trees_[slot];
        if (!t.tree) {
            t.layout = TKeyLayout::For(table_.IndexDefinition(slot), slot, table_.Fields());
            t.comparer = std::make_unique<TKeyComparer>(t.layout, table_.DataFile().Header().Locale());
            t.tree = std::make_unique<TIndexTree>(table_.IndexFile(), slot, *t.comparer);
        }
        return *t.tree;
    }
    std::vector<std::pair<int, std::vector<std::uint8_t>>> Keys(const std::uint8_t* record) {
        std::vector<std::pair<int, std::vector<std::uint8_t>>> keys;
        for (int slot = 0; slot < table_.IndexCount(); ++slot) {
            const TKeyLayout layout = TKeyLayout::For(table_.IndexDefinition(slot), slot, table_.Fields());
            const TKeyBuilder builder(layout, table_.DataFile().Locale(), table_.DataFile().Header().languageID == 0);
            keys.emplace_back(slot, builder.Build(record));
        }
        return keys;
    }
    TDataTable& table_;
    std::map<int, TreeOf> trees_;
};

class FilterModel : public ::testing::TestWithParam<std::uint16_t> {
protected:
    void SetUp() override {
        session_ = std::make_unique<TDataSession>();
        directory_ = session_->OpenDataDirectory("PH", dir_.folder());
        TDataTable* created = nullptr;
        ASSERT_GE(directory_->CreateTable("Mix", false, ModelTable(GetParam()), created), 0);
        (void)directory_->CloseTable(created);
        ASSERT_GE(directory_->OpenTable("Mix", writerTable_, false, false), 0);
        writer_ = std::make_unique<ModelWriter>(*writerTable_);
    }
    void TearDown() override {
        cursor_.reset();
        writer_.reset();
        if (writerTable_ != nullptr) (void)directory_->CloseTable(writerTable_);
        session_.reset();
    }

    int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool Chance(int percent) { return Uniform(1, 100) <= percent; }

    std::string RandomText(int maxLength) {
        static const char letters[] = "aAbBcC";
        std::string s;
        const int n = Uniform(1, maxLength);
        for (int i = 0; i < n; ++i) s += letters[Uniform(0, 5)];
        return s;
    }
    std::string RandomDay() { return DayNumberToText(730000 + Uniform(0, 40)); }
    std::string RandomStamp() { return RandomDay() + " " + std::to_string(Uniform(10, 12)) + ":00"; }

    Values RandomRow() {
        Values v(ColumnCount - Name + 1);
        auto maybe = [&](std::string s) { return Chance(15) ? std::string() : s; };
        v[Name - Name] = maybe(RandomText(4));
        v[Cat - Name] = maybe(RandomText(2));
        v[Num - Name] = maybe(std::to_string(Uniform(-10, 10)));
        v[Small - Name] = maybe(std::to_string(Uniform(-5, 5)));
        v[Real - Name] = maybe(std::to_string(Uniform(-8, 8)) + (Chance(50) ? ".5" : ""));
        v[Day - Name] = maybe(RandomDay());
        v[Flag - Name] = maybe(Chance(50) ? "True" : "False");
        v[Big - Name] = maybe(std::to_string(static_cast<long long>(Uniform(-4, 4)) * 3000000000LL));
        v[Free - Name] = maybe(std::to_string(Uniform(0, 9)));
        v[Stamp - Name] = maybe(RandomStamp());
        v[W - Name] = maybe(std::to_string(Uniform(0, 6)));
        return v;
    }

    // One test of a field against constants.
    std::string Leaf() {
        static const char* ops[] = {"=", "<>", "<", "<=", ">", ">="};
        const std::string op = ops[Uniform(0, 5)];
        auto quoted = [](const std::string& s) { return "'" + s + "'"; };
        switch (Uniform(0, 17)) {
            case 0: return "Name " + op + " " + quoted(RandomText(3));
            case 1: return "Cat " + op + " " + quoted(Chance(20) ? std::string() : RandomText(2));
            case 2: return "Name = " + quoted(RandomText(2) + "*");
            case 3: return "Cat LIKE " + quoted(RandomText(1) + "%");
            case 4: return "Name LIKE " + quoted("%" + RandomText(1) + "%");
            case 5: return "Num " + op + " " + std::to_string(Uniform(-11, 11));
            case 6: return std::to_string(Uniform(-11, 11)) + " " + op + " Num";
            case 7: return "Small " + op + " " + std::to_string(Uniform(-6, 6));
            case 8: return "Real " + op + " " + std::to_string(Uniform(-9, 9)) + (Chance(50) ? ".5" : "");
            case 9: return "Day " + op + " " + quoted(RandomDay());
            case 10: return Chance(50) ? "Flag" : (Chance(50) ? "Flag = FALSE" : "Flag <> TRUE");
            case 11: return "Big " + op + " " + std::to_string(static_cast<long long>(Uniform(-5, 5)) * 3000000000LL);
            case 12: return "Free " + op + " " + std::to_string(Uniform(0, 9));
            case 13: return "Stamp " + op + " " + quoted(RandomStamp());
            case 14: return "W " + op + " " + std::to_string(Uniform(0, 7));
            case 15: {
                static const char* columns[] = {"Name", "Cat", "Num", "Real", "Flag", "Big", "Stamp", "W", "Id"};
                return std::string(columns[Uniform(0, 8)]) + (Chance(50) ? " IS NULL" : " IS NOT NULL");
            }
            case 16:
                return "Num " + std::string(Chance(30) ? "NOT " : "") + "BETWEEN " + std::to_string(Uniform(-10, 3)) +
                       " AND " + std::to_string(Uniform(-3, 10));
            default: {
                std::string list = Chance(50) ? "Cat" : "Small";
                list += Chance(30) ? " NOT IN (" : " IN (";
                const int n = Uniform(1, 3);
                for (int i = 0; i < n; ++i) {
                    if (i > 0) list += ", ";
                    list += list.starts_with("Cat") ? quoted(RandomText(2)) : std::to_string(Uniform(-5, 5));
                }
                return list + ")";
            }
        }
    }

    std::string Expression(int depth) {
        if (depth == 0 || Chance(35)) return Leaf();
        switch (Uniform(0, 3)) {
            case 0: return "NOT (" + Expression(depth - 1) + ")";
            case 1: return "(" + Expression(depth - 1) + ") OR (" + Expression(depth - 1) + ")";
            default: return "(" + Expression(depth - 1) + ") AND (" + Expression(depth - 1) + ")";
        }
    }

    // The records a plain evaluation of the filter keeps among the active ones.
    std::set<std::uint32_t> Plain(const std::string& text, const TCursorFilterOptions& options) {
        const TFilterExpression expression(text, writerTable_->Fields(), "Mix",
                                           writerTable_->DataFile().Header().Locale(),
                                           {options.caseInsensitive, options.noPartialCompare});
        std::set<std::uint32_t> kept;
        TDataFile& data = writerTable_->DataFile();
        for (std::uint32_t n : active_) {
            TRecord* record = data.GetRecord(nullptr, n);
            const TDataFileRecordReader reader(data, *record);
            const bool keep = expression.Matches(reader);
            data.ReleaseRecord(record);
            if (keep) kept.insert(n);
        }
        return kept;
    }

    static std::set<std::uint32_t> Visible(const TDataCursor& c) {
        std::set<std::uint32_t> out;
        for (std::uint32_t n = c.VisibleRecords().FirstSet(); n != 0; n = c.VisibleRecords().NextSet(n + 1))
            out.insert(n);
        return out;
    }

    TCursorFilterOptions RandomOptions() {
        TCursorFilterOptions o;
        o.caseInsensitive = Chance(25);
        o.noPartialCompare = Chance(10);
        return o;
    }

    pixhold::test::TempDir dir_;
    std::unique_ptr<TDataSession> session_;
    TDataDirectory* directory_ = nullptr;
    TDataTable* writerTable_ = nullptr;
    std::unique_ptr<ModelWriter> writer_;
    std::unique_ptr<TDataCursor> cursor_;
    std::set<std::uint32_t> active_;
    std::mt19937 rng_{20261210};
};

TEST_P(FilterModel, VisibleRecordsEqualAPlainEvaluationOverEveryRecord) {
    for (int i = 0; i < 300; ++i) active_.insert(writer_->Append(RandomRow()));
    for (int i = 0; i < 40; ++i) {
        const auto victim = std::next(active_.begin(), Uniform(0, static_cast<int>(active_.size()) - 1));
        writer_->Delete(*victim);
        active_.erase(victim);
    }
    cursor_ = std::make_unique<TDataCursor>(*directory_);
    cursor_->TableName = "Mix";
    cursor_->OpenCursor();
    static const char* orders[] = {"", "ByCat", "NumDown", "BigDown"};
    int levels[3] = {0, 0, 0};
    for (int round = 0; round < 160; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round % 20 == 0) cursor_->SetIndexName(orders[(round / 20) % 4]);
        const std::string text = Expression(3);
        const TCursorFilterOptions options = RandomOptions();
        SCOPED_TRACE(text + (options.caseInsensitive ? " [case-insensitive]" : "") +
                     (options.noPartialCompare ? " [no partial]" : ""));
        std::set<std::uint32_t> expected;
        bool valid = true;
        try {
            expected = Plain(text, options);
        } catch (const ECofferEngineError&) {
            valid = false;  // a type mismatch: the cursor must refuse it the same way
        }
        if (!valid) {
            EXPECT_THROW(cursor_->AddFilter(text, options), ECofferEngineError);
            continue;
        }
        TFilter* filter = cursor_->AddFilter(text, options);
        ++levels[filter->OptimizeLevel()];
        cursor_->ActivateFilter(filter);
        ASSERT_EQ(Visible(*cursor_), expected);
        ASSERT_EQ(cursor_->GetRecordCount(), expected.size());
        if (filter->OptimizeLevel() == kOptimizeFull) {
            EXPECT_EQ(filter->RecordsRead(), 0u);
        }

        // A second filter, sometimes evaluated only on what the first kept.
        if (round % 4 == 1) {
            const std::string second = Leaf();
            TCursorFilterOptions kept = RandomOptions();
            kept.onKeptRecords = Chance(50);
            std::set<std::uint32_t> both;
            try {
                for (std::uint32_t n : Plain(second, kept))
                    if (expected.count(n) != 0) both.insert(n);
            } catch (const ECofferEngineError&) {
                cursor_->DropFilter(filter);
                continue;
            }
            TFilter* other = cursor_->AddFilter(second, kept);
            cursor_->ActivateFilter(other);
            ASSERT_EQ(Visible(*cursor_), both) << "with " << second;
            cursor_->DeactivateFilter(filter);
            ASSERT_EQ(Visible(*cursor_), Plain(second, kept)) << "with " << second << " alone";
            cursor_->DropFilter(other);
        }

        // Changes: some told to the cursor record by record, then the table
        // as others see it.
        if (round % 8 == 3) {
            std::vector<std::pair<std::uint32_t, bool>> changes;
            for (int c = 0; c < 6; ++c) {
                if (Chance(40) && !active_.empty()) {
                    const auto victim = std::next(active_.begin(), Uniform(0, static_cast<int>(active_.size()) - 1));
                    const std::uint32_t number = *victim;
                    writer_->Delete(number);
                    active_.erase(victim);
                    cursor_->RecordChangedForFilters(number, nullptr, nullptr);
                } else {
                    const std::uint32_t number = writer_->Append(RandomRow());
                    active_.insert(number);
                    const auto image = writer_->Image(number);
                    cursor_->RecordChangedForFilters(number, nullptr, image.data());
                }
            }
            const auto now = Plain(text, options);
            ASSERT_EQ(Visible(*cursor_), now) << "updated record by record";
            ASSERT_EQ(cursor_->GetRecordCount(), now.size()) << "after the rebuild the change brings";
            ASSERT_EQ(Visible(*cursor_), now);
        }
        cursor_->DropFilter(filter);
    }
    // The draw reached every level.
    EXPECT_GT(levels[kOptimizeNone], 0);
    EXPECT_GT(levels[kOptimizePartial], 0);
    EXPECT_GT(levels[kOptimizeFull], 0);
}

INSTANTIATE_TEST_SUITE_P(Languages, FilterModel, ::testing::Values(std::uint16_t{0}, std::uint16_t{1033}),
                         [](const auto& param) { return param.param == 0 ? std::string("Bytes") : std::string("EnUS"); });

}  // namespace
}  // namespace pixhold::engine
