#include "BmpCodec.h"

#include "DibFormat.h"
#include "GraphicError.h"

#include <algorithm>

namespace pixhold::imaging {

using namespace dib;

TBitmap ReadBmp(TBytes file) {
    const TFileHeader fileHeader = ReadFileHeader(file);
    const TBytes packed = file.subspan(FileHeaderSize);
    const std::size_t pixelOffset = fileHeader.PixelOffset;
    // Some writers leave the offset zero: the pixels then follow the colour table.
    if (pixelOffset == 0) {
        const TDibHeader header = ReadDibHeader(packed, packed.size());
        return ReadDibPixels(header, packed.subspan(header.Size));
    }
    if (pixelOffset < FileHeaderSize) {
        throw EInvalidGraphic("Bitmap pixel data offset lies inside the file header");
    }
    const TDibHeader header = ReadDibHeader(packed, pixelOffset - FileHeaderSize);
    if (pixelOffset > file.size()) {
        throw EInvalidGraphic("Bitmap pixel data offset (" + std::to_string(pixelOffset) +
                              ") lies beyond the end of the file (" + std::to_string(file.size()) +
                              " bytes)");
    }
    return ReadDibPixels(header, file.subspan(pixelOffset));
}

TBitmap ReadDib(TBytes packed) {
    const TDibHeader header = ReadDibHeader(packed, packed.size());
    return ReadDibPixels(header, packed.subspan(header.Size));
}

TBitmap ReadDib(TBytes header, TBytes bits) {
    return ReadDibPixels(ReadDibHeader(header, header.size()), bits);
}

TByteVector WriteDib(const TBitmap& bitmap) {
    const TDibLayout layout = LayoutOf(bitmap);
    TByteVector out;
    out.reserve(layout.HeaderBytes() + bitmap.Bits.size());
    WriteDibHeader(layout.Fields, layout.Palette, out);
    out.insert(out.end(), bitmap.Bits.begin(), bitmap.Bits.end());
    return out;
}

TByteVector WriteBmp(const TBitmap& bitmap) {
    const TDibLayout layout = LayoutOf(bitmap);
    const std::size_t offset = FileHeaderSize + layout.HeaderBytes();
    const std::size_t total = offset + bitmap.Bits.size();
    TByteVector out;
    out.reserve(total);
    // bfSize is a 32-bit field; the picture limit keeps real files far below it.
    WriteFileHeader(TFileHeader{static_cast<std::uint32_t>(std::min<std::size_t>(total, 0xFFFFFFFFu)),
                                static_cast<std::uint32_t>(offset)},
                    out);
    WriteDibHeader(layout.Fields, layout.Palette, out);
    out.insert(out.end(), bitmap.Bits.begin(), bitmap.Bits.end());
    return out;
}

}  // namespace pixhold::imaging
