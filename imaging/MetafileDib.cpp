#include "MetafileDib.h"

#include "BmpCodec.h"

namespace pixhold::imaging::metafile {

TBitmap BitmapOfDib(TBytes header, TBytes bits) { return ReadDib(header, bits); }
TBitmap BitmapOfPackedDib(TBytes dib) { return ReadDib(dib); }
TByteVector PackedDibOf(const TBitmap& bitmap) { return WriteDib(bitmap); }

}  // namespace pixhold::imaging::metafile
