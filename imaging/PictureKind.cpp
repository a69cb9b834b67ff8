#include "PictureKind.h"

#include <cstring>

namespace pixhold::imaging {

namespace {

bool StartsWith(TBytes data, std::initializer_list<std::uint8_t> prefix) {
    if (data.size() < prefix.size()) return false;
    return std::memcmp(data.data(), prefix.begin(), prefix.size()) == 0;
}

std::uint32_t Le32(TBytes data, std::size_t at) {
    return static_cast<std::uint32_t>(data[at]) | (static_cast<std::uint32_t>(data[at + 1]) << 8) |
           (static_cast<std::uint32_t>(data[at + 2]) << 16) |
           (static_cast<std::uint32_t>(data[at + 3]) << 24);
}

std::uint16_t Le16(TBytes data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

}  // namespace

TImageType DetectPictureKind(TBytes data) {
    if (StartsWith(data, {0xFF, 0xD8, 0xFF})) return TImageType::Jpeg;
    if (StartsWith(data, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return TImageType::Png;
    if (StartsWith(data, {'G', 'I', 'F', '8'})) return TImageType::Gif;
    if (StartsWith(data, {'B', 'M'})) return TImageType::Bitmap;
    if (StartsWith(data, {0xD7, 0xCD, 0xC6, 0x9A})) return TImageType::Wmf;
    if (data.size() >= 44 && Le32(data, 0) == 1 && std::memcmp(data.data() + 40, " EMF", 4) == 0) {
        return TImageType::Emf;
    }
    // ICONDIR: reserved 0, type 1, at least one entry.
    if (data.size() >= 6 && Le16(data, 0) == 0 && Le16(data, 2) == 1 && Le16(data, 4) > 0) {
        return TImageType::Icon;
    }
    // A plain Windows metafile header: type 1 (memory) or 2 (disk), 9 words,
    // version 0x0100 or 0x0300.
    if (data.size() >= 18 && (Le16(data, 0) == 1 || Le16(data, 0) == 2) && Le16(data, 2) == 9 &&
        (Le16(data, 4) == 0x0100 || Le16(data, 4) == 0x0300)) {
        return TImageType::Wmf;
    }
    return TImageType::Unknown;
}

}  // namespace pixhold::imaging
