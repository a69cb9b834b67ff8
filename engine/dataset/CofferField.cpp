#include "CofferField.h"

#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>

#include "ByteCodec.h"
#include "CofferBlobStream.h"
#include "CofferDataSet.h"
#include "DatasetError.h"
#include "DataTable.h"
#include "Record.h"
#include "TableLocale.h"
#include "TextCase.h"
#include "ValueText.h"

namespace pixhold::engine {

namespace {

std::int64_t ParseInteger(const std::string& text, const std::string& field) {
    std::int64_t value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin < end && *begin == ' ') ++begin;
    while (end > begin && end[-1] == ' ') --end;
    if (begin < end && *begin == '+') ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end) RaiseDatasetError(dserr::InvalidValue, text, field);
    return value;
}

}  // namespace

TField::TField(TCofferDataSet& dataset, const FieldDescriptor& descriptor, std::string name)
    : dataset_(dataset), descriptor_(descriptor), name_(std::move(name)),
      type_(FieldTypeOf(descriptor.type, descriptor.subtype)) {
    DisplayLabel = name_;
}

int TField::Size() const {
    if (type_ == TFieldType::ftBCD) return descriptor_.decimals;
    return TypeHasDeclaredSize(descriptor_.type) ? descriptor_.size : 0;
}

bool TField::Stored(std::vector<std::uint8_t>& value) const {
    value.clear();
    const std::uint8_t* buffer = dataset_.ActiveBuffer();
    if (buffer == nullptr) return false;
    if (descriptor_.IsAutoInc()) {
        // The record identifier is the value.
        value.assign(buffer + recordlayout::RecordID, buffer + recordlayout::RecordID + 4);
        return true;
    }
    if (!descriptor_.TakesRoom() || buffer[descriptor_.offset] == 0) return false;
    value.assign(buffer + descriptor_.offset + 1, buffer + descriptor_.offset + 1 + descriptor_.physicalSize);
    return true;
}

void TField::CheckWritable() const {
    dataset_.CheckActive();
    const TDataSetState state = dataset_.State();
    if (!dataset_.Editing() && state != TDataSetState::dsSetKey && state != TDataSetState::dsFilter) {
        RaiseDatasetError(dserr::NotEditing);
    }
    if (state != TDataSetState::dsSetKey && (ReadOnly() || !dataset_.CanModify())) {
        RaiseDatasetError(dserr::FieldReadOnly, name_);
    }
}

void TField::Store(const std::uint8_t* value, std::size_t length) {
    std::uint8_t* buffer = dataset_.ActiveBuffer();
    std::uint8_t* slot = buffer + descriptor_.offset;
    std::memset(slot, 0, 1u + descriptor_.physicalSize);
    if (value == nullptr) return;
    slot[0] = 1;
    std::memcpy(slot + 1, value, std::min<std::size_t>(length, descriptor_.physicalSize));
}

bool TField::IsNull() const {
    std::vector<std::uint8_t> stored;
    return !Stored(stored);
}

std::string TField::AsString() const {
    if (IsBlob()) {
        const std::vector<std::uint8_t> bytes = AsBytes();
        return std::string(bytes.begin(), bytes.end());
    }
    std::vector<std::uint8_t> stored;
    if (!Stored(stored)) return {};
    switch (descriptor_.type) {
        case fieldtype::String: {
            const auto* chars = reinterpret_cast<const char*>(stored.data());
            return std::string(chars, strnlen(chars, stored.size()));
        }
        case fieldtype::Bytes:
        case fieldtype::VarBytes:
            return std::string(stored.begin(), stored.end());
        case fieldtype::Boolean:
            return stored[0] != 0 ? "True" : "False";
        case fieldtype::SmallInt:
        case fieldtype::Integer:
        case fieldtype::Word:
        case fieldtype::LargeInt:
            return std::to_string(AsInteger());
        default:
            return StoredToValueText(descriptor_.type, stored);
    }
}

void TField::SetAsString(const std::string& value) {
    CheckWritable();
    if (IsBlob()) {
        SetAsBytes(std::vector<std::uint8_t>(value.begin(), value.end()));
        return;
    }
    switch (descriptor_.type) {
        case fieldtype::String: {
            // Trailing blanks go, the field's letter case applies, an empty
            // text is null and a long one is cut to the field's size.
            std::string text = value.substr(0, value.find('\0'));
            text.erase(text.find_last_not_of(' ') + 1);
            if (!text.empty() && descriptor_.characterCase != charcase::AsGiven && dataset_.HasHandle()) {
                const TableLocale& locale = dataset_.Handle().Table().DataFile().Locale();
                text = descriptor_.characterCase == charcase::Lower ? locale.ToLower(text) : locale.ToUpper(text);
            }
            if (text.empty()) {
                Store(nullptr, 0);
                return;
            }
            text = CutUtf8(std::move(text), descriptor_.size);
            Store(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
            return;
        }
        case fieldtype::Bytes:
        case fieldtype::VarBytes:
            Store(value.empty() ? nullptr : reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
            return;
        case fieldtype::SmallInt:
        case fieldtype::Integer:
        case fieldtype::Word:
        case fieldtype::LargeInt:
            if (value.find_first_not_of(' ') == std::string::npos) {
                Store(nullptr, 0);
            } else {
                SetAsInteger(ParseInteger(value, name_));
            }
            return;
        default: {
            const auto stored = ValueTextToStored(descriptor_.type, descriptor_.physicalSize, value);
            if (stored) {
                Store(stored->data(), stored->size());
            } else {
                Store(nullptr, 0);
            }
            return;
        }
    }
}

std::int64_t TField::AsInteger() const {
    std::vector<std::uint8_t> stored;
    if (!Stored(stored)) return 0;
    switch (descriptor_.type) {
        case fieldtype::SmallInt:
            return static_cast<std::int16_t>(bytes::GetU16(stored.data(), 0));
        case fieldtype::Word:
        case fieldtype::Boolean:
            return bytes::GetU16(stored.data(), 0);
        case fieldtype::Integer:
            return static_cast<std::int32_t>(bytes::GetU32(stored.data(), 0));
        case fieldtype::LargeInt:
            return static_cast<std::int64_t>(bytes::GetU64(stored.data(), 0));
        default:
            return ParseInteger(AsString(), name_);
    }
}

void TField::SetAsInteger(std::int64_t value) {
    CheckWritable();
    std::uint8_t stored[8] = {};
    const std::string text = std::to_string(value);
    switch (descriptor_.type) {
        case fieldtype::SmallInt:
            if (value < -32768 || value > 32767) RaiseDatasetError(dserr::InvalidValue, text, name_);
            bytes::PutU16(stored, 0, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
            Store(stored, 2);
            return;
        case fieldtype::Word:
            if (value < 0 || value > 65535) RaiseDatasetError(dserr::InvalidValue, text, name_);
            bytes::PutU16(stored, 0, static_cast<std::uint16_t>(value));
            Store(stored, 2);
            return;
        case fieldtype::Integer:
            if (value < INT32_MIN || value > INT32_MAX) RaiseDatasetError(dserr::InvalidValue, text, name_);
            bytes::PutU32(stored, 0, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
            Store(stored, 4);
            return;
        case fieldtype::LargeInt:
            bytes::PutU64(stored, 0, static_cast<std::uint64_t>(value));
            Store(stored, 8);
            return;
        case fieldtype::Boolean:
            SetAsBoolean(value != 0);
            return;
        default:
            SetAsString(text);
            return;
    }
}

bool TField::AsBoolean() const {
    std::vector<std::uint8_t> stored;
    if (!Stored(stored)) return false;
    if (descriptor_.type == fieldtype::Boolean) return stored[0] != 0;
    return AsInteger() != 0;
}

void TField::SetAsBoolean(bool value) {
    CheckWritable();
    if (descriptor_.type != fieldtype::Boolean) {
        SetAsInteger(value ? 1 : 0);
        return;
    }
    const std::uint8_t stored[2] = {static_cast<std::uint8_t>(value ? 1 : 0), 0};
    Store(stored, 2);
}

void TField::Clear() {
    CheckWritable();
    if (IsBlob()) {
        SetAsBytes({});
        return;
    }
    Store(nullptr, 0);
}

std::vector<std::uint8_t> TField::AsBytes() const {
    if (!IsBlob()) {
        std::vector<std::uint8_t> stored;
        Stored(stored);
        return stored;
    }
    if (IsNull()) return {};
    TCofferBlobStream stream(const_cast<TField&>(*this), TBlobStreamMode::bmRead);
    return stream.ReadAll();
}

void TField::SetAsBytes(const std::vector<std::uint8_t>& value) {
    if (!IsBlob()) {
        CheckWritable();
        Store(value.empty() ? nullptr : value.data(), value.size());
        return;
    }
    TCofferBlobStream stream(*this, TBlobStreamMode::bmWrite);
    stream.WriteAll(value);
}

void TField::LoadFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw EDatasetError("Cannot open file \"" + path + "\"");
    SetAsBytes(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

void TField::SaveToFile(const std::string& path) const {
    const std::vector<std::uint8_t> bytes = AsBytes();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw EDatasetError("Cannot create file \"" + path + "\"");
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace pixhold::engine
