#include "CursorFilterKeys.h"

#include <cstring>
#include <limits>

#include "ByteCodec.h"
#include "IndexBytes.h"
#include "Record.h"

namespace pixhold::engine {

namespace {

constexpr std::uint64_t kSign64 = 0x8000000000000000ull;

// The stored bytes of a double back from its key form (see keycodec::PutDouble).
double KeyToDouble(const std::uint8_t* value) {
    std::uint64_t bits = indexbytes::GetBigEndian(value, 8);
    bits = (bits & kSign64) != 0 ? (bits & ~kSign64) : ~bits;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

bool KeyPartDecodable(const KeyPart& part) {
    if (part.autoIncrement) return true;
    switch (part.type) {
        case fieldtype::String:
        case fieldtype::Date:
        case fieldtype::Integer:
        case fieldtype::Time:
        case fieldtype::SmallInt:
        case fieldtype::Boolean:
        case fieldtype::Word:
        case fieldtype::Float:
        case fieldtype::DateTime:
        case fieldtype::LargeInt: return true;
        default: return false;
    }
}

bool TKeyPartReader::ReadField(const FieldDescriptor&, std::uint16_t, std::vector<std::uint8_t>& bytes) const {
    const std::size_t size = part_.keySize + 1u;
    std::uint8_t local[kMaxKeyLength];
    std::memcpy(local, key_, size);
    if (inverted_) {
        const std::size_t n = size - (part_.IsString() ? 1u : 0u);
        for (std::size_t i = 0; i < n; ++i) local[i] = static_cast<std::uint8_t>(~local[i]);
    }
    if (local[0] == 0) return false;
    const std::uint8_t* value = local + 1;
    bytes.clear();
    if (part_.autoIncrement) {
        bytes.resize(4);
        bytes::PutU32(bytes.data(), 0, static_cast<std::uint32_t>(indexbytes::GetBigEndian(value, 4)) ^ 0x80000000u);
        return true;
    }
    switch (part_.type) {
        case fieldtype::String: bytes.assign(value, value + part_.keySize); break;
        case fieldtype::Date:
        case fieldtype::Integer:
        case fieldtype::Time:
            bytes.resize(4);
            bytes::PutU32(bytes.data(), 0, static_cast<std::uint32_t>(indexbytes::GetBigEndian(value, 4)) ^ 0x80000000u);
            break;
        case fieldtype::SmallInt:
            bytes.resize(2);
            bytes::PutU16(bytes.data(), 0, static_cast<std::uint16_t>(indexbytes::GetBigEndian(value, 2) ^ 0x8000u));
            break;
        case fieldtype::Boolean:
        case fieldtype::Word:
            bytes.resize(2);
            bytes::PutU16(bytes.data(), 0, static_cast<std::uint16_t>(indexbytes::GetBigEndian(value, 2)));
            break;
        case fieldtype::Float:
        case fieldtype::DateTime:
            bytes.resize(8);
            bytes::PutF64(bytes.data(), 0, KeyToDouble(value));
            break;
        case fieldtype::LargeInt:
            bytes.resize(8);
            bytes::PutU64(bytes.data(), 0, indexbytes::GetBigEndian(value, 8) ^ kSign64);
            break;
        default: bytes.assign(value, value + part_.keySize); break;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> EncodeKeyPart(const KeyPart& part, const TExpValue& value,
                                                       const TableLocale& locale, bool caseInsensitive) {
    if (value.isNull) return std::nullopt;
    std::vector<std::uint8_t> out(part.keySize + 1u, 0);
    out[0] = 1;
    std::uint8_t* v = out.data() + 1;
    auto fits = [&](std::int64_t low, std::int64_t high) {
        return IsIntegerType(value.type) && value.integer >= low && value.integer <= high;
    };
    const std::uint8_t type = part.autoIncrement ? fieldtype::Integer : part.type;
    switch (type) {
        case fieldtype::String: {
            if (value.type != ExpType::String) return std::nullopt;
            const std::string text = caseInsensitive ? locale.ToUpper(value.text) : value.text;
            if (text.size() + 1 > part.keySize || text.find('\0') != std::string::npos) return std::nullopt;
            std::memcpy(v, text.data(), text.size());
            return out;
        }
        case fieldtype::Integer:
            if (!fits(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()))
                return std::nullopt;
            keycodec::PutInt32(v, static_cast<std::int32_t>(value.integer));
            return out;
        case fieldtype::SmallInt:
            if (!fits(std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()))
                return std::nullopt;
            keycodec::PutInt16(v, static_cast<std::int16_t>(value.integer));
            return out;
        case fieldtype::Word:
            if (!fits(0, 65535)) return std::nullopt;
            keycodec::PutUInt16(v, static_cast<std::uint16_t>(value.integer));
            return out;
        case fieldtype::LargeInt:
            if (!IsIntegerType(value.type)) return std::nullopt;
            keycodec::PutInt64(v, value.integer);
            return out;
        case fieldtype::Date:
            if (value.type != ExpType::Date) return std::nullopt;
            keycodec::PutInt32(v, static_cast<std::int32_t>(value.integer));
            return out;
        case fieldtype::Time:
            if (value.type != ExpType::Time) return std::nullopt;
            keycodec::PutInt32(v, static_cast<std::int32_t>(value.integer));
            return out;
        case fieldtype::Float:
            if (!IsNumericType(value.type)) return std::nullopt;
            keycodec::PutDouble(v, value.AsReal());
            return out;
        case fieldtype::DateTime:
            if (value.type != ExpType::Timestamp) return std::nullopt;
            keycodec::PutDouble(v, value.real);
            return out;
        default: return std::nullopt;
    }
}

bool TRecordImageReader::ReadField(const FieldDescriptor& field, std::uint16_t, std::vector<std::uint8_t>& bytes) const {
    bytes.clear();
    if (field.IsAutoInc()) {
        if (size_ < recordlayout::HeaderSize) return false;
        bytes.resize(4);
        std::memcpy(bytes.data(), image_ + recordlayout::RecordID, 4);
        return true;
    }
    const std::size_t end = static_cast<std::size_t>(field.offset) + 1 + field.physicalSize;
    if (!field.TakesRoom() || field.offset < recordlayout::HeaderSize || end > size_) return false;
    if (image_[field.offset] == 0) return false;
    bytes.assign(image_ + field.offset + 1, image_ + end);
    if (field.type != fieldtype::Blob || !blobLoader_) return true;
    std::vector<std::uint8_t> contents;
    if (!blobLoader_(field, bytes, contents)) return false;
    bytes = std::move(contents);
    return true;
}

}  // namespace pixhold::engine
