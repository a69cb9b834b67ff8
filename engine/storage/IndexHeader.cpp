#include "IndexHeader.h"

#include <algorithm>
#include <cstring>

#include "IndexBytes.h"

namespace pixhold::engine {

namespace {

using namespace indexbytes;

// Header offsets.
constexpr std::size_t kCounterAt = 0;
constexpr std::size_t kFormatAt = 8;
constexpr std::size_t kNextPageAt = 9;
constexpr std::size_t kSecondaryCountAt = 13;
constexpr std::size_t kSlotsAt = 14;
constexpr std::size_t kSlotSize = 120;
constexpr std::size_t kActiveRecordsAt = 3974;
constexpr std::size_t kNoPrimaryAt = 3978;
constexpr std::size_t kChangedAt = 3979;

// Slot offsets.
constexpr std::size_t kNameAt = 0;
constexpr std::size_t kKeyLengthAt = 31;
constexpr std::size_t kDescendingAt = 33;
constexpr std::size_t kCaseAt = 34;
constexpr std::size_t kUniqueAt = 35;
constexpr std::size_t kCompressionAt = 36;
constexpr std::size_t kFieldCountAt = 37;
constexpr std::size_t kFieldDescendingAt = 38;
constexpr std::size_t kFieldNumbersAt = 54;
constexpr std::size_t kRootAt = 86;
constexpr std::size_t kFirstFreeAt = 90;
constexpr std::size_t kReserved94At = 94;
constexpr std::size_t kRemoveMarkAt = 95;
constexpr std::size_t kDataRootAt = 96;
constexpr std::size_t kNoCountsAt = 100;
constexpr std::size_t kTemporaryAt = 101;

static_assert(kSlotsAt + kIndexSlotCount * kSlotSize == kActiveRecordsAt);

}  // namespace

void DecodeIndexDescriptor(const std::uint8_t* b, IndexDescriptor& s) {
    const std::size_t nameLength = std::min<std::size_t>(b[kNameAt], kMaxIndexNameLength);
    s.name.assign(reinterpret_cast<const char*>(b + kNameAt + 1), nameLength);
    s.keyLength = GetU16(b + kKeyLengthAt);
    s.descending = b[kDescendingAt] != 0;
    s.caseInsensitive = b[kCaseAt] != 0;
    s.unique = b[kUniqueAt] != 0;
    s.compression = b[kCompressionAt];
    s.fieldCount = b[kFieldCountAt];
    for (int i = 0; i < kMaxIndexFields; ++i) {
        s.fieldDescending[i] = b[kFieldDescendingAt + i];
        s.fieldNumbers[i] = GetU16(b + kFieldNumbersAt + 2 * i);
    }
    s.rootPage = GetU32(b + kRootAt);
    s.firstFreePage = GetU32(b + kFirstFreeAt);
    s.reserved94 = b[kReserved94At];
    s.removeMark = b[kRemoveMarkAt];
    s.dataRootPage = GetU32(b + kDataRootAt);
    s.noCounts = b[kNoCountsAt] != 0;
    s.temporary = b[kTemporaryAt] != 0;
}

void EncodeIndexDescriptor(const IndexDescriptor& s, std::uint8_t* b) {
    std::memset(b, 0, kSlotSize);
    const std::size_t nameLength = std::min(s.name.size(), kMaxIndexNameLength);
    b[kNameAt] = static_cast<std::uint8_t>(nameLength);
    std::memcpy(b + kNameAt + 1, s.name.data(), nameLength);
    PutU16(b + kKeyLengthAt, s.keyLength);
    b[kDescendingAt] = s.descending ? 1 : 0;
    b[kCaseAt] = s.caseInsensitive ? 1 : 0;
    b[kUniqueAt] = s.unique ? 1 : 0;
    b[kCompressionAt] = s.compression;
    b[kFieldCountAt] = s.fieldCount;
    for (int i = 0; i < kMaxIndexFields; ++i) {
        b[kFieldDescendingAt + i] = s.fieldDescending[i];
        PutU16(b + kFieldNumbersAt + 2 * i, s.fieldNumbers[i]);
    }
    PutU32(b + kRootAt, s.rootPage);
    PutU32(b + kFirstFreeAt, s.firstFreePage);
    b[kReserved94At] = s.reserved94;
    b[kRemoveMarkAt] = 0;  // an in-memory mark of the repair; never stored
    PutU32(b + kDataRootAt, s.dataRootPage);
    b[kNoCountsAt] = s.noCounts ? 1 : 0;
    b[kTemporaryAt] = s.temporary ? 1 : 0;
}

void DecodeIndexHeader(const std::uint8_t* b, IndexFileHeader& h) {
    h.changeCounter = GetI32(b + kCounterAt);
    h.formatMark = b[kFormatAt];
    h.nextPage = GetU32(b + kNextPageAt);
    h.secondaryCount = b[kSecondaryCountAt];
    for (int i = 0; i < kIndexSlotCount; ++i) {
        DecodeIndexDescriptor(b + kSlotsAt + i * kSlotSize, h.slots[i]);
        // A stored slot is never a temporary index (those are left out when
        // the header is written): a set byte is damage, and taking it would
        // send the slot's pages to the temporary file.
        h.slots[i].temporary = false;
    }
    h.activeRecords = GetI32(b + kActiveRecordsAt);
    h.noPrimaryFields = b[kNoPrimaryAt] != 0;
    h.changed = false;
}

void EncodeIndexHeader(const IndexFileHeader& h, std::uint8_t* b) {
    std::memset(b, 0, kIndexHeaderSize);
    PutI32(b + kCounterAt, h.changeCounter);
    b[kFormatAt] = h.formatMark;
    PutU32(b + kNextPageAt, h.nextPage);
    b[kSecondaryCountAt] = h.secondaryCount;
    for (int i = 0; i < kIndexSlotCount; ++i) EncodeIndexDescriptor(h.slots[i], b + kSlotsAt + i * kSlotSize);
    PutI32(b + kActiveRecordsAt, h.activeRecords);
    b[kNoPrimaryAt] = h.noPrimaryFields ? 1 : 0;
    b[kChangedAt] = h.changed ? 1 : 0;
}

IndexDescriptor DeletedIndexDescriptor() {
    IndexDescriptor s;
    s.name = kDeletedIndexName;
    s.keyLength = kDeletedKeyLength;
    s.compression = static_cast<std::uint8_t>(KeyCompression::None);
    return s;
}

IndexDescriptor TextIndexDescriptor() {
    IndexDescriptor s;
    s.name = kTextIndexName;
    s.keyLength = kTextKeyLength;
    s.compression = static_cast<std::uint8_t>(KeyCompression::Full);
    return s;
}

}  // namespace pixhold::engine
