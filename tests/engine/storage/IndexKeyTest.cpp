#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "IndexKey.h"
#include "IndexTestSupport.h"
#include "TableLocale.h"

namespace pixhold::engine::indextest {
namespace {

Bytes Hex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i < text.size(); i += 3) out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes LE(std::uint64_t v, int n) {
    Bytes out;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return out;
}

Bytes DoubleLE(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return LE(bits, 8);
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Packed decimal: precision, sign-and-scale, then digits two to a byte.
Bytes Packed(const std::string& digits, int scale, bool negative) {
    Bytes out(34, 0);
    out[0] = static_cast<std::uint8_t>(digits.size());
    out[1] = static_cast<std::uint8_t>(scale | (negative ? 0x80 : 0));
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const int d = digits[i] - '0';
        out[2 + i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? d << 4 : d);
    }
    return out;
}

struct KeyCase {
    const char* what;
    FieldDescriptor field;
    bool present;
    Bytes stored;  // the value bytes of the record
    bool fieldDescending;
    bool caseInsensitive;
    std::string expected;  // the key part: null flag and value
};

// The key of a one-field unique index over a record holding `stored`.
Bytes KeyOf(const KeyCase& c, std::uint32_t language = 0) {
    std::vector<FieldDescriptor> fields = LaidOut({c.field});
    IndexDescriptor d = Index("Only", {1}, true);
    d.fieldDescending[0] = c.fieldDescending ? 1 : 0;
    d.caseInsensitive = c.caseInsensitive;
    d.keyLength = static_cast<std::uint16_t>(KeySizeOf(fields[0]) + 1);
    const TKeyLayout layout = TKeyLayout::For(d, 1, fields);
    const TableLocale locale(language);
    const TKeyBuilder builder(layout, locale, language == 0);
    Bytes record(ComputeRecordSize(fields), 0);
    const FieldDescriptor& f = fields[0];
    record[f.offset] = c.present ? 1 : 0;
    std::copy(c.stored.begin(), c.stored.end(), record.begin() + f.offset + 1);
    return builder.Build(record.data());
}

TEST(IndexKey, ValuesEncodeBigEndianSortable) {
    const std::vector<KeyCase> cases = {
        {"integer -1", Field("F", fieldtype::Integer), true, LE(0xFFFFFFFF, 4), false, false, "01 7F FF FF FF"},
        {"integer 0", Field("F", fieldtype::Integer), true, LE(0, 4), false, false, "01 80 00 00 00"},
        {"integer 1", Field("F", fieldtype::Integer), true, LE(1, 4), false, false, "01 80 00 00 01"},
        {"date", Field("F", fieldtype::Date), true, LE(738000, 4), false, false, "01 80 0B 42 D0"},
        {"time", Field("F", fieldtype::Time), true, LE(1000, 4), false, false, "01 80 00 03 E8"},
        {"small integer -2", Field("F", fieldtype::SmallInt), true, LE(0xFFFE, 2), false, false, "01 7F FE"},
        {"word", Field("F", fieldtype::Word), true, LE(513, 2), false, false, "01 02 01"},
        {"boolean", Field("F", fieldtype::Boolean), true, LE(1, 2), false, false, "01 00 01"},
        {"large integer -1", Field("F", fieldtype::LargeInt), true, LE(~0ull, 8), false, false,
         "01 7F FF FF FF FF FF FF FF"},
        {"float 0", Field("F", fieldtype::Float), true, DoubleLE(0.0), false, false, "01 80 00 00 00 00 00 00 00"},
        {"float 3", Field("F", fieldtype::Float), true, DoubleLE(3.0), false, false, "01 C0 08 00 00 00 00 00 00"},
        {"float -2.5", Field("F", fieldtype::Float), true, DoubleLE(-2.5), false, false, "01 3F FB FF FF FF FF FF FF"},
        {"date and time", Field("F", fieldtype::DateTime), true, DoubleLE(1.0), false, false,
         "01 BF F0 00 00 00 00 00 00"},
        {"decimal 1.5", Field("F", fieldtype::Decimal), true, Packed("15", 1, false), false, false,
         "01 80 00 00 00 00 00 3A 98"},
        {"decimal -0.00005 rounds away from zero", Field("F", fieldtype::Decimal), true, Packed("00005", 5, true),
         false, false, "01 7F FF FF FF FF FF FF FF"},
        {"decimal 2.00004 rounds down", Field("F", fieldtype::Decimal), true, Packed("200004", 5, false), false,
         false, "01 80 00 00 00 00 00 4E 20"},
        {"empty decimal", Field("F", fieldtype::Decimal), true, Bytes(34, 0), false, false,
         "01 80 00 00 00 00 00 00 00"},
        {"string zero-padded", Field("F", fieldtype::String, 5), true, Text("abc"), false, false,
         "01 61 62 63 00 00 00"},
        {"string upper-cased", Field("F", fieldtype::String, 5), true, Text("abc"), false, true,
         "01 41 42 43 00 00 00"},
        {"upper-casing by the locale's rules", Field("F", fieldtype::String, 8), true, Text("stra\xC3\x9F" "e"),
         false, true, "01 53 54 52 41 53 53 45 00 00"},
        // U+0149 upper-cases to two characters, three bytes, which no longer fit.
        {"upper-casing cut to the field", Field("F", fieldtype::String, 2), true, Text("\xC5\x89"), false, true,
         "01 CA BC 00"},
        {"bytes raw", Field("F", fieldtype::Bytes, 3), true, Bytes{9, 0, 255}, false, false, "01 09 00 FF"},
        {"null part", Field("F", fieldtype::Integer), false, LE(0, 4), false, false, "00 00 00 00 00"},
        {"descending integer inverted", Field("F", fieldtype::Integer), true, LE(1, 4), true, false,
         "FE 7F FF FF FE"},
        {"descending null inverted", Field("F", fieldtype::SmallInt), false, LE(0, 2), true, false, "FF FF FF"},
        {"descending string keeps its terminator", Field("F", fieldtype::String, 3), true, Text("ab"), true, false,
         "FE 9E 9D FF 00"},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(KeyOf(c), Hex(c.expected));
    }
}

TEST(IndexKey, ByteOrderIsValueOrder) {
    auto sorted = [](std::vector<Bytes> keys) { return std::is_sorted(keys.begin(), keys.end()); };
    std::vector<Bytes> integers, floats, larges;
    for (std::int32_t v : {-2147483647 - 1, -5, -1, 0, 1, 7, 2147483647})
        integers.push_back(KeyOf({"", Field("F", fieldtype::Integer), true, LE(static_cast<std::uint32_t>(v), 4), false, false, ""}));
    for (double v : {-1e300, -2.5, -0.5, 0.0, 1e-300, 3.0, 1e300})
        floats.push_back(KeyOf({"", Field("F", fieldtype::Float), true, DoubleLE(v), false, false, ""}));
    for (std::int64_t v : {INT64_MIN, std::int64_t{-1}, std::int64_t{0}, INT64_MAX})
        larges.push_back(KeyOf({"", Field("F", fieldtype::LargeInt), true, LE(static_cast<std::uint64_t>(v), 8), false, false, ""}));
    EXPECT_TRUE(sorted(integers));
    EXPECT_TRUE(sorted(floats));
    EXPECT_TRUE(sorted(larges));
    // A null sorts before every value.
    EXPECT_LT(KeyOf({"", Field("F", fieldtype::Integer), false, LE(0, 4), false, false, ""}), integers.front());
}

TEST(IndexKey, NonUniqueKeysEndWithTheRecordIdentifier) {
    std::vector<FieldDescriptor> fields = LaidOut({Field("N", fieldtype::Integer), Field("Id", fieldtype::Integer, 0, fieldsubtype::AutoInc)});
    IndexDescriptor d = Index("ByN", {1, 2}, false);
    d.keyLength = 5 + 5 + 4;
    const TKeyLayout layout = TKeyLayout::For(d, 1, fields);
    const TableLocale locale(0);
    const TKeyBuilder builder(layout, locale, true);
    Bytes record(ComputeRecordSize(fields), 0);
    record[5] = 0x2A;  // record identifier 42, also the auto-increment value
    // Field 1 stays null; the auto-increment part is never null.
    EXPECT_EQ(builder.Build(record.data()), Hex("00 00 00 00 00 01 80 00 00 2A 80 00 00 2A"));

    Bytes deleted(5);
    TKeyBuilder::BuildDeletedKey(1, 42, deleted.data());
    EXPECT_EQ(deleted, Hex("01 80 00 00 2A"));
}

TEST(IndexKey, KeySizesAndTheLimitOf522) {
    IndexOwner owner;
    TIndexFile file(owner);
    file.Name = MemoryName("keysize");
    file.InMemory = true;
    file.CreateFile();
    const auto fields = LaidOut({Field("N", fieldtype::Integer), Field("S", fieldtype::String, 250),
                                 Field("T", fieldtype::String, 250), Field("B", fieldtype::Bytes, 17),
                                 Field("C", fieldtype::Bytes, 18), Field("D", fieldtype::Decimal)});
    EXPECT_EQ(file.GetIndexDescriptor(file.AddSecondaryIndex(Index("NonUnique", {1}), fields)).keyLength, 9);
    EXPECT_EQ(file.GetIndexDescriptor(file.AddSecondaryIndex(Index("Unique", {1}, true), fields)).keyLength, 5);
    EXPECT_EQ(file.GetIndexDescriptor(file.AddSecondaryIndex(Index("Decimal", {6}, true), fields)).keyLength, 9);
    // 252 + 252 + 18 = 522 bytes of fields is the most a key may have.
    EXPECT_EQ(file.GetIndexDescriptor(file.AddSecondaryIndex(Index("Widest", {2, 3, 4}), fields)).keyLength, 526);
    EXPECT_EQ(CodeOf([&] { file.AddSecondaryIndex(Index("TooWide", {2, 3, 5}), fields); }), err::InvalidKeySize);
    file.CloseFile();
    file.DeleteFile();
}

class KeyComparison : public ::testing::Test {
protected:
    // Keys of a unique index over (string of 10, integer).
    Bytes Key(const std::string& s, std::int32_t n) {
        Bytes key(11 + 5, 0);
        key[0] = 1;
        std::memcpy(key.data() + 1, s.data(), s.size());
        key[11] = 1;
        keycodec::PutInt32(key.data() + 12, n);
        return key;
    }
    TKeyLayout Layout(bool descending, bool fieldDescending) {
        auto fields = LaidOut({Field("S", fieldtype::String, 10), Field("N", fieldtype::Integer)});
        IndexDescriptor d = Index("I", {1, 2}, true, 0, descending);
        d.fieldDescending[1] = fieldDescending ? 1 : 0;
        d.keyLength = 16;
        return TKeyLayout::For(d, 1, fields);
    }
};

TEST_F(KeyComparison, LanguageZeroComparesBytesAndADescendingIndexReverses) {
    const TKeyComparer ascending(Layout(false, false), 0);
    const TKeyComparer descending(Layout(true, false), 0);
    EXPECT_EQ(ascending.CompareKeys(Key("B", 1).data(), Key("a", 1).data()), -1);  // bytes: 'B' < 'a'
    EXPECT_EQ(descending.CompareKeys(Key("B", 1).data(), Key("a", 1).data()), 1);
    EXPECT_EQ(ascending.CompareKeys(Key("a", 1).data(), Key("a", 1).data()), 0);
    // A partial comparison looks at the first part only.
    EXPECT_EQ(ascending.CompareKeys(Key("a", 1).data(), Key("a", 2).data(), 11), 0);
    EXPECT_EQ(ascending.CompareKeys(Key("a", 1).data(), Key("a", 2).data()), -1);
}

TEST_F(KeyComparison, ALanguageCollatesIgnoringAccentsButNotCase) {
    const TKeyComparer c(Layout(false, false), 1033);
    EXPECT_EQ(c.CompareKeys(Key("a", 1).data(), Key("B", 1).data()), -1);                 // alphabetic, not bytes
    EXPECT_EQ(c.CompareKeys(Key("cote", 1).data(), Key("c\xC3\xB4te", 1).data()), 0);     // accents ignored
    EXPECT_NE(c.CompareKeys(Key("a", 1).data(), Key("A", 1).data()), 0);                  // case distinguished
    EXPECT_EQ(c.CompareKeys(Key("cote", 1).data(), Key("c\xC3\xB4te", 2).data()), -1);    // the next part decides
    // A descending field reverses its part only; a descending index everything.
    const TKeyComparer fieldDown(Layout(false, true), 1033);
    EXPECT_EQ(fieldDown.CompareKeys(Key("a", 1).data(), Key("a", 2).data()), 1);
    EXPECT_EQ(fieldDown.CompareKeys(Key("a", 1).data(), Key("b", 2).data()), -1);
    const TKeyComparer indexDown(Layout(true, false), 1033);
    EXPECT_EQ(indexDown.CompareKeys(Key("a", 1).data(), Key("b", 1).data()), 1);
}

}  // namespace
}  // namespace pixhold::engine::indextest
