#include "RecordBuffer.h"

#include <algorithm>
#include <cstring>

#include "Record.h"

namespace pixhold::engine::recordbuffer {

namespace {

std::uint32_t GetLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool HasSlot(const FieldDescriptor& field) {
    return field.TakesRoom() && field.offset >= recordlayout::HeaderSize;
}

}  // namespace

std::uint32_t RecordID(const std::uint8_t* buffer) { return GetLe32(buffer + recordlayout::RecordID); }

void SetRecordID(std::uint8_t* buffer, std::uint32_t id) { PutLe32(buffer + recordlayout::RecordID, id); }

bool IsPresent(const FieldDescriptor& field, const std::uint8_t* buffer) {
    if (field.IsAutoInc()) return true;
    return HasSlot(field) && buffer[field.offset] != 0;
}

std::span<const std::uint8_t> Value(const FieldDescriptor& field, const std::uint8_t* buffer) {
    if (!HasSlot(field) || buffer[field.offset] == 0) return {};
    return {buffer + field.offset + 1, field.physicalSize};
}

void SetValue(const FieldDescriptor& field, std::uint8_t* buffer, std::span<const std::uint8_t> value) {
    if (!HasSlot(field)) return;
    std::uint8_t* slot = buffer + field.offset;
    const std::size_t n = std::min<std::size_t>(value.size(), field.physicalSize);
    slot[0] = 1;
    if (n > 0) std::memcpy(slot + 1, value.data(), n);
    std::memset(slot + 1 + n, 0, field.physicalSize - n);
}

void SetNull(const FieldDescriptor& field, std::uint8_t* buffer) {
    if (!HasSlot(field)) return;
    std::memset(buffer + field.offset, 0, 1u + field.physicalSize);
}

std::string Text(const FieldDescriptor& field, const std::uint8_t* buffer) {
    const auto value = Value(field, buffer);
    return {value.begin(), std::find(value.begin(), value.end(), std::uint8_t{0})};
}

void SetText(const FieldDescriptor& field, std::uint8_t* buffer, const std::string& text) {
    if (text.empty()) {
        SetNull(field, buffer);
        return;
    }
    const std::size_t room = field.physicalSize > 0 ? field.physicalSize - 1u : 0u;
    SetValue(field, buffer,
             {reinterpret_cast<const std::uint8_t*>(text.data()), std::min(text.size(), room)});
}

BlobSlot GetBlobSlot(const FieldDescriptor& field, const std::uint8_t* buffer) {
    if (!HasSlot(field) || field.physicalSize < 8) return {};
    const std::uint8_t* p = buffer + field.offset + 1;
    return {GetLe32(p), GetLe32(p + 4)};
}

void SetBlobSlot(const FieldDescriptor& field, std::uint8_t* buffer, const BlobSlot& slot) {
    if (!HasSlot(field) || field.physicalSize < 8) return;
    std::uint8_t* p = buffer + field.offset;
    p[0] = slot.firstBlock != 0 ? 1 : 0;
    PutLe32(p + 1, slot.firstBlock);
    PutLe32(p + 5, slot.firstBlock != 0 ? slot.ownerID : 0);
}

}  // namespace pixhold::engine::recordbuffer
