#pragma once

#include "Bitmap.h"

#include <QImage>

#include <array>

namespace pixhold::imaging {

// The palette of a GIF written by the program: the 20 static colours of the
// system palette at entries 0 to 9 and 246 to 255, and 236 colours chosen by
// quantising the picture (8 bits per component) at entries 10 to 245. Every
// pixel takes the nearest palette colour, without dithering.
std::array<TRgbQuad, 20> StaticColours();

// An 8-bit bitmap holding the picture reduced by that rule (its colour table
// has 256 entries).
TBitmap QuantizeForGif(const QImage& image);

}  // namespace pixhold::imaging
