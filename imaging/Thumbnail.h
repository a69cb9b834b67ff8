#pragma once

#include "ByteSpan.h"
#include "ThumbSize.h"

#include <QColor>
#include <QImage>
#include <QRect>

#include <string>

namespace pixhold::imaging {

class TPicture;

// JPEG qualities of stored thumbnails: in image records, and in the cache
// table of browsed files.
inline constexpr int RecordThumbQuality = 50;
inline constexpr int CacheThumbQuality = 90;

// Where a picture of w x h goes in the thumbnail square, and the bands beside it.
struct TThumbLayout {
    QRect Target;       // the picture's rectangle
    QRect Bands[2];     // filled in the button-face colour (empty when none)
};

// The picture is fitted with its aspect kept and centred: the longer side
// becomes ThumbSize, the other round(ThumbSize / longer x shorter) in extended
// precision, ties to even.
TThumbLayout ThumbnailLayout(int width, int height);

// The desktop's button-face colour (a light grey without a desktop).
QColor ButtonFaceColour();

// The ThumbSize square of a rendered picture whose control is width x height
// (for a control that sizes itself to its picture: the picture's own size).
// The picture is scaled with an area filter, never by picking pixels.
QImage MakeThumbnailImage(const QImage& picture, int width, int height);
QImage MakeThumbnailImage(const TPicture& picture);

// The thumbnail of a picture file's bytes, as the program makes it when it
// stores or browses the file: JPEG files are decoded at the smallest DCT
// scale that still covers the thumbnail, everything else through the picture
// holder. `extensionKind` is the file's extension ("photo.jpg"), used where
// the content has no signature. Raises the decoder's error.
QImage ThumbnailOfPictureBytes(TBytes bytes, const std::string& fileName);

// The placeholder "pixhold.jpg" of the program folder at its own size, shown
// for thumbnails that cannot be shown; a null image when it cannot be read.
inline constexpr const char* ThumbPlaceholderFile = "pixhold.jpg";
QImage LoadThumbPlaceholder(const std::string& programFolder);

// The stored thumbnail of an image record made from a picture file's bytes:
// ThumbnailOfPictureBytes encoded at RecordThumbQuality.
TByteVector RecordThumbnailJpeg(TBytes bytes, const std::string& fileName);

// The etched edge of list thumbnails: a sunken outer and a raised inner line
// along the border of the square.
void DrawEtchedEdge(QImage& thumbnail);

}  // namespace pixhold::imaging
