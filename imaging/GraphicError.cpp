#include "GraphicError.h"

namespace pixhold::imaging {

void CheckPictureSize(std::int64_t width, std::int64_t height, const char* kind) {
    if (width <= 0 || height <= 0) {
        throw EInvalidGraphic(std::string(kind) + " image has an invalid size (" +
                              std::to_string(width) + " x " + std::to_string(height) + ")");
    }
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > MaxPicturePixels) {
        throw EInvalidGraphic(std::string(kind) + " image is too large (" + std::to_string(width) +
                              " x " + std::to_string(height) + " pixels; at most " +
                              std::to_string(MaxPicturePixels / 1000000) + " megapixels are read)");
    }
}

}  // namespace pixhold::imaging
