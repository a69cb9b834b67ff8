#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ByteCodec.h"
#include "DataFile.h"
#include "TableLocale.h"
#include "ValueText.h"

namespace pixhold::engine {
namespace {

struct TextCase {
    std::uint8_t type;
    const char* text;
    bool valid;
};

TEST(DataFileValueText, CheckValueTextAcceptsExactlyTheTextsOfEachType) {
    const TextCase cases[] = {
        // Any text for strings, bytes, BLOBs and unlisted types; empty for every type.
        {fieldtype::String, "anything at all", true}, {fieldtype::Bytes, "x", true},
        {fieldtype::VarBytes, "x", true},             {fieldtype::Blob, "x", true},
        {fieldtype::Type14, "x", true},               {fieldtype::Date, "", true},
        // Dates
        {fieldtype::Date, "2024-02-29", true},        {fieldtype::Date, "2023-02-29", false},
        {fieldtype::Date, "current_date", true},      {fieldtype::Date, "CURRENT_TIME", false},
        {fieldtype::Date, "1-1-1", true},             {fieldtype::Date, "0-01-01", false},
        {fieldtype::Date, "2024-13-01", false},       {fieldtype::Date, "2024-04-31", false},
        {fieldtype::Date, "2024/01/01", false},       {fieldtype::Date, "2024-01-01x", false},
        {fieldtype::Date, "-2024-01-01", false},      {fieldtype::Date, "2024--01", false},
        // Times
        {fieldtype::Time, "13:45", true},             {fieldtype::Time, "13:45:30", true},
        {fieldtype::Time, "13:45:30.250", true},      {fieldtype::Time, "  1:05 pm ", true},
        {fieldtype::Time, "AM 12:00", true},          {fieldtype::Time, "Current_Time", true},
        {fieldtype::Time, "24:00", false},            {fieldtype::Time, "13:60", false},
        {fieldtype::Time, "13 PM", false},            {fieldtype::Time, "13:00 PM", false},
        {fieldtype::Time, "12:00:61", false},         {fieldtype::Time, "12:00:00.", false},
        {fieldtype::Time, "12:00:00.1000", false},    {fieldtype::Time, "12", false},
        {fieldtype::Time, "12:00 XM", false},
        // Dates and times
        {fieldtype::DateTime, "CURRENT_TIMESTAMP", true}, {fieldtype::DateTime, "current_date", true},
        {fieldtype::DateTime, "CURRENT_TIME", true},  {fieldtype::DateTime, "2024-01-02 03:04:05.6", true},
        {fieldtype::DateTime, "2024-01-02 3:04 PM", true}, {fieldtype::DateTime, "2024-01-02", true},
        {fieldtype::DateTime, "03:04", true},         {fieldtype::DateTime, "2024-01-02 25:00", false},
        {fieldtype::DateTime, "2024-01-32", false},   {fieldtype::DateTime, "noon", false},
        // Booleans
        {fieldtype::Boolean, "TRUE", true},           {fieldtype::Boolean, "false", true},
        {fieldtype::Boolean, "yes", false},           {fieldtype::Boolean, "1", false},
        // Integers
        {fieldtype::SmallInt, "-32768", true},        {fieldtype::SmallInt, "32767", true},
        {fieldtype::SmallInt, "32768", false},        {fieldtype::SmallInt, "+12", true},
        {fieldtype::SmallInt, "1.0", false},          {fieldtype::SmallInt, " 1", false},
        {fieldtype::Integer, "-2147483648", true},    {fieldtype::Integer, "2147483648", false},
        {fieldtype::Word, "0", true},                 {fieldtype::Word, "65535", true},
        {fieldtype::Word, "-1", false},               {fieldtype::Word, "65536", false},
        {fieldtype::LargeInt, "-9223372036854775808", true},
        {fieldtype::LargeInt, "9223372036854775807", true},
        {fieldtype::LargeInt, "9223372036854775808", false},
        {fieldtype::LargeInt, "-", false},
        // Numbers
        {fieldtype::Float, "3.25", true},             {fieldtype::Float, "-.5", true},
        {fieldtype::Float, "1e10", true},             {fieldtype::Float, "3,25", false},
        {fieldtype::Float, ".", false},               {fieldtype::Float, "1e", false},
        {fieldtype::Float, "1e999", false},           {fieldtype::Float, "inf", false},
        {fieldtype::Decimal, "12.34567", true},       {fieldtype::Decimal, "-0.1", true},
        {fieldtype::Decimal, "1e3", false},           {fieldtype::Decimal, "1.2.3", false},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(CheckValueText(c.type, c.text), c.valid) << "type " << int(c.type) << " text '" << c.text << "'";
    }
}

TEST(DataFileValueText, DayNumbersCountFromTheFirstOfJanuaryOfYearOne) {
    EXPECT_EQ(DayNumberOf({1, 1, 1}), 1);
    EXPECT_EQ(DayNumberOf({1, 12, 31}), 365);
    EXPECT_EQ(DayNumberOf({2, 1, 1}), 366);
    EXPECT_EQ(DayNumberOf({1899, 12, 30}), 693594);  // the day the last-update stamp counts from
    EXPECT_EQ(DayNumberOf({2000, 3, 1}), 730180);
    for (std::int32_t day : {1, 59, 60, 365, 366, 693594, 730179, 730180, 2914000, 3652059}) {
        const CalendarDate date = DateOfDayNumber(day);
        EXPECT_TRUE(IsValidDate(date)) << day;
        EXPECT_EQ(DayNumberOf(date), day);
    }
}

TEST(DataFileValueText, ConversionsGiveTheStoredValues) {
    const LocalMoment now{739000, 45000123};
    EXPECT_EQ(DateTextToDayNumber("2000-03-01", now), 730180);
    EXPECT_EQ(DateTextToDayNumber("CURRENT_DATE", now), 739000);
    EXPECT_EQ(TimeTextToMilliseconds("01:02:03.4", now), 3723004);
    EXPECT_EQ(TimeTextToMilliseconds("12:30 AM", now), 30 * 60000);
    EXPECT_EQ(TimeTextToMilliseconds("12:30 pm", now), 750 * 60000);
    EXPECT_EQ(TimeTextToMilliseconds("1:00 PM", now), 13 * 3600000);
    EXPECT_EQ(TimeTextToMilliseconds("current_time", now), 45000123);
    EXPECT_EQ(DateTimeTextToMilliseconds("2000-03-01 00:00:01", now), 730180.0 * 86400000 + 1000);
    EXPECT_EQ(DateTimeTextToMilliseconds("CURRENT_TIMESTAMP", now), 739000.0 * 86400000 + 45000123);
    EXPECT_EQ(DateTimeTextToMilliseconds("CURRENT_DATE", now), 739000.0 * 86400000);
    EXPECT_EQ(DateTimeTextToMilliseconds("2000-03-01", now), 730180.0 * 86400000);
    EXPECT_EQ(DateTimeTextToMilliseconds("00:00:02", now), 2000.0);
    EXPECT_TRUE(BooleanTextToValue("True"));
    EXPECT_FALSE(BooleanTextToValue("FALSE"));

    struct Stored {
        std::uint8_t type;
        std::uint16_t physicalSize;
        const char* text;
        std::vector<std::uint8_t> bytes;
    };
    const Stored cases[] = {
        {fieldtype::Date, 4, "2000-03-01", {0x44, 0x24, 0x0B, 0x00}},
        {fieldtype::Time, 4, "00:00:01", {0xE8, 0x03, 0x00, 0x00}},
        {fieldtype::Boolean, 2, "true", {1, 0}},
        {fieldtype::SmallInt, 2, "-2", {0xFE, 0xFF}},
        {fieldtype::Integer, 4, "258", {0x02, 0x01, 0x00, 0x00}},
        {fieldtype::Word, 2, "65535", {0xFF, 0xFF}},
        {fieldtype::LargeInt, 8, "-1", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {fieldtype::Float, 8, "1.5", {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
        {fieldtype::String, 6, "abcdefgh", {'a', 'b', 'c', 'd', 'e', 0}},
        {fieldtype::Bytes, 3, "abcd", {'a', 'b', 'c'}},
    };
    for (const Stored& c : cases) {
        const auto stored = ValueTextToStored(c.type, c.physicalSize, c.text, now);
        ASSERT_TRUE(stored.has_value()) << c.text;
        EXPECT_EQ(*stored, c.bytes) << "type " << int(c.type) << " text " << c.text;
    }
    EXPECT_FALSE(ValueTextToStored(fieldtype::Integer, 4, "", now).has_value());
    EXPECT_FALSE(ValueTextToStored(fieldtype::Blob, 8, "x", now).has_value());
}

TEST(DataFileValueText, DecimalsAreKeptToFourPlacesInThePackedRecord) {
    // precision, sign and scale, digits two per byte from the left
    const auto stored = DecimalTextToStored("-12.345678");
    ASSERT_EQ(stored.size(), 34u);
    EXPECT_EQ(stored[0], 6);
    EXPECT_EQ(stored[1], 0x80 | 4);
    EXPECT_EQ(stored[2], 0x12);
    EXPECT_EQ(stored[3], 0x34);
    EXPECT_EQ(stored[4], 0x57);  // ...5678 rounded to ...57 at four places
    EXPECT_EQ(stored[5], 0);
    const struct {
        const char* text;
        const char* back;
    } cases[] = {{"-12.345678", "-12.3457"}, {"0.5", "0.5"}, {"007.10", "7.1"}, {"-0.00001", "0"},
                 {"9.99995", "10"},          {"+3", "3"},   {".25", "0.25"},   {"-0", "0"}};
    for (const auto& c : cases) {
        EXPECT_EQ(DecimalStoredToText(DecimalTextToStored(c.text)), c.back) << c.text;
    }
}

TEST(DataFileValueText, FailedConversionsNameTheText) {
    const LocalMoment now{};
    const struct {
        std::uint8_t type;
        const char* text;
        const char* message;
    } cases[] = {
        {fieldtype::Date, "2023-02-29", "'2023-02-29' is not a valid date"},
        {fieldtype::Time, "25:00", "'25:00' is not a valid time"},
        {fieldtype::DateTime, "2024-01-01 x", "'2024-01-01 x' is not a valid date and time"},
        {fieldtype::Boolean, "maybe", "'maybe' is not a valid boolean"},
    };
    for (const auto& c : cases) {
        try {
            ValueTextToStored(c.type, 8, c.text, now);
            ADD_FAILURE() << c.text << " converted";
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(DataFileValueText, TextsWrittenBackConvertToTheSameValue) {
    EXPECT_EQ(DayNumberToText(1), "0001-01-01");
    EXPECT_EQ(DayNumberToText(730180), "2000-03-01");
    const struct {
        std::int32_t ms;
        const char* h24;
        const char* h12;
    } times[] = {
        {0, "00:00", "12:00 AM"},
        {(13 * 60 + 5) * 60000, "13:05", "01:05 PM"},
        {12 * 3600000 + 7000, "12:00:07", "12:00:07 PM"},
        {3600000 + 7 * 1000 + 45, "01:00:07.45", "01:00:07.45 AM"},
        {23 * 3600000 + 500, "23:00:00.500", "11:00:00.500 PM"},  // milliseconds are never dropped
    };
    const LocalMoment now{};
    for (const auto& t : times) {
        EXPECT_EQ(MillisecondsToTimeText(t.ms), t.h24);
        EXPECT_EQ(MillisecondsToTimeText(t.ms, true), t.h12);
        EXPECT_EQ(TimeTextToMilliseconds(t.h24, now), t.ms);
        EXPECT_EQ(TimeTextToMilliseconds(t.h12, now), t.ms);
    }
    const double moment = 730180.0 * 86400000 + (13 * 60 + 5) * 60000;
    EXPECT_EQ(DateTimeToText(moment), "2000-03-01 13:05");
    EXPECT_EQ(DateTimeToText(moment, true), "2000-03-01 01:05 PM");
    EXPECT_EQ(DateTimeTextToMilliseconds(DateTimeToText(moment, true), now), moment);

    const struct {
        std::uint8_t type;
        std::uint16_t size;
        const char* text;
    } values[] = {{fieldtype::Date, 4, "2024-02-29"},   {fieldtype::Boolean, 2, "TRUE"},
                  {fieldtype::SmallInt, 2, "-32768"},  {fieldtype::Integer, 4, "2147483647"},
                  {fieldtype::Word, 2, "65535"},       {fieldtype::LargeInt, 8, "-9223372036854775808"},
                  {fieldtype::Float, 8, "0.1"},        {fieldtype::Float, 8, "1e+300"},
                  {fieldtype::Decimal, 34, "-1.5"},    {fieldtype::String, 11, "text"},
                  {fieldtype::Time, 4, "10:00:00.5"},  {fieldtype::DateTime, 8, "2024-01-02 03:04:05.6"}};
    for (const auto& v : values) {
        const auto stored = ValueTextToStored(v.type, v.size, v.text, now);
        ASSERT_TRUE(stored.has_value());
        const std::string text = StoredToValueText(v.type, *stored);
        EXPECT_EQ(ValueTextToStored(v.type, v.size, text, now), stored) << v.text << " -> " << text;
    }
}

TEST(DataFileValueText, TableLocalesMapWindowsIdentifiersToIcu) {
    EXPECT_EQ(TableLocale::IcuName(1033), "en_US");
    EXPECT_EQ(TableLocale::IcuName(0), "en_US") << "language 0 stands for 1033";
    EXPECT_EQ(TableLocale::IcuName(1031), "de_DE");
    EXPECT_TRUE(TableLocale::IsInstalled(0));
    EXPECT_TRUE(TableLocale::IsInstalled(1055));
    EXPECT_FALSE(TableLocale::IsInstalled(0x1234));
    EXPECT_FALSE(TableLocale::IsInstalled(0xFFFF));
    EXPECT_EQ(TableLocale(1033).ToUpper("istanbul stra\xC3\x9F" "e"), "ISTANBUL STRASSE");
    EXPECT_EQ(TableLocale(1055).ToUpper("i"), "\xC4\xB0");
    EXPECT_EQ(TableLocale(1055).ToLower("I"), "\xC4\xB1");
    EXPECT_EQ(TableLocale(1033).ToLower("\xC3\x84" "B"), "\xC3\xA4" "b");
}

}  // namespace
}  // namespace pixhold::engine
