#pragma once

// Shared by the codec tests: fixture files as bytes and colour comparisons
// with a tolerance (JPEG is lossy).

#include "ByteSpan.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace pixhold::imaging::test {

inline std::filesystem::path FixturePath(const std::string& relative) {
    return std::filesystem::path(PIXHOLD_SOURCE_DIR) / "tests" / "imaging" / "fixtures" / relative;
}

inline TByteVector ReadFixture(const std::string& relative) {
    const auto path = FixturePath(relative);
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "missing fixture " << path;
    return TByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True when every channel (alpha included) lies within `tolerance`.
inline ::testing::AssertionResult ColourNear(QRgb actual, QRgb expected, int tolerance) {
    const auto off = [&](int a, int e) { return std::abs(a - e) > tolerance; };
    if (off(qRed(actual), qRed(expected)) || off(qGreen(actual), qGreen(expected)) ||
        off(qBlue(actual), qBlue(expected)) || off(qAlpha(actual), qAlpha(expected))) {
        return ::testing::AssertionFailure()
               << QColor::fromRgba(actual).name(QColor::HexArgb).toStdString() << " is not within "
               << tolerance << " of " << QColor::fromRgba(expected).name(QColor::HexArgb).toStdString();
    }
    return ::testing::AssertionSuccess();
}

// A parameterised test's name from its fixture file: "cmyk-adobe.jpg" gives
// "cmykadobe" (the parameter needs a File member).
template <typename Param>
std::string FileTestName(const ::testing::TestParamInfo<Param>& param) {
    std::string name = param.param.File;
    name = name.substr(0, name.find('.'));
    std::erase_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
    return name;
}

}  // namespace pixhold::imaging::test
