// GIF encoding: the picture reduced by the program's palette rule, written by
// giflib into memory as a GIF89a of one image with that palette as its global
// colour table.
#include "GifCodec.h"

#include "GifLib.h"
#include "GifQuantizer.h"
#include "GraphicError.h"

#include <memory>
#include <new>

namespace pixhold::imaging {

namespace {

struct TMemoryWriter {
    TByteVector Bytes;
    bool Failed = false;
};

// Called from inside giflib: must not throw.
extern "C" int WriteToMemory(GifFileType* gif, const GifByteType* buffer, int length) {
    auto* writer = static_cast<TMemoryWriter*>(gif->UserData);
    if (length <= 0) return 0;
    try {
        writer->Bytes.insert(writer->Bytes.end(), buffer, buffer + length);
    } catch (const std::bad_alloc&) {
        writer->Failed = true;
        return 0;
    }
    return length;
}

struct TEncoderCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};

struct TMapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

[[noreturn]] void Fail(int error) {
    throw EInvalidGraphic("Cannot write the GIF image: " + gif::ErrorText(error));
}

}  // namespace

TByteVector EncodeGif(const QImage& image) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        throw EInvalidGraphic("Cannot write an empty picture as a GIF image");
    }
    if (image.width() > 65535 || image.height() > 65535) {
        throw EInvalidGraphic("GIF image cannot be wider or taller than 65535 pixels (the picture is " +
                              std::to_string(image.width()) + " x " + std::to_string(image.height()) + ")");
    }
    TBitmap bitmap = QuantizeForGif(image);

    GifColorType colours[256];
    for (int i = 0; i < 256; ++i) {
        const TRgbQuad& q = bitmap.Palette[static_cast<std::size_t>(i)];
        colours[i] = GifColorType{q.Red, q.Green, q.Blue};
    }
    const std::unique_ptr<ColorMapObject, TMapFree> map(GifMakeMapObject(256, colours));
    if (!map) throw EInvalidGraphic("Out of memory while writing a GIF image");

    TMemoryWriter writer;
    // Compressed 8-bit pictures are rarely larger than half their pixels.
    writer.Bytes.reserve(static_cast<std::size_t>(bitmap.Width) * static_cast<std::size_t>(bitmap.Height) / 2 +
                         1024);
    int error = 0;
    std::unique_ptr<GifFileType, TEncoderCloser> gif(EGifOpen(&writer, WriteToMemory, &error));
    if (!gif) Fail(error);
    EGifSetGifVersion(gif.get(), true);
    if (EGifPutScreenDesc(gif.get(), bitmap.Width, bitmap.Height, 8, 0, map.get()) == GIF_ERROR) {
        Fail(gif->Error);
    }
    if (EGifPutImageDesc(gif.get(), 0, 0, bitmap.Width, bitmap.Height, false, nullptr) == GIF_ERROR) {
        Fail(gif->Error);
    }
    for (int y = 0; y < bitmap.Height; ++y) {
        if (EGifPutLine(gif.get(), bitmap.Row(y), bitmap.Width) == GIF_ERROR) Fail(gif->Error);
    }
    // Closing writes the trailer and frees the handle whatever happens.
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR) Fail(error);
    if (writer.Failed) throw EInvalidGraphic("Out of memory while writing a GIF image");
    return std::move(writer.Bytes);
}

}  // namespace pixhold::imaging
