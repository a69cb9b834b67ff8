#pragma once

#include "Bitmap.h"
#include "ByteSpan.h"

namespace pixhold::imaging {

// Windows bitmaps, our own reader and writer (docs/bmp-format.md).
// Read: 1, 4, 8, 16 (5-5-5 and bit fields), 24 and 32 bits per pixel, colour
// tables, RLE4 and RLE8, top-down rows, the OS/2 core header and the V4/V5
// headers. RLE pictures come back at their own depth, uncompressed; top-down
// files come back in the bitmap's bottom-up order.

// A whole ".bmp" file (14-byte file header, then a DIB).
TBitmap ReadBmp(TBytes file);
// A packed DIB: information header, bit masks, colour table, pixel array.
TBitmap ReadDib(TBytes dib);
// A DIB whose pixel array lies apart from its header (metafile records).
TBitmap ReadDib(TBytes header, TBytes bits);

// Writes a ".bmp" file keeping the bitmap's depth, colour table and masks
// (40-byte header; BI_BITFIELDS where the masks are not the default).
TByteVector WriteBmp(const TBitmap& bitmap);
// The packed DIB of the same (no file header).
TByteVector WriteDib(const TBitmap& bitmap);

}  // namespace pixhold::imaging
