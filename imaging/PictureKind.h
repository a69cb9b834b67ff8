#pragma once

#include "ByteSpan.h"
#include "ImageTypes.h"

namespace pixhold::imaging {

// The kind of picture the bytes hold, by their signature (JPEG, PNG, GIF,
// BMP, ICO, EMF, placeable or plain WMF); Unknown when none matches. A file
// is decoded by what it holds, whatever its extension says.
TImageType DetectPictureKind(TBytes data);

}  // namespace pixhold::imaging
