#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "DataFile.h"

namespace pixhold::engine {

// Reading and writing the fields of a cursor's record buffer: the record
// image of the table (record header, then each field's presence byte and
// value at the offset its descriptor names). No type rules are applied here
// beyond cutting or padding a value to the field's size; an auto-increment
// field is the record identifier.
namespace recordbuffer {

std::uint32_t RecordID(const std::uint8_t* buffer);
void SetRecordID(std::uint8_t* buffer, std::uint32_t id);

bool IsPresent(const FieldDescriptor& field, const std::uint8_t* buffer);
// The stored bytes (physical size), or an empty span for an absent field.
std::span<const std::uint8_t> Value(const FieldDescriptor& field, const std::uint8_t* buffer);
void SetValue(const FieldDescriptor& field, std::uint8_t* buffer, std::span<const std::uint8_t> value);
void SetNull(const FieldDescriptor& field, std::uint8_t* buffer);

// Strings: the text up to its first zero byte; SetText stores an empty text
// as absent and cuts a longer one to the field.
std::string Text(const FieldDescriptor& field, const std::uint8_t* buffer);
void SetText(const FieldDescriptor& field, std::uint8_t* buffer, const std::string& text);

// A BLOB field's slot: its first block (0 for none) and owner identifier.
// While the BLOB is open in a cursor the block part holds the negated handle.
struct BlobSlot {
    std::uint32_t firstBlock = 0;
    std::uint32_t ownerID = 0;
};
BlobSlot GetBlobSlot(const FieldDescriptor& field, const std::uint8_t* buffer);
void SetBlobSlot(const FieldDescriptor& field, std::uint8_t* buffer, const BlobSlot& slot);

}  // namespace recordbuffer

}  // namespace pixhold::engine
