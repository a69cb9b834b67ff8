#pragma once

#include <QImage>

namespace pixhold::imaging {

// A QImage for a decoder to fill, uninitialised. Large pictures get pixel
// memory that the system may back with huge pages: the decoder touches every
// page once, and a 12-megapixel picture in 4 KiB pages costs about 12,000 page
// faults, a fifth of the decoding time. Throws EInvalidGraphic ("Not enough
// memory ...", naming `kind`) when the memory cannot be had.
QImage NewDecodedImage(int width, int height, QImage::Format format, const char* kind);

}  // namespace pixhold::imaging
