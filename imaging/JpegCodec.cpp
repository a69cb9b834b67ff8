// Placeholder until the codec lands.
#include "JpegCodec.h"

#include "GraphicError.h"

namespace pixhold::imaging {

[[noreturn]] static void Missing() { throw EInvalidGraphic("JPEG codec missing"); }
TJpegInfo ReadJpegInfo(TBytes) { Missing(); }
QImage DecodeJpeg(TBytes, const TJpegDecodeOptions&) { Missing(); }
int JpegScaleToCover(int, int, int, int) { return 8; }
TByteVector EncodeJpeg(const QImage&, int) { Missing(); }

}  // namespace pixhold::imaging
