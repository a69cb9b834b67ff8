#include "JpegCodec.h"

#include "Exif.h"
#include "GraphicError.h"
#include "LargeImage.h"
#include "JpegErrorManager.h"

#include <QPainter>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace pixhold::imaging {

namespace {

constexpr unsigned ExifMarker = JPEG_APP0 + 1;

// QImage's 32-bit formats keep each pixel as one native-endian word
// 0xAARRGGBB; the matching libjpeg byte order, with the fourth byte 0xFF.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE NativeArgb = JCS_EXT_BGRA;
constexpr J_COLOR_SPACE NativeXrgb = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE NativeArgb = JCS_EXT_ARGB;
constexpr J_COLOR_SPACE NativeXrgb = JCS_EXT_XRGB;
#endif

[[noreturn]] void Raise(const TJpegErrorManager& err) { throw EInvalidGraphic(err.Message); }

// The progress monitor stops progressive pictures with absurdly many scans,
// and any decoding its caller cancels.
struct TJpegProgress {
    jpeg_progress_mgr Base;  // first member
    TJpegErrorManager* Err = nullptr;
    const std::atomic<bool>* Cancel = nullptr;
};

extern "C" void JpegProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    const auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* progress = reinterpret_cast<TJpegProgress*>(cinfo->progress);
    if (progress->Cancel != nullptr && progress->Cancel->load(std::memory_order_relaxed)) {
        progress->Err->Fail(JpegCancelledMessage);
    }
    if (dinfo->progressive_mode && dinfo->input_scan_number > JpegMaxScans) {
        progress->Err->Fail("JPEG image has too many progressive scans");
    }
}

// One decompressor: created with our error manager, destroyed on every path.
class TJpegReader {
public:
    explicit TJpegReader(TBytes data) {
        Info.err = Err.Attach();
        Progress.Base.progress_monitor = JpegProgress;
        Progress.Err = &Err;
        const bool ok = JpegTry(Err, [&] {
            jpeg_create_decompress(&Info);
            Info.progress = &Progress.Base;
            jpeg_mem_src(&Info, data.data(), static_cast<unsigned long>(data.size()));
            jpeg_save_markers(&Info, ExifMarker, 0xFFFF);
            jpeg_read_header(&Info, TRUE);
        });
        if (!ok) Raise(Err);
        CheckPictureSize(Info.image_width, Info.image_height, "JPEG");
    }

    TJpegInfo Header() const {
        TJpegInfo info;
        info.Width = static_cast<int>(Info.image_width);
        info.Height = static_cast<int>(Info.image_height);
        info.Components = Info.num_components;
        info.Progressive = Info.progressive_mode != 0;
        info.Orientation = Orientation();
        return info;
    }

    // From the first Exif segment (valid until the decoding ends).
    int Orientation() const {
        for (jpeg_saved_marker_ptr m = Info.marker_list; m; m = m->next) {
            const TBytes segment(m->data, m->data_length);
            if (m->marker == ExifMarker && IsExifSegment(segment)) return ExifOrientationOf(segment);
        }
        return 1;
    }

    QImage Decode(int scaleNum, const std::atomic<bool>* cancel = nullptr) {
        Progress.Cancel = cancel;
        const bool cmyk = Info.jpeg_color_space == JCS_CMYK || Info.jpeg_color_space == JCS_YCCK;
        const bool ok = JpegTry(Err, [&] {
            Info.scale_num = static_cast<unsigned>(scaleNum);
            Info.scale_denom = 8;
            // Four bytes a pixel either way: CMYK is converted in place below.
            Info.out_color_space = cmyk ? JCS_CMYK : NativeArgb;
            jpeg_calc_output_dimensions(&Info);
        });
        if (!ok) Raise(Err);
        CheckPictureSize(Info.output_width, Info.output_height, "JPEG");

        QImage image = NewDecodedImage(static_cast<int>(Info.output_width),
                                       static_cast<int>(Info.output_height), QImage::Format_RGB32, "JPEG");
        std::vector<JSAMPROW> rows(static_cast<std::size_t>(image.height()));
        for (int y = 0; y < image.height(); ++y) rows[static_cast<std::size_t>(y)] = image.scanLine(y);

        const bool decoded = JpegTry(Err, [&] {
            jpeg_start_decompress(&Info);
            while (Info.output_scanline < Info.output_height) {
                jpeg_read_scanlines(&Info, rows.data() + Info.output_scanline,
                                    Info.output_height - Info.output_scanline);
            }
            jpeg_finish_decompress(&Info);
        });
        if (!decoded) Raise(Err);
        if (cmyk) CmykToRgb(image, Info.saw_Adobe_marker != 0);
        return image;
    }

private:
    // Plain CMYK has 0 for no ink; Adobe's writers store every value inverted
    // (255 for no ink), which libjpeg passes on as it is.
    static void CmykToRgb(QImage& image, bool inverted) {
        for (int y = 0; y < image.height(); ++y) {
            auto* p = image.scanLine(y);
            auto* out = reinterpret_cast<QRgb*>(p);
            for (int x = 0; x < image.width(); ++x, p += 4) {
                unsigned c = p[0], m = p[1], ye = p[2], k = p[3];
                if (!inverted) c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
                out[x] = qRgb(static_cast<int>((c * k + 127) / 255), static_cast<int>((m * k + 127) / 255),
                              static_cast<int>((ye * k + 127) / 255));
            }
        }
    }

    // Destroys the decompressor also when the reader's constructor throws (a
    // zeroed or half-created object has no memory manager yet and is skipped).
    struct TDecompress {
        jpeg_decompress_struct Info{};
        TDecompress() = default;
        TDecompress(const TDecompress&) = delete;
        TDecompress& operator=(const TDecompress&) = delete;
        ~TDecompress() { jpeg_destroy_decompress(&Info); }
    };

    TJpegErrorManager Err;
    TJpegProgress Progress;
    TDecompress Object;
    jpeg_decompress_struct& Info = Object.Info;
};

// One compressor writing into libjpeg's own growing memory buffer.
class TJpegWriter {
public:
    TJpegWriter() { Info.err = Err.Attach(); }
    ~TJpegWriter() {
        jpeg_destroy_compress(&Info);  // safe on a zeroed object
        std::free(Buffer);             // jpeg_mem_dest's buffer is ours to free
    }
    TJpegWriter(const TJpegWriter&) = delete;
    TJpegWriter& operator=(const TJpegWriter&) = delete;

    TByteVector Encode(const QImage& rgb32, int quality) {
        std::vector<JSAMPROW> rows(static_cast<std::size_t>(rgb32.height()));
        for (int y = 0; y < rgb32.height(); ++y) {
            // libjpeg only reads the rows; its interface is not const.
            rows[static_cast<std::size_t>(y)] = const_cast<JSAMPROW>(rgb32.constScanLine(y));
        }
        const bool ok = JpegTry(Err, [&] {
            jpeg_create_compress(&Info);
            jpeg_mem_dest(&Info, &Buffer, &Size);
            Info.image_width = static_cast<JDIMENSION>(rgb32.width());
            Info.image_height = static_cast<JDIMENSION>(rgb32.height());
            Info.input_components = 4;
            Info.in_color_space = NativeXrgb;
            jpeg_set_defaults(&Info);
            jpeg_set_quality(&Info, quality, TRUE);
            jpeg_start_compress(&Info, TRUE);
            while (Info.next_scanline < Info.image_height) {
                jpeg_write_scanlines(&Info, rows.data() + Info.next_scanline,
                                     Info.image_height - Info.next_scanline);
            }
            jpeg_finish_compress(&Info);
        });
        if (!ok) Raise(Err);
        return TByteVector(Buffer, Buffer + Size);
    }

private:
    TJpegErrorManager Err;
    jpeg_compress_struct Info{};
    unsigned char* Buffer = nullptr;
    unsigned long Size = 0;
};

// JPEG keeps no alpha: a translucent picture is put on white first, as it
// would look on a white page.
QImage OpaqueRgb32(const QImage& image) {
    if (!image.hasAlphaChannel()) return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    if (flat.isNull()) throw EInvalidGraphic("Not enough memory to encode the JPEG image");
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}

}  // namespace

TJpegInfo ReadJpegInfo(TBytes data) { return TJpegReader(data).Header(); }

QImage DecodeJpeg(TBytes data, const TJpegDecodeOptions& options) {
    if (options.ScaleNum < 1 || options.ScaleNum > 8) {
        throw EInvalidGraphic("JPEG scale " + std::to_string(options.ScaleNum) + "/8 is not supported");
    }
    QImage image;
    int orientation = 1;
    {
        // The decompressor's memory is given back before the picture is turned.
        TJpegReader reader(data);
        if (options.ApplyOrientation) orientation = reader.Orientation();
        image = reader.Decode(options.ScaleNum, options.Cancel);
    }
    return ApplyOrientation(std::move(image), orientation);
}

int JpegScaleToCover(int storedWidth, int storedHeight, int width, int height) {
    if (storedWidth <= 0 || storedHeight <= 0) return 8;
    const auto covers = [](std::int64_t stored, int m, int target) {
        return (stored * m + 7) / 8 >= target;  // libjpeg rounds scaled sizes up
    };
    for (int m = 1; m < 8; ++m) {
        if (covers(storedWidth, m, width) && covers(storedHeight, m, height)) return m;
    }
    return 8;
}

TByteVector EncodeJpeg(const QImage& image, int quality) {
    if (image.isNull()) throw EInvalidGraphic("An empty picture cannot be encoded as JPEG");
    CheckPictureSize(image.width(), image.height(), "JPEG");
    const QImage rgb32 = OpaqueRgb32(image);
    return TJpegWriter().Encode(rgb32, quality);
}

}  // namespace pixhold::imaging
