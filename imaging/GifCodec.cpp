// Placeholder until the codec lands.
#include "GifCodec.h"

#include "GraphicError.h"

namespace pixhold::imaging {

[[noreturn]] static void Missing() { throw EInvalidGraphic("GIF codec missing"); }
TGifAnimation DecodeGif(TBytes) { Missing(); }
TByteVector EncodeGif(const QImage&) { Missing(); }

}  // namespace pixhold::imaging
