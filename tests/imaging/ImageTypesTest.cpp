// Type codes of stored pictures by file extension.

#include "ImageTypes.h"

#include <gtest/gtest.h>

#include <string>

namespace pixhold::imaging {
namespace {

struct TypeCase {
    const char* FileName;
    int Code;
};

class ImageTypeOfExtensionTest : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ImageTypeOfExtensionTest, GivesTheStoredCode) {
    EXPECT_EQ(static_cast<int>(ImageTypeOfExtension(GetParam().FileName)), GetParam().Code)
        << GetParam().FileName;
}

INSTANTIATE_TEST_SUITE_P(
    Extensions, ImageTypeOfExtensionTest,
    ::testing::Values(TypeCase{"a.jpg", 0}, TypeCase{"A.JPEG", 0}, TypeCase{"anim.Gif", 1},
                      TypeCase{"b.bmp", 2}, TypeCase{"c.ICO", 3}, TypeCase{"d.wmf", 4},
                      TypeCase{"e.emf", 5}, TypeCase{"f.png", 6},
                      // only the last extension counts
                      TypeCase{"g.png.jpg", 0}, TypeCase{"h.jpg.txt", 255},
                      // no extension, an unknown one, a dot in a folder name only
                      TypeCase{"noext", 255}, TypeCase{"x.tif", 255}, TypeCase{"", 255},
                      TypeCase{"/pics.jpg/readme", 255}, TypeCase{"C:\\pics\\i.PNG", 6},
                      TypeCase{"a.jpgx", 255}));

}  // namespace
}  // namespace pixhold::imaging
