#include "FieldTypes.h"

#include "DataFile.h"

namespace pixhold::engine {

namespace {

struct TypePair {
    TFieldType field;
    TEngineFieldType engine;
};

// The one mapping table; the first pair of an engine (type, subtype) wins when
// reading descriptors back.
constexpr TypePair kTypes[] = {
    {TFieldType::ftString, {fieldtype::String, fieldsubtype::None}},
    {TFieldType::ftFixedChar, {fieldtype::String, fieldsubtype::FixedChar}},
    {TFieldType::ftWideString, {fieldtype::String, fieldsubtype::WideString}},
    {TFieldType::ftSmallint, {fieldtype::SmallInt, fieldsubtype::None}},
    {TFieldType::ftInteger, {fieldtype::Integer, fieldsubtype::None}},
    {TFieldType::ftAutoInc, {fieldtype::Integer, fieldsubtype::AutoInc}},
    {TFieldType::ftWord, {fieldtype::Word, fieldsubtype::None}},
    {TFieldType::ftBoolean, {fieldtype::Boolean, fieldsubtype::None}},
    {TFieldType::ftFloat, {fieldtype::Float, fieldsubtype::None}},
    {TFieldType::ftCurrency, {fieldtype::Float, fieldsubtype::Money}},
    {TFieldType::ftBCD, {fieldtype::Decimal, fieldsubtype::None}},
    {TFieldType::ftDate, {fieldtype::Date, fieldsubtype::None}},
    {TFieldType::ftTime, {fieldtype::Time, fieldsubtype::None}},
    {TFieldType::ftDateTime, {fieldtype::DateTime, fieldsubtype::None}},
    {TFieldType::ftBytes, {fieldtype::Bytes, fieldsubtype::None}},
    {TFieldType::ftVarBytes, {fieldtype::VarBytes, fieldsubtype::None}},
    {TFieldType::ftBlob, {fieldtype::Blob, fieldsubtype::None}},
    {TFieldType::ftMemo, {fieldtype::Blob, fieldsubtype::Memo}},
    {TFieldType::ftGraphic, {fieldtype::Blob, fieldsubtype::Graphic}},
    {TFieldType::ftFmtMemo, {fieldtype::Blob, fieldsubtype::FormattedMemo}},
    {TFieldType::ftTypedBinary, {fieldtype::Blob, fieldsubtype::TypedBinary}},
    {TFieldType::ftParadoxOle, {fieldtype::Blob, fieldsubtype::None}},
    {TFieldType::ftDBaseOle, {fieldtype::Blob, fieldsubtype::None}},
    {TFieldType::ftLargeint, {fieldtype::LargeInt, fieldsubtype::None}},
};

}  // namespace

TEngineFieldType EngineTypeOf(TFieldType type) {
    for (const TypePair& pair : kTypes) {
        if (pair.field == type) return pair.engine;
    }
    return {};
}

TFieldType FieldTypeOf(std::uint8_t type, std::uint8_t subtype) {
    for (const TypePair& pair : kTypes) {
        if (pair.engine.type == type && pair.engine.subtype == subtype) return pair.field;
    }
    // An unknown subtype reads as the plain type.
    for (const TypePair& pair : kTypes) {
        if (pair.engine.type == type && pair.engine.subtype == fieldsubtype::None) return pair.field;
    }
    return TFieldType::ftUnknown;
}

bool IsBlobType(TFieldType type) { return EngineTypeOf(type).type == fieldtype::Blob; }

bool ValidFieldSize(TFieldType type, int size) {
    switch (type) {
        case TFieldType::ftString:
        case TFieldType::ftFixedChar:
        case TFieldType::ftWideString:
        case TFieldType::ftBytes:
        case TFieldType::ftVarBytes:
            return size >= 1 && size <= 250;
        case TFieldType::ftBCD:
            return size >= 0 && size <= 32;
        default:
            return size == 0;
    }
}

}  // namespace pixhold::engine
