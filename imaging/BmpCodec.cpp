// Placeholder until the codec lands.
#include "BmpCodec.h"

#include "GraphicError.h"

namespace pixhold::imaging {

[[noreturn]] static void Missing() { throw EInvalidGraphic("BMP codec missing"); }
TBitmap ReadBmp(TBytes) { Missing(); }
TBitmap ReadDib(TBytes) { Missing(); }
TBitmap ReadDib(TBytes, TBytes) { Missing(); }
TByteVector WriteBmp(const TBitmap&) { Missing(); }
TByteVector WriteDib(const TBitmap&) { Missing(); }

}  // namespace pixhold::imaging
