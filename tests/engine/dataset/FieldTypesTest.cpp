#include "DatasetTestSupport.h"

#include "DataFile.h"

namespace pixhold::engine::datasettest {
namespace {

struct TypeCase {
    TFieldType type;
    std::uint8_t engineType;
    std::uint8_t subtype;
    int size;
    TFieldType readBack;
};

const std::vector<TypeCase>& TypeCases() {
    static const std::vector<TypeCase> cases = {
        {TFieldType::ftString, fieldtype::String, 0, 20, TFieldType::ftString},
        {TFieldType::ftFixedChar, fieldtype::String, 31, 5, TFieldType::ftFixedChar},
        {TFieldType::ftWideString, fieldtype::String, 32, 5, TFieldType::ftWideString},
        {TFieldType::ftSmallint, fieldtype::SmallInt, 0, 0, TFieldType::ftSmallint},
        {TFieldType::ftInteger, fieldtype::Integer, 0, 0, TFieldType::ftInteger},
        {TFieldType::ftWord, fieldtype::Word, 0, 0, TFieldType::ftWord},
        {TFieldType::ftBoolean, fieldtype::Boolean, 0, 0, TFieldType::ftBoolean},
        {TFieldType::ftFloat, fieldtype::Float, 0, 0, TFieldType::ftFloat},
        {TFieldType::ftCurrency, fieldtype::Float, 21, 0, TFieldType::ftCurrency},
        {TFieldType::ftBCD, fieldtype::Decimal, 0, 4, TFieldType::ftBCD},
        {TFieldType::ftDate, fieldtype::Date, 0, 0, TFieldType::ftDate},
        {TFieldType::ftTime, fieldtype::Time, 0, 0, TFieldType::ftTime},
        {TFieldType::ftDateTime, fieldtype::DateTime, 0, 0, TFieldType::ftDateTime},
        {TFieldType::ftBytes, fieldtype::Bytes, 0, 8, TFieldType::ftBytes},
        {TFieldType::ftVarBytes, fieldtype::VarBytes, 0, 8, TFieldType::ftVarBytes},
        {TFieldType::ftAutoInc, fieldtype::Integer, 29, 0, TFieldType::ftAutoInc},
        {TFieldType::ftBlob, fieldtype::Blob, 0, 0, TFieldType::ftBlob},
        {TFieldType::ftMemo, fieldtype::Blob, 22, 0, TFieldType::ftMemo},
        {TFieldType::ftGraphic, fieldtype::Blob, 26, 0, TFieldType::ftGraphic},
        {TFieldType::ftFmtMemo, fieldtype::Blob, 24, 0, TFieldType::ftFmtMemo},
        {TFieldType::ftTypedBinary, fieldtype::Blob, 28, 0, TFieldType::ftTypedBinary},
        {TFieldType::ftParadoxOle, fieldtype::Blob, 0, 0, TFieldType::ftBlob},
        {TFieldType::ftDBaseOle, fieldtype::Blob, 0, 0, TFieldType::ftBlob},
        {TFieldType::ftLargeint, fieldtype::LargeInt, 0, 0, TFieldType::ftLargeint},
    };
    return cases;
}

TEST(FieldTypesTest, EveryTypeMapsToItsEnginePairAndBack) {
    for (const TypeCase& c : TypeCases()) {
        const TEngineFieldType engine = EngineTypeOf(c.type);
        EXPECT_EQ(engine.type, c.engineType) << static_cast<int>(c.type);
        EXPECT_EQ(engine.subtype, c.subtype) << static_cast<int>(c.type);
        EXPECT_EQ(FieldTypeOf(c.engineType, c.subtype), c.readBack) << static_cast<int>(c.type);
    }
    EXPECT_EQ(FieldTypeOf(fieldtype::Blob, 99), TFieldType::ftBlob);  // unknown subtype: the plain type
    EXPECT_EQ(FieldTypeOf(0, 0), TFieldType::ftUnknown);
}

TEST(FieldTypesTest, SizeRules) {
    EXPECT_TRUE(ValidFieldSize(TFieldType::ftString, 1));
    EXPECT_TRUE(ValidFieldSize(TFieldType::ftString, 250));
    EXPECT_FALSE(ValidFieldSize(TFieldType::ftString, 251));
    EXPECT_FALSE(ValidFieldSize(TFieldType::ftString, 0));
    EXPECT_TRUE(ValidFieldSize(TFieldType::ftBCD, 0));
    EXPECT_TRUE(ValidFieldSize(TFieldType::ftBCD, 32));
    EXPECT_FALSE(ValidFieldSize(TFieldType::ftBCD, 33));
    EXPECT_TRUE(ValidFieldSize(TFieldType::ftGraphic, 0));
    EXPECT_FALSE(ValidFieldSize(TFieldType::ftGraphic, 1));
}

using FieldTableTest = DatasetFixture;

TEST_F(FieldTableTest, ATableOfEveryTypeReadsItsFieldsBack) {
    auto table = Table("Types.dat");
    int n = 0;
    for (const TypeCase& c : TypeCases()) {
        table->FieldDefs.Add({"F" + std::to_string(++n), c.type, c.size, false});
    }
    table->CreateTable();
    table->AutoDisplayLabels = true;
    table->Open();
    ASSERT_EQ(table->FieldCount(), TypeCases().size());
    for (std::size_t i = 0; i < TypeCases().size(); ++i) {
        const TField& field = table->Fields(i);
        EXPECT_EQ(field.DataType(), TypeCases()[i].readBack) << field.FieldName();
        EXPECT_EQ(field.Size(), TypeCases()[i].size) << field.FieldName();
        EXPECT_EQ(field.FieldNo(), static_cast<int>(i + 1));
        EXPECT_EQ(field.ReadOnly(), TypeCases()[i].type == TFieldType::ftAutoInc);
    }
}

TEST_F(FieldTableTest, KeyValuesAreConvertedByTheFieldType) {
    auto table = Table("Keys.dat");
    table->FieldDefs.Add({"Num", TFieldType::ftSmallint, 0, true});
    table->FieldDefs.Add({"Name", TFieldType::ftString, 10, false});
    table->IndexDefs.Add({"", "Num;Name", ixopt::Primary, 0});
    table->CreateTable();
    table->Open();
    EXPECT_FALSE(table->FindKey({"12", "x"}));
    EXPECT_EQ(ErrorText([&] { table->FindKey({"abc"}); }), "'abc' is not a valid value for field 'Num'");
    EXPECT_EQ(ErrorText([&] { table->FindKey({"40000"}); }), "'40000' is not a valid value for field 'Num'");
    EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
}

}  // namespace
}  // namespace pixhold::engine::datasettest
