#include "FieldValues.h"

#include <cmath>
#include <cstring>

#include "ByteCodec.h"
#include "Json.h"
#include "Record.h"
#include "Sha256.h"
#include "ToolError.h"
#include "ValueText.h"

namespace pixhold::tools {

using namespace engine;

namespace {

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

}  // namespace

void PutFieldText(const FieldDescriptor& field, const std::string& text, const TableLocale& locale,
                  std::vector<std::uint8_t>& record) {
    if (field.IsAutoInc())
        throw ToolError("field " + field.name + " is an auto-increment field: its value is the record identifier");
    if (field.type == fieldtype::Blob) throw ToolError("field " + field.name + " is a BLOB field");
    if (!field.TakesRoom()) throw ToolError("field " + field.name + " is read-only");
    std::uint8_t* slot = record.data() + field.offset;
    std::memset(slot, 0, field.physicalSize + 1u);
    if (field.type == fieldtype::String) {
        std::string value = text;
        while (!value.empty() && value.back() == ' ') value.pop_back();
        if (field.characterCase == charcase::Upper) value = locale.ToUpper(value);
        else if (field.characterCase == charcase::Lower) value = locale.ToLower(value);
        if (value.find('\0') != std::string::npos) throw ToolError("field " + field.name + ": text holds a NUL byte");
        // Room for the text and its terminating zero.
        if (value.size() + 1 > field.physicalSize)
            throw ToolError("field " + field.name + " holds at most " + std::to_string(field.physicalSize - 1) +
                            " bytes, the value has " + std::to_string(value.size()));
        if (value.empty()) return;
        slot[0] = 1;
        std::memcpy(slot + 1, value.data(), value.size());
        return;
    }
    if (text.empty()) return;
    std::optional<std::vector<std::uint8_t>> stored;
    try {
        stored = ValueTextToStored(field.type, field.physicalSize, text);
    } catch (const EConvertError& e) {
        throw ToolError("field " + field.name + ": " + e.what());
    }
    if (!stored) return;
    slot[0] = 1;
    std::memcpy(slot + 1, stored->data(), std::min<std::size_t>(stored->size(), field.physicalSize));
}

std::string FieldJson(const FieldDescriptor& field, const TExpRecordReader& record) {
    std::vector<std::uint8_t> stored;
    if (!record.ReadField(field, static_cast<std::uint16_t>(field.number), stored)) return "null";
    if (field.IsAutoInc()) return std::to_string(bytes::GetU32(stored.data(), 0));
    // The open checked every size against the type; a value of another size
    // is not read by the type's rules.
    if (field.type != fieldtype::Blob && stored.size() != PhysicalSizeOf(field.type, field.size))
        return JsonString(HexOf(stored));
    switch (field.type) {
        case fieldtype::Blob:
            return "{\"length\":" + std::to_string(stored.size()) + ",\"sha256\":\"" +
                   Sha256::Hex(stored.data(), stored.size()) + "\"}";
        case fieldtype::Boolean: return bytes::GetU16(stored.data(), 0) != 0 ? "true" : "false";
        case fieldtype::SmallInt:
        case fieldtype::Integer:
        case fieldtype::Word:
        case fieldtype::LargeInt:
        case fieldtype::Decimal: return StoredToValueText(field.type, stored);
        case fieldtype::Float: {
            const double value = bytes::GetF64(stored.data(), 0);
            // JSON has no NaN or infinity: such a value is shown as text.
            if (!std::isfinite(value)) return JsonString(std::isnan(value) ? "NaN" : value > 0 ? "Infinity" : "-Infinity");
            return StoredToValueText(field.type, stored);
        }
        case fieldtype::Bytes:
        case fieldtype::VarBytes: return JsonString(HexOf(stored));
        case fieldtype::String:
        case fieldtype::Date:
        case fieldtype::Time:
        case fieldtype::DateTime: return JsonString(StoredToValueText(field.type, stored));
        default: return JsonString(HexOf(stored));
    }
}

std::string RecordJson(const std::vector<FieldDescriptor>& fields, const TExpRecordReader& record) {
    std::string json = "{";
    for (const FieldDescriptor& f : fields) {
        if (json.size() > 1) json += ',';
        json += JsonString(f.name);
        json += ':';
        json += FieldJson(f, record);
    }
    json += '}';
    return json;
}

}  // namespace pixhold::tools
