#include "BlobFormat.h"

#include <cstring>

#include "Cipher.h"

namespace pixhold::engine {

BlobFileHeader BlobFileHeader::Decode(const std::uint8_t* bytes) {
    BlobFileHeader h;
    h.changeCounter = static_cast<std::int32_t>(bytes::GetU32(bytes, 0));
    h.formatMark = bytes[8];
    h.firstFreeBlock = bytes::GetU32(bytes, 9);
    h.nextBlockNumber = bytes::GetU32(bytes, 13);
    h.changed = bytes[17];
    return h;
}

void BlobFileHeader::Encode(std::uint8_t* bytes) const {
    std::memset(bytes, 0, blobfile::kHeaderSize);
    bytes::PutU32(bytes, 0, static_cast<std::uint32_t>(changeCounter));
    bytes[8] = formatMark;
    bytes::PutU32(bytes, 9, firstFreeBlock);
    bytes::PutU32(bytes, 13, nextBlockNumber);
    bytes[17] = changed;
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
