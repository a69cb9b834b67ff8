#pragma once

#include <QRect>

namespace pixhold::viewer {

// Where the viewer puts its picture control in the panel, and whether the
// control stretches the picture.
struct TFit {
    QRect Bounds;
    bool Stretch = false;
};

// The viewer's fitting rule for a picture of width x height in a parent whose
// client area is clientWidth x clientHeight, with a bevel of that width on the
// parent (subtracted twice from each side, not below 0):
// - smaller than the parent on both axes: shown at its own size, unstretched;
// - otherwise stretched to the parent's width or height, whichever the
//   aspect ratios (single precision) make the limit; the other side is
//   rounded to the nearest integer, ties to even;
// - centred: left = clientWidth div 2 - w div 2, top likewise.
TFit FitImageToParent(int width, int height, int clientWidth, int clientHeight, int bevel);

}  // namespace pixhold::viewer
