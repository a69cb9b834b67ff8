#pragma once

#include "ByteSpan.h"

#include <QImage>
#include <QSize>

namespace pixhold::imaging {

// What the markers of a JPEG file tell before its first scan, read without
// libjpeg and from as little as the start of the file.
struct TJpegHead {
    int Width = 0;        // the frame header's, as stored
    int Height = 0;
    int Orientation = 1;  // of the first Exif segment (1 when none)
    TBytes ExifThumbnail; // of the first Exif segment, within the given bytes
};

// Walks the markers from the start of image to the first scan. False when
// the bytes do not start a JPEG file, or end or break off before a frame
// header with a size. Every length is checked against the bytes given.
bool ReadJpegHead(TBytes data, TJpegHead& head);

// A first glance at a JPEG picture without decoding its scan: the Exif
// thumbnail decoded and turned upright by the picture's orientation, and the
// picture's own upright size.
struct TJpegGlance {
    QImage Image;   // null when there is no glance to be had
    QSize FullSize;
};

// How many bytes from the start of a camera file hold its head: the Exif
// segment is at most 64 KiB, and a few other segments come before the frame.
inline constexpr std::size_t JpegGlanceHeadBytes = 256 * 1024;
// Thumbnails larger than this are not taken for a glance.
inline constexpr int JpegGlanceMaxSide = 1024;

// The glance of a JPEG file's first bytes. None (a null Image) when the head
// cannot be read, has no thumbnail, when the thumbnail does not decode, is
// not smaller than the picture or larger than JpegGlanceMaxSide, or when its
// shape differs from the picture's by more than 2 % (thumbnails padded with
// bars to another shape). Never raises for what the bytes hold.
TJpegGlance ReadJpegGlance(TBytes head);

}  // namespace pixhold::imaging
