// The main window's menus, tool bar and selectors against the program's tables.

#include "FormFixture.h"

#include <QAction>
#include <QComboBox>
#include <QCompleter>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QWidgetAction>

#include <map>

namespace pixhold::app::test {
namespace {

struct MenuRow {
    const char* Menu;
    const char* Caption;  // "-" for a separator
    const char* Shortcut;
};

const MenuRow ExpectedMenus[] = {
    {"&File", "&New Database", ""},
    {"&File", "&Open Database", "Ctrl+O"},
    {"&File", "Delete Current Database", ""},
    {"&File", "Comp&act Database", ""},
    {"&File", "&Remove Orphaned Thumbs", ""},
    {"&File", "Change Database &Password", ""},
    {"&File", "-", ""},
    {"&File", "&Import Images", "Ctrl+I"},
    {"&File", "&Export Images", ""},
    {"&File", "Export Image &Thumbnails", ""},
    {"&File", "Con&vert Images to Thumbnails", "Alt+T"},
    {"&File", "&Change Image Category", "Shift+Ctrl+C"},
    {"&File", "&Move Images to Database", "Alt+M"},
    {"&File", "-", ""},
    {"&File", "&Browse Folder", "Ctrl+B"},
    {"&File", "&Quick Folder Browse", "Ctrl+Q"},
    {"&File", "-", ""},
    {"&File", "E&xit", ""},
    {"&Edit", "&Delete Image", "Del"},
    {"&Edit", "D&elete All", ""},
    {"&Edit", "&Select All", "Ctrl+A"},
    {"&View", "&Thumbnail view", ""},
    {"&View", "-", ""},
    {"&View", "&Switch category view", "Ctrl+S"},
    {"&View", "&Options", ""},
    {"&View", "&Refresh", "F5"},
    {"&Help", "Contents", "F1"},
    {"&Help", "Keyword Search", ""},
    {"&Help", "Getting Started", ""},
    {"&Help", "-", ""},
    {"&Help", "Pixhold Web Page", ""},
    {"&Help", "Other Norvane Software", ""},
    {"&Help", "About", ""},
};

// Tool-bar entries in order: a hint and the menu caption it runs, "-" for a
// separator; the two selectors come last.
struct ToolRow {
    const char* Hint;
    const char* SameAs;
};

const ToolRow ExpectedTools[] = {
    {"Create new database", "&New Database"},
    {"Open a database", "&Open Database"},
    {"Compact current database", "Comp&act Database"},
    {"Change database password", "Change Database &Password"},
    {"Remove orphaned thumbs", "&Remove Orphaned Thumbs"},
    {"-", ""},
    {"Import images into database", "&Import Images"},
    {"Export selected images", "&Export Images"},
    {"Change image category", "&Change Image Category"},
    {"Move selected images to database", "&Move Images to Database"},
    {"-", ""},
    {"Browse folder", "&Browse Folder"},
    {"Quick folder browse", "&Quick Folder Browse"},
    {"-", ""},
    {"Delete selected images", "&Delete Image"},
    {"-", ""},
    {"Switch view", "&Thumbnail view"},
    {"View program options", "&Options"},
    {"Refresh images", "&Refresh"},
    {"-", ""},
    {"Help", "Contents"},
    {"-", ""},
    {"Table selector", ""},
    {"Category selector", ""},
};

// Every entry of the menu bar as rows.
std::vector<std::tuple<QString, QString, QKeySequence, QAction*>> MenuEntries(TForm1& form) {
    std::vector<std::tuple<QString, QString, QKeySequence, QAction*>> rows;
    for (QAction* top : form.menuBar()->actions()) {
        for (QAction* entry : top->menu()->actions()) {
            rows.emplace_back(top->text(), entry->isSeparator() ? QStringLiteral("-") : entry->text(),
                              entry->shortcut(), entry);
        }
    }
    return rows;
}

QAction* MenuEntry(TForm1& form, const QString& caption) {
    for (const auto& [menu, text, shortcut, action] : MenuEntries(form)) {
        if (text == caption) {
            return action;
        }
    }
    return nullptr;
}

using MainWindowTest = FormFixture;

TEST_F(MainWindowTest, MenusHaveTheirCaptionsAndShortcutsInOrder) {
    const auto rows = MenuEntries(*form);
    ASSERT_EQ(rows.size(), std::size(ExpectedMenus));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MenuRow& want = ExpectedMenus[i];
        SCOPED_TRACE(want.Caption);
        EXPECT_EQ(std::get<0>(rows[i]), QString::fromUtf8(want.Menu));
        EXPECT_EQ(std::get<1>(rows[i]), QString::fromUtf8(want.Caption));
        EXPECT_EQ(std::get<2>(rows[i]),
                  QKeySequence(QString::fromUtf8(want.Shortcut), QKeySequence::PortableText));
    }
}

TEST_F(MainWindowTest, ToolBarHasItsHintsSeparatorsAndSelectorsInOrder) {
    const QList<QAction*> actions = form->ToolBar1->actions();
    ASSERT_EQ(static_cast<std::size_t>(actions.size()), std::size(ExpectedTools));
    for (qsizetype i = 0; i < actions.size(); ++i) {
        const ToolRow& want = ExpectedTools[i];
        SCOPED_TRACE(want.Hint);
        QAction* action = actions[i];
        QString hint;
        if (action->isSeparator()) {
            hint = QStringLiteral("-");
        } else if (auto* widget = qobject_cast<QWidgetAction*>(action)) {
            hint = widget->defaultWidget()->toolTip();
        } else {
            hint = action->toolTip();
        }
        EXPECT_EQ(hint, QString::fromUtf8(want.Hint));
    }
    EXPECT_EQ(qobject_cast<QWidgetAction*>(actions[actions.size() - 2])->defaultWidget(),
              form->cboTable);
    EXPECT_EQ(qobject_cast<QWidgetAction*>(actions.back())->defaultWidget(), form->cboCategory);
}

TEST_F(MainWindowTest, EachToolButtonRunsItsMenuEntryAndFollowsItsEnabledState) {
    std::map<QString, int> runs;
    for (const ToolRow& row : ExpectedTools) {
        if (*row.SameAs == '\0') {
            continue;
        }
        QAction* entry = MenuEntry(*form, QString::fromUtf8(row.SameAs));
        ASSERT_NE(entry, nullptr) << row.SameAs;
        entry->setEnabled(false);
    }
    const QList<QAction*> buttons = form->ToolBar1->actions();
    for (std::size_t i = 0; i < std::size(ExpectedTools); ++i) {
        const ToolRow& row = ExpectedTools[i];
        if (*row.SameAs == '\0') {
            continue;
        }
        SCOPED_TRACE(row.Hint);
        QAction* entry = MenuEntry(*form, QString::fromUtf8(row.SameAs));
        QAction* button = buttons[static_cast<qsizetype>(i)];
        EXPECT_FALSE(button->isEnabled());
        const QString caption = entry->text();
        form->BindCommand(entry, [&runs, caption] { ++runs[caption]; });
        EXPECT_TRUE(button->isEnabled());
        button->trigger();
        EXPECT_EQ(runs[caption], 1);
    }
}

TEST_F(MainWindowTest, OnlyTheCommandsThatWorkAreEnabled) {
    const std::map<QString, bool> enabled = {
        {"&New Database", false},      {"&Open Database", false},
        {"Delete Current Database", false}, {"Comp&act Database", false},
        {"&Remove Orphaned Thumbs", false}, {"Change Database &Password", false},
        {"&Import Images", false},     {"&Export Images", false},
        {"Export Image &Thumbnails", false}, {"Con&vert Images to Thumbnails", false},
        {"&Change Image Category", false}, {"&Move Images to Database", false},
        {"&Browse Folder", true},     {"&Quick Folder Browse", false},
        {"E&xit", true},               {"&Delete Image", false},
        {"D&elete All", false},        {"&Select All", true},
        {"&Thumbnail view", true},     {"&Switch category view", false},
        {"&Options", false},           {"&Refresh", true},
        {"Contents", true},            {"Keyword Search", true},
        {"Getting Started", true},     {"Pixhold Web Page", true},
        {"Other Norvane Software", true}, {"About", true},
    };
    for (const auto& [menu, caption, shortcut, action] : MenuEntries(*form)) {
        if (action->isSeparator()) {
            continue;
        }
        ASSERT_EQ(enabled.count(caption), 1u) << caption.toStdString();
        EXPECT_EQ(action->isEnabled(), enabled.at(caption)) << caption.toStdString();
    }
}

TEST_F(MainWindowTest, HooksEnableTheCommandsTheyServe) {
    int options = 0;
    int about = 0;
    TMainHooks hooks;
    hooks.AskCategory = [] { return QStringLiteral("\t"); };
    hooks.ShowOptions = [&options] { ++options; };
    hooks.ShowAbout = [&about] { ++about; };
    MakeForm(std::move(hooks));
    EXPECT_TRUE(form->Switchcategoryview1->isEnabled());
    form->Options1->trigger();
    form->About1->trigger();
    EXPECT_EQ(options, 1);
    EXPECT_EQ(about, 1);
}

TEST_F(MainWindowTest, WindowAndSelectorsStartAsDescribed) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Pixhold"));
    EXPECT_EQ(form->width(), TForm1::ClientWidth);
    EXPECT_FALSE(form->isVisible());

    EXPECT_EQ(form->cboTable->width(), 100);
    EXPECT_EQ(form->cboTable->completer(), nullptr);
    EXPECT_EQ(form->cboTable->currentText(), QStringLiteral("Default"));
    EXPECT_EQ(form->cboCategory->width(), 100);
    EXPECT_TRUE(form->cboCategory->TextCompletion());

    EXPECT_TRUE(form->Thumbnailview1->isChecked());
    EXPECT_EQ(form->StatusText(), QStringLiteral("Database: Default"));
    EXPECT_FALSE(form->Config().QuickBrowse);
    EXPECT_EQ(form->Help().HelpFile(),
              QString::fromStdString(form->Config().ProgramFolder) + QStringLiteral("Pixhold.hlp"));
}

TEST_F(MainWindowTest, TableSelectorIsFilledFromTheTableListAndShowsTheCurrentTable) {
    TMainHooks hooks;
    hooks.ListImageTables = [] { return QStringList{"Default", "Holiday", "Work"}; };
    MakeForm(std::move(hooks));
    EXPECT_EQ(form->cboTable->count(), 3);
    EXPECT_EQ(form->cboTable->itemText(1), QStringLiteral("Holiday"));
    EXPECT_EQ(form->cboTable->currentText(), QStringLiteral("Default"));
}

TEST_F(MainWindowTest, ErrorInTheCreationHandlerIsReportedAndTheWindowStillWorks) {
    prompt.Clear();
    TMainHooks hooks;
    hooks.ListImageTables = []() -> QStringList { throw std::runtime_error("Data folder is gone"); };
    MakeForm(std::move(hooks));
    ASSERT_EQ(prompt.Asked().size(), 1u);
    const auto& report = prompt.Asked().front();
    EXPECT_EQ(report.Kind, TScriptedPrompt::TKind::Message);
    EXPECT_EQ(report.Caption, QStringLiteral("Pixhold"));
    EXPECT_EQ(report.Text, QStringLiteral("Data folder is gone."));
    EXPECT_EQ(report.Icon, TMsgIcon::Error);
    Fill({"a.jpg"});
    EXPECT_EQ(Rows(), 1);
}

}  // namespace
}  // namespace pixhold::app::test
