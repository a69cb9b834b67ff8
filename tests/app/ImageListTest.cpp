// The main list: owner-supplied entries, removal, rebuilds, view styles,
// preview, selectors and the folder picker.

#include "FormFixture.h"
#include "TempDir.h"

#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

namespace pixhold::app::test {
namespace {

using ImageListTest = FormFixture;

int PreviewNumber(const QLabel& label) {
    const QPixmap pixmap = label.pixmap();
    return pixmap.isNull() ? -1 : ThumbNumber(pixmap.toImage());
}

TEST_F(ImageListTest, ListShowsTheNamesAndPicturesOfTheHelper) {
    Fill({"a.jpg", "b.gif", "c.png"});
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Caption(0), QStringLiteral("a.jpg"));
    EXPECT_EQ(Caption(2), QStringLiteral("c.png"));
    const QVariant picture = form->ListModel().data(form->ListModel().index(1), Qt::DecorationRole);
    ASSERT_TRUE(picture.canConvert<QPixmap>());
    EXPECT_EQ(ThumbNumber(picture.value<QPixmap>().toImage()), 1);
    EXPECT_EQ(ImageListNumbers(), (std::vector<int>{0, 1, 2}));
}

TEST_F(ImageListTest, EntriesBeyondTheNamesAreBlank) {
    Fill({"a.jpg"});
    form->ListModel().SetItemCount(3);
    EXPECT_EQ(Caption(0), QStringLiteral("a.jpg"));
    EXPECT_TRUE(Caption(2).isEmpty());
    EXPECT_FALSE(form->ListModel().data(form->ListModel().index(2), Qt::DecorationRole).isValid());
}

TEST_F(ImageListTest, EmptyTableShowsAnEmptyListWithoutPreview) {
    Fill({});
    EXPECT_EQ(Rows(), 0);
    form->Thumbnailview1->trigger();
    form->ListView1Click();
    EXPECT_EQ(PreviewNumber(*form->Image1), -1);
}

TEST_F(ImageListTest, RebuildEmptiesWhatWasThereAndResetsTheViewerIndex) {
    Fill({"a.jpg", "b.jpg", "c.jpg"});
    form->PH().ViewerIndex = 2;
    Fill({"d.jpg"});
    EXPECT_EQ(form->PH().ImageNames, QStringList{"d.jpg"});
    EXPECT_EQ(ThumbNumbers(), std::vector<int>{0});
    EXPECT_EQ(form->ImageList1().Count(), 1u);
    EXPECT_EQ(form->PH().ViewerIndex, 0);
    EXPECT_EQ(Rows(), 1);
}

struct RemoveCase {
    const char* Name;
    QStringList Names;
    bool Thumbs;
    QString Remove;
    QStringList NamesAfter;
    std::vector<int> ThumbsAfter;  // numbers of the thumbnails left, in order
};

class RemoveListItemTest : public FormFixture,
                           public ::testing::WithParamInterface<RemoveCase> {};

TEST_P(RemoveListItemTest, RemovesNameThumbnailAndPictureTogether) {
    const RemoveCase& c = GetParam();
    Fill(c.Names, c.Thumbs);
    form->RemoveListItem(c.Remove);
    EXPECT_EQ(form->PH().ImageNames, c.NamesAfter);
    EXPECT_EQ(ThumbNumbers(), c.ThumbsAfter);
    EXPECT_EQ(ImageListNumbers(), c.ThumbsAfter);
    ASSERT_EQ(Rows(), c.NamesAfter.size());
    for (int i = 0; i < Rows(); ++i) {
        EXPECT_EQ(Caption(i), c.NamesAfter[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveListItemTest,
    ::testing::Values(
        RemoveCase{"LastEntryLeavesAnEmptyList", {"a.jpg"}, true, "a.jpg", {}, {}},
        RemoveCase{"UnknownNameChangesNothing", {"a.jpg", "b.jpg"}, true, "x.jpg",
                   {"a.jpg", "b.jpg"}, {0, 1}},
        RemoveCase{"NamesMatchExactly", {"a.jpg"}, true, "A.JPG", {"a.jpg"}, {0}},
        RemoveCase{"DuplicateCaptionRemovesTheLaterOne", {"a.jpg", "b.jpg", "a.jpg", "c.jpg"}, true,
                   "a.jpg", {"a.jpg", "b.jpg", "c.jpg"}, {0, 1, 3}},
        RemoveCase{"MiddleEntryShiftsTheRest", {"a.jpg", "b.jpg", "c.jpg"}, true, "b.jpg",
                   {"a.jpg", "c.jpg"}, {0, 2}},
        RemoveCase{"QuickBrowseHasNoPicturesToRemove", {"a.jpg", "b.jpg"}, false, "a.jpg",
                   {"b.jpg"}, {}}),
    [](const ::testing::TestParamInfo<RemoveCase>& p) { return p.param.Name; });

TEST_F(ImageListTest, RemovalKeepsTheSelectionOfTheOtherEntries) {
    Fill({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    auto* selection = form->ListView1->selectionModel();
    selection->select(form->ListModel().index(2), QItemSelectionModel::Select);
    selection->select(form->ListModel().index(3), QItemSelectionModel::Select);
    form->RemoveListItem(QStringLiteral("b.jpg"));
    QStringList selected;
    for (const QModelIndex& index : selection->selectedIndexes()) {
        selected.push_back(Caption(index.row()));
    }
    selected.sort();
    EXPECT_EQ(selected, (QStringList{"c.jpg", "d.jpg"}));
}

TEST_F(ImageListTest, ClickInListStyleShowsTheSelectedThumbnail) {
    Fill({"a.jpg", "b.jpg", "c.jpg"});
    form->Thumbnailview1->trigger();
    Select(2);
    form->ListView1Click();
    EXPECT_EQ(PreviewNumber(*form->Image1), 2);
}

TEST_F(ImageListTest, ClickInIconStyleOnlySelects) {
    Fill({"a.jpg", "b.jpg"});
    Select(1);
    form->ListView1Click();
    EXPECT_EQ(PreviewNumber(*form->Image1), -1);
}

TEST_F(ImageListTest, ClickInQuickBrowseShowsNoPreview) {
    Fill({"a.jpg", "b.jpg"});
    form->Thumbnailview1->trigger();
    Select(0);
    form->ListView1Click();
    ASSERT_EQ(PreviewNumber(*form->Image1), 0);
    // The same list without thumbnails: no stale picture either.
    Fill({"a.jpg", "b.jpg"}, false);
    Select(1);
    form->ListView1Click();
    EXPECT_EQ(PreviewNumber(*form->Image1), -1);
}

TEST_F(ImageListTest, ViewToggledTwiceRestoresTheStyleWithoutRebuilding) {
    Fill({"a.jpg", "b.jpg"});
    form->show();
    const int before = fills;
    EXPECT_EQ(form->ListView1->viewMode(), QListView::IconMode);
    EXPECT_EQ(form->ListView1->x(), 0);

    form->Thumbnailview1->trigger();
    EXPECT_FALSE(form->Config().ThumbnailView);
    EXPECT_FALSE(form->Thumbnailview1->isChecked());
    EXPECT_EQ(form->ListView1->viewMode(), QListView::ListMode);
    EXPECT_EQ(form->ListView1->x(), 72);
    EXPECT_EQ(form->Image1->size(), QSize(71, 71));
    EXPECT_EQ(form->Image1->geometry().bottom(), form->centralWidget()->height() - 1);
    EXPECT_FALSE(form->ListModel().data(form->ListModel().index(0), Qt::DecorationRole).isValid());

    form->Thumbnailview1->trigger();
    EXPECT_TRUE(form->Config().ThumbnailView);
    EXPECT_TRUE(form->Thumbnailview1->isChecked());
    EXPECT_EQ(form->ListView1->viewMode(), QListView::IconMode);
    EXPECT_EQ(form->ListView1->x(), 0);
    EXPECT_EQ(fills, before);
    EXPECT_EQ(Rows(), 2);
}

TEST_F(ImageListTest, ViewToggleWritesTheDatabaseStatusEvenInFolderMode) {
    form->SetStatusText(QStringLiteral("Folder: /pictures/"));
    form->Config().CurrentTable = "Holiday";
    form->Thumbnailview1->trigger();
    EXPECT_EQ(form->StatusText(), QStringLiteral("Database: Holiday"));
}

TEST_F(ImageListTest, SelectAllSelectsEveryEntry) {
    Fill({"a.jpg", "b.jpg", "c.jpg"});
    form->SelectAll1->trigger();
    EXPECT_EQ(form->ListView1->selectionModel()->selectedIndexes().size(), 3);
}

TEST_F(ImageListTest, DoubleClickOpensTheViewerOnTheSelectedEntry) {
    int opened = 0;
    int shownIndex = -1;
    TMainHooks hooks;
    hooks.OpenViewer = [&] {
        ++opened;
        shownIndex = form->PH().ViewerIndex;
    };
    MakeForm(std::move(hooks));
    Fill({"a.jpg", "b.jpg", "c.jpg"});
    form->ListView1DblClick();
    EXPECT_EQ(opened, 0);
    Select(1);
    form->ListView1DblClick();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(shownIndex, 1);
}

TEST_F(ImageListTest, FailedRebuildRestoresTheCursorAndShowsWhatWasRead) {
    names = {"a.jpg", "b.jpg", "c.jpg"};
    failAt = 2;
    prompt.Clear();
    form->Refresh1->trigger();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(Rows(), 2);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Text, QStringLiteral("Thumbnail of c.jpg is damaged."));
    EXPECT_EQ(prompt.Asked()[0].Icon, TMsgIcon::Error);

    failAt = -1;
    EXPECT_NO_THROW(form->RefreshImageList());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(Rows(), 3);
}

TEST_F(ImageListTest, CancelledFolderPickerChangesNothing) {
    Fill({"a.jpg"});
    TConfig& config = form->Config();
    config.LastBrowseDir = "/pictures/old/";
    const int before = fills;
    prompt.Clear();
    prompt.AnswerCancel();
    EXPECT_FALSE(form->ChooseBrowseFolder());
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Kind, TScriptedPrompt::TKind::Folder);
    EXPECT_EQ(prompt.Asked()[0].Text, QStringLiteral("/pictures/old/"));
    EXPECT_EQ(config.LastBrowseDir, "/pictures/old/");
    EXPECT_FALSE(config.BrowseMode);
    EXPECT_EQ(fills, before);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(form->StatusText(), QStringLiteral("Database: Default"));
}

TEST_F(ImageListTest, ChosenFolderEntersFolderModeWithATrailingSeparator) {
    for (const QString& chosen : {QStringLiteral("/pictures/new"), QStringLiteral("/pictures/new/")}) {
        SCOPED_TRACE(chosen.toStdString());
        form->Config().BrowseMode = false;
        const int before = fills;
        prompt.AnswerText(chosen);
        EXPECT_TRUE(form->ChooseBrowseFolder());
        EXPECT_EQ(form->Config().LastBrowseDir, "/pictures/new/");
        EXPECT_TRUE(form->Config().BrowseMode);
        EXPECT_EQ(fills, before + 1);
        EXPECT_EQ(form->StatusText(), QStringLiteral("Folder: /pictures/new/"));
    }
}

TEST_F(ImageListTest, BrowseFolderLeavesQuickBrowsing) {
    form->Config().QuickBrowse = true;
    prompt.AnswerCancel();
    form->BrowseFolder1Click();
    EXPECT_FALSE(form->Config().QuickBrowse);
}

class SelectorTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        TMainHooks hooks;
        hooks.GetCategoryList = [this](const QString& table) {
            askedTable = table;
            return categories;
        };
        hooks.OpenImageTable = [this](const QString& table) {
            opened.push_back(table);
            return openSucceeds;
        };
        hooks.ApplyCategoryFilter = [this] {
            filtered.push_back(QString::fromStdString(form->Config().CurrentCategory));
        };
        hooks.AskCategory = [this] { return chooserAnswer; };
        MakeForm(std::move(hooks));
    }

    QStringList categories{"Cats", "Dogs"};
    QString askedTable;
    QStringList opened;
    bool openSucceeds = true;
    QStringList filtered;
    QString chooserAnswer;
};

TEST_F(SelectorTest, CategorySelectorListsAllFirstAndKeepsTheShownCategory) {
    form->Config().CurrentTable = "Holiday";
    form->cboCategory->setEditText(QStringLiteral("Dogs"));
    form->FillCategorySelector();
    EXPECT_EQ(askedTable, QStringLiteral("Holiday"));
    ASSERT_EQ(form->cboCategory->count(), 3);
    EXPECT_EQ(form->cboCategory->itemText(0), QStringLiteral("All"));
    EXPECT_EQ(form->cboCategory->itemText(2), QStringLiteral("Dogs"));
    EXPECT_EQ(form->cboCategory->currentText(), QStringLiteral("Dogs"));
}

TEST_F(SelectorTest, TableWithoutCategoriesOffersOnlyAll) {
    categories.clear();
    form->FillCategorySelector();
    ASSERT_EQ(form->cboCategory->count(), 1);
    EXPECT_EQ(form->cboCategory->itemText(0), QStringLiteral("All"));
}

TEST_F(SelectorTest, PickingATableOpensItAndClearsTheCategory) {
    form->cboTable->addItems({"Default", "Holiday"});
    form->Config().CurrentCategory = "Dogs";
    form->cboCategory->setEditText(QStringLiteral("Dogs"));
    form->cboTableSelect(1);
    EXPECT_EQ(opened, QStringList{"Holiday"});
    EXPECT_EQ(form->Config().CurrentCategory, "");
    EXPECT_EQ(form->cboCategory->currentText(), QString());
    EXPECT_EQ(form->cboCategory->count(), 3);
}

TEST_F(SelectorTest, TableThatFailsToOpenChangesNothingElse) {
    form->cboTable->addItems({"Default", "Broken"});
    form->Config().CurrentCategory = "Dogs";
    form->cboCategory->setEditText(QStringLiteral("Dogs"));
    openSucceeds = false;
    form->cboTableSelect(1);
    EXPECT_EQ(opened, QStringList{"Broken"});
    EXPECT_EQ(form->Config().CurrentCategory, "Dogs");
    EXPECT_EQ(form->cboCategory->currentText(), QStringLiteral("Dogs"));
}

TEST_F(SelectorTest, PickingACategoryFiltersOnIt) {
    form->FillCategorySelector();
    form->cboCategorySelect(2);
    EXPECT_EQ(form->Config().CurrentCategory, "Dogs");
    EXPECT_EQ(filtered, QStringList{"Dogs"});
}

TEST_F(SelectorTest, SwitchCategoryViewTakesTheChoosersAnswerUnlessCancelled) {
    form->Config().CurrentCategory = "Cats";
    chooserAnswer = QStringLiteral("\t");
    form->Switchcategoryview1->trigger();
    EXPECT_EQ(form->Config().CurrentCategory, "Cats");
    EXPECT_TRUE(filtered.isEmpty());

    chooserAnswer = QStringLiteral("Birds");
    form->Switchcategoryview1->trigger();
    EXPECT_EQ(form->Config().CurrentCategory, "Birds");
    EXPECT_EQ(form->cboCategory->currentText(), QStringLiteral("Birds"));
    EXPECT_EQ(filtered, QStringList{"Birds"});
}

TEST(MainWindowShutDown, SettingsThatCannotBeSavedAreShownInAPlainBox) {
    TScriptedPrompt prompt;
    auto form = std::make_unique<TForm1>(prompt);
    ASSERT_TRUE(form->Created());
    // A settings folder below a plain file cannot be created, not even by root.
    pixhold::test::TempDir dir;
    const std::string plain = (dir / "plain").string();
    std::FILE* f = std::fopen(plain.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const std::string saved = std::getenv("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", plain.c_str(), 1);
    form.reset();
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Kind, TScriptedPrompt::TKind::Message);
    EXPECT_EQ(prompt.Asked()[0].Caption, QStringLiteral("Pixhold"));
    EXPECT_EQ(prompt.Asked()[0].Icon, TMsgIcon::None);
    EXPECT_EQ(prompt.Asked()[0].Text,
              QString::fromStdString("Unable to write to " + plain + "/Norvane/Pixhold.ini"));
}

}  // namespace
}  // namespace pixhold::app::test
