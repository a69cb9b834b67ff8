// How the data module answers a failed attempt to edit a record of tblData.

#include "DataModuleFixture.h"
#include "DatasetError.h"

#include <stdexcept>

namespace pixhold::store::test {
namespace {

class EditLockTest : public DataModuleFixture {};

using engine::TDataAction;

const QString kRecordLocked = QStringLiteral(
    "The record you are trying to edit is currently locked,do you want to try to edit this record again?");
const QString kTableLocked = QStringLiteral(
    "The table you are trying to edit is currently locked,do you want to try to edit this record again?");
const QString kRecordChanged = QStringLiteral(
    "The record you are trying to edit has been modified sinceit was last retrieved, the record will now be "
    "refreshed");

struct EditErrorCase {
    int code;  // 0: an error that is no engine error
    std::optional<bool> answer;  // to the question, when one is asked
    QString caption;
    QString text;  // empty: the error's own text
    TBoxIcon icon;
    bool question;
    TDataAction action;
};

class EditErrorTest : public DataModuleFixture, public ::testing::WithParamInterface<EditErrorCase> {};

TEST_P(EditErrorTest, AsksOrReportsAndChoosesTheAction) {
    const EditErrorCase& c = GetParam();
    Start();
    AddPicture(dm->tblData, "a.jpg", "", Picture(10, 1));
    host.Clear();
    if (c.answer) host.YesNoAnswers = {*c.answer};

    std::unique_ptr<std::exception> error;
    if (c.code != 0) {
        error = std::make_unique<engine::ECofferEngineError>(static_cast<std::uint16_t>(c.code),
                                                             engine::ErrorContext{.table = "Default.Dat"});
    } else {
        error = std::make_unique<std::runtime_error>("Out of paper");
    }
    TDataAction action = TDataAction::daFail;
    dm->tblDataEditError(dm->tblData, *error, action);

    EXPECT_EQ(action, c.action);
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Caption, c.caption);
    EXPECT_EQ(host.Boxes[0].Text, c.text.isEmpty() ? QString::fromUtf8(error->what()) : c.text);
    EXPECT_EQ(host.Boxes[0].Icon, c.icon);
    EXPECT_EQ(host.Boxes[0].Question, c.question);
    EXPECT_TRUE(host.YesNoAnswers.empty());
    EXPECT_EQ(dm->tblData.State(), engine::TDataSetState::dsBrowse);
}

const QString W = QStringLiteral("Warning");
const QString E = QStringLiteral("Error");

INSTANTIATE_TEST_SUITE_P(
    Codes, EditErrorTest,
    ::testing::Values(
        EditErrorCase{10258, true, W, kRecordLocked, TBoxIcon::Warning, true, TDataAction::daRetry},
        EditErrorCase{10258, false, W, kRecordLocked, TBoxIcon::Warning, true, TDataAction::daAbort},
        EditErrorCase{10241, true, W, kTableLocked, TBoxIcon::Warning, true, TDataAction::daRetry},
        EditErrorCase{10241, false, W, kTableLocked, TBoxIcon::Warning, true, TDataAction::daAbort},
        EditErrorCase{8708, std::nullopt, W, kRecordChanged, TBoxIcon::Warning, false, TDataAction::daRetry},
        EditErrorCase{10031, std::nullopt, E, {}, TBoxIcon::Error, false, TDataAction::daAbort},
        EditErrorCase{9729, std::nullopt, E, {}, TBoxIcon::Error, false, TDataAction::daAbort},
        EditErrorCase{0, std::nullopt, E, {}, TBoxIcon::Error, false, TDataAction::daAbort}));

// A record another user holds: the question comes up, Yes tries again.
TEST_F(EditLockTest, EditingARecordAnotherUserLockedAsksToTryAgain) {
    Start();
    AddPicture(dm->tblData, "a.jpg", "", Picture(10, 1));
    OtherUser other(DataFolder());
    auto theirs = other.Table("Default.Dat");
    theirs->Open();
    theirs->Edit();  // pessimistic: the record is locked from here
    host.Clear();

    // First Yes: still locked, asked again; then they are done, Yes again.
    host.YesNoAnswers = {true, true};
    int asked = 0;
    host.OnAsk = [&] {
        if (++asked == 2) theirs->Cancel();
    };
    dm->tblData.Edit();
    EXPECT_EQ(dm->tblData.State(), engine::TDataSetState::dsEdit);
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(host.Boxes.size(), 2u);
    EXPECT_EQ(host.Boxes[0].Text, kRecordLocked);
    dm->tblData.FieldByName("Type").SetAsInteger(6);
    dm->tblData.Post();

    // No abandons the edit silently.
    theirs->Refresh();
    EXPECT_EQ(theirs->FieldByName("Type").AsInteger(), 6);
    theirs->Edit();
    host.Clear();
    host.OnAsk = nullptr;
    host.YesNoAnswers = {false};
    EXPECT_THROW(dm->tblData.Edit(), engine::EAbort);
    EXPECT_EQ(dm->tblData.State(), engine::TDataSetState::dsBrowse);
    EXPECT_EQ(host.Boxes.size(), 1u);
    theirs->Cancel();
}

}  // namespace
}  // namespace pixhold::store::test
