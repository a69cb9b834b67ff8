// The start-up window.

#include "Splash.h"

#include <gtest/gtest.h>

#include <QLabel>

namespace pixhold::app {
namespace {

TEST(Splash, IsABorderlessWhiteWindowWithTheGreenTitle) {
    TfrmSplash splash;
    splash.ShowNow();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_EQ(splash.size(), QSize(393, 212));
    EXPECT_EQ(splash.windowTitle().toStdString(), "Loading Pixhold");
    EXPECT_TRUE(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(splash.palette().color(QPalette::Window), QColor(Qt::white));

    auto* title = splash.findChild<QLabel*>(QStringLiteral("lblTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text().toStdString(), "Pixhold\u2122");
    EXPECT_EQ(title->font().pixelSize(), 35);
    EXPECT_TRUE(title->font().bold());
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(0, 128, 0));

    auto* picture = splash.findChild<QLabel*>(QStringLiteral("imgProgram"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), QSize(105, 113));
    EXPECT_FALSE(picture->pixmap().isNull());
}

}  // namespace
}  // namespace pixhold::app
