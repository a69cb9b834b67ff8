// Help files, the help viewer, the help commands and the web-page command.

#include "FormFixture.h"
#include "HelpFile.h"
#include "HelpViewer.h"
#include "TempDir.h"
#include "WebPage.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>

namespace pixhold::app::test {
namespace {

const char* const Minimal =
    "PIXHOLD HELP 1\n"
    "Title: Test Help\n"
    "[contents]\n"
    "See {20} and {40|the window}.\n"
    "[index]\n"
    "start = 20\n"
    "window, main = 40, 20\n"
    "[topic 20] Getting Started\n"
    "First line\n"
    "joined.\n"
    "\n"
    "## Heading\n"
    "- item <b>\n"
    "[topic 40] Main Window\n"
    "Back to {contents|the contents}.\n";

TEST(HelpFile, ParsesContentsIndexAndTopics) {
    const THelpFile file = THelpFile::Parse(QString::fromUtf8(Minimal));
    EXPECT_EQ(file.Title, QStringLiteral("Test Help"));
    ASSERT_EQ(file.Topics.size(), 2u);
    ASSERT_NE(file.Topic(20), nullptr);
    EXPECT_EQ(file.Topic(20)->Title, QStringLiteral("Getting Started"));
    EXPECT_EQ(file.Topic(30), nullptr);
    ASSERT_EQ(file.Index.size(), 2u);
    EXPECT_EQ(file.Index[1].Keyword, QStringLiteral("window, main"));
    EXPECT_EQ(file.Index[1].Topics, (std::vector<int>{40, 20}));
}

TEST(HelpFile, RendersParagraphsHeadingsListsAndEscapedText) {
    const THelpFile file = THelpFile::Parse(QString::fromUtf8(Minimal));
    const QString topic = file.TopicHtml(20);
    EXPECT_TRUE(topic.contains(QStringLiteral("<p>First line joined.</p>")));
    EXPECT_TRUE(topic.contains(QStringLiteral("<h3>Heading</h3>")));
    EXPECT_TRUE(topic.contains(QStringLiteral("<li>item &lt;b&gt;</li>")));
    const QString contents = file.ContentsHtml();
    EXPECT_TRUE(contents.contains(QStringLiteral("<a href=\"topic:20\">Getting Started</a>")));
    EXPECT_TRUE(contents.contains(QStringLiteral("<a href=\"topic:40\">the window</a>")));
    EXPECT_TRUE(file.TopicHtml(40).contains(QStringLiteral("<a href=\"contents\">the contents</a>")));
    EXPECT_TRUE(file.TopicHtml(99).contains(QStringLiteral("Topic 99 is not in this help file.")));
}

TEST(HelpFile, KeywordSearchIgnoresLetterCase) {
    const THelpFile file = THelpFile::Parse(QString::fromUtf8(Minimal));
    ASSERT_EQ(file.FindKeywords(QStringLiteral("WIN")).size(), 1u);
    EXPECT_EQ(file.FindKeywords(QString()).size(), 2u);
    EXPECT_TRUE(file.IndexHtml(QStringLiteral("zebra")).contains(QStringLiteral("No keyword")));
}

TEST(HelpFile, AcceptsCrLfAndAByteOrderMark) {
    QString text = QString::fromUtf8(Minimal);
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    const THelpFile file = THelpFile::Parse(QChar(0xFEFF) + text);
    ASSERT_NE(file.Topic(40), nullptr);
    EXPECT_EQ(file.Topic(40)->Title, QStringLiteral("Main Window"));
}

struct BadFile {
    const char* Name;
    const char* Text;
    const char* Error;
};

class BadHelpFileTest : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadHelpFileTest, IsRefusedWithLineAndReason) {
    try {
        THelpFile::Parse(QString::fromUtf8(GetParam().Text));
        ADD_FAILURE() << "accepted";
    } catch (const EHelpFileError& e) {
        EXPECT_STREQ(e.what(), GetParam().Error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadHelpFileTest,
    ::testing::Values(
        BadFile{"Empty", "", "line 1: the file is empty"},
        BadFile{"NoSignature", "[contents]\nx\n",
                "line 1: the file does not begin with \"PIXHOLD HELP 1\""},
        BadFile{"NoContents", "PIXHOLD HELP 1\n[topic 1] A\n", "line 3: the file has no contents page"},
        BadFile{"DuplicateTopic", "PIXHOLD HELP 1\n[contents]\n[topic 1] A\n[topic 1] B\n",
                "line 4: topic 1 appears twice"},
        BadFile{"TopicNumberNotPositive", "PIXHOLD HELP 1\n[contents]\n[topic 0] A\n",
                "line 3: \"0\" is not a topic number"},
        BadFile{"TopicWithoutTitle", "PIXHOLD HELP 1\n[contents]\n[topic 5]\n",
                "line 3: topic 5 has no title"},
        BadFile{"UnknownSection", "PIXHOLD HELP 1\n[contents]\n[glossary]\n",
                "line 3: unknown section [glossary]"},
        BadFile{"TextBeforeFirstSection", "PIXHOLD HELP 1\nHello\n[contents]\n",
                "line 2: only \"Title:\" may precede the first section"},
        BadFile{"IndexLineWithoutTopics", "PIXHOLD HELP 1\n[contents]\n[index]\nlonely\n",
                "line 4: an index line is \"keyword = topic, topic ...\""},
        BadFile{"IndexEntryForMissingTopic", "PIXHOLD HELP 1\n[contents]\n[index]\nx = 7\n",
                "line 4: index entry for topic 7, which is not in the file"},
        BadFile{"LinkToMissingTopic", "PIXHOLD HELP 1\n[contents]\nsee {12}\n",
                "line 3: link to topic 12, which is not in the file"},
        BadFile{"LinkToNothing", "PIXHOLD HELP 1\n[contents]\nsee {elsewhere|x}\n",
                "line 3: \"elsewhere\" is not a link target"}),
    [](const ::testing::TestParamInfo<BadFile>& p) { return p.param.Name; });

TEST(ShippedHelpFiles, HaveEveryTopicTheProgramAsksFor) {
    const THelpFile pixhold =
        THelpFile::Load(QString::fromStdString(SourceHelpFolder() + "Pixhold.hlp"));
    for (int topic : {20, 40, 50, 60, 61}) {
        EXPECT_NE(pixhold.Topic(topic), nullptr) << topic;
    }
    EXPECT_FALSE(pixhold.Contents.isEmpty());
    EXPECT_FALSE(pixhold.Index.empty());

    const THelpFile norv = THelpFile::Load(QString::fromStdString(SourceHelpFolder() + "Norv.hlp"));
    ASSERT_NE(norv.Topic(40), nullptr);
    EXPECT_EQ(norv.Topic(40)->Title, QStringLiteral("Other Norvane Software"));
}

TEST(HelpViewer, FollowsLinksAndGoesBack) {
    TfrmHelp viewer;
    viewer.SetFile(THelpFile::Parse(QString::fromUtf8(Minimal)), QStringLiteral("test.hlp"));
    EXPECT_EQ(viewer.windowTitle(), QStringLiteral("Test Help"));
    auto* browser = viewer.findChild<QTextBrowser*>(QStringLiteral("txtHelp"));
    QPushButton* back = nullptr;
    for (QPushButton* button : viewer.findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("&Back")) {
            back = button;
        }
    }
    ASSERT_NE(browser, nullptr);
    ASSERT_NE(back, nullptr);

    viewer.ShowPage({TfrmHelp::TPageKind::Contents, 0});
    EXPECT_FALSE(back->isEnabled());
    Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("topic:40")));
    EXPECT_TRUE(viewer.CurrentPage() == (TfrmHelp::TPage{TfrmHelp::TPageKind::Topic, 40}));
    EXPECT_TRUE(viewer.PageText().contains(QStringLiteral("Main Window")));
    Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("index")));
    EXPECT_TRUE(viewer.CurrentPage().Kind == TfrmHelp::TPageKind::Index);

    back->click();
    EXPECT_TRUE(viewer.CurrentPage() == (TfrmHelp::TPage{TfrmHelp::TPageKind::Topic, 40}));
    back->click();
    EXPECT_TRUE(viewer.CurrentPage().Kind == TfrmHelp::TPageKind::Contents);
    EXPECT_FALSE(back->isEnabled());
}

TEST(HelpViewer, KeywordBoxNarrowsTheIndexAndOpensASingleTopic) {
    TfrmHelp viewer;
    viewer.SetFile(THelpFile::Parse(QString::fromUtf8(Minimal)), QStringLiteral("test.hlp"));
    viewer.ShowPage({TfrmHelp::TPageKind::Index, 0});
    auto* keyword = viewer.findChild<QLineEdit*>(QStringLiteral("edtKeyword"));
    ASSERT_NE(keyword, nullptr);
    keyword->setText(QStringLiteral("WIN"));
    Q_EMIT keyword->textEdited(keyword->text());
    EXPECT_TRUE(viewer.PageText().contains(QStringLiteral("window, main")));
    EXPECT_FALSE(viewer.PageText().contains(QStringLiteral("start")));
    Q_EMIT keyword->returnPressed();  // one keyword, but two topics: stays
    EXPECT_TRUE(viewer.CurrentPage().Kind == TfrmHelp::TPageKind::Index);
    keyword->setText(QStringLiteral("sta"));
    Q_EMIT keyword->textEdited(keyword->text());
    Q_EMIT keyword->returnPressed();
    EXPECT_TRUE(viewer.CurrentPage() == (TfrmHelp::TPage{TfrmHelp::TPageKind::Topic, 20}));
}

// The help commands of the main window, against the shipped files.
class HelpCommandTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        form->Config().ProgramFolder = SourceHelpFolder();
    }

    TfrmHelp::TPage Shown() const { return form->Help().Viewer()->CurrentPage(); }
};

TEST_F(HelpCommandTest, EachCommandOpensItsFileAtItsPage) {
    struct Case {
        QAction* Command;
        const char* File;
        TfrmHelp::TPage Page;
    };
    const Case cases[] = {
        {form->Contents1, "Pixhold.hlp", {TfrmHelp::TPageKind::Contents, 0}},
        {form->KeywordSearch1, "Pixhold.hlp", {TfrmHelp::TPageKind::Index, 0}},
        {form->GettingStarted1, "Pixhold.hlp", {TfrmHelp::TPageKind::Topic, 20}},
        {form->OtherNorvaneSoftware1, "Norv.hlp", {TfrmHelp::TPageKind::Topic, 40}},
        {form->Contents1, "Pixhold.hlp", {TfrmHelp::TPageKind::Contents, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Command->text().toStdString());
        c.Command->trigger();
        ASSERT_NE(form->Help().Viewer(), nullptr);
        EXPECT_EQ(form->Help().Viewer()->FilePath(),
                  QString::fromStdString(SourceHelpFolder() + c.File));
        EXPECT_TRUE(Shown() == c.Page);
        EXPECT_TRUE(form->Help().Viewer()->isVisible());
    }
    EXPECT_TRUE(prompt.Asked().empty());
    EXPECT_TRUE(form->Help().Viewer()->PageText().contains(QStringLiteral("Pixhold")));
}

TEST_F(HelpCommandTest, MissingHelpFileIsReported) {
    pixhold::test::TempDir empty;
    form->Config().ProgramFolder = empty.folder();
    form->Contents1->trigger();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(prompt.Asked()[0].Text,
              QString::fromStdString("Cannot open the help file " + empty.folder() + "Pixhold.hlp."));
    EXPECT_EQ(form->Help().Viewer(), nullptr);
}

class WebPageTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        form->SetBrowserLauncher([this](const QUrl& url) {
            launched.push_back(url);
            return browserStarts;
        });
        prompt.Clear();
    }

    std::vector<QUrl> launched;
    bool browserStarts = true;
};

TEST_F(WebPageTest, AnswerNoOpensNothing) {
    prompt.AnswerButton(TAnswer::No);
    form->PixholdWebPage1->trigger();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Kind, TScriptedPrompt::TKind::Question);
    EXPECT_EQ(prompt.Asked()[0].Text, QStringLiteral("Connect to the Internet now?"));
    EXPECT_EQ(prompt.Asked()[0].Buttons, TButtons::YesNo);
    EXPECT_EQ(prompt.Asked()[0].Icon, TMsgIcon::Confirmation);
    EXPECT_TRUE(launched.empty());
}

TEST_F(WebPageTest, AnswerYesOpensTheProductPage) {
    prompt.AnswerButton(TAnswer::Yes);
    form->PixholdWebPage1->trigger();
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0], QUrl(ProductWebPage));
    EXPECT_EQ(prompt.Asked().size(), 1u);
}

TEST_F(WebPageTest, BrowserThatDoesNotStartIsReported) {
    browserStarts = false;
    prompt.AnswerButton(TAnswer::Yes);
    form->PixholdWebPage1->trigger();
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_EQ(prompt.Asked()[1].Kind, TScriptedPrompt::TKind::Message);
    EXPECT_EQ(prompt.Asked()[1].Caption, QStringLiteral("Launch Error"));
    EXPECT_EQ(prompt.Asked()[1].Text, QStringLiteral("Could not start your Internet browser"));
}

TEST(WebPage, WithoutConfirmationOpensAtOnce) {
    TScriptedPrompt prompt;
    int launches = 0;
    TWebPageOpener opener(prompt, [&launches](const QUrl&) { return ++launches > 0; });
    EXPECT_TRUE(opener.OpenWebPage(MakerHomePage, false));
    EXPECT_EQ(launches, 1);
    EXPECT_TRUE(prompt.Asked().empty());
}

}  // namespace
}  // namespace pixhold::app::test
