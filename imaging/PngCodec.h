#pragma once

#include "ByteSpan.h"

#include <QImage>

namespace pixhold::imaging {

// PNG through libpng with its default settings; errors are raised as
// EInvalidGraphic with libpng's message. Palette, grey, 16-bit, alpha and
// interlaced pictures decode to ARGB32 (with alpha) or RGB32.
QImage DecodePng(TBytes data);
// Encodes with libpng's defaults (RGB or RGBA, 8 bits per channel).
TByteVector EncodePng(const QImage& image);

}  // namespace pixhold::imaging
