// Placeholder until the codec lands.
#include "PngCodec.h"

#include "GraphicError.h"

namespace pixhold::imaging {

[[noreturn]] static void Missing() { throw EInvalidGraphic("PNG codec missing"); }
QImage DecodePng(TBytes) { Missing(); }
TByteVector EncodePng(const QImage&) { Missing(); }

}  // namespace pixhold::imaging
