// Placeholder until the codec lands.
#include "IconCodec.h"

#include "GraphicError.h"

namespace pixhold::imaging {

[[noreturn]] static void Missing() { throw EInvalidGraphic("Icon codec missing"); }
std::vector<TIconEntry> ReadIconDirectory(TBytes) { Missing(); }
QImage ReadIcon(TBytes, int) { Missing(); }
TByteVector WriteIcon(const QImage&) { Missing(); }

}  // namespace pixhold::imaging
