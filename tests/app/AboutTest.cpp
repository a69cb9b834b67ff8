// The About box.

#include "About.h"
#include "ScriptedPrompt.h"
#include "WebPage.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>

#include <vector>

namespace pixhold::app {
namespace {

class AboutTest : public ::testing::Test {
protected:
    TScriptedPrompt prompt;
    std::vector<QUrl> launched;
    bool browserStarts = true;
    int helpRequests = 0;
    TWebPageOpener opener{prompt, [this](const QUrl& url) {
                              launched.push_back(url);
                              return browserStarts;
                          }};
    TAboutBox box{opener, [this] { ++helpRequests; }};
};

TEST_F(AboutTest, ShowsNameVersionAndBuildWhenShown) {
    box.show();
    EXPECT_EQ(box.windowTitle().toStdString(), "About Pixhold");
    EXPECT_EQ(box.ProductName->text().toStdString(), "Pixhold\u2122");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Version 1\\D01$")).match(box.Version->text()).hasMatch())
        << box.Version->text().toStdString();
    EXPECT_EQ(box.Build->text().toStdString(), "Build 1.012");
}

TEST_F(AboutTest, WebAddressOpensTheMakersPageWithoutAsking) {
    Q_EMIT box.WebAddress->linkActivated(MakerHomePage);
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0], QUrl(MakerHomePage));
    EXPECT_TRUE(prompt.Asked().empty());

    browserStarts = false;
    Q_EMIT box.WebAddress->linkActivated(MakerHomePage);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Caption.toStdString(), "Launch Error");
}

TEST_F(AboutTest, EscClosesWithOkAndF1AsksForHelp) {
    box.show();
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &f1);
    EXPECT_EQ(helpRequests, 1);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &esc);
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());
}

}  // namespace
}  // namespace pixhold::app
