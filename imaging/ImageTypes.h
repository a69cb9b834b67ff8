#pragma once

#include <cstdint>
#include <string_view>

namespace pixhold::imaging {

// The type code stored in the `Type` field of every image record. The values
// are part of the table format: never renumber them.
enum class TImageType : std::int16_t {
    Jpeg = 0,
    Gif = 1,
    Bitmap = 2,
    Icon = 3,
    Wmf = 4,
    Emf = 5,
    Png = 6,
    Unknown = 255,
};

// The type of a picture file from the extension of its name (the text from
// the last dot of the file-name part on), compared without regard to letter
// case; Unknown for any other extension or none.
TImageType ImageTypeOfExtension(std::string_view fileName);

}  // namespace pixhold::imaging
