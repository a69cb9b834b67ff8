#pragma once

#include "Bitmap.h"
#include "ByteSpan.h"
#include "GifCodec.h"
#include "ImageTypes.h"
#include "Metafile.h"

#include <QImage>
#include <QPointF>
#include <QRectF>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

class QPainter;

namespace pixhold::imaging {

enum class TGraphicKind { Bitmap, Icon, Metafile, Jpeg, Gif, Png };

// One graphic of one kind. Encoded kinds (JPEG, GIF, PNG, icons read from a
// file) keep the bytes they were made from and write exactly those; their
// pixels are decoded when the graphic is made, so that a damaged picture is
// reported when it is loaded, not later when it is drawn.
class TGraphic {
public:
    virtual ~TGraphic() = default;
    virtual TGraphicKind Kind() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const { return Width() <= 0 || Height() <= 0; }
    // Draws the graphic stretched into `target` (smoothly when the painter's
    // SmoothPixmapTransform hint is set).
    virtual void Draw(QPainter& painter, const QRectF& target) const = 0;
    // The graphic rendered at its own size; alpha kept where the kind has it.
    virtual QImage Render() const = 0;
    // The graphic in its own kind. `forWmfFile` asks a metafile for the
    // placeable Windows form instead of the enhanced one.
    virtual TByteVector Save(bool forWmfFile = false) const = 0;
    virtual std::unique_ptr<TGraphic> Clone() const = 0;
};

class TBitmapGraphic final : public TGraphic {
public:
    explicit TBitmapGraphic(TBitmap bitmap);
    TGraphicKind Kind() const override { return TGraphicKind::Bitmap; }
    int Width() const override { return bitmap_.Width; }
    int Height() const override { return bitmap_.Height; }
    void Draw(QPainter& painter, const QRectF& target) const override;
    QImage Render() const override;
    TByteVector Save(bool forWmfFile = false) const override;
    std::unique_ptr<TGraphic> Clone() const override;

    const TBitmap& Bitmap() const { return bitmap_; }
    // For editing in place: the converted copy for drawing is made again.
    TBitmap& MutableBitmap() {
        shown_ = QImage();
        return bitmap_;
    }

private:
    TBitmap bitmap_;
    mutable QImage shown_;  // the bitmap converted for drawing, made once
};

// JPEG, PNG and icons: encoded bytes plus the decoded picture.
class TEncodedGraphic : public TGraphic {
public:
    int Width() const override { return image_.width(); }
    int Height() const override { return image_.height(); }
    void Draw(QPainter& painter, const QRectF& target) const override;
    QImage Render() const override { return image_; }
    TByteVector Save(bool forWmfFile = false) const override;
    const TByteVector& Bytes() const { return bytes_; }

protected:
    TEncodedGraphic(TByteVector bytes, QImage image) : bytes_(std::move(bytes)), image_(std::move(image)) {}
    TByteVector bytes_;
    QImage image_;
};

class TJpegGraphic final : public TEncodedGraphic {
public:
    static std::unique_ptr<TJpegGraphic> Decode(TByteVector bytes);
    // The same, stopping early (EInvalidGraphic) once `cancel` turns true.
    static std::unique_ptr<TJpegGraphic> Decode(TByteVector bytes, const std::atomic<bool>* cancel);
    // Encodes the picture at the given quality.
    static std::unique_ptr<TJpegGraphic> FromImage(const QImage& image, int quality);
    TGraphicKind Kind() const override { return TGraphicKind::Jpeg; }
    std::unique_ptr<TGraphic> Clone() const override;

private:
    using TEncodedGraphic::TEncodedGraphic;
};

class TPngGraphic final : public TEncodedGraphic {
public:
    static std::unique_ptr<TPngGraphic> Decode(TByteVector bytes);
    static std::unique_ptr<TPngGraphic> FromImage(const QImage& image);
    TGraphicKind Kind() const override { return TGraphicKind::Png; }
    std::unique_ptr<TGraphic> Clone() const override;

private:
    using TEncodedGraphic::TEncodedGraphic;
};

class TIconGraphic final : public TEncodedGraphic {
public:
    static std::unique_ptr<TIconGraphic> Decode(TByteVector bytes);
    // The program's icon encoding of a picture.
    static std::unique_ptr<TIconGraphic> FromImage(const QImage& image);
    TGraphicKind Kind() const override { return TGraphicKind::Icon; }
    // An empty icon reports the system icon size.
    int Width() const override;
    int Height() const override;
    bool Empty() const override { return image_.isNull(); }
    std::unique_ptr<TGraphic> Clone() const override;

private:
    using TEncodedGraphic::TEncodedGraphic;
};

class TGifGraphic final : public TGraphic {
public:
    static std::unique_ptr<TGifGraphic> Decode(TByteVector bytes);
    // The program's GIF of a picture (the palette rule of the GIF encoder).
    static std::unique_ptr<TGifGraphic> FromImage(const QImage& image);
    TGraphicKind Kind() const override { return TGraphicKind::Gif; }
    int Width() const override { return animation_.Width; }
    int Height() const override { return animation_.Height; }
    void Draw(QPainter& painter, const QRectF& target) const override;  // the first frame
    QImage Render() const override;
    TByteVector Save(bool = false) const override { return bytes_; }
    std::unique_ptr<TGraphic> Clone() const override;

    const TGifAnimation& Animation() const { return animation_; }

private:
    TGifGraphic(TByteVector bytes, TGifAnimation animation)
        : bytes_(std::move(bytes)), animation_(std::move(animation)) {}
    TByteVector bytes_;
    TGifAnimation animation_;
};

class TMetafileGraphic final : public TGraphic {
public:
    explicit TMetafileGraphic(TMetafile metafile) : metafile_(std::move(metafile)) {}
    TGraphicKind Kind() const override { return TGraphicKind::Metafile; }
    int Width() const override { return metafile_.Width(); }
    int Height() const override { return metafile_.Height(); }
    void Draw(QPainter& painter, const QRectF& target) const override;
    QImage Render() const override { return metafile_.Render(); }
    TByteVector Save(bool forWmfFile = false) const override;
    std::unique_ptr<TGraphic> Clone() const override;

    const TMetafile& Metafile() const { return metafile_; }

private:
    TMetafile metafile_;
};

// A holder of at most one graphic of one kind.
class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture& other) { Assign(other); }
    TPicture& operator=(const TPicture& other) {
        if (this != &other) Assign(other);
        return *this;
    }
    TPicture(TPicture&&) noexcept = default;
    TPicture& operator=(TPicture&&) noexcept = default;

    // Loads a file: the extension must name a picture kind (else "Unknown
    // picture file extension"); the bytes are decoded by what they hold.
    void LoadFromFile(const std::string& path);
    // Loads bytes as a graphic of the given kind (the type code of a record);
    // bytes of another supported kind are decoded by what they hold.
    void LoadFromBytes(TImageType kind, TBytes bytes);
    // Holds a copy of the other picture's graphic (nothing when it is empty).
    void Assign(const TPicture& other);
    void SetGraphic(std::unique_ptr<TGraphic> graphic) { graphic_ = std::move(graphic); }
    void SetBitmap(TBitmap bitmap);
    void Clear() { graphic_.reset(); }

    bool HasGraphic() const { return graphic_ != nullptr; }
    const TGraphic* Graphic() const { return graphic_.get(); }
    std::optional<TGraphicKind> Kind() const;
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }

    void Draw(QPainter& painter, QPointF at) const;
    void StretchDraw(QPainter& painter, const QRectF& target) const;

    // The bitmap of the picture: the bitmap itself when it holds one, else a
    // rendering of its content at its own size (never discarding the content).
    TBitmap Bitmap() const;
    // Makes the picture hold its bitmap (Bitmap()) and returns it for editing.
    TBitmap& EditBitmap();

    // The picture encoded for a file or record of the given type code, by the
    // picture kinds' encoders: a graphic of that kind writes its own bytes,
    // anything else is encoded from the picture's bitmap. Code Unknown gives
    // nothing. `forWmfFile`: a ".wmf" file gets the placeable Windows form.
    TByteVector Encode(TImageType code, bool forWmfFile = false) const;
    // Encode(code of the path's extension) written to `path`, replacing it.
    void SaveToFile(const std::string& path) const;

private:
    std::unique_ptr<TGraphic> graphic_;
};

// Decodes bytes by their content, falling back to the given kind when no
// signature matches. Raises EInvalidGraphic.
std::unique_ptr<TGraphic> DecodeGraphic(TImageType kind, TBytes bytes);

}  // namespace pixhold::imaging
