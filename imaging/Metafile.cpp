#include "Metafile.h"

#include "GraphicError.h"
#include "MetafilePlayer.h"
#include "MetafileRecords.h"
#include "MetafileWriter.h"

#include <QPainter>

namespace pixhold::imaging {

using namespace metafile;

TMetafile TMetafile::Read(TBytes data) {
    TMetafile m;
    QSize size;
    if (LooksLikeEmf(data)) {
        size = ReadEmfStructure(data).Size96();
        m.enhanced_ = true;
    } else if (LooksLikeWmf(data)) {
        size = ReadWmfStructure(data).Size96();
        m.enhanced_ = false;
    } else {
        throw EInvalidGraphic("Not a Windows metafile or an enhanced metafile");
    }
    m.data_.assign(data.begin(), data.end());
    m.width_ = size.width();
    m.height_ = size.height();
    return m;
}

TMetafile TMetafile::FromBitmap(const QImage& bitmap) {
    TMetafile m;
    m.enhanced_ = true;
    if (bitmap.isNull()) return m;
    m.data_ = EmfOfBitmap(TBitmap::FromImage(bitmap));
    m.width_ = bitmap.width();
    m.height_ = bitmap.height();
    return m;
}

void TMetafile::Draw(QPainter& painter, const QRectF& target) const {
    if (Empty()) return;
    if (enhanced_) {
        PlayEmf(data_, ReadEmfStructure(data_), painter, target);
    } else {
        PlayWmf(data_, ReadWmfStructure(data_), painter, target);
    }
}

QImage TMetafile::Render() const {
    if (Empty()) return QImage();
    CheckPictureSize(width_, height_, "Metafile");
    QImage image(width_, height_, QImage::Format_RGB32);
    if (image.isNull()) throw EInvalidGraphic("Out of memory while drawing a metafile");
    image.fill(Qt::white);
    QPainter painter(&image);
    Draw(painter, QRectF(0, 0, width_, height_));
    painter.end();
    return image;
}

TByteVector TMetafile::SaveEmf() const {
    if (Empty()) throw EInvalidGraphic("An empty metafile cannot be written");
    if (enhanced_) return data_;
    // A Windows metafile becomes the enhanced metafile of its picture.
    return EmfOfBitmap(TBitmap::FromImage(Render()));
}

TByteVector TMetafile::SaveWmf() const {
    if (Empty()) throw EInvalidGraphic("An empty metafile cannot be written");
    if (!enhanced_) {
        // Its own records under a placeable header, the box and units per inch it states.
        const TWmfInfo info = ReadWmfStructure(data_);
        return PlaceableWmf(info.Box, info.UnitsPerInch,
                            TBytes(data_).subspan(info.RecordsOffset));
    }
    // Enhanced records have no Windows metafile form: the picture goes as a bitmap.
    return WmfOfBitmap(TBitmap::FromImage(Render()));
}

}  // namespace pixhold::imaging
