#pragma once

// A main window on a scripted prompt, with a list filled from a names table.

#include "Config.h"
#include "ImageListModel.h"
#include "ScriptedPrompt.h"
#include "TempDir.h"
#include "fMain.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QListView>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace pixhold::app::test {

// Thumbnail i is filled with a colour that encodes i, so that tests can tell
// which picture ended up where.
inline QImage NumberedThumb(int i) {
    QImage image(71, 71, QImage::Format_RGB32);
    image.fill(QColor(10 * (i + 1), 0, 0));
    return image;
}

inline int ThumbNumber(const QImage& image) {
    return image.isNull() ? -1 : qRed(image.pixel(35, 35)) / 10 - 1;
}

// The help files in the source tree.
inline std::string SourceHelpFolder() {
    return (std::filesystem::path(PIXHOLD_SOURCE_DIR) / "app" / "help").string() + "/";
}

// Each test starts from default settings: the settings file lives in a
// folder of its own.
class FormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* previous = std::getenv("XDG_CONFIG_HOME")) {
            previousConfigHome_ = previous;
        }
        ::setenv("XDG_CONFIG_HOME", configHome_.path().c_str(), 1);
        MakeForm();
    }

    void TearDown() override {
        form.reset();  // saves the settings into this test's folder
        ::setenv("XDG_CONFIG_HOME", previousConfigHome_.c_str(), 1);
    }

    void MakeForm(TMainHooks hooks = {}) {
        form.reset();
        form = std::make_unique<TForm1>(prompt, std::move(hooks));
        ASSERT_TRUE(form->Created());
        form->PH().SetFillSource([this](imaging::TPH& ph, imaging::TImageList& list) {
            ++fills;
            for (int i = 0; i < names.size(); ++i) {
                if (failAt == i) {
                    throw std::runtime_error("Thumbnail of " + names[i].toStdString() + " is damaged");
                }
                ph.ImageNames.push_back(names[i]);
                if (withThumbs) {
                    ph.ThumbBitmaps.push_back(imaging::ThumbOfImage(NumberedThumb(i)));
                    list.Add(ph.ThumbBitmaps.back());
                }
            }
        });
    }

    // Fills the list with these names (and numbered thumbnails unless quick).
    void Fill(const QStringList& entries, bool thumbs = true) {
        names = entries;
        withThumbs = thumbs;
        form->RefreshImageList();
    }

    int Rows() const { return form->ListModel().rowCount(); }
    QString Caption(int row) const {
        return form->ListModel().data(form->ListModel().index(row), Qt::DisplayRole).toString();
    }
    void Select(int row) {
        form->ListView1->setCurrentIndex(form->ListModel().index(row));
    }
    std::vector<int> ThumbNumbers() const {
        std::vector<int> numbers;
        for (const imaging::TThumbHandle& thumb : form->PH().ThumbBitmaps) {
            numbers.push_back(ThumbNumber(thumb->Image));
        }
        return numbers;
    }
    std::vector<int> ImageListNumbers() const {
        std::vector<int> numbers;
        for (std::size_t i = 0; i < form->ImageList1().Count(); ++i) {
            numbers.push_back(ThumbNumber(form->ImageList1().Picture(i)));
        }
        return numbers;
    }

    pixhold::test::TempDir configHome_;
    std::string previousConfigHome_;
    TScriptedPrompt prompt;
    std::unique_ptr<TForm1> form;
    QStringList names;
    bool withThumbs = true;
    int failAt = -1;  // the fill source throws at this entry
    int fills = 0;
};

}  // namespace pixhold::app::test
