#pragma once

#include "Bitmap.h"
#include "ByteSpan.h"

namespace pixhold::imaging::metafile {

// The DIBs inside metafile records, through the bitmap codec.
TBitmap BitmapOfDib(TBytes header, TBytes bits);  // EMF: header and pixels apart
TBitmap BitmapOfPackedDib(TBytes dib);            // WMF: one packed DIB
TByteVector PackedDibOf(const TBitmap& bitmap);

}  // namespace pixhold::imaging::metafile
