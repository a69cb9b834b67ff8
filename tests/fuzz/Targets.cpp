// The decoders the fuzzer drives, one target per format. Every call a target
// makes may raise EInvalidGraphic or another std::exception: those are the
// expected answers to a bad input. Whatever a call gives back is checked for
// plain consistency (a decoder that reports success with an unusable result
// is a finding too) and then used a little, as the program would: drawn,
// turned, cropped.
#include "Targets.h"

#include "BmpCodec.h"
#include "GifCodec.h"
#include "GraphicError.h"
#include "IconCodec.h"
#include "JpegCodec.h"
#include "JpegHead.h"
#include "Metafile.h"
#include "PngCodec.h"
#include "bmpRot.h"

#include <QPainter>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cctype>
#include <cstring>

namespace pixhold::fuzz {

using namespace imaging;

namespace {

// Numbers in messages vary with every input; without them, messages name the
// place in the decoder that refused it.
std::string Normalised(const char* message) {
    std::string out;
    for (const char* p = message; *p && out.size() < 120; ++p) {
        if (std::isdigit(static_cast<unsigned char>(*p))) {
            if (out.empty() || out.back() != '#') out += '#';
        } else {
            out += *p;
        }
    }
    return out;
}

void Broken(const std::string& what) { throw TBrokenResult(what); }

template <class F>
void Call(TOutcome& outcome, const char* name, F&& call) {
    outcome.Signature += name;
    try {
        const std::string result = call();
        ++outcome.Accepted;
        outcome.Signature += " ok " + result;
    } catch (const EInvalidGraphic& e) {
        ++outcome.Rejected;
        outcome.Signature += " error " + Normalised(e.what());
    } catch (const TBrokenResult&) {
        throw;
    } catch (const std::exception& e) {
        ++outcome.OtherErrors;
        outcome.OtherMessages.push_back(std::string(name) + ": " + e.what());
        outcome.Signature += " other " + Normalised(e.what());
    }
    outcome.Signature += '\n';
}

// Pictures above this many pixels are checked but not drawn, turned or
// cropped: the fuzzer's time goes to the decoders.
constexpr std::int64_t UsePixels = 1 << 20;

std::string CheckImage(const QImage& image, const char* what) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) Broken(std::string(what) + " gave a null picture");
    if (static_cast<std::uint64_t>(image.width()) * static_cast<std::uint64_t>(image.height()) > MaxPicturePixels) {
        Broken(std::string(what) + " gave a picture beyond the size limit");
    }
    return "format " + std::to_string(static_cast<int>(image.format()));
}

void UseBitmap(const TBitmap& b) {
    // In 64 bits: TBitmap::RowSize is int arithmetic, which a width of 100
    // million at 32 bits overflows.
    const std::size_t need = static_cast<std::size_t>((static_cast<std::int64_t>(b.Width) * b.BitCount + 31) / 32 * 4) *
                             static_cast<std::size_t>(b.Height);
    if (b.Bits.size() != need) Broken("bitmap pixel array does not match its size");
    if (b.BitCount <= 8 && b.Palette.size() > 256) Broken("bitmap colour table longer than 256 entries");
    if (static_cast<std::int64_t>(b.Width) * b.Height > UsePixels) return;
    const QImage image = b.ToImage();
    if (image.size() != QSize(b.Width, b.Height)) Broken("bitmap drawn at another size");
    TBitmap turned = b;
    RotateBitmap(turned);
    const TBitmap block = CropBitmap(turned, QRect(-1, 1, turned.Width / 2 + 2, turned.Height / 2 + 1));
    (void)block;
}

std::string Bitmap(const TBitmap& b) {
    if (b.Empty()) Broken("decoder gave an empty bitmap");
    UseBitmap(b);
    return "bits " + std::to_string(b.BitCount) + (b.HasAlpha ? " alpha" : "");
}

std::uint32_t U32At(TBytes data, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data[at + static_cast<std::size_t>(i)];
    return v;
}

TOutcome RunBmp(TBytes data) {
    TOutcome o;
    Call(o, "ReadBmp", [&] { return Bitmap(ReadBmp(data)); });
    if (data.size() > 14) {
        const TBytes dib = data.subspan(14);
        Call(o, "ReadDib", [&] { return Bitmap(ReadDib(dib)); });
        // Header and pixels apart, as metafile records keep them, split where
        // the file header says the pixels start.
        const std::uint32_t offset = U32At(data, 10);
        if (offset > 14 && offset <= data.size()) {
            Call(o, "ReadDib2", [&] { return Bitmap(ReadDib(dib.first(offset - 14), dib.subspan(offset - 14))); });
        }
    }
    return o;
}

TOutcome RunIcon(TBytes data) {
    TOutcome o;
    Call(o, "ReadIconDirectory", [&] {
        const auto entries = ReadIconDirectory(data);
        return "entries " + std::to_string(std::min<std::size_t>(entries.size(), 4));
    });
    for (int size : {SystemIconSize, 16}) {
        Call(o, "ReadIcon", [&] { return CheckImage(ReadIcon(data, size), "ReadIcon"); });
    }
    return o;
}

std::string UseMetafile(const TMetafile& m) {
    if (m.Empty()) return "empty";
    if (m.Width() > 0 && m.Height() > 0 && static_cast<std::int64_t>(m.Width()) * m.Height() <= 512 * 512) {
        const QImage image = m.Render();
        if (image.isNull()) Broken("metafile rendered to a null picture");
    }
    // Drawn at a bounded size whatever the metafile claims.
    QImage canvas(std::clamp(m.Width(), 1, 256), std::clamp(m.Height(), 1, 256), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    m.Draw(painter, QRectF(0, 0, canvas.width(), canvas.height()));
    painter.end();
    return m.Enhanced() ? "enhanced" : "windows";
}

TOutcome RunMetafile(TBytes data) {
    TOutcome o;
    Call(o, "TMetafile", [&] { return UseMetafile(TMetafile::Read(data)); });
    return o;
}

// The viewer's glance at a camera file; it never raises.
std::string UseGlance(TBytes data) {
    const TJpegGlance glance = ReadJpegGlance(data);
    if (glance.Image.isNull()) return "none";
    CheckImage(glance.Image, "ReadJpegGlance");
    if (glance.Image.width() > JpegGlanceMaxSide || glance.Image.height() > JpegGlanceMaxSide ||
        glance.Image.width() >= glance.FullSize.width() || glance.Image.height() >= glance.FullSize.height()) {
        Broken("a glance not smaller than its picture");
    }
    return "glance";
}

TOutcome RunJpeg(TBytes data) {
    TOutcome o;
    Call(o, "ReadJpegInfo", [&] {
        const TJpegInfo info = ReadJpegInfo(data);
        if (info.Width <= 0 || info.Height <= 0) Broken("JPEG header read with no size");
        return "components " + std::to_string(info.Components) + " orientation " + std::to_string(info.Orientation) +
               (info.Progressive ? " progressive" : "");
    });
    Call(o, "DecodeJpeg", [&] { return CheckImage(DecodeJpeg(data), "DecodeJpeg"); });
    Call(o, "DecodeJpeg/8", [&] {
        TJpegDecodeOptions options;
        options.ScaleNum = 1;
        options.ApplyOrientation = false;
        return CheckImage(DecodeJpeg(data, options), "DecodeJpeg scaled");
    });
    Call(o, "ReadJpegGlance", [&] { return UseGlance(data); });
    return o;
}

// The head of a camera file alone: its markers, the Exif segment and its
// thumbnail (the full decode is the jpeg target's).
TOutcome RunExif(TBytes data) {
    TOutcome o;
    Call(o, "ReadJpegHead", [&]() -> std::string {
        TJpegHead head;
        if (!ReadJpegHead(data, head)) return "none";
        if (head.Width <= 0 || head.Height <= 0) Broken("a head without a size");
        if (head.Orientation < 1 || head.Orientation > 8) Broken("an orientation outside 1 to 8");
        const auto* begin = data.data();
        if (!head.ExifThumbnail.empty() &&
            (head.ExifThumbnail.data() < begin || head.ExifThumbnail.data() + head.ExifThumbnail.size() > begin + data.size())) {
            Broken("a thumbnail outside the bytes");
        }
        std::string result = "orientation " + std::to_string(head.Orientation);
        if (!head.ExifThumbnail.empty()) {
            // Outcomes by the thumbnail's size (in powers of two), so that
            // inputs reaching new thumbnails stay in the pool.
            int bits = 0;
            for (std::size_t n = head.ExifThumbnail.size(); n > 1; n >>= 1) ++bits;
            result += " thumbnail 2^" + std::to_string(bits);
        }
        return result;
    });
    Call(o, "thumbnail header", [&]() -> std::string {
        TJpegHead head;
        if (!ReadJpegHead(data, head) || head.ExifThumbnail.empty()) return "none";
        const TJpegInfo info = ReadJpegInfo(head.ExifThumbnail);
        return std::string(info.Width < head.Width && info.Height < head.Height ? "smaller" : "not smaller") +
               (info.Progressive ? " progressive" : "") + " components " + std::to_string(info.Components);
    });
    Call(o, "ReadJpegGlance", [&] { return UseGlance(data); });
    return o;
}

TOutcome RunPng(TBytes data) {
    TOutcome o;
    Call(o, "DecodePng", [&] { return CheckImage(DecodePng(data), "DecodePng"); });
    return o;
}

TOutcome RunGif(TBytes data) {
    TOutcome o;
    Call(o, "DecodeGif", [&] {
        const TGifAnimation gif = DecodeGif(data);
        if (gif.Frames.empty()) Broken("GIF decoded without frames");
        for (const TGifFrame& frame : gif.Frames) {
            CheckImage(frame.Image, "DecodeGif");
            if (frame.Image.size() != QSize(gif.Width, gif.Height)) Broken("GIF frame not of the screen's size");
        }
        return "frames " + std::to_string(std::min<std::size_t>(gif.Frames.size(), 4)) +
               (gif.LoopCount >= 0 ? " loops" : "");
    });
    return o;
}

// Every complete chunk gets the checksum of its type and data, so that
// mutations reach libpng's chunk handling instead of its CRC check.
void MendPngChunks(std::vector<std::uint8_t>& data) {
    std::size_t at = 8;
    while (at + 12 <= data.size()) {
        const std::uint32_t length = (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) |
                                     (std::uint32_t{data[at + 2]} << 8) | data[at + 3];
        if (length > data.size() - at - 12) break;
        const std::uint32_t crc = static_cast<std::uint32_t>(
            crc32(crc32(0, nullptr, 0), data.data() + at + 4, static_cast<uInt>(length + 4)));
        std::uint8_t* out = data.data() + at + 8 + length;
        out[0] = static_cast<std::uint8_t>(crc >> 24);
        out[1] = static_cast<std::uint8_t>(crc >> 16);
        out[2] = static_cast<std::uint8_t>(crc >> 8);
        out[3] = static_cast<std::uint8_t>(crc);
        at += 12 + length;
    }
}

// The harness's own check: inputs that start with a keyword misbehave on
// purpose, so the tests can see each kind of finding caught and saved.
int* volatile g_leakSink = nullptr;

TOutcome RunSelfTest(TBytes data) {
    TOutcome o;
    const std::string text(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(data.size(), 5)));
    if (text.rfind("CRASH", 0) == 0) {
        volatile std::uint8_t* volatile nowhere = nullptr;
        nowhere[0] = 1;
    }
    if (text.rfind("SLOW", 0) == 0) std::this_thread::sleep_for(std::chrono::seconds(3));
    if (text.rfind("LEAK", 0) == 0) {
        g_leakSink = new int[16];
        g_leakSink = nullptr;
    }
    if (text.rfind("WRONG", 0) == 0) Broken("the self-test's wrong result");
    if (text.rfind("THROW", 0) == 0) throw 42;
    Call(o, "SelfTest", [&]() -> std::string { throw EInvalidGraphic("not a self-test input"); });
    return o;
}

}  // namespace

const std::vector<TTarget>& Targets() {
    static const std::vector<TTarget> targets = {
        {"bmp", {".bmp", ".dib"}, RunBmp},
        {"ico", {".ico"}, RunIcon},
        {"wmf", {".wmf"}, RunMetafile},
        {"emf", {".emf"}, RunMetafile},
        {"jpeg", {".jpg", ".jpeg", ".jpe", ".jfif"}, RunJpeg},
        {"exif", {".jpg", ".jpeg", ".jpe", ".jfif"}, RunExif},
        {"png", {".png"}, RunPng, MendPngChunks},
        {"gif", {".gif"}, RunGif},
        {"selftest", {}, RunSelfTest},
    };
    return targets;
}

const TTarget* FindTarget(const std::string& name) {
    for (const TTarget& t : Targets()) {
        if (name == t.Name) return &t;
    }
    return nullptr;
}

}  // namespace pixhold::fuzz
