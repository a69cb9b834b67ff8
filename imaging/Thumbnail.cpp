#include "Thumbnail.h"

#include "GraphicError.h"
#include "ImageTypes.h"
#include "JpegCodec.h"
#include "Picture.h"
#include "PictureKind.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <cmath>

namespace pixhold::imaging {

namespace {

int RoundHalfEven(long double value) {
    return static_cast<int>(std::nearbyintl(value));  // the default rounding mode: ties to even
}

QColor PaletteColour(QPalette::ColorRole role, QColor fallback) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return fallback;
    return QGuiApplication::palette().color(QPalette::Active, role);
}

}  // namespace

TThumbLayout ThumbnailLayout(int width, int height) {
    TThumbLayout layout;
    layout.Target = QRect(0, 0, ThumbSize, ThumbSize);
    if (width <= 0 || height <= 0) return layout;
    const long double side = ThumbSize;
    int w = ThumbSize;
    int h = ThumbSize;
    if (static_cast<long double>(height) / width > 1) {
        w = RoundHalfEven(side / height * width);
    } else {
        h = RoundHalfEven(side / width * height);
    }
    if (w <= ThumbSize - 1) {
        const int x = (ThumbSize - w) / 2;
        layout.Target = QRect(x, 0, w, ThumbSize);
        layout.Bands[0] = QRect(0, 0, x, ThumbSize);
        layout.Bands[1] = QRect(x + w, 0, ThumbSize - x - w, ThumbSize);
    }
    if (h <= ThumbSize - 1) {
        const int y = (ThumbSize - h) / 2;
        layout.Target = QRect(0, y, ThumbSize, h);
        layout.Bands[0] = QRect(0, 0, ThumbSize, y);
        layout.Bands[1] = QRect(0, y + h, ThumbSize, ThumbSize - y - h);
    }
    return layout;
}

QColor ButtonFaceColour() {
    return PaletteColour(QPalette::Button, QColor(240, 240, 240));
}

QImage MakeThumbnailImage(const QImage& picture, int width, int height) {
    const TThumbLayout layout = ThumbnailLayout(width, height);
    QImage square(ThumbSize, ThumbSize, QImage::Format_RGB32);
    square.fill(ButtonFaceColour());
    if (picture.isNull() || layout.Target.isEmpty()) return square;
    // An area-averaging downscale (Qt's smooth scaling of a large picture
    // averages the pixels each target pixel covers).
    const QImage scaled = picture.size() == layout.Target.size()
                              ? picture
                              : picture.scaled(layout.Target.size(), Qt::IgnoreAspectRatio,
                                               Qt::SmoothTransformation);
    QPainter painter(&square);
    painter.drawImage(layout.Target.topLeft(), scaled);
    return square;
}

QImage MakeThumbnailImage(const TPicture& picture) {
    if (!picture.HasGraphic()) return MakeThumbnailImage(QImage(), 0, 0);
    // Metafiles are drawn straight into the target: they have no pixels to scale.
    if (picture.Kind() == TGraphicKind::Metafile) {
        const TThumbLayout layout = ThumbnailLayout(picture.Width(), picture.Height());
        QImage square(ThumbSize, ThumbSize, QImage::Format_RGB32);
        square.fill(ButtonFaceColour());
        QPainter painter(&square);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::Antialiasing);
        picture.StretchDraw(painter, layout.Target);
        return square;
    }
    return MakeThumbnailImage(picture.Graphic()->Render(), picture.Width(), picture.Height());
}

QImage ThumbnailOfPictureBytes(TBytes bytes, const std::string& fileName) {
    TImageType kind = DetectPictureKind(bytes);
    if (kind == TImageType::Unknown) kind = ImageTypeOfExtension(fileName);
    if (kind == TImageType::Jpeg) {
        const TJpegInfo info = ReadJpegInfo(bytes);
        const bool turned = info.Orientation >= 5 && info.Orientation <= 8;
        const int width = turned ? info.Height : info.Width;
        const int height = turned ? info.Width : info.Height;
        const TThumbLayout layout = ThumbnailLayout(width, height);
        // The scale is chosen on the stored axes: the target turned back.
        const int targetW = turned ? layout.Target.height() : layout.Target.width();
        const int targetH = turned ? layout.Target.width() : layout.Target.height();
        TJpegDecodeOptions options;
        options.ScaleNum = JpegScaleToCover(info.Width, info.Height, targetW, targetH);
        return MakeThumbnailImage(DecodeJpeg(bytes, options), width, height);
    }
    TPicture picture;
    picture.LoadFromBytes(kind, bytes);
    return MakeThumbnailImage(picture);
}

TByteVector RecordThumbnailJpeg(TBytes bytes, const std::string& fileName) {
    return EncodeJpeg(ThumbnailOfPictureBytes(bytes, fileName), RecordThumbQuality);
}

QImage LoadThumbPlaceholder(const std::string& programFolder) {
    try {
        TPicture picture;
        picture.LoadFromFile(programFolder + ThumbPlaceholderFile);
        return picture.Graphic()->Render();
    } catch (const std::exception&) {
        return QImage();
    }
}

void DrawEtchedEdge(QImage& thumbnail) {
    const QColor shadow = PaletteColour(QPalette::Dark, QColor(160, 160, 160));
    const QColor light = PaletteColour(QPalette::Light, QColor(255, 255, 255));
    QPainter painter(&thumbnail);
    const int last = ThumbSize - 1;
    // Outer line sunken: shadow on the top and left, light on the bottom and right.
    painter.setPen(shadow);
    painter.drawLine(0, 0, last - 1, 0);
    painter.drawLine(0, 0, 0, last - 1);
    painter.setPen(light);
    painter.drawLine(0, last, last, last);
    painter.drawLine(last, 0, last, last);
    // Inner line raised: light on the top and left, shadow on the bottom and right.
    painter.setPen(light);
    painter.drawLine(1, 1, last - 2, 1);
    painter.drawLine(1, 1, 1, last - 2);
    painter.setPen(shadow);
    painter.drawLine(1, last - 1, last - 1, last - 1);
    painter.drawLine(last - 1, 1, last - 1, last - 1);
}

}  // namespace pixhold::imaging
