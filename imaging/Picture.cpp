#include "Picture.h"

#include "BmpCodec.h"
#include "GraphicError.h"
#include "IconCodec.h"
#include "JpegCodec.h"
#include "PictureFile.h"
#include "PictureKind.h"
#include "PngCodec.h"

#include <QPainter>

namespace pixhold::imaging {

namespace {

bool AllOpaque(const QImage& image) {
    if (!image.hasAlphaChannel()) return true;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) != 255) return false;
        }
    }
    return true;
}

// A bitmap of a rendering: 24 bits, or 32 with alpha when some pixel is not opaque.
TBitmap BitmapOfRendering(const QImage& image) {
    if (image.isNull()) return TBitmap();
    if (AllOpaque(image)) return TBitmap::FromImage(image.convertToFormat(QImage::Format_RGB32));
    return TBitmap::FromImage(image);
}

std::string ExtensionOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

}  // namespace

// --- bitmap ---------------------------------------------------------------

TBitmapGraphic::TBitmapGraphic(TBitmap bitmap) : bitmap_(std::move(bitmap)) {}

void TBitmapGraphic::Draw(QPainter& painter, const QRectF& target) const {
    if (bitmap_.Empty()) return;
    if (shown_.isNull()) shown_ = bitmap_.ToImage();
    painter.drawImage(target, shown_);
}

QImage TBitmapGraphic::Render() const {
    if (shown_.isNull()) shown_ = bitmap_.ToImage();
    return shown_;
}

TByteVector TBitmapGraphic::Save(bool) const {
    return WriteBmp(bitmap_);
}

std::unique_ptr<TGraphic> TBitmapGraphic::Clone() const {
    return std::make_unique<TBitmapGraphic>(bitmap_);
}

// --- encoded kinds --------------------------------------------------------

void TEncodedGraphic::Draw(QPainter& painter, const QRectF& target) const {
    if (!image_.isNull()) painter.drawImage(target, image_);
}

TByteVector TEncodedGraphic::Save(bool) const {
    return bytes_;
}

std::unique_ptr<TJpegGraphic> TJpegGraphic::Decode(TByteVector bytes) {
    return Decode(std::move(bytes), nullptr);
}

std::unique_ptr<TJpegGraphic> TJpegGraphic::Decode(TByteVector bytes, const std::atomic<bool>* cancel) {
    TJpegDecodeOptions options;
    options.Cancel = cancel;
    QImage image = DecodeJpeg(bytes, options);
    return std::unique_ptr<TJpegGraphic>(new TJpegGraphic(std::move(bytes), std::move(image)));
}

std::unique_ptr<TJpegGraphic> TJpegGraphic::FromImage(const QImage& image, int quality) {
    return Decode(EncodeJpeg(image, quality));
}

std::unique_ptr<TGraphic> TJpegGraphic::Clone() const {
    return std::unique_ptr<TJpegGraphic>(new TJpegGraphic(bytes_, image_));
}

std::unique_ptr<TPngGraphic> TPngGraphic::Decode(TByteVector bytes) {
    QImage image = DecodePng(bytes);
    return std::unique_ptr<TPngGraphic>(new TPngGraphic(std::move(bytes), std::move(image)));
}

std::unique_ptr<TPngGraphic> TPngGraphic::FromImage(const QImage& image) {
    return Decode(EncodePng(image));
}

std::unique_ptr<TGraphic> TPngGraphic::Clone() const {
    return std::unique_ptr<TPngGraphic>(new TPngGraphic(bytes_, image_));
}

std::unique_ptr<TIconGraphic> TIconGraphic::Decode(TByteVector bytes) {
    QImage image = ReadIcon(bytes, SystemIconSize);
    return std::unique_ptr<TIconGraphic>(new TIconGraphic(std::move(bytes), std::move(image)));
}

std::unique_ptr<TIconGraphic> TIconGraphic::FromImage(const QImage& image) {
    return Decode(WriteIcon(image));
}

int TIconGraphic::Width() const {
    return image_.isNull() ? SystemIconSize : image_.width();
}

int TIconGraphic::Height() const {
    return image_.isNull() ? SystemIconSize : image_.height();
}

std::unique_ptr<TGraphic> TIconGraphic::Clone() const {
    return std::unique_ptr<TIconGraphic>(new TIconGraphic(bytes_, image_));
}

// --- GIF --------------------------------------------------------------------

std::unique_ptr<TGifGraphic> TGifGraphic::Decode(TByteVector bytes) {
    TGifAnimation animation = DecodeGif(bytes);
    if (animation.Frames.empty()) throw EInvalidGraphic("GIF image has no frames");
    return std::unique_ptr<TGifGraphic>(new TGifGraphic(std::move(bytes), std::move(animation)));
}

std::unique_ptr<TGifGraphic> TGifGraphic::FromImage(const QImage& image) {
    return Decode(EncodeGif(image));
}

void TGifGraphic::Draw(QPainter& painter, const QRectF& target) const {
    painter.drawImage(target, animation_.Frames.front().Image);
}

QImage TGifGraphic::Render() const {
    return animation_.Frames.front().Image;
}

std::unique_ptr<TGraphic> TGifGraphic::Clone() const {
    return std::unique_ptr<TGifGraphic>(new TGifGraphic(bytes_, animation_));
}

// --- metafile ---------------------------------------------------------------

void TMetafileGraphic::Draw(QPainter& painter, const QRectF& target) const {
    metafile_.Draw(painter, target);
}

TByteVector TMetafileGraphic::Save(bool forWmfFile) const {
    return forWmfFile ? metafile_.SaveWmf() : metafile_.SaveEmf();
}

std::unique_ptr<TGraphic> TMetafileGraphic::Clone() const {
    return std::make_unique<TMetafileGraphic>(metafile_);
}

// --- decoding ---------------------------------------------------------------

std::unique_ptr<TGraphic> DecodeGraphic(TImageType kind, TBytes bytes) {
    const TImageType held = DetectPictureKind(bytes);
    if (held != TImageType::Unknown) kind = held;
    TByteVector copy(bytes.begin(), bytes.end());
    switch (kind) {
    case TImageType::Jpeg:
        return TJpegGraphic::Decode(std::move(copy));
    case TImageType::Gif:
        return TGifGraphic::Decode(std::move(copy));
    case TImageType::Png:
        return TPngGraphic::Decode(std::move(copy));
    case TImageType::Bitmap:
        return std::make_unique<TBitmapGraphic>(ReadBmp(bytes));
    case TImageType::Icon:
        return TIconGraphic::Decode(std::move(copy));
    case TImageType::Wmf:
    case TImageType::Emf:
        return std::make_unique<TMetafileGraphic>(TMetafile::Read(bytes));
    case TImageType::Unknown:
        break;
    }
    throw EInvalidGraphic("Unknown picture file extension");
}

// --- the picture ------------------------------------------------------------

void TPicture::LoadFromFile(const std::string& path) {
    const TImageType kind = ImageTypeOfExtension(path);
    if (kind == TImageType::Unknown) {
        const std::string extension = ExtensionOf(path);
        throw EInvalidGraphic("Unknown picture file extension (" + extension + ")");
    }
    const TByteVector bytes = ReadPictureFile(path);
    if (bytes.empty()) throw EInvalidGraphic("The picture file is empty");
    graphic_ = DecodeGraphic(kind, bytes);
}

void TPicture::LoadFromBytes(TImageType kind, TBytes bytes) {
    graphic_ = DecodeGraphic(kind, bytes);
}

void TPicture::Assign(const TPicture& other) {
    graphic_ = other.graphic_ ? other.graphic_->Clone() : nullptr;
}

void TPicture::SetBitmap(TBitmap bitmap) {
    graphic_ = std::make_unique<TBitmapGraphic>(std::move(bitmap));
}

std::optional<TGraphicKind> TPicture::Kind() const {
    if (!graphic_) return std::nullopt;
    return graphic_->Kind();
}

void TPicture::Draw(QPainter& painter, QPointF at) const {
    if (graphic_) graphic_->Draw(painter, QRectF(at, QSizeF(Width(), Height())));
}

void TPicture::StretchDraw(QPainter& painter, const QRectF& target) const {
    if (graphic_) graphic_->Draw(painter, target);
}

TBitmap TPicture::Bitmap() const {
    if (!graphic_) return TBitmap();
    if (const auto* bitmap = dynamic_cast<const TBitmapGraphic*>(graphic_.get())) return bitmap->Bitmap();
    return BitmapOfRendering(graphic_->Render());
}

TBitmap& TPicture::EditBitmap() {
    auto* bitmap = dynamic_cast<TBitmapGraphic*>(graphic_.get());
    if (!bitmap) {
        SetBitmap(Bitmap());
        bitmap = static_cast<TBitmapGraphic*>(graphic_.get());
    }
    return bitmap->MutableBitmap();
}

TByteVector TPicture::Encode(TImageType code, bool forWmfFile) const {
    const std::optional<TGraphicKind> held = Kind();
    auto holds = [&](TGraphicKind kind) { return held && *held == kind; };
    switch (code) {
    case TImageType::Jpeg:
        if (holds(TGraphicKind::Jpeg)) return graphic_->Save();
        return EncodeJpeg(Bitmap().ToImage(), JpegDefaultQuality);
    case TImageType::Gif:
        if (holds(TGraphicKind::Gif)) return graphic_->Save();
        return EncodeGif(Bitmap().ToImage());
    case TImageType::Png:
        if (holds(TGraphicKind::Png)) return graphic_->Save();
        return EncodePng(Bitmap().ToImage());
    case TImageType::Bitmap:
        // Always a real BMP: a ".bmp" file holding another kind would not open elsewhere.
        return WriteBmp(Bitmap());
    case TImageType::Icon:
        if (holds(TGraphicKind::Icon)) return graphic_->Save();
        return WriteIcon(Bitmap().ToImage());
    case TImageType::Wmf:
    case TImageType::Emf:
        if (holds(TGraphicKind::Metafile)) return graphic_->Save(forWmfFile);
        {
            // Other programs draw a metafile's bitmap without its alpha: the
            // picture goes in as it looks on white.
            QImage shown = Bitmap().ToImage();
            if (shown.hasAlphaChannel()) {
                QImage white(shown.size(), QImage::Format_RGB32);
                white.fill(Qt::white);
                QPainter painter(&white);
                painter.drawImage(0, 0, shown);
                painter.end();
                shown = white;
            }
            const TMetafile metafile = TMetafile::FromBitmap(shown);
            return forWmfFile ? metafile.SaveWmf() : metafile.SaveEmf();
        }
    case TImageType::Unknown:
        break;
    }
    return {};
}

void TPicture::SaveToFile(const std::string& path) const {
    const TImageType code = ImageTypeOfExtension(path);
    if (code == TImageType::Unknown) {
        throw EInvalidGraphic("Unknown picture file extension (" + ExtensionOf(path) + ")");
    }
    const TByteVector bytes = Encode(code, code == TImageType::Wmf);
    WritePictureFile(path, bytes);
}

}  // namespace pixhold::imaging
