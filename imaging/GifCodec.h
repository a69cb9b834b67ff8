#pragma once

#include "ByteSpan.h"

#include <QImage>

#include <cstdint>
#include <vector>

namespace pixhold::imaging {

// One frame of a GIF, composed onto the logical screen as a viewer shows it
// (earlier frames, disposal and transparency applied).
struct TGifFrame {
    QImage Image;           // ARGB32, the logical screen's size
    int DelayMs = 0;        // the frame's delay (the file's hundredths x 10)
    int Disposal = 0;       // the frame's disposal method as stored (0 to 3; the undefined 4 to 7 read as 0)
    int TransparentIndex = -1;

    // How long a player shows the frame: its delay, except that delays of
    // 0 and 1 hundredth (10 ms or less) are shown for 100 ms, as web browsers
    // and desktop viewers do; such files expect the viewer's default speed.
    int PlayDelayMs() const { return DelayMs <= 10 ? 100 : DelayMs; }
};

struct TGifAnimation {
    int Width = 0;          // logical screen
    int Height = 0;
    // Netscape loop count: 0 plays forever; -1 when the file has none (play once).
    // A count N > 0 repeats the animation N times after the first showing.
    int LoopCount = -1;
    std::vector<TGifFrame> Frames;  // at least one after a successful decode
};

// The memory all composed frames of one GIF may take (4 bytes a pixel of the
// logical screen, per frame); larger animations are refused before decoding.
inline constexpr std::uint64_t GifFrameMemoryBudget = std::uint64_t{1} << 30;

// Decodes every frame through giflib; errors are raised as EInvalidGraphic
// with giflib's message. Sizes and the memory all frames need are checked
// before they are allocated. A file damaged or cut off after its first
// complete frame keeps the frames before the damage; damage in the first
// frame is an error.
TGifAnimation DecodeGif(TBytes data);
// Writes one picture by the program's palette rule (QuantizeForGif).
TByteVector EncodeGif(const QImage& image);

}  // namespace pixhold::imaging
