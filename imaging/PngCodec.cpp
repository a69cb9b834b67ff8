#include "PngCodec.h"

#include "GraphicError.h"
#include "LargeImage.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace pixhold::imaging {

namespace {

// Dimensions libpng itself refuses beyond (its own default is a million a
// side); the pixel count is checked against MaxPicturePixels afterwards.
constexpr png_uint_32 PngMaxSide = 1000000;

// libpng reports a fatal error through our error function, which records the
// message and longjmps back to the frame that called setjmp (PngTry); no C++
// exception passes through libpng's frames. Warnings are not fatal; the last
// one is kept, since libpng sometimes gives the cause only as a warning
// ("Image width exceeds user limit in IHDR", then "Invalid IHDR data").
struct TPngErrors {
    char Message[256] = {};
    char Warning[256] = {};

    std::string Text(bool withWarning) const {
        std::string text = Message;
        if (withWarning && Warning[0] != '\0') text += std::string(" (") + Warning + ")";
        return text;
    }
};

extern "C" void PngError(png_structp png, png_const_charp message) {
    auto* errors = static_cast<TPngErrors*>(png_get_error_ptr(png));
    std::strncpy(errors->Message, message ? message : "PNG error", sizeof errors->Message - 1);
    png_longjmp(png, 1);
}

extern "C" void PngWarning(png_structp png, png_const_charp message) {
    auto* errors = static_cast<TPngErrors*>(png_get_error_ptr(png));
    std::strncpy(errors->Warning, message ? message : "", sizeof errors->Warning - 1);
}

// Runs `step` (plain calls into libpng, nothing with a destructor) under the
// error function. False when libpng raised an error.
template <typename Step>
[[nodiscard]] bool PngTry(png_structp png, Step&& step) noexcept {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    step();
    return true;
}

struct TPngSource {
    TBytes Data;
    std::size_t Pos = 0;
};

extern "C" void PngReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* src = static_cast<TPngSource*>(png_get_io_ptr(png));
    if (count > src->Data.size() - src->Pos) png_error(png, "PNG file is truncated");
    std::memcpy(out, src->Data.data() + src->Pos, count);
    src->Pos += count;
}

struct TPngSink {
    TByteVector Bytes;
};

extern "C" void PngWriteToMemory(png_structp png, png_bytep data, png_size_t count) {
    auto* sink = static_cast<TPngSink*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        sink->Bytes.insert(sink->Bytes.end(), data, data + count);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown) png_error(png, "Not enough memory to encode the PNG image");  // outside the handler
}

extern "C" void PngFlush(png_structp) {}

// A read or write struct with its info struct, destroyed on every path.
class TPngReadObject {
public:
    TPngReadObject(TPngErrors& errors) {
        Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, PngError, PngWarning);
        if (Png) Info = png_create_info_struct(Png);
        if (!Png || !Info) {
            png_destroy_read_struct(Png ? &Png : nullptr, nullptr, nullptr);
            throw EInvalidGraphic("Not enough memory to decode the PNG image");
        }
    }
    ~TPngReadObject() { png_destroy_read_struct(&Png, &Info, nullptr); }
    TPngReadObject(const TPngReadObject&) = delete;
    TPngReadObject& operator=(const TPngReadObject&) = delete;

    png_structp Png = nullptr;
    png_infop Info = nullptr;
};

class TPngWriteObject {
public:
    TPngWriteObject(TPngErrors& errors) {
        Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, PngError, PngWarning);
        if (Png) Info = png_create_info_struct(Png);
        if (!Png || !Info) {
            png_destroy_write_struct(Png ? &Png : nullptr, nullptr);
            throw EInvalidGraphic("Not enough memory to encode the PNG image");
        }
    }
    ~TPngWriteObject() { png_destroy_write_struct(&Png, &Info); }
    TPngWriteObject(const TPngWriteObject&) = delete;
    TPngWriteObject& operator=(const TPngWriteObject&) = delete;

    png_structp Png = nullptr;
    png_infop Info = nullptr;
};

std::vector<png_bytep> RowsOf(QImage& image) {
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y) rows[static_cast<std::size_t>(y)] = image.scanLine(y);
    return rows;
}

}  // namespace

QImage DecodePng(TBytes data) {
    TPngErrors errors;
    TPngReadObject object(errors);
    png_structp png = object.Png;
    png_infop info = object.Info;
    TPngSource source{data};

    png_uint_32 width = 0, height = 0;
    bool alpha = false;
    const bool headerRead = PngTry(png, [&] {
        png_set_read_fn(png, &source, PngReadFromMemory);
        png_set_user_limits(png, PngMaxSide, PngMaxSide);
        png_read_info(png, info);
        width = png_get_image_width(png, info);
        height = png_get_image_height(png, info);
        const int colourType = png_get_color_type(png, info);
        alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;

        // Everything becomes 8-bit BGRA or BGRX (QImage's 32-bit layouts on a
        // little-endian machine), all by libpng's own transformations.
        png_set_expand(png);  // palette and low-bit grey to 8 bits, tRNS to alpha
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        png_set_bgr(png);
        if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
#else
        if (alpha) {
            png_set_swap_alpha(png);
        } else {
            png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
        }
#endif
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
    });
    if (!headerRead) throw EInvalidGraphic(errors.Text(true));
    CheckPictureSize(width, height, "PNG");

    QImage image = NewDecodedImage(static_cast<int>(width), static_cast<int>(height),
                                   alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32, "PNG");
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 4) {
        throw EInvalidGraphic("PNG image has an unsupported pixel layout");
    }
    std::vector<png_bytep> rows = RowsOf(image);
    const bool decoded = PngTry(png, [&] {
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
    });
    if (!decoded) throw EInvalidGraphic(errors.Text(false));
    return image;
}

TByteVector EncodePng(const QImage& source) {
    if (source.isNull()) throw EInvalidGraphic("An empty picture cannot be encoded as PNG");
    CheckPictureSize(source.width(), source.height(), "PNG");
    const bool alpha = source.hasAlphaChannel();
    QImage image = source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) throw EInvalidGraphic("Not enough memory to encode the PNG image");
    std::vector<png_bytep> rows = RowsOf(image);

    TPngErrors errors;
    TPngWriteObject object(errors);
    png_structp png = object.Png;
    png_infop info = object.Info;
    TPngSink sink;
    const bool ok = PngTry(png, [&] {
        png_set_write_fn(png, &sink, PngWriteToMemory, PngFlush);
        png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                     static_cast<png_uint_32>(image.height()), 8,
                     alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        png_set_bgr(png);
        if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);  // drops the fourth byte
#else
        if (alpha) {
            png_set_swap_alpha(png);
        } else {
            png_set_filler(png, 0, PNG_FILLER_BEFORE);
        }
#endif
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
    });
    if (!ok) throw EInvalidGraphic(errors.Text(false));
    return std::move(sink.Bytes);
}

}  // namespace pixhold::imaging
