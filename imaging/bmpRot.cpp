// Placeholder until the codec lands.
#include "bmpRot.h"

#include "GraphicError.h"

namespace pixhold::imaging {

void RotateBitmap(TBitmap&) { throw EInvalidGraphic("rotation missing"); }
TBitmap CropBitmap(const TBitmap&, const QRect&) { throw EInvalidGraphic("crop missing"); }
QRect CropRect(QPoint, QPoint) { return {}; }
int MulDiv(int, int, int) { return 0; }
QPoint ControlToPicture(QPoint p, bool, QSize, QSize) { return p; }
void TRubberBand::Press(QPoint, QPoint, bool, QSize, QSize) {}
void TRubberBand::Move(QPoint, QPoint, bool, QSize, QSize) {}
void TRubberBand::Release(QPoint, bool, QSize, QSize) {}

}  // namespace pixhold::imaging
