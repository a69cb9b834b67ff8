// The imaging suite draws text and pictures, which needs a GUI application
// (tests run with QT_QPA_PLATFORM=offscreen).
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
