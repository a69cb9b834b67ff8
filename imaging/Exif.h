#pragma once

#include "ByteSpan.h"

#include <QImage>

namespace pixhold::imaging {

// True when an APP1 segment's data starts with "Exif\0\0" (XMP and other
// segments share the marker).
bool IsExifSegment(TBytes app1);

// The orientation tag (0x0112) of an Exif APP1 segment, given the segment's
// data after the marker and length ("Exif\0\0" and a TIFF header in either
// byte order). 1 when the segment is no Exif segment, is damaged, has no tag
// or the tag's value lies outside 1 to 8. Every offset is checked against the
// segment's end.
int ExifOrientationOf(TBytes app1);

// The JPEG thumbnail an Exif APP1 segment carries in its second IFD
// (JPEGInterchangeFormat 0x0201 and JPEGInterchangeFormatLength 0x0202), as
// a part of the segment's bytes. Empty when there is none, when it lies
// outside the segment or when it does not start like a JPEG file.
TBytes ExifThumbnailOf(TBytes app1);

// The picture turned upright for an orientation of 2 to 8 (mirrored, turned
// or both, as the Exif documentation defines them); any other value returns
// the picture unchanged. Orientations 5 to 8 swap width and height.
QImage ApplyOrientation(QImage image, int orientation);

}  // namespace pixhold::imaging
