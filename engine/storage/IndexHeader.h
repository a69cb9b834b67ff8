#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pixhold::engine {

inline constexpr std::size_t kIndexPageSize = 4096;
inline constexpr std::size_t kIndexHeaderSize = 4096;
inline constexpr std::uint8_t kIndexFormatMark = 5;
inline constexpr int kIndexSlotCount = 33;
inline constexpr int kPrimarySlot = 0;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kDeletedSlot = 31;
inline constexpr int kTextSlot = 32;
inline constexpr int kMaxIndexFields = 16;
inline constexpr std::size_t kMaxIndexNameLength = 30;
inline constexpr int kMaxKeyFieldBytes = 522;  // sum of (key size + 1) over the fields
inline constexpr std::uint16_t kDeletedKeyLength = 5;
inline constexpr std::uint16_t kTextKeyLength = 68;
inline constexpr const char* kDeletedIndexName = "Sys Deleted";
inline constexpr const char* kTextIndexName = "Sys Text";

// Leaf compression of an index.
enum class KeyCompression : std::uint8_t { None = 0, Duplicate = 1, Trailing = 2, Full = 3 };

// One of the 33 index slots of the header (120 bytes on disk).
struct IndexDescriptor {
    std::string name;  // at most 30 characters; empty for the primary index
    std::uint16_t keyLength = 0;
    bool descending = false;
    bool caseInsensitive = false;
    bool unique = false;
    std::uint8_t compression = 0;  // KeyCompression as stored; may be out of range in a damaged file
    std::uint8_t fieldCount = 0;
    std::array<std::uint8_t, kMaxIndexFields> fieldDescending{};
    std::array<std::uint16_t, kMaxIndexFields> fieldNumbers{};
    std::uint32_t rootPage = 0;
    std::uint32_t firstFreePage = 0;
    std::uint8_t reserved94 = 0;
    std::uint8_t removeMark = 0;  // 0 on disk; marks an index for removal during a repair
    std::uint32_t dataRootPage = 0;
    bool noCounts = false;
    bool temporary = false;

    bool operator==(const IndexDescriptor&) const = default;
};

// The 4096-byte header of the index file.
struct IndexFileHeader {
    std::int32_t changeCounter = 0;
    std::uint8_t formatMark = kIndexFormatMark;
    std::uint32_t nextPage = 1;
    std::uint8_t secondaryCount = 0;
    std::array<IndexDescriptor, kIndexSlotCount> slots{};
    std::int32_t activeRecords = 0;
    bool noPrimaryFields = false;
    bool changed = false;

    bool operator==(const IndexFileHeader&) const = default;
};

// The one reader and the one writer of the header and its slots. The buffers
// are plain (deciphering and enciphering are the file's). The reader clears the
// changed mark, which is only an in-memory flag.
void DecodeIndexHeader(const std::uint8_t* buffer, IndexFileHeader& header);
void EncodeIndexHeader(const IndexFileHeader& header, std::uint8_t* buffer);
void DecodeIndexDescriptor(const std::uint8_t* buffer, IndexDescriptor& slot);
void EncodeIndexDescriptor(const IndexDescriptor& slot, std::uint8_t* buffer);

// Slot 31 and slot 32 as a new file has them.
IndexDescriptor DeletedIndexDescriptor();
IndexDescriptor TextIndexDescriptor();

}  // namespace pixhold::engine
