#include <algorithm>
#include <cstring>

#include "ByteCodec.h"
#include "DataFile.h"

namespace pixhold::engine {

using namespace bytes;

std::uint16_t PhysicalSizeOf(std::uint8_t type, std::uint8_t declaredSize) {
    switch (type) {
        case fieldtype::String: return static_cast<std::uint16_t>(declaredSize + 1);
        case fieldtype::Date:
        case fieldtype::Integer:
        case fieldtype::Time:
        case fieldtype::Type13: return 4;
        case fieldtype::Blob:
        case fieldtype::Float:
        case fieldtype::DateTime:
        case fieldtype::LargeInt: return 8;
        case fieldtype::Boolean:
        case fieldtype::SmallInt:
        case fieldtype::Word: return 2;
        case fieldtype::Decimal: return 34;
        case fieldtype::Type14: return 10;
        default: return declaredSize;
    }
}

bool TypeHasDeclaredSize(std::uint8_t type) {
    return type == fieldtype::String || type == fieldtype::Bytes || type == fieldtype::VarBytes;
}

bool KnownFieldType(std::uint8_t type) {
    return (type >= fieldtype::String && type <= fieldtype::VarBytes) || type == fieldtype::LargeInt;
}

// ---- field descriptor -------------------------------------------------------

namespace {
namespace fd {
constexpr std::size_t Number = 0;
constexpr std::size_t Name = 2;
constexpr std::size_t Description = 33;
constexpr std::size_t Type = 84;
constexpr std::size_t Subtype = 85;
constexpr std::size_t Size = 86;
constexpr std::size_t Decimals = 87;
constexpr std::size_t PhysicalSize = 88;
constexpr std::size_t PhysicalDecimals = 89;
constexpr std::size_t Offset = 90;
constexpr std::size_t Required = 92;
constexpr std::size_t CharacterCase = 93;
constexpr std::size_t Minimum = 94;
constexpr std::size_t Maximum = 145;
constexpr std::size_t Default = 196;
constexpr std::size_t ReadOnly = 247;
}  // namespace fd
}  // namespace

FieldDescriptor FieldDescriptor::Decode(const std::uint8_t* b) {
    constexpr std::size_t end = datafile::kDescriptorSize;
    FieldDescriptor f;
    f.number = GetI16(b, fd::Number);
    f.name = GetText(b, fd::Name, end);
    f.description = GetText(b, fd::Description, end);
    f.type = GetU8(b, fd::Type);
    f.subtype = GetU8(b, fd::Subtype);
    f.size = GetU8(b, fd::Size);
    f.decimals = GetU8(b, fd::Decimals);
    f.physicalSize = GetU8(b, fd::PhysicalSize);
    f.physicalDecimals = GetU8(b, fd::PhysicalDecimals);
    f.offset = GetU16(b, fd::Offset);
    f.required = GetU8(b, fd::Required);
    f.characterCase = GetU8(b, fd::CharacterCase);
    f.minimum = GetText(b, fd::Minimum, end);
    f.maximum = GetText(b, fd::Maximum, end);
    f.defaultValue = GetText(b, fd::Default, end);
    f.readOnly = GetU8(b, fd::ReadOnly);
    return f;
}

void FieldDescriptor::Encode(std::uint8_t* b) const {
    std::memset(b, 0, datafile::kDescriptorSize);
    PutI16(b, fd::Number, number);
    PutText(b, fd::Name, datafile::kFieldNameLength, name);
    PutText(b, fd::Description, datafile::kDescriptionLength, description);
    PutU8(b, fd::Type, type);
    PutU8(b, fd::Subtype, subtype);
    PutU8(b, fd::Size, size);
    PutU8(b, fd::Decimals, decimals);
    PutU8(b, fd::PhysicalSize, physicalSize);
    PutU8(b, fd::PhysicalDecimals, physicalDecimals);
    PutU16(b, fd::Offset, offset);
    PutU8(b, fd::Required, required);
    PutU8(b, fd::CharacterCase, characterCase);
    PutText(b, fd::Minimum, datafile::kValueTextLength, minimum);
    PutText(b, fd::Maximum, datafile::kValueTextLength, maximum);
    PutText(b, fd::Default, datafile::kValueTextLength, defaultValue);
    PutU8(b, fd::ReadOnly, readOnly);
}

// ---- header -----------------------------------------------------------------

namespace {
namespace hd {
constexpr std::size_t ChangeCounter = 0;
constexpr std::size_t BlobBlockSize = 4;
constexpr std::size_t FormatMark = 8;
constexpr std::size_t FirstFree = 9;
constexpr std::size_t NextRecordNumber = 13;
constexpr std::size_t LastRecordID = 17;
constexpr std::size_t RecordSize = 21;
constexpr std::size_t FieldCount = 23;
constexpr std::size_t BlobFieldCount = 25;
constexpr std::size_t LastUpdate = 27;
constexpr std::size_t Description = 35;
constexpr std::size_t Encrypted = 86;
constexpr std::size_t Password = 87;
constexpr std::size_t LanguageID = 103;
constexpr std::size_t SortID = 105;
constexpr std::size_t UserMajor = 107;
constexpr std::size_t UserMinor = 109;
constexpr std::size_t Changed = 111;
constexpr std::size_t LastBlobOwnerID = 112;
constexpr std::size_t WriterVersion = 116;
constexpr std::size_t Reserved1 = 120;
constexpr std::size_t Reserved2 = 124;
constexpr std::size_t Reserved3 = 126;
}  // namespace hd
}  // namespace

DataFileHeader DataFileHeader::Decode(const std::uint8_t* b) {
    DataFileHeader h;
    h.changeCounter = GetI32(b, hd::ChangeCounter);
    h.blobBlockSize = GetU32(b, hd::BlobBlockSize);
    h.formatMark = GetU8(b, hd::FormatMark);
    h.firstFree = GetU32(b, hd::FirstFree);
    h.nextRecordNumber = GetU32(b, hd::NextRecordNumber);
    h.lastRecordID = GetU32(b, hd::LastRecordID);
    h.recordSize = GetU16(b, hd::RecordSize);
    h.fieldCount = GetU16(b, hd::FieldCount);
    h.blobFieldCount = GetU16(b, hd::BlobFieldCount);
    h.lastUpdate = GetF64(b, hd::LastUpdate);
    // Header texts never reach past their room: the bytes after them are counts.
    h.description = GetText(b, hd::Description, hd::Description + 1 + datafile::kDescriptionLength);
    h.encrypted = GetU8(b, hd::Encrypted);
    h.password = GetText(b, hd::Password, hd::Password + 1 + datafile::kPasswordLength);
    h.languageID = GetU16(b, hd::LanguageID);
    h.sortID = GetU16(b, hd::SortID);
    h.userMajorVersion = GetU16(b, hd::UserMajor);
    h.userMinorVersion = GetU16(b, hd::UserMinor);
    h.changed = GetU8(b, hd::Changed);
    h.lastBlobOwnerID = GetU32(b, hd::LastBlobOwnerID);
    h.writerVersion = GetU32(b, hd::WriterVersion);
    h.reserved1 = GetU32(b, hd::Reserved1);
    h.reserved2 = GetU16(b, hd::Reserved2);
    h.reserved3 = GetU8(b, hd::Reserved3);
    return h;
}

void DataFileHeader::Encode(std::uint8_t* b) const {
    std::memset(b, 0, datafile::kHeaderSize);
    PutI32(b, hd::ChangeCounter, changeCounter);
    PutU32(b, hd::BlobBlockSize, blobBlockSize);
    PutU8(b, hd::FormatMark, formatMark);
    PutU32(b, hd::FirstFree, firstFree);
    PutU32(b, hd::NextRecordNumber, nextRecordNumber);
    PutU32(b, hd::LastRecordID, lastRecordID);
    PutU16(b, hd::RecordSize, recordSize);
    PutU16(b, hd::FieldCount, fieldCount);
    PutU16(b, hd::BlobFieldCount, blobFieldCount);
    PutF64(b, hd::LastUpdate, lastUpdate);
    PutText(b, hd::Description, datafile::kDescriptionLength, description);
    PutU8(b, hd::Encrypted, encrypted);
    PutText(b, hd::Password, datafile::kPasswordLength, password);
    PutU16(b, hd::LanguageID, languageID);
    PutU16(b, hd::SortID, sortID);
    PutU16(b, hd::UserMajor, userMajorVersion);
    PutU16(b, hd::UserMinor, userMinorVersion);
    PutU8(b, hd::Changed, changed);
    PutU32(b, hd::LastBlobOwnerID, lastBlobOwnerID);
    PutU32(b, hd::WriterVersion, writerVersion);
    PutU32(b, hd::Reserved1, reserved1);
    PutU16(b, hd::Reserved2, reserved2);
    PutU8(b, hd::Reserved3, reserved3);
}

// ---- layout -----------------------------------------------------------------

namespace {
// Where the layout puts each field's null flag, and the record size, from the
// physical sizes the descriptors hold.
template <typename Visit>
std::uint32_t WalkLayout(const std::vector<FieldDescriptor>& fields, Visit visit) {
    std::uint32_t position = recordlayout::HeaderSize;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldDescriptor& f = fields[i];
        if (f.IsAutoInc()) {
            // The record identifier is the value.
            visit(i, static_cast<std::uint32_t>(recordlayout::RecordID));
        } else {
            // A read-only field takes no room; its offset is where it would lie.
            visit(i, position);
            if (f.TakesRoom()) position += f.physicalSize + 1u;
        }
    }
    return position;
}
}  // namespace

std::uint32_t LayOutFields(std::vector<FieldDescriptor>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        FieldDescriptor& f = fields[i];
        f.number = static_cast<std::int16_t>(i + 1);
        f.physicalSize = static_cast<std::uint8_t>(PhysicalSizeOf(f.type, f.size));
        f.physicalDecimals = f.decimals;
    }
    return WalkLayout(fields, [&](std::size_t i, std::uint32_t offset) {
        fields[i].offset = static_cast<std::uint16_t>(offset);
    });
}

std::uint32_t ComputeRecordSize(const std::vector<FieldDescriptor>& fields) {
    return WalkLayout(fields, [](std::size_t, std::uint32_t) {});
}

std::vector<std::uint32_t> ExpectedFieldOffsets(const std::vector<FieldDescriptor>& fields) {
    std::vector<std::uint32_t> offsets(fields.size());
    WalkLayout(fields, [&](std::size_t i, std::uint32_t offset) { offsets[i] = offset; });
    return offsets;
}

}  // namespace pixhold::engine
