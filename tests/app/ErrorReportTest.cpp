// The standard error report and the scripted prompt tests rely on.

#include "DatasetError.h"
#include "ErrorReport.h"
#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace pixhold::app {
namespace {

struct FullStopCase {
    const char* Message;
    const char* Shown;
};

class FullStopTest : public ::testing::TestWithParam<FullStopCase> {};

TEST_P(FullStopTest, FullStopFollowsCharactersThatSortAfterIt) {
    EXPECT_EQ(ErrorReportText(QString::fromUtf8(GetParam().Message)),
              QString::fromUtf8(GetParam().Shown));
}

INSTANTIATE_TEST_SUITE_P(
    Rule, FullStopTest,
    ::testing::Values(FullStopCase{"Table is busy", "Table is busy."},
                      FullStopCase{"Error # 8961", "Error # 8961."},
                      FullStopCase{"Already done.", "Already done."},
                      FullStopCase{"Stop!", "Stop!"},
                      FullStopCase{"Index damaged (page 3)", "Index damaged (page 3)"},
                      FullStopCase{"Really?", "Really?."},
                      FullStopCase{"Cannot open /tmp/x/", "Cannot open /tmp/x/."},
                      FullStopCase{"Trailing blank ", "Trailing blank "},
                      FullStopCase{"Ends in a dash -", "Ends in a dash -"},
                      FullStopCase{"Caf\xc3\xa9", "Caf\xc3\xa9."},
                      FullStopCase{"", ""}));

TEST(ErrorReport, IsAnErrorBoxCaptionedWithTheProgramTitle) {
    TScriptedPrompt prompt;
    ReportError(prompt, QStringLiteral("Table is busy"));
    ReportException(prompt, std::make_exception_ptr(std::runtime_error("Disk full")));
    ReportException(prompt, std::make_exception_ptr(42));
    ASSERT_EQ(prompt.Asked().size(), 3u);
    for (const auto& asked : prompt.Asked()) {
        EXPECT_EQ(asked.Kind, TScriptedPrompt::TKind::Message);
        EXPECT_EQ(asked.Caption, QStringLiteral("Pixhold"));
        EXPECT_EQ(asked.Icon, TMsgIcon::Error);
    }
    EXPECT_EQ(prompt.Asked()[0].Text, QStringLiteral("Table is busy."));
    EXPECT_EQ(prompt.Asked()[1].Text, QStringLiteral("Disk full."));
    EXPECT_FALSE(prompt.Asked()[2].Text.isEmpty());
}

TEST(ErrorReport, ShowsNothingForAnOperationAbandonedOnPurpose) {
    TScriptedPrompt prompt;
    ReportException(prompt, std::make_exception_ptr(engine::EAbort()));
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST(ScriptedPrompt, AnswersInOrderAndRecordsEveryQuestion) {
    TScriptedPrompt prompt;
    prompt.AnswerButton(TAnswer::NoToAll);
    prompt.AnswerText(QStringLiteral("Holiday"));
    prompt.AnswerCancel();
    EXPECT_EQ(prompt.Ask("Pixhold", "Replace?", TButtons::YesNoNoToAllYesToAll,
                         TMsgIcon::Confirmation),
              TAnswer::NoToAll);
    EXPECT_EQ(prompt.InputText("New Database", "Name:", "Default"), QStringLiteral("Holiday"));
    EXPECT_EQ(prompt.ChooseFolder("/pictures/"), std::nullopt);
    ASSERT_EQ(prompt.Asked().size(), 3u);
    EXPECT_EQ(prompt.Asked()[0].Buttons, TButtons::YesNoNoToAllYesToAll);
    EXPECT_EQ(prompt.Asked()[1].DefaultText, QStringLiteral("Default"));
    EXPECT_EQ(prompt.Asked()[2].Text, QStringLiteral("/pictures/"));
    EXPECT_EQ(prompt.PendingAnswers(), 0u);
}

TEST(ScriptedPrompt, MissingOrMismatchedAnswersFailLoudly) {
    TScriptedPrompt prompt;
    EXPECT_THROW(prompt.Ask("Pixhold", "Sure?", TButtons::YesNo, TMsgIcon::Confirmation),
                 std::logic_error);
    prompt.AnswerText(QStringLiteral("x"));
    EXPECT_THROW(prompt.Ask("Pixhold", "Sure?", TButtons::YesNo, TMsgIcon::Confirmation),
                 std::logic_error);
    prompt.AnswerButton(TAnswer::Yes);
    EXPECT_THROW(prompt.ChooseFolder("/"), std::logic_error);
}

}  // namespace
}  // namespace pixhold::app
