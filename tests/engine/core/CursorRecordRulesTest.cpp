#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "CursorEditSupport.h"
#include "EngineError.h"
#include "RecordBuffer.h"
#include "TableTestSupport.h"
#include "ValueText.h"

namespace pixhold::engine {
namespace {

using namespace edittest;

// Name (primary), Qty (1 … 100, required), Price (float, at least 0.5),
// Kind (string, default "photo"), Added (timestamp, default now), Day (date,
// default 2020-02-29), Flag (boolean, default true).
TableDefinition RulesTable() {
    TableDefinition d;
    FieldDescriptor qty = MakeField("Qty", fieldtype::Integer);
    qty.required = 1;
    qty.minimum = "1";
    qty.maximum = "100";
    qty.defaultValue = "5";
    FieldDescriptor price = MakeField("Price", fieldtype::Float);
    price.minimum = "0.5";
    FieldDescriptor kind = MakeField("Kind", fieldtype::String, 10);
    kind.defaultValue = "photo";
    FieldDescriptor added = MakeField("Added", fieldtype::DateTime);
    added.defaultValue = "current_timestamp";
    FieldDescriptor day = MakeField("Day", fieldtype::Date);
    day.defaultValue = "2020-02-29";
    FieldDescriptor flag = MakeField("Flag", fieldtype::Boolean);
    flag.defaultValue = "TRUE";
    d.fields = {MakeField("Name", fieldtype::String, 20), qty, price, kind, added, day, flag};
    IndexDescriptor primary;
    primary.unique = true;
    primary.fieldCount = 1;
    primary.fieldNumbers[0] = 1;
    d.indexes.push_back(primary);
    return d;
}

std::vector<std::uint8_t> Int32(std::int32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

std::vector<std::uint8_t> Float(double v) {
    std::vector<std::uint8_t> b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}

TEST(CursorRecordRules, InitRecordFillsTheDefaultsAtItsOwnMoment) {
    const TableDefinition d = RulesTable();
    EditFixture fx(true, &d);
    auto cursor = fx.Open();
    const auto& f = cursor->Fields();
    std::vector<std::uint8_t> buffer(cursor->RecordSize(), 0xEE);
    const LocalMoment before = CurrentLocalMoment();
    cursor->InitRecord(buffer.data());
    const LocalMoment after = CurrentLocalMoment();
    EXPECT_FALSE(recordbuffer::IsPresent(f[0], buffer.data()));
    EXPECT_EQ(recordbuffer::RecordID(buffer.data()), 0u);
    EXPECT_EQ(StoredToValueText(fieldtype::Integer, {recordbuffer::Value(f[1], buffer.data()).begin(),
                                                     recordbuffer::Value(f[1], buffer.data()).end()}),
              "5");
    EXPECT_FALSE(recordbuffer::IsPresent(f[2], buffer.data()));
    EXPECT_EQ(recordbuffer::Text(f[3], buffer.data()), "photo");
    const auto added = recordbuffer::Value(f[4], buffer.data());
    double ms = 0;
    std::memcpy(&ms, added.data(), 8);
    const double low = static_cast<double>(before.dayNumber) * kMillisecondsPerDay + before.milliseconds;
    const double high = static_cast<double>(after.dayNumber) * kMillisecondsPerDay + after.milliseconds;
    EXPECT_GE(ms, low);
    EXPECT_LE(ms, high);
    EXPECT_EQ(StoredToValueText(fieldtype::Date, {recordbuffer::Value(f[5], buffer.data()).begin(),
                                                  recordbuffer::Value(f[5], buffer.data()).end()}),
              "2020-02-29");
    EXPECT_EQ(recordbuffer::Value(f[6], buffer.data())[0], 1);
}

TEST(CursorRecordRules, ABrokenConstraintNamesTheFieldAndChangesNothing) {
    const TableDefinition d = RulesTable();
    EditFixture fx(true, &d);
    auto cursor = fx.Open();
    const auto& f = cursor->Fields();
    struct Case {
        const char* what;
        std::optional<std::int32_t> qty;
        double price;
        std::uint16_t code;
        const char* field;
    };
    const Case cases[] = {
        {"all good", 1, 0.5, 0, ""},
        {"upper bound kept", 100, 7.0, 0, ""},
        {"required missing", std::nullopt, 1.0, err::ValueRequired, "Qty"},
        {"below minimum", 0, 1.0, err::BelowMinimum, "Qty"},
        {"negative", -5, 1.0, err::BelowMinimum, "Qty"},
        {"above maximum", 101, 1.0, err::AboveMaximum, "Qty"},
        {"float below", 50, 0.25, err::BelowMinimum, "Price"},
        {"first violation wins", 0, 0.25, err::BelowMinimum, "Qty"},
    };
    int appended = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> buffer(cursor->RecordSize());
        cursor->InitRecord(buffer.data());
        recordbuffer::SetText(f[0], buffer.data(), c.what);
        if (c.qty) recordbuffer::SetValue(f[1], buffer.data(), Int32(*c.qty));
        else recordbuffer::SetNull(f[1], buffer.data());
        recordbuffer::SetValue(f[2], buffer.data(), Float(c.price));
        const std::string dat = coretest::FileBytes(fx.FilePath(".DAT"));
        try {
            cursor->AppendRecord(buffer.data(), false);
            EXPECT_EQ(c.code, 0);
            ++appended;
        } catch (const ECofferEngineError& e) {
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_EQ(e.ContextField(), c.field);
            EXPECT_EQ(coretest::FileBytes(fx.FilePath(".DAT")), dat);
        }
    }
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::uint32_t>(appended));
}

}  // namespace
}  // namespace pixhold::engine
