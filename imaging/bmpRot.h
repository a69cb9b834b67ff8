#pragma once

#include "Bitmap.h"

#include <QPoint>
#include <QRect>
#include <QSize>

namespace pixhold::imaging {

// Turns the bitmap a quarter turn clockwise, for every depth; the colour
// table and masks stay as they are, and the padding bits of the new rows are
// zero. The new width is the old height: the pixel at (x, y), counted from the
// top left, moves to (old height - 1 - y, x). Throws EInvalidGraphic for a
// depth other than 1, 4, 8, 16, 24 or 32 or a pixel array shorter than the
// size needs.
void RotateBitmap(TBitmap& bitmap);

// The block of the bitmap at `rect` as a new bitmap of the same depth, colour
// table and masks (a plain pixel copy). Pixels of the block outside the
// bitmap become zero bits (colour-table entry 0, or black). A rectangle of
// width or height 0 gives an empty bitmap of that size.
TBitmap CropBitmap(const TBitmap& bitmap, const QRect& rect);

// The crop rectangle in picture pixels spanned by the band's start and end points.
QRect CropRect(QPoint start, QPoint end);

// Multiply, then divide, rounding to the nearest integer, halves away from
// zero; the product is taken in 64 bits. As the Windows function of that name
// it gives -1 when the denominator is 0 or the result does not fit an int.
int MulDiv(int number, int numerator, int denominator);

// Converts a point in the picture control to picture pixels: scaled by
// MulDiv when the control stretches its picture, unchanged otherwise.
QPoint ControlToPicture(QPoint point, bool stretch, QSize picture, QSize client);

// The rubber band over the viewer's picture: the state the mouse events drive.
// Band coordinates are relative to the control's parent; points passed in are
// relative to the control, whose top-left corner in the parent is `origin`.
class TRubberBand {
public:
    void Press(QPoint point, QPoint origin, bool stretch, QSize picture, QSize client);
    void Move(QPoint point, QPoint origin, bool stretch, QSize picture, QSize client);
    void Release(QPoint point, bool stretch, QSize picture, QSize client);
    void Hide() { band_ = QRect(band_.topLeft(), QSize(0, 0)); dragging_ = false; }

    bool Dragging() const { return dragging_; }
    bool Visible() const { return band_.width() > 0 || band_.height() > 0; }
    QRect Band() const { return band_; }    // in the parent's coordinates
    QPoint Start() const { return start_; } // picture pixels
    QPoint End() const { return end_; }
    QRect CropRectangle() const { return CropRect(start_, end_); }

private:
    bool dragging_ = false;
    QPoint press_;
    QPoint start_;
    QPoint end_;
    QRect band_;
};

}  // namespace pixhold::imaging
