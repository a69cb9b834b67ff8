#include "PictureCommands.h"

#include "ImageFns.h"
#include "Picture.h"
#include "PictureFile.h"
#include "PictureMessages.h"
#include "Thumbnail.h"
#include "ToolError.h"

#include <QGuiApplication>

#include <memory>

namespace pixhold::tools {

namespace {

// Metafile text needs the font system, which needs an application object; the
// utility has no display, so it draws offscreen. The object lives for one
// command (an application object left for the exit handlers would outlive
// what it needs).
class TGuiScope {
public:
    TGuiScope() {
        if (QGuiApplication::instance() != nullptr) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }

private:
    int argc_ = 1;
    char name_[11] = "pixhold-db";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

// What the program would show in a message box ends the command instead.
class TToolMessages final : public imaging::IPictureMessages {
public:
    void ShowMessage(const std::string& text) override { throw ToolError(text); }
    void ShowMessageBox(const std::string& text, const std::string& caption) override {
        throw ToolError(caption + ": " + text);
    }
    bool Confirm(const std::string& text) override { throw ToolError(text); }
};

}  // namespace

int RunConvert(const std::vector<std::string>& args, std::ostream& out) {
    if (args.size() != 2) throw UsageError("convert takes IN and OUT");
    const std::string& in = args[0];
    const std::string& outPath = args[1];
    if (!imaging::IsPictureFile(outPath)) {
        throw UsageError("OUT must end in .jpg, .jpeg, .gif, .bmp, .ico, .wmf, .emf or .png");
    }
    const TGuiScope gui;
    // As the viewer's Save As: the picture loaded as a file is made a bitmap by
    // the kind its name says, then written in the kind OUT's name says.
    imaging::TPicture picture;
    try {
        picture.LoadFromFile(in);
    } catch (const std::exception& e) {
        throw ToolError(in + ": " + e.what());
    }
    TToolMessages messages;
    imaging::PictureToBitmap(picture, imaging::ImageTypeOfExtension(in), messages);
    picture.SaveToFile(outPath);
    out << outPath << ": " << picture.Width() << " x " << picture.Height() << '\n';
    return 0;
}

int RunThumb(const std::vector<std::string>& args, std::ostream& out) {
    if (args.size() != 2) throw UsageError("thumb takes IN and OUT.jpg");
    const std::string& in = args[0];
    const std::string& outPath = args[1];
    if (imaging::ImageTypeOfExtension(outPath) != imaging::TImageType::Jpeg) {
        throw UsageError("OUT must end in .jpg or .jpeg");
    }
    if (!imaging::IsPictureFile(in)) throw ToolError(in + ": not a picture file");
    const TGuiScope gui;
    imaging::TByteVector thumb;
    try {
        thumb = imaging::RecordThumbnailJpeg(imaging::ReadPictureFile(in), in);
    } catch (const std::exception& e) {
        throw ToolError(in + ": " + e.what());
    }
    imaging::WritePictureFile(outPath, thumb);
    out << outPath << ": " << thumb.size() << " bytes\n";
    return 0;
}

}  // namespace pixhold::tools
