#pragma once

#include "ByteSpan.h"

#include <QImage>

#include <vector>

namespace pixhold::imaging {

// One frame of a GIF, composed onto the logical screen as a viewer shows it
// (earlier frames, disposal and transparency applied).
struct TGifFrame {
    QImage Image;           // ARGB32, the logical screen's size
    int DelayMs = 0;        // the frame's delay (the file's hundredths x 10)
    int Disposal = 0;       // the frame's disposal method as stored (0 to 3)
    int TransparentIndex = -1;
};

struct TGifAnimation {
    int Width = 0;          // logical screen
    int Height = 0;
    // Netscape loop count: 0 plays forever; -1 when the file has none (play once).
    int LoopCount = -1;
    std::vector<TGifFrame> Frames;  // at least one after a successful decode
};

// Decodes every frame through giflib; errors are raised as EInvalidGraphic
// with giflib's message. Sizes and the memory all frames need are checked
// before they are allocated.
TGifAnimation DecodeGif(TBytes data);
// Writes one picture by the program's palette rule (QuantizeForGif).
TByteVector EncodeGif(const QImage& image);

}  // namespace pixhold::imaging
