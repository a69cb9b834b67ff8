#include "FitImage.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pixhold::viewer {

namespace {

// Round to nearest, ties to even, in single precision.
// A side that is no number (an empty picture in an empty parent) is 0.
int RoundEven(float value) {
    if (!std::isfinite(value) || value < 0.0f) return 0;
    if (value > static_cast<float>(std::numeric_limits<int>::max() / 2)) return std::numeric_limits<int>::max() / 2;
    return static_cast<int>(std::nearbyintf(value));
}

}  // namespace

TFit FitImageToParent(int width, int height, int clientWidth, int clientHeight, int bevel) {
    TFit fit;
    int w = width;
    int h = height;
    if (!(width < clientWidth && height < clientHeight)) {
        fit.Stretch = true;
        const float p = width == 0 ? 0.0f
                        : height == 0 ? std::numeric_limits<float>::infinity()
                                      : static_cast<float>(width) / static_cast<float>(height);
        const float q = clientWidth == 0 ? 0.0f
                        : clientHeight == 0 ? std::numeric_limits<float>::infinity()
                                            : static_cast<float>(clientWidth) / static_cast<float>(clientHeight);
        if (p > q) {
            w = clientWidth;
            const float side = static_cast<float>(clientWidth) / p;
            h = RoundEven(side);
        } else {
            h = clientHeight;
            const float side = p * static_cast<float>(clientHeight);
            w = RoundEven(side);
        }
    }
    w = std::max(0, w - 2 * bevel);
    h = std::max(0, h - 2 * bevel);
    fit.Bounds = QRect(clientWidth / 2 - w / 2, clientHeight / 2 - h / 2, w, h);
    return fit;
}

}  // namespace pixhold::viewer
