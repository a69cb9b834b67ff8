#pragma once

#include "Bitmap.h"
#include "ByteSpan.h"

#include <QRect>

namespace pixhold::imaging::metafile {

// An enhanced metafile holding the bitmap drawn at (0, 0) at its own size:
// EMR_HEADER, EMR_STRETCHDIBITS, EMR_EOF (docs/metafile-format.md).
TByteVector EmfOfBitmap(const TBitmap& bitmap);

// A placeable Windows metafile holding the bitmap at (0, 0), 96 units per inch:
// window origin and extent, META_STRETCHDIB, META_EOF.
TByteVector WmfOfBitmap(const TBitmap& bitmap);

// A placeable header (key, box, units per inch, checksum) before the records
// of a Windows metafile (from its META_HEADER on).
TByteVector PlaceableWmf(const QRect& box, int unitsPerInch, TBytes records);

}  // namespace pixhold::imaging::metafile
