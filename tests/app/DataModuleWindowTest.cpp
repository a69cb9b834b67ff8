// The data module inside the program: its boxes, hourglass, password request
// and main-window calls reach the window side.

#include "DataModuleWindow.h"
#include "EngineError.h"
#include "FormFixture.h"
#include "TableFiles.h"
#include "fChangePassword.h"
#include "fDM.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace pixhold::app::test {
namespace {

class DataModuleWindowTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        form->Config().DataFolder = data.folder();
        window = std::make_unique<TDataModuleWindow>(prompt, *form);
        dm = std::make_unique<store::TDM>(form->Config(), *window);
        dm->DataModuleCreate();
    }
    void TearDown() override {
        dm.reset();
        window.reset();
        FormFixture::TearDown();
    }

    pixhold::test::TempDir data;
    std::unique_ptr<TDataModuleWindow> window;
    std::unique_ptr<store::TDM> dm;
};

TEST_F(DataModuleWindowTest, StartUpWritesTheStatusAndLeavesNoHourglass) {
    EXPECT_TRUE(dm->tblData.Active());
    EXPECT_EQ(form->StatusText(), QStringLiteral("Database: Default"));
    EXPECT_TRUE(prompt.Asked().empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The table selector lists what the data folder holds.
    dm->NewImageTable("Holiday.Dat");
    form->Hooks().ListImageTables = [this] { return store::ListImageTables(form->Config().DataFolder); };
    form->FillTableSelector();
    ASSERT_EQ(form->cboTable->count(), 2);
    EXPECT_EQ(form->cboTable->itemText(1), QStringLiteral("Holiday"));
    EXPECT_EQ(form->cboTable->currentText(), QStringLiteral("Holiday"));
    EXPECT_EQ(form->StatusText(), QStringLiteral("Database: Holiday"));
}

TEST_F(DataModuleWindowTest, ThePasswordRequestIsTheReducedDialog) {
    dm->NewImageTable("Private.Dat");
    dm->ChangeTablePassword("", "pw");
    dm->OpenImageTable("Default");
    form->Config().RemoveOldPasswordOnOpen = true;

    QString caption;
    window->RunPasswordDialog = [&](TfrmNewPassword& dialog) {
        caption = dialog.windowTitle();
        dialog.edtNewPwd->setText(QStringLiteral("pw"));
        return true;
    };
    EXPECT_TRUE(dm->OpenImageTable("Private"));
    EXPECT_EQ(caption, QStringLiteral("Enter Password"));
    EXPECT_TRUE(prompt.Asked().empty());
    dm->OpenImageTable("Default");

    // Cancelled: the engine's password error in the "Error" box.
    window->RunPasswordDialog = [](TfrmNewPassword&) { return false; };
    EXPECT_FALSE(dm->OpenImageTable("Private"));
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Kind, TScriptedPrompt::TKind::Message);
    EXPECT_EQ(prompt.Asked()[0].Caption, QStringLiteral("Error"));
    EXPECT_TRUE(prompt.Asked()[0].Text.startsWith(QStringLiteral("Coffer Engine Error # 10498")));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(DataModuleWindowTest, EditErrorsAskThroughThePrompt) {
    const engine::ECofferEngineError locked(engine::err::RecordLocked, engine::ErrorContext{.table = "Default.Dat"});
    prompt.AnswerButton(TAnswer::Yes);
    engine::TDataAction action = engine::TDataAction::daFail;
    dm->tblDataEditError(dm->tblData, locked, action);
    EXPECT_EQ(action, engine::TDataAction::daRetry);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].Kind, TScriptedPrompt::TKind::Question);
    EXPECT_EQ(prompt.Asked()[0].Buttons, TButtons::YesNo);
    EXPECT_EQ(prompt.Asked()[0].Icon, TMsgIcon::Warning);

    const engine::ECofferEngineError other(engine::err::TableInUse, engine::ErrorContext{.table = "Default.Dat"});
    dm->tblDataEditError(dm->tblData, other, action);
    EXPECT_EQ(action, engine::TDataAction::daAbort);
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_EQ(prompt.Asked()[1].Icon, TMsgIcon::Error);
    EXPECT_EQ(prompt.Asked()[1].Text, QString::fromUtf8(other.what()));
}

}  // namespace
}  // namespace pixhold::app::test
