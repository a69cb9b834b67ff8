#pragma once

// A data-module host for tests: answers questions and password prompts from
// queues and records everything the module asked of the window side.

#include "DataModuleHost.h"

#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace pixhold::store::test {

class TRecordingHost final : public IDataModuleHost {
public:
    struct TBox {
        QString Caption;
        QString Text;
        TBoxIcon Icon = TBoxIcon::None;
        bool Question = false;
    };

    std::deque<bool> YesNoAnswers;
    // nothing: the prompt is cancelled
    std::deque<std::optional<QString>> PasswordAnswers;
    // Runs when a question is asked, before it is answered.
    std::function<void()> OnAsk;

    std::vector<TBox> Boxes;
    // "Refresh", "FillCategories", "ViewStyle", "Close", "Status:<text>",
    // "Password", in the order the module called them.
    std::vector<std::string> Calls;
    int BusyDepth = 0;
    int BusyCount = 0;
    int ProcessMessagesCount = 0;
    QString StatusText;

    void ShowMessage(const QString& caption, const QString& text, TBoxIcon icon) override {
        Boxes.push_back({caption, text, icon, false});
    }
    bool AskYesNo(const QString& caption, const QString& text, TBoxIcon icon) override {
        Boxes.push_back({caption, text, icon, true});
        if (OnAsk) OnAsk();
        if (YesNoAnswers.empty()) throw std::logic_error("unexpected question: " + text.toStdString());
        const bool answer = YesNoAnswers.front();
        YesNoAnswers.pop_front();
        return answer;
    }
    // Answers to the replace question, in order.
    std::deque<TReplaceAnswer> ReplaceAnswers;
    TReplaceAnswer AskReplace(const QString& text) override {
        Boxes.push_back({ConfirmCaption, text, TBoxIcon::Confirmation, true});
        if (OnAsk) OnAsk();
        if (ReplaceAnswers.empty()) throw std::logic_error("unexpected replace question: " + text.toStdString());
        const TReplaceAnswer answer = ReplaceAnswers.front();
        ReplaceAnswers.pop_front();
        return answer;
    }
    // Set to stop the folder import at its next file.
    bool CancelImport = false;
    bool ImportCancelRequested() override {
        const bool cancel = CancelImport;
        CancelImport = false;
        return cancel;
    }
    std::optional<QString> AskPassword() override {
        Calls.push_back("Password");
        if (PasswordAnswers.empty()) throw std::logic_error("unexpected password prompt");
        auto answer = PasswordAnswers.front();
        PasswordAnswers.pop_front();
        return answer;
    }
    // The folder the picker returns; nothing: cancelled.
    std::optional<QString> FolderAnswer;
    std::optional<QString> ChooseFolder(const QString&) override { return FolderAnswer; }
    void BeginBusy() override {
        ++BusyDepth;
        ++BusyCount;
    }
    void EndBusy() override { --BusyDepth; }
    std::function<void()> OnProcessMessages;
    void ProcessMessages() override {
        ++ProcessMessagesCount;
        if (OnProcessMessages) OnProcessMessages();
    }
    void RefreshImageList() override { Calls.push_back("Refresh"); }
    void FillCategorySelector() override { Calls.push_back("FillCategories"); }
    void ApplyViewStyle() override { Calls.push_back("ViewStyle"); }
    void SetStatusText(const QString& text) override {
        StatusText = text;
        Calls.push_back("Status:" + text.toStdString());
    }
    void CloseMainWindow() override { Calls.push_back("Close"); }

    void Clear() {
        Boxes.clear();
        Calls.clear();
        BusyCount = 0;
    }
};

}  // namespace pixhold::store::test
