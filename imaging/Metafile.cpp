// Placeholder until the codec lands.
#include "Metafile.h"

#include "GraphicError.h"

namespace pixhold::imaging {

[[noreturn]] static void Missing() { throw EInvalidGraphic("Metafile codec missing"); }
TMetafile TMetafile::Read(TBytes) { Missing(); }
TMetafile TMetafile::FromBitmap(const QImage&) { Missing(); }
void TMetafile::Draw(QPainter&, const QRectF&) const { Missing(); }
QImage TMetafile::Render() const { Missing(); }
TByteVector TMetafile::SaveEmf() const { Missing(); }
TByteVector TMetafile::SaveWmf() const { Missing(); }

}  // namespace pixhold::imaging
