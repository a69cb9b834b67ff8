#pragma once

#include "ByteSpan.h"

#include <QImage>

#include <atomic>

namespace pixhold::imaging {

// JPEG through libjpeg-turbo. Library errors leave the C code through our own
// error manager and are raised as EInvalidGraphic with the library's message.

inline constexpr int JpegDefaultQuality = 90;

struct TJpegInfo {
    int Width = 0;        // as stored, before the orientation is applied
    int Height = 0;
    int Components = 0;   // 1 grey, 3 YCbCr/RGB, 4 CMYK/YCCK
    int Orientation = 1;  // EXIF orientation tag, 1 to 8 (1 when none)
    bool Progressive = false;
};

struct TJpegDecodeOptions {
    // libjpeg's DCT scaling: the picture is decoded at ScaleNum/8 of its size
    // (1 to 8; 8 is full size, the program's default).
    int ScaleNum = 8;
    // Turn the decoded picture upright by its EXIF orientation.
    bool ApplyOrientation = true;
    // When given and it turns true, the decoding stops early with
    // EInvalidGraphic(JpegCancelledMessage) (a picture no longer wanted).
    const std::atomic<bool>* Cancel = nullptr;
};

inline constexpr const char* JpegCancelledMessage = "JPEG decoding cancelled";

// Reads the header only (no pixel data decoded).
TJpegInfo ReadJpegInfo(TBytes data);

// Decodes to RGB32 (greyscale, YCbCr, CMYK and inverted Adobe CMYK all come
// out in the right colours). The size is checked before any large allocation.
QImage DecodeJpeg(TBytes data, const TJpegDecodeOptions& options = {});

// The smallest scale M/8 whose decoded size still covers width x height on
// both axes (8 when none smaller does), for a picture of the stored size.
int JpegScaleToCover(int storedWidth, int storedHeight, int width, int height);

// Encodes with libjpeg's defaults at the given quality (baseline, 4:2:0).
TByteVector EncodeJpeg(const QImage& image, int quality = JpegDefaultQuality);

}  // namespace pixhold::imaging
