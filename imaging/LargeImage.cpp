#include "LargeImage.h"

#include "GraphicError.h"

#include <cstdlib>
#include <string>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace pixhold::imaging {

namespace {

constexpr std::size_t HugePage = std::size_t{2} << 20;
// Below this the small pages cost little and the rounding up would waste memory.
constexpr std::size_t HugePageThreshold = std::size_t{8} << 20;

void FreePixels(void* pixels) { std::free(pixels); }

}  // namespace

QImage NewDecodedImage(int width, int height, QImage::Format format, const char* kind) {
    QImage image;
#if defined(__linux__)
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const std::size_t stride = ((static_cast<std::size_t>(width) * static_cast<std::size_t>(depth) + 31) / 32) * 4;
    const std::size_t bytes = stride * static_cast<std::size_t>(height);
    if (width > 0 && height > 0 && bytes >= HugePageThreshold) {
        const std::size_t rounded = (bytes + HugePage - 1) / HugePage * HugePage;
        if (void* pixels = std::aligned_alloc(HugePage, rounded)) {
            madvise(pixels, rounded, MADV_HUGEPAGE);  // only advice: failure is harmless
            image = QImage(static_cast<uchar*>(pixels), width, height, static_cast<qsizetype>(stride),
                           format, FreePixels, pixels);
            if (image.isNull()) std::free(pixels);
        }
    }
#endif
    if (image.isNull()) image = QImage(width, height, format);
    if (image.isNull()) {
        throw EInvalidGraphic(std::string("Not enough memory to decode the ") + kind + " image (" +
                              std::to_string(width) + " x " + std::to_string(height) + ")");
    }
    return image;
}

}  // namespace pixhold::imaging
