#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "DataFile.h"
#include "IndexHeader.h"

struct UCollator;

namespace pixhold::engine {

class TableLocale;

inline constexpr std::size_t kMaxKeyLength = kMaxKeyFieldBytes + 4;  // 526 with the record identifier

// Bytes a field's value takes in a key: the physical size, except a decimal,
// which is kept as an 8-byte fixed-point number.
std::uint16_t KeySizeOf(const FieldDescriptor& field);

// One field of an index as its keys see it.
struct KeyPart {
    std::uint16_t fieldNumber = 0;
    std::uint8_t type = 0;
    std::uint8_t subtype = 0;
    std::uint16_t keySize = 0;       // value bytes after the null flag
    std::uint16_t recordOffset = 0;  // of the field's null flag in the record
    bool descending = false;         // the field's own flag
    bool autoIncrement = false;      // the value is the record identifier
    bool IsString() const { return type == fieldtype::String; }
};

// How the keys of one index are laid out: the parts in field order, each a
// null flag and the value, then, when the index is not unique, the record
// identifier. "Sys Deleted" and "Sys Text" have fixed layouts of their own.
struct TKeyLayout {
    enum class Kind { Fields, Deleted, Text };
    Kind kind = Kind::Fields;
    std::vector<KeyPart> parts;
    bool unique = true;
    bool descending = false;
    bool caseInsensitive = false;
    std::uint16_t keyLength = 0;

    // Σ (key size + 1) over the parts.
    int FieldBytes() const;
    // The layout of slot `slot` of the header, with the table's fields (field
    // n is fields[n − 1]). Field numbers that name no field are left out.
    static TKeyLayout For(const IndexDescriptor& slot, int slotNumber, const std::vector<FieldDescriptor>& fields);
};

// The big-endian sortable encodings of single values (byte order = value order).
namespace keycodec {
void PutInt16(std::uint8_t* out, std::int16_t v);
void PutInt32(std::uint8_t* out, std::int32_t v);
void PutInt64(std::uint8_t* out, std::int64_t v);
void PutUInt16(std::uint8_t* out, std::uint16_t v);
void PutDouble(std::uint8_t* out, double v);
// The stored packed decimal (precision, sign-and-scale, 32 bytes of digits)
// as value × 10000, rounded half away from zero, saturating at the int64 range.
std::int64_t DecimalToFixed4(const std::uint8_t* packed);
}  // namespace keycodec

// Builds keys from record images.
class TKeyBuilder {
public:
    // `locale` upper-cases the string parts of a case-insensitive index and
    // must outlive the builder; `languageZero` is whether the table's language
    // identifier is 0, which is when descending fields are stored inverted.
    TKeyBuilder(const TKeyLayout& layout, const TableLocale& locale, bool languageZero);

    // The key of `record` (record size bytes) into `key` (the layout's key
    // length). Text index keys are made word by word by their maintainer; for
    // that layout the key stays zero.
    void Build(const std::uint8_t* record, std::uint8_t* key) const;
    std::vector<std::uint8_t> Build(const std::uint8_t* record) const;
    // The "Sys Deleted" key: status byte and the encoded record identifier.
    static void BuildDeletedKey(std::uint8_t status, std::uint32_t recordID, std::uint8_t* key);

private:
    void BuildPart(const KeyPart& part, const std::uint8_t* record, std::uint8_t* out) const;

    const TKeyLayout& layout_;
    const TableLocale& locale_;
    bool languageZero_;
};

// Compares keys of one index: −1, 0 or 1. With the table's
// language identifier 0 keys compare as unsigned bytes (negated for a
// descending index); otherwise part by part, string parts by the locale's
// collation ignoring non-spacing marks but distinguishing case.
class TKeyComparer {
public:
    // `tableLocale` is the table's language and sort identifiers (0 = none).
    TKeyComparer(const TKeyLayout& layout, std::uint32_t tableLocale);
    ~TKeyComparer();
    TKeyComparer(const TKeyComparer&) = delete;
    TKeyComparer& operator=(const TKeyComparer&) = delete;

    int CompareKeys(const std::uint8_t* a, const std::uint8_t* b) const;
    // Compares only the first `length` bytes (partial keys of searches and ranges).
    int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const;
    std::uint16_t KeyLength() const { return layout_.keyLength; }
    const TKeyLayout& Layout() const { return layout_; }

    // Locale comparison of two texts of at most `size` bytes each (ending at
    // the first zero byte).
    int CompareText(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) const;

private:
    TKeyLayout layout_;
    bool bytewise_;
    UCollator* collator_ = nullptr;
};

}  // namespace pixhold::engine
