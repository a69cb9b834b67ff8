#pragma once

#include <cstddef>
#include <cstdint>

#include "ByteCodec.h"

namespace pixhold::engine {

// ---------------------------------------------------------------------------
// BLOB file format (docs/blob-file.md). All integers are little-endian.
//   0                          512-byte header
//   512 + (n - 1) x block size block n, for n = 1, 2, 3 ...
// A block is an 18-byte block header followed by block size - 18 data bytes.
// ---------------------------------------------------------------------------
namespace blobfile {
inline constexpr std::size_t kHeaderSize = 512;
inline constexpr std::size_t kBlockHeaderSize = 18;
inline constexpr std::uint8_t kFormatMark = 5;
// The block size of a table whose data-file header says 0.
inline constexpr std::uint32_t kDefaultBlockSize = 512;
// Block sizes a table may be created with.
inline constexpr std::uint32_t kMinBlockSize = 64;
inline constexpr std::uint32_t kMaxBlockSize = 65535;
// Table-full limits of an append.
inline constexpr std::uint32_t kMaxBlocks = 2000000000;
inline constexpr std::uint64_t kMaxFileSize = 4000000000ULL;
// Bytes read ahead by an ordinary block fetch, and the spare-block pool.
inline constexpr std::uint32_t kReadAheadBytes = 16384;
inline constexpr std::size_t kSpareBlocks = 32;
// The cache grows by this many blocks when nothing can be dropped.
inline constexpr std::uint32_t kCacheGrowth = 32;
}  // namespace blobfile

// The 512-byte header. Bytes not listed are 0.
struct BlobFileHeader {
    std::int32_t changeCounter = 0;    //  0 moves on every header write
    std::uint8_t formatMark = blobfile::kFormatMark;  //  8 always 5
    std::uint32_t firstFreeBlock = 0;  //  9 head of the free chain, 0 = none
    std::uint32_t nextBlockNumber = 1; // 13 block count + 1
    std::uint8_t changed = 0;          // 17 in-memory "must be written" mark

    // One reader and one writer of the 512 bytes (plain; the caller enciphers).
    static BlobFileHeader Decode(const std::uint8_t* bytes);
    void Encode(std::uint8_t* bytes) const;

    bool operator==(const BlobFileHeader&) const = default;
};

// The 18-byte header at the start of every block.
struct BlobBlockHeader {
    std::uint32_t previous = 0;   //  0 previous block of the value, 0 for the first
    std::uint32_t next = 0;       //  4 next block of the value (or of the free chain), 0 = last
    std::uint16_t bytesUsed = 0;  //  8 data bytes used in this block
    std::uint32_t owner = 0;      // 10 owner identifier of the value
    std::uint32_t totalSize = 0;  // 14 first block: length of the whole value; others 0

    // Inline: whole values decode and encode one of these per block.
    static BlobBlockHeader Decode(const std::uint8_t* bytes) {
        BlobBlockHeader h;
        h.previous = bytes::GetU32(bytes, 0);
        h.next = bytes::GetU32(bytes, 4);
        h.bytesUsed = bytes::GetU16(bytes, 8);
        h.owner = bytes::GetU32(bytes, 10);
        h.totalSize = bytes::GetU32(bytes, 14);
        return h;
    }
    void Encode(std::uint8_t* bytes) const {
        bytes::PutU32(bytes, 0, previous);
        bytes::PutU32(bytes, 4, next);
        bytes::PutU16(bytes, 8, bytesUsed);
        bytes::PutU32(bytes, 10, owner);
        bytes::PutU32(bytes, 14, totalSize);
    }

    bool operator==(const BlobBlockHeader&) const = default;
};

// The block image as stored: header and data area are enciphered as two
// separate buffers, so the keystream starts again at byte 18. `data` holds
// block size - 18 bytes. These two are the only code that turns a block into
// file bytes and back.
void EncodeBlockImage(const BlobBlockHeader& header, const std::uint8_t* data,
                      std::size_t blockSize, bool encrypted, std::uint8_t* image);
// Deciphers the image in place when encrypted and decodes its header; the data
// area is then image + 18.
BlobBlockHeader DecodeBlockImage(std::uint8_t* image, std::size_t blockSize, bool encrypted);

}  // namespace pixhold::engine
