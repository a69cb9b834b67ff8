// Placeholder until the codec lands.
#include "GifQuantizer.h"

#include "GraphicError.h"

namespace pixhold::imaging {

std::array<TRgbQuad, 20> StaticColours() { return {}; }
TBitmap QuantizeForGif(const QImage&) { throw EInvalidGraphic("GIF quantiser missing"); }

}  // namespace pixhold::imaging
