#include "MetafileDib.h"

#include "BmpCodec.h"
#include "GraphicError.h"

#include <cstring>
#include <string_view>

namespace pixhold::imaging::metafile {

namespace {
// TEMPORARY until the bitmap codec lands: 24/32-bit BI_RGB DIBs only.
bool Missing(const EInvalidGraphic& e) { return std::string_view(e.what()) == "BMP codec missing"; }
std::uint32_t U32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }
TBitmap TinyRead(TBytes header, TBytes bits) {
    if (header.size() < 40) throw EInvalidGraphic("DIB header too short");
    const int w = static_cast<int>(U32(header.data() + 4)), h = static_cast<int>(U32(header.data() + 8));
    const int bpp = header[14] | (header[15] << 8);
    if ((bpp != 24 && bpp != 32) || w <= 0 || h == 0) throw EInvalidGraphic("DIB unsupported");
    TBitmap b(w, h < 0 ? -h : h, bpp);
    if (bits.size() < b.Bits.size()) throw EInvalidGraphic("DIB short");
    std::memcpy(b.Bits.data(), bits.data(), b.Bits.size());
    return b;
}
TByteVector TinyWrite(const TBitmap& b) {
    TByteVector out(40, 0);
    auto put32 = [&](std::size_t o, std::uint32_t v) { for (int i = 0; i < 4; ++i) out[o + i] = std::uint8_t(v >> (8 * i)); };
    put32(0, 40); put32(4, b.Width); put32(8, b.Height); out[12] = 1; out[14] = std::uint8_t(b.BitCount);
    put32(20, std::uint32_t(b.Bits.size()));
    out.insert(out.end(), b.Bits.begin(), b.Bits.end());
    return out;
}
}  // namespace

TBitmap BitmapOfDib(TBytes header, TBytes bits) {
    try { return ReadDib(header, bits); } catch (const EInvalidGraphic& e) { if (!Missing(e)) throw; return TinyRead(header, bits); }
}
TBitmap BitmapOfPackedDib(TBytes dib) {
    try { return ReadDib(dib); } catch (const EInvalidGraphic& e) {
        if (!Missing(e)) throw;
        if (dib.size() < 40) throw EInvalidGraphic("DIB short");
        return TinyRead(dib.subspan(0, 40), dib.subspan(40));
    }
}
TByteVector PackedDibOf(const TBitmap& bitmap) {
    try { return WriteDib(bitmap); } catch (const EInvalidGraphic& e) { if (!Missing(e)) throw; return TinyWrite(bitmap); }
}

}  // namespace pixhold::imaging::metafile
