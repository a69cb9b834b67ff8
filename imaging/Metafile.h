#pragma once

#include "ByteSpan.h"

#include <QImage>
#include <QRectF>

class QPainter;

namespace pixhold::imaging {

// Windows metafiles (".wmf", placeable or not) and enhanced metafiles
// (".emf"), our own reader, renderer and writer (docs/metafile-format.md).
// A metafile keeps the records it was read from and draws them through
// QPainter.
class TMetafile {
public:
    TMetafile() = default;
    // Reads an EMF, a placeable WMF or a plain WMF (by content).
    static TMetafile Read(TBytes data);
    // The program's metafile of a bitmap: marked enhanced, the bitmap's size,
    // the bitmap drawn at (0, 0).
    static TMetafile FromBitmap(const QImage& bitmap);

    bool Empty() const { return data_.empty(); }
    bool Enhanced() const { return enhanced_; }
    int Width() const { return width_; }    // pixels at 96 per inch
    int Height() const { return height_; }

    // Plays the records stretched into `target`.
    void Draw(QPainter& painter, const QRectF& target) const;
    // Renders at its own size onto white.
    QImage Render() const;

    // As an enhanced metafile, and as a placeable Windows metafile (checksum,
    // 96 units per inch unless the metafile states its own).
    TByteVector SaveEmf() const;
    TByteVector SaveWmf() const;

private:
    TByteVector data_;      // the records as read (or as made), EMF or WMF
    bool enhanced_ = false;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace pixhold::imaging
