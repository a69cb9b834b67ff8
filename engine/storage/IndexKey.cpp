#include "IndexKey.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <unicode/ucol.h>

#include "IndexBytes.h"
#include "TableLocale.h"
#include "TextCase.h"

namespace pixhold::engine {

namespace {

int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    const int r = n == 0 ? 0 : std::memcmp(a, b, n);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

std::uint32_t RecordID(const std::uint8_t* record) {
    return indexbytes::GetU32(record + recordlayout::RecordID);
}

// Text index key: 3 bytes, a 61-byte word, 4 bytes.
constexpr std::size_t kTextWordAt = 3;
constexpr std::size_t kTextWordSize = 61;

}  // namespace

std::uint16_t KeySizeOf(const FieldDescriptor& field) {
    switch (field.type) {
        case fieldtype::String: return static_cast<std::uint16_t>(field.size + 1);
        case fieldtype::Date:
        case fieldtype::Integer:
        case fieldtype::Time:
        case fieldtype::Type13: return 4;
        case fieldtype::Boolean:
        case fieldtype::SmallInt:
        case fieldtype::Word: return 2;
        case fieldtype::Blob:
        case fieldtype::Float:
        case fieldtype::DateTime:
        case fieldtype::LargeInt:
        case fieldtype::Decimal: return 8;
        case fieldtype::Type14: return 10;
        default: return field.size;
    }
}

// ---- layout -------------------------------------------------------------------

int TKeyLayout::FieldBytes() const {
    int sum = 0;
    for (const KeyPart& p : parts) sum += p.keySize + 1;
    return sum;
}

TKeyLayout TKeyLayout::For(const IndexDescriptor& slot, int slotNumber, const std::vector<FieldDescriptor>& fields) {
    TKeyLayout layout;
    layout.unique = slot.unique;
    layout.descending = slot.descending;
    layout.caseInsensitive = slot.caseInsensitive;
    layout.keyLength = slot.keyLength;
    if (slotNumber == kDeletedSlot) {
        layout.kind = Kind::Deleted;
        layout.keyLength = kDeletedKeyLength;
        return layout;
    }
    if (slotNumber == kTextSlot) layout.kind = Kind::Text;
    const int count = std::min<int>(slot.fieldCount, kMaxIndexFields);
    for (int i = 0; i < count; ++i) {
        const std::uint16_t number = slot.fieldNumbers[i];
        if (number == 0 || number > fields.size()) continue;
        const FieldDescriptor& f = fields[number - 1];
        KeyPart part;
        part.fieldNumber = number;
        part.type = f.type;
        part.subtype = f.subtype;
        part.keySize = KeySizeOf(f);
        part.recordOffset = f.offset;
        part.descending = slot.fieldDescending[i] != 0;
        part.autoIncrement = f.IsAutoInc();
        layout.parts.push_back(part);
    }
    if (layout.kind == Kind::Text) layout.keyLength = kTextKeyLength;
    return layout;
}

// ---- value encodings ----------------------------------------------------------

namespace keycodec {

void PutInt16(std::uint8_t* out, std::int16_t v) {
    indexbytes::PutBigEndian(out, static_cast<std::uint16_t>(v) ^ 0x8000u, 2);
}
void PutInt32(std::uint8_t* out, std::int32_t v) {
    indexbytes::PutBigEndian(out, static_cast<std::uint32_t>(v) ^ 0x80000000u, 4);
}
void PutInt64(std::uint8_t* out, std::int64_t v) {
    indexbytes::PutBigEndian(out, static_cast<std::uint64_t>(v) ^ 0x8000000000000000ull, 8);
}
void PutUInt16(std::uint8_t* out, std::uint16_t v) { indexbytes::PutBigEndian(out, v, 2); }

void PutDouble(std::uint8_t* out, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    // Non-negative values get the sign bit set; negative ones are inverted whole,
    // so that the more negative sorts first.
    bits = v >= 0 ? (bits | 0x8000000000000000ull) : ~bits;
    indexbytes::PutBigEndian(out, bits, 8);
}

std::int64_t DecimalToFixed4(const std::uint8_t* packed) {
    constexpr int kMaxDigits = 64;
    const int precision = std::min<int>(packed[0], kMaxDigits);
    if (precision == 0) return 0;  // an empty decimal
    const bool negative = (packed[1] & 0x80) != 0;
    const int scale = std::min<int>(packed[1] & 0x3F, precision);
    auto digit = [&](int i) -> std::uint64_t {
        if (i >= precision) return 0;
        const std::uint8_t b = packed[2 + i / 2];
        const int d = (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
        return static_cast<std::uint64_t>(std::min(d, 9));
    };
    const int integerDigits = precision - scale;
    constexpr std::uint64_t kLimit = std::numeric_limits<std::uint64_t>::max() / 10 - 9;
    std::uint64_t acc = 0;
    bool overflow = false;
    auto push = [&](std::uint64_t d) {
        if (acc > kLimit) overflow = true;
        else acc = acc * 10 + d;
    };
    for (int i = 0; i < integerDigits; ++i) push(digit(i));
    for (int j = 0; j < 4; ++j) push(j < scale ? digit(integerDigits + j) : 0);
    if (scale > 4 && digit(integerDigits + 4) >= 5) ++acc;  // half away from zero
    constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (overflow || acc > kMaxPositive + 1) return std::numeric_limits<std::int64_t>::min();
        return acc == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(acc);
    }
    if (overflow || acc > kMaxPositive) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(acc);
}

}  // namespace keycodec

// ---- building -------------------------------------------------------------------

TKeyBuilder::TKeyBuilder(const TKeyLayout& layout, const TableLocale& locale, bool languageZero)
    : layout_(layout), locale_(locale), languageZero_(languageZero) {}

std::vector<std::uint8_t> TKeyBuilder::Build(const std::uint8_t* record) const {
    std::vector<std::uint8_t> key(layout_.keyLength, 0);
    Build(record, key.data());
    return key;
}

void TKeyBuilder::BuildDeletedKey(std::uint8_t status, std::uint32_t recordID, std::uint8_t* key) {
    key[0] = status;
    keycodec::PutInt32(key + 1, static_cast<std::int32_t>(recordID));
}

void TKeyBuilder::Build(const std::uint8_t* record, std::uint8_t* key) const {
    std::memset(key, 0, layout_.keyLength);
    if (layout_.kind == TKeyLayout::Kind::Deleted) {
        BuildDeletedKey(record[recordlayout::Status], RecordID(record), key);
        return;
    }
    if (layout_.kind == TKeyLayout::Kind::Text) return;  // text keys are made word by word, not from a record
    std::size_t at = 0;
    for (const KeyPart& part : layout_.parts) {
        if (at + part.keySize + 1u > layout_.keyLength) break;  // a damaged layout never writes past the key
        BuildPart(part, record, key + at);
        at += part.keySize + 1u;
    }
    if (!layout_.unique && layout_.keyLength >= 4 && at + 4 <= layout_.keyLength)
        keycodec::PutInt32(key + layout_.keyLength - 4, static_cast<std::int32_t>(RecordID(record)));
}

void TKeyBuilder::BuildPart(const KeyPart& part, const std::uint8_t* record, std::uint8_t* out) const {
    std::uint8_t* value = out + 1;
    const std::uint8_t* stored = record + part.recordOffset + 1;
    bool present;
    if (part.autoIncrement) {
        present = true;
        keycodec::PutInt32(value, static_cast<std::int32_t>(RecordID(record)));
    } else {
        present = record[part.recordOffset] != 0;
    }
    if (present && !part.autoIncrement) {
        using namespace indexbytes;
        switch (part.type) {
            case fieldtype::String: {
                const std::size_t room = part.keySize - 1u;  // the last byte is the terminator
                std::size_t length = 0;
                while (length < room && stored[length] != 0) ++length;
                if (layout_.caseInsensitive) {
                    const std::string upper =
                        locale_.ToUpper(std::string_view(reinterpret_cast<const char*>(stored), length));
                    std::memcpy(value, upper.data(), Utf8CutLength(upper, room));
                } else {
                    std::memcpy(value, stored, length);
                }
                break;
            }
            case fieldtype::Date:
            case fieldtype::Integer:
            case fieldtype::Time: keycodec::PutInt32(value, GetI32(stored)); break;
            case fieldtype::SmallInt: keycodec::PutInt16(value, static_cast<std::int16_t>(GetU16(stored))); break;
            case fieldtype::Boolean:
            case fieldtype::Word: keycodec::PutUInt16(value, GetU16(stored)); break;
            case fieldtype::Float:
            case fieldtype::DateTime: {
                std::uint64_t bits = static_cast<std::uint64_t>(GetU32(stored)) |
                                     (static_cast<std::uint64_t>(GetU32(stored + 4)) << 32);
                double v;
                std::memcpy(&v, &bits, sizeof v);
                keycodec::PutDouble(value, v);
                break;
            }
            case fieldtype::Decimal: keycodec::PutInt64(value, keycodec::DecimalToFixed4(stored)); break;
            case fieldtype::LargeInt: {
                const std::uint64_t v = static_cast<std::uint64_t>(GetU32(stored)) |
                                        (static_cast<std::uint64_t>(GetU32(stored + 4)) << 32);
                keycodec::PutInt64(value, static_cast<std::int64_t>(v));
                break;
            }
            default: std::memcpy(value, stored, part.keySize); break;  // bytes: raw
        }
    }
    out[0] = present ? 1 : 0;
    // With no table language, descending fields are stored inverted so that
    // plain byte order still sorts them; a descending index instead reverses
    // the comparison of whole keys.
    if (languageZero_ && part.descending && !layout_.descending) {
        const std::size_t n = part.keySize + 1u - (part.IsString() ? 1u : 0u);
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
    }
}

// ---- comparing --------------------------------------------------------------------

TKeyComparer::TKeyComparer(const TKeyLayout& layout, std::uint32_t tableLocale) : layout_(layout) {
    const bool languageZero = (tableLocale & 0xFFFF) == 0;
    bytewise_ = layout_.kind == TKeyLayout::Kind::Deleted ||
                (languageZero && layout_.kind == TKeyLayout::Kind::Fields);
    if (bytewise_) return;
    const std::uint32_t locale = languageZero ? datafile::kDefaultLocale : tableLocale;
    std::string name = TableLocale::IcuName(locale);
    UErrorCode status = U_ZERO_ERROR;
    collator_ = ucol_open(name.c_str(), &status);
    if (U_FAILURE(status) || collator_ == nullptr) {
        status = U_ZERO_ERROR;
        collator_ = ucol_open("", &status);  // the root collation
    }
    // Accents (non-spacing marks) are ignored, letter case is not.
    ucol_setStrength(collator_, UCOL_PRIMARY);
    ucol_setAttribute(collator_, UCOL_CASE_LEVEL, UCOL_ON, &status);
}

TKeyComparer::~TKeyComparer() {
    if (collator_ != nullptr) ucol_close(collator_);
}

int TKeyComparer::CompareText(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) const {
    const auto la = static_cast<std::int32_t>(strnlen(reinterpret_cast<const char*>(a), size));
    const auto lb = static_cast<std::int32_t>(strnlen(reinterpret_cast<const char*>(b), size));
    if (collator_ == nullptr) {
        const int r = CompareBytes(a, b, static_cast<std::size_t>(std::min(la, lb)));
        return r != 0 ? r : (la < lb ? -1 : (la > lb ? 1 : 0));
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(collator_, reinterpret_cast<const char*>(a), la,
                                                reinterpret_cast<const char*>(b), lb, &status);
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

int TKeyComparer::CompareKeys(const std::uint8_t* a, const std::uint8_t* b) const {
    return CompareKeys(a, b, layout_.keyLength);
}

int TKeyComparer::CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const {
    const std::size_t end = std::min<std::size_t>(length, layout_.keyLength);
    if (layout_.kind == TKeyLayout::Kind::Deleted) return CompareBytes(a, b, end);
    if (bytewise_) {
        const int r = CompareBytes(a, b, end);
        return layout_.descending ? -r : r;
    }
    if (layout_.kind == TKeyLayout::Kind::Text) {
        int r = CompareBytes(a, b, std::min(end, kTextWordAt));
        if (r == 0 && end > kTextWordAt)
            r = CompareText(a + kTextWordAt, b + kTextWordAt, std::min(end, kTextWordAt + kTextWordSize) - kTextWordAt);
        if (r == 0 && end > kTextWordAt + kTextWordSize)
            r = CompareBytes(a + kTextWordAt + kTextWordSize, b + kTextWordAt + kTextWordSize,
                             end - kTextWordAt - kTextWordSize);
        return r;
    }
    std::size_t at = 0;
    for (const KeyPart& part : layout_.parts) {
        if (at >= end) return 0;
        const std::size_t size = part.keySize + 1u;
        const std::size_t n = std::min(size, end - at);
        int r;
        if (part.IsString()) {
            r = CompareBytes(a + at, b + at, 1);
            if (r == 0 && n > 1) r = CompareText(a + at + 1, b + at + 1, n - 1);
        } else {
            r = CompareBytes(a + at, b + at, n);
        }
        if (r != 0) return (layout_.descending || part.descending) ? -r : r;
        at += size;
    }
    if (at < end) {
        const int r = CompareBytes(a + at, b + at, end - at);
        return layout_.descending ? -r : r;
    }
    return 0;
}

}  // namespace pixhold::engine
