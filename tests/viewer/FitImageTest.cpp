// Where the viewer puts its picture in the panel.

#include "FitImage.h"

#include <gtest/gtest.h>

namespace pixhold::viewer::test {
namespace {

TEST(FitImageToParentTest, Examples) {
    struct Case {
        int w, h, cw, ch, bevel;
        QRect bounds;
        bool stretch;
    };
    for (const Case& c : {
             // Smaller on both axes: own size less the bevel allowance, centred.
             Case{100, 50, 800, 600, 1, QRect(351, 276, 98, 48), false},
             // As wide as the parent: stretched although it would fit in height.
             Case{800, 50, 800, 600, 1, QRect(1, 276, 798, 48), true},
             // Wider aspect than the parent: the width is the limit.
             Case{1600, 400, 800, 600, 1, QRect(1, 201, 798, 198), true},
             // Taller aspect: the height is, the width rounded (666.67 -> 667).
             Case{1600, 1200, 800, 500, 1, QRect(68, 1, 665, 498), true},
             // Ties go to the even neighbour: 2.5 -> 2, 3.5 -> 4.
             Case{5, 4, 10, 2, 0, QRect(4, 0, 2, 2), true},
             Case{7, 4, 10, 2, 0, QRect(3, 0, 4, 2), true},
             // Same aspect as the parent: the height branch, exact.
             Case{1600, 1200, 800, 600, 0, QRect(0, 0, 800, 600), true},
             // An empty picture or parent: nothing below 0.
             Case{0, 0, 800, 600, 1, QRect(400, 300, 0, 0), false},
             Case{0, 10, 800, 0, 1, QRect(400, 0, 0, 0), true},
             Case{50, 0, 0, 0, 1, QRect(0, 0, 0, 0), true},
             Case{1, 1, 1, 1, 1, QRect(0, 0, 0, 0), true},
         }) {
        const TFit fit = FitImageToParent(c.w, c.h, c.cw, c.ch, c.bevel);
        EXPECT_EQ(fit.Bounds, c.bounds) << c.w << "x" << c.h << " in " << c.cw << "x" << c.ch;
        EXPECT_EQ(fit.Stretch, c.stretch) << c.w << "x" << c.h << " in " << c.cw << "x" << c.ch;
    }
}

}  // namespace
}  // namespace pixhold::viewer::test
