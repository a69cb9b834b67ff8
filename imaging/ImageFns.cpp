#include "ImageFns.h"

#include "GifQuantizer.h"
#include "GraphicError.h"
#include "JpegCodec.h"
#include "PictureMessages.h"

#include <cctype>

namespace pixhold::imaging {

const char* const SaveAsFilter =
    "GIF Image (*.gif)|*.gif|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|"
    "Bitmaps (*.bmp)|*.bmp|Icons (*.ico)|*.ico|Enhanced Metafiles (*.emf)|*.emf|"
    "Metafiles (*.wmf)|*.wmf|Png Image (*.png)|*.png";

const char* const SaveAsTypes[7] = {
    "GIF Image (*.gif)",        "JPEG Image File (*.jpg)", "JPEG Image File (*.jpeg)",
    "Bitmaps (*.bmp)",          "Icons (*.ico)",           "Enhanced Metafiles (*.emf)",
    "Metafiles (*.wmf)",
};

bool IsPictureFile(std::string_view name) {
    return ImageTypeOfExtension(name) != TImageType::Unknown;
}

std::string ExtensionOfFileType(int index) {
    static const char* const extensions[] = {".gif", ".jpg", ".jpeg", ".bmp",
                                             ".ico", ".emf", ".wmf",  ".png"};
    if (index < 0 || index >= static_cast<int>(std::size(extensions))) return {};
    return extensions[index];
}

void PictureToBitmap(TPicture& picture, TImageType code, IPictureMessages& messages) {
    if (!picture.HasGraphic()) return;
    const TGraphicKind kind = *picture.Kind();
    switch (code) {
    case TImageType::Jpeg: {
        const int width = picture.Width();
        const int height = picture.Height();
        try {
            picture.SetBitmap(picture.Bitmap());
        } catch (const std::exception&) {
            messages.ShowMessage("Invalid graphic file");
            picture.SetBitmap(TBitmap(std::max(width, 0), std::max(height, 0), 24));
        }
        return;
    }
    case TImageType::Gif:
        if (kind == TGraphicKind::Gif) {
            picture.SetBitmap(picture.Bitmap());
        } else {
            picture.SetBitmap(QuantizeForGif(picture.Bitmap().ToImage()));
        }
        return;
    case TImageType::Bitmap:
        if (kind != TGraphicKind::Bitmap) picture.SetBitmap(picture.Bitmap());
        return;
    case TImageType::Icon:
    case TImageType::Wmf:
    case TImageType::Emf:
    case TImageType::Png:
        if (kind != TGraphicKind::Bitmap) picture.SetBitmap(picture.Bitmap());
        return;
    case TImageType::Unknown:
        return;
    }
}

void ConvertPictureToFormat(TPicture& picture, std::string_view name) {
    switch (ImageTypeOfExtension(name)) {
    case TImageType::Jpeg:
        picture.SetGraphic(TJpegGraphic::FromImage(picture.Bitmap().ToImage(), JpegDefaultQuality));
        return;
    case TImageType::Gif:
        picture.SetGraphic(TGifGraphic::FromImage(picture.Bitmap().ToImage()));
        return;
    case TImageType::Png:
        picture.SetGraphic(TPngGraphic::FromImage(picture.Bitmap().ToImage()));
        return;
    default:
        return;
    }
}

}  // namespace pixhold::imaging
