#include "BlobFormat.h"

#include <cstring>

#include "Cipher.h"

namespace pixhold::engine {

namespace {

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

BlobFileHeader BlobFileHeader::Decode(const std::uint8_t* bytes) {
    BlobFileHeader h;
    h.changeCounter = static_cast<std::int32_t>(GetU32(bytes + 0));
    h.formatMark = bytes[8];
    h.firstFreeBlock = GetU32(bytes + 9);
    h.nextBlockNumber = GetU32(bytes + 13);
    h.changed = bytes[17];
    return h;
}

void BlobFileHeader::Encode(std::uint8_t* bytes) const {
    std::memset(bytes, 0, blobfile::kHeaderSize);
    PutU32(bytes + 0, static_cast<std::uint32_t>(changeCounter));
    bytes[8] = formatMark;
    PutU32(bytes + 9, firstFreeBlock);
    PutU32(bytes + 13, nextBlockNumber);
    bytes[17] = changed;
}

BlobBlockHeader BlobBlockHeader::Decode(const std::uint8_t* bytes) {
    BlobBlockHeader h;
    h.previous = GetU32(bytes + 0);
    h.next = GetU32(bytes + 4);
    h.bytesUsed = GetU16(bytes + 8);
    h.owner = GetU32(bytes + 10);
    h.totalSize = GetU32(bytes + 14);
    return h;
}

void BlobBlockHeader::Encode(std::uint8_t* bytes) const {
    PutU32(bytes + 0, previous);
    PutU32(bytes + 4, next);
    PutU16(bytes + 8, bytesUsed);
    PutU32(bytes + 10, owner);
    PutU32(bytes + 14, totalSize);
}

void EncodeBlockImage(const BlobBlockHeader& header, const std::uint8_t* data,
                      std::size_t blockSize, bool encrypted, std::uint8_t* image) {
    const std::size_t dataSize = blockSize - blobfile::kBlockHeaderSize;
    header.Encode(image);
    std::uint8_t* area = image + blobfile::kBlockHeaderSize;
    if (area != data) std::memcpy(area, data, dataSize);
    if (encrypted) {
        ScrambleBuffer(image, blobfile::kBlockHeaderSize, kDataSeeds);
        ScrambleBuffer(area, dataSize, kDataSeeds);
    }
}

BlobBlockHeader DecodeBlockImage(std::uint8_t* image, std::size_t blockSize, bool encrypted) {
    if (encrypted) {
        ScrambleBuffer(image, blobfile::kBlockHeaderSize, kDataSeeds);
        ScrambleBuffer(image + blobfile::kBlockHeaderSize, blockSize - blobfile::kBlockHeaderSize,
                       kDataSeeds);
    }
    return BlobBlockHeader::Decode(image);
}

}  // namespace pixhold::engine
