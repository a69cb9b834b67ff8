// The shipped help describes the program as it is: every menu command of the
// main window and the viewer under its caption, the main window's shortcut
// keys, every option of Program Options, and every dialog under its title.

#include "FormFixture.h"
#include "HelpFile.h"

#include "About.h"
#include "Config.h"
#include "WebPage.h"
#include "fCategory.h"
#include "fChangePassword.h"
#include "fMove2DB.h"
#include "fOptions.h"
#include "fSaveDBImageAs.h"
#include "fSelectTable.h"
#include "fViewer.h"
#include "IViewerHost.h"
#include "ImageHelper.h"

#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>

#include <memory>

namespace pixhold::app {
namespace {

QString MenuCaption(QString text) {
    return text.remove(u'&').remove(QStringLiteral("…")).trimmed();
}

// The captions of the commands of a menu bar, with their menu's name for messages.
std::vector<std::pair<QString, QAction*>> Commands(QMenuBar* bar) {
    std::vector<std::pair<QString, QAction*>> commands;
    std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu, const QString& path) {
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) continue;
            if (action->menu() != nullptr) {
                walk(action->menu(), path + MenuCaption(action->text()) + QStringLiteral(", "));
            } else {
                commands.emplace_back(path + MenuCaption(action->text()), action);
            }
        }
    };
    for (QAction* top : bar->actions()) {
        if (top->menu() != nullptr) walk(top->menu(), MenuCaption(top->text()) + QStringLiteral(", "));
    }
    return commands;
}

// The whole text of the program's help file, and of one topic.
class HelpCoverageTest : public test::FormFixture {
protected:
    void SetUp() override {
        test::FormFixture::SetUp();
        file = THelpFile::Load(QString::fromStdString(test::SourceHelpFolder()) + QStringLiteral("Pixhold.hlp"));
    }

    // The text as a reader sees it: lines of a paragraph joined.
    QString Topic(int number) const {
        const THelpTopic* topic = file.Topic(number);
        return topic != nullptr ? (topic->Title + u'\n' + topic->Body).simplified() : QString();
    }

    QString All() const {
        QString text = file.Contents;
        for (const auto& [number, topic] : file.Topics) text += u'\n' + topic.Title + u'\n' + topic.Body;
        return text.simplified();
    }

    THelpFile file;
};

class TSilentViewerHost final : public viewer::IViewerHost {
public:
    void ShowMessage(const QString&) override {}
    void ShowInformation(const QString&) override {}
    void ShowMessageBox(const QString&, const QString&) override {}
    bool Confirm(const QString&) override { return false; }
    void ReportError(std::exception_ptr) override {}
    std::optional<viewer::TSaveFileChoice> ChooseSaveFile(const QString&, const QString&, int) override {
        return std::nullopt;
    }
    QString ChooseCategory(bool) override { return viewer::CategoryCancelMark; }
    viewer::TMoveChoice ChooseMoveTarget() override { return {}; }
    std::optional<QString> ChooseSaveAsName(const QString&) override { return std::nullopt; }
    void ShowHelp(int) override {}
    void ShowAbout() override {}
    void RemoveListItem(const QString&) override {}
    void RefreshImageList() override {}
    void ApplyCategoryFilter() override {}
    bool MoveImageToTable(const QString&, const QString&, const QString&) override { return false; }
    void SetImageCategory(const QString&) override {}
};

TEST_F(HelpCoverageTest, EveryMainWindowCommandAndShortcutIsDescribed) {
    const QString commandsTopic = Topic(41);
    ASSERT_FALSE(commandsTopic.isEmpty());
    const auto commands = Commands(form->menuBar());
    ASSERT_GT(commands.size(), 25u);
    for (const auto& [path, action] : commands) {
        EXPECT_TRUE(commandsTopic.contains(MenuCaption(action->text()))) << path.toStdString();
        const QString keys = action->shortcut().toString(QKeySequence::PortableText);
        if (!keys.isEmpty()) {
            EXPECT_TRUE(commandsTopic.contains(keys)) << path.toStdString() << ": " << keys.toStdString();
        }
    }
}

TEST_F(HelpCoverageTest, EveryViewerCommandIsDescribedInTheViewersTopic) {
    const QString viewerTopic = Topic(50);
    ASSERT_FALSE(viewerTopic.isEmpty());
    imaging::TPH ph;
    TSilentViewerHost host;
    viewer::TfrmViewer viewer(form->Config(), ph, nullptr, host, nullptr, nullptr);
    const auto commands = Commands(viewer.menuBar());
    ASSERT_GT(commands.size(), 15u);
    for (const auto& [path, action] : commands) {
        EXPECT_TRUE(viewerTopic.contains(MenuCaption(action->text()))) << path.toStdString();
    }
}

TEST_F(HelpCoverageTest, EveryProgramOptionIsDescribedInTheOptionsTopic) {
    class TNoActions final : public IOptionsActions {
    public:
        void DisconnectDatabase() override {}
        void ConnectDatabase() override {}
        store::TDataFolderMove MoveDataTables(const std::string&, const std::string&) override { return {}; }
    } actions;
    TfrmOptions options(form->Config(), prompt, actions, {});
    const QString optionsTopic = Topic(60);
    QStringList captions;
    for (const QCheckBox* box : options.findChildren<QCheckBox*>()) captions << box->text();
    for (const QGroupBox* group : options.findChildren<QGroupBox*>()) captions << group->title();
    for (const QLabel* label : options.findChildren<QLabel*>()) captions << label->text().remove(u':');
    for (const QTabWidget* tabs : options.findChildren<QTabWidget*>()) {
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->isTabVisible(i)) captions << tabs->tabText(i);
        }
    }
    ASSERT_GE(captions.size(), 10);
    for (const QString& caption : captions) {
        if (MenuCaption(caption).isEmpty()) continue;
        EXPECT_TRUE(optionsTopic.contains(MenuCaption(caption))) << caption.toStdString();
    }
    EXPECT_TRUE(optionsTopic.contains(options.windowTitle()));
}

TEST_F(HelpCoverageTest, EveryDialogIsNamedByItsTitle) {
    TfrmSelectTable select({}, QStringLiteral("Default"));
    TfrmNewPassword password(prompt, [] { return QString(); });
    TfrmNewPassword request(prompt, [] { return QString(); });
    request.MakePasswordRequest();
    TfrmMove2DB move(form->Config(), {}, [](const QString&) { return QStringList(); });
    TfrmSaveDBImageAs saveAs(prompt, QStringLiteral("a.jpg"));
    TfrmCategory assign({});
    TfrmCategory set({});
    set.MakeSetMode();
    TWebPageOpener webPage(prompt);
    TAboutBox about(webPage, {});
    const QString all = All();
    for (const QWidget* dialog : std::initializer_list<const QWidget*>{
             &select, &password, &request, &move, &saveAs, &assign, &set, &about}) {
        EXPECT_TRUE(all.contains(dialog->windowTitle())) << dialog->windowTitle().toStdString();
    }
}

}  // namespace
}  // namespace pixhold::app
