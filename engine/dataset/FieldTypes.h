#pragma once

#include <cstdint>
#include <string>

namespace pixhold::engine {

// The dataset's field types. Each maps to one (type, subtype) pair of the data
// file's field descriptors.
enum class TFieldType : std::uint8_t {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftFixedChar,
    ftWideString,
    ftLargeint,
};

struct TEngineFieldType {
    std::uint8_t type = 0;
    std::uint8_t subtype = 0;
};

// ftUnknown maps to type 0 (invalid).
TEngineFieldType EngineTypeOf(TFieldType type);
// The dataset type of a stored (type, subtype); ftUnknown when none fits.
TFieldType FieldTypeOf(std::uint8_t type, std::uint8_t subtype);
bool IsBlobType(TFieldType type);
// String types take a size of 1 to 250, decimals 0 to 32, every other type 0.
bool ValidFieldSize(TFieldType type, int size);

}  // namespace pixhold::engine
