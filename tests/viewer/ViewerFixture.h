#pragma once

// A viewer on the offscreen platform with a scripted host: folder mode over a
// folder of its own, or database mode over a data module of its own.

#include "CofferBlobStream.h"
#include "Config.h"
#include "DataModuleHost.h"
#include "ImageHelper.h"
#include "ImageList.h"
#include "ImportRecord.h"
#include "Picture.h"
#include "PictureFile.h"
#include "PictureView.h"
#include "Prefetch.h"
#include "TempDir.h"
#include "IViewerHost.h"
#include "WorkerPool.h"
#include "fDM.h"
#include "fViewer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTest>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace pixhold::viewer::test {

namespace fs = std::filesystem;

// A drag with the left button over a widget (the viewer's picture), from
// press to release.
inline void DragOver(QWidget* widget, QPoint from, QPoint to) {
    QTest::mousePress(widget, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), widget->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                     {});
    QApplication::sendEvent(widget, &move);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, to);
}

// A picture in one flat colour (with a darker top-left quarter), as a file's bytes.
inline imaging::TByteVector PictureBytes(int w, int h, QColor colour, const char* name) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    QPainter(&image).fillRect(0, 0, w / 2, h / 2, colour.darker());
    imaging::TPicture picture;
    picture.SetBitmap(imaging::TBitmap::FromImage(image));
    return picture.Encode(imaging::ImageTypeOfExtension(name));
}

// The viewer's host for tests: answers from queues, records what it was asked,
// and keeps the list as the main window would.
class TScriptedHost final : public IViewerHost {
public:
    explicit TScriptedHost(imaging::TPH& ph) : ph_(ph) {}

    std::vector<QString> Messages;   // "msg:", "info:", "box:<caption>:", "ask:", "error:" + text
    std::deque<bool> ConfirmAnswers;
    std::deque<std::optional<TSaveFileChoice>> SaveFileAnswers;
    std::vector<QString> SaveFileProposals;
    std::deque<QString> CategoryAnswers;
    std::deque<TMoveChoice> MoveAnswers;
    std::deque<std::optional<QString>> SaveAsAnswers;
    std::vector<QString> Calls;      // "Remove:<name>", "Refresh", "Filter", "Move:<name>", "SetCategory:<c>", "Help:<n>", "About"
    std::function<void()> OnRefresh;
    std::function<void()> OnFilter;
    std::function<void(const QString&)> OnSetCategory;
    bool MoveResult = true;

    void ShowMessage(const QString& text) override { Messages.push_back("msg:" + text); }
    void ShowInformation(const QString& text) override { Messages.push_back("info:" + text); }
    void ShowMessageBox(const QString& text, const QString& caption) override {
        Messages.push_back("box:" + caption + ":" + text);
    }
    bool Confirm(const QString& text) override {
        Messages.push_back("ask:" + text);
        if (ConfirmAnswers.empty()) throw std::logic_error("unexpected question: " + text.toStdString());
        const bool answer = ConfirmAnswers.front();
        ConfirmAnswers.pop_front();
        return answer;
    }
    void ReportError(std::exception_ptr error) override {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            Messages.push_back(QStringLiteral("error:") + QString::fromUtf8(e.what()));
        }
    }
    std::optional<TSaveFileChoice> ChooseSaveFile(const QString& proposed, const QString&, int) override {
        SaveFileProposals.push_back(proposed);
        if (SaveFileAnswers.empty()) throw std::logic_error("unexpected save dialog");
        auto answer = SaveFileAnswers.front();
        SaveFileAnswers.pop_front();
        return answer;
    }
    QString ChooseCategory(bool setMode) override {
        Calls.push_back(setMode ? "Chooser:set" : "Chooser:assign");
        if (CategoryAnswers.empty()) throw std::logic_error("unexpected category chooser");
        const QString answer = CategoryAnswers.front();
        CategoryAnswers.pop_front();
        return answer;
    }
    TMoveChoice ChooseMoveTarget() override {
        if (MoveAnswers.empty()) throw std::logic_error("unexpected move dialog");
        const TMoveChoice answer = MoveAnswers.front();
        MoveAnswers.pop_front();
        return answer;
    }
    std::optional<QString> ChooseSaveAsName(const QString& name) override {
        Calls.push_back("SaveAs:" + name);
        if (SaveAsAnswers.empty()) throw std::logic_error("unexpected save-as dialog");
        auto answer = SaveAsAnswers.front();
        SaveAsAnswers.pop_front();
        return answer;
    }
    void ShowHelp(int context) override { Calls.push_back("Help:" + QString::number(context)); }
    void ShowAbout() override { Calls.push_back("About"); }
    void RemoveListItem(const QString& name) override {
        Calls.push_back("Remove:" + name);
        const qsizetype at = ph_.ImageNames.lastIndexOf(name);
        if (at >= 0) ph_.ImageNames.removeAt(at);
    }
    void RefreshImageList() override {
        Calls.push_back("Refresh");
        if (OnRefresh) OnRefresh();
    }
    void ApplyCategoryFilter() override {
        Calls.push_back("Filter");
        if (OnFilter) OnFilter();
    }
    bool MoveImageToTable(const QString& name, const QString&, const QString&) override {
        Calls.push_back("Move:" + name);
        return MoveResult;
    }
    void SetImageCategory(const QString& category) override {
        Calls.push_back("SetCategory:" + category);
        if (OnSetCategory) OnSetCategory(category);
    }

private:
    imaging::TPH& ph_;
};

// A data-module host that rebuilds the image helper's names from tblData.
class TListHost final : public store::IDataModuleHost {
public:
    std::function<void()> Refresh;
    void ShowMessage(const QString&, const QString& text, store::TBoxIcon) override { Boxes.push_back(text); }
    bool AskYesNo(const QString&, const QString& text, store::TBoxIcon) override {
        Boxes.push_back(text);
        return false;
    }
    store::TReplaceAnswer AskReplace(const QString&) override { return store::TReplaceAnswer::No; }
    std::optional<QString> AskPassword() override { return std::nullopt; }
    std::optional<QString> ChooseFolder(const QString&) override { return std::nullopt; }
    void BeginBusy() override {}
    void EndBusy() override {}
    void ProcessMessages() override {}
    void RefreshImageList() override {
        if (Refresh) Refresh();
    }
    void FillCategorySelector() override {}
    void ApplyViewStyle() override {}
    void SetStatusText(const QString&) override {}
    void CloseMainWindow() override {}
    std::vector<QString> Boxes;
};

class ViewerFixture : public ::testing::Test {
protected:
    ViewerFixture() {
        config = std::make_unique<store::TConfig>((dir / "program").string());
        config->LastBrowseDir = Folder();
        config->LastSaveDir = (dir / "saved").string() + "/";
        fs::create_directories(dir / "pics");
        fs::create_directories(dir / "saved");
    }
    ~ViewerFixture() override {
        delete viewer.data();
        dm.reset();
        config.reset();
    }

    std::string Folder() const { return (dir / "pics").string() + "/"; }
    std::string PathOf(const std::string& name) const { return Folder() + name; }

    void AddFile(const std::string& name, int w = 40, int h = 30, QColor colour = Qt::red) {
        imaging::WritePictureFile(PathOf(name), PictureBytes(w, h, colour, name.c_str()));
    }

    // Folder mode over the given files (in that order).
    void BrowseFolder(const std::vector<std::string>& files) {
        config->BrowseMode = true;
        ph.ImageNames.clear();
        for (const std::string& name : files) ph.ImageNames.push_back(QString::fromStdString(name));
    }

    // Database mode over a fresh data module; records in name order, all in `category`.
    void OpenDatabase(const std::vector<std::string>& files, const std::string& category = "") {
        config->BrowseMode = false;
        config->DataFolder = (dir / "data").string() + "/";
        dm = std::make_unique<store::TDM>(*config, dmHost);
        dmHost.Refresh = [this] { FillFromTable(); };
        dm->DataModuleCreate();
        ASSERT_TRUE(dm->tblData.Active());
        config->CurrentCategory = category;
        dm->ApplyCategoryFilter();
        for (const std::string& name : files) {
            AddFile(name);
            store::TPreparedFile prepared = store::PrepareImportFile(PathOf(name));
            store::StoreImportRecord(dm->tblData, name, category, prepared,
                                     [](const std::string&) { return store::TDuplicateChoice::Number; });
        }
        FillFromTable();
    }

    void FillFromTable() {
        ph.ImageNames.clear();
        for (dm->tblData.First(); !dm->tblData.Eof(); dm->tblData.Next()) {
            ph.ImageNames.push_back(QString::fromStdString(dm->tblData.FieldByName("FileName").AsString()));
        }
        ph.ViewerIndex = 0;
    }

    // A new viewer on entry `index`, shown and active.
    TfrmViewer* Open(int index = 0, imaging::TWorkerPool* workers = nullptr) {
        ph.ViewerIndex = index;
        auto* v = new TfrmViewer(*config, ph, dm.get(), host, workers);
        v->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(v));
        v->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(v));
        if (!viewer) viewer = v;
        return v;
    }

    QString Caption() const { return viewer->windowTitle(); }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(viewer.data(), static_cast<Qt::Key>(key), modifiers);
    }

    pixhold::test::TempDir dir;
    std::unique_ptr<store::TConfig> config;
    imaging::TPH ph;
    TScriptedHost host{ph};
    TListHost dmHost;
    std::unique_ptr<store::TDM> dm;
    QPointer<TfrmViewer> viewer;
};

}  // namespace pixhold::viewer::test
