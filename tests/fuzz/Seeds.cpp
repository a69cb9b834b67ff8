// Small inputs made in code, so that every target starts from well-formed
// files of its format even where the fixture folder has few: hand-built
// files for the formats whose layout is simple enough to write here (BMP, ICO,
// GIF, WMF, EMF), Qt's own writers for PNG and JPEG, and the program's
// writers wherever they are present (a writer that is not there yet throws
// and is skipped).
#include "Seeds.h"

#include "BmpCodec.h"
#include "GifCodec.h"
#include "IconCodec.h"
#include "ExifFixture.h"
#include "JpegCodec.h"
#include "Metafile.h"
#include "PngCodec.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <functional>
#include <string>

namespace pixhold::fuzz {

namespace {

using imaging::TBitmap;

// Little-endian byte writer.
class TWriter {
public:
    TWriter& U8(unsigned v) { data_.push_back(static_cast<std::uint8_t>(v)); return *this; }
    TWriter& U16(unsigned v) { return U8(v & 0xFF).U8((v >> 8) & 0xFF); }
    TWriter& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    TWriter& I16(int v) { return U16(static_cast<unsigned>(v) & 0xFFFF); }
    TWriter& I32(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
    TWriter& Bytes(const TInput& b) { data_.insert(data_.end(), b.begin(), b.end()); return *this; }
    TWriter& Text(const std::string& s) { data_.insert(data_.end(), s.begin(), s.end()); return *this; }
    void SetU32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) data_[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void SetU16(std::size_t at, unsigned v) {
        data_[at] = static_cast<std::uint8_t>(v);
        data_[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    std::size_t Size() const { return data_.size(); }
    const TInput& Data() const { return data_; }

private:
    TInput data_;
};

// A test picture: gradients and a few flat areas.
QImage Picture(int w, int h, bool alpha) {
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int a = alpha ? (x * 255) / std::max(1, w - 1) : 255;
            image.setPixel(x, y, qRgba((x * 37) & 0xFF, (y * 53) & 0xFF, ((x + y) * 11) & 0xFF, a));
        }
    }
    return image;
}

// ----- BMP -----

// A 40-byte information header (or another size, the rest zero-filled).
void InfoHeader(TWriter& w, int headerSize, int width, int height, int bits, int compression,
                std::uint32_t imageSize, int colours) {
    w.U32(static_cast<std::uint32_t>(headerSize)).I32(width).I32(height).U16(1).U16(static_cast<unsigned>(bits));
    w.U32(static_cast<std::uint32_t>(compression)).U32(imageSize).I32(2835).I32(2835);
    w.U32(static_cast<std::uint32_t>(colours)).U32(0);
    for (int i = 40; i < headerSize; ++i) w.U8(0);
}

TInput FileHeader(const TInput& dib, std::uint32_t bitsOffsetInDib) {
    TWriter w;
    w.U8('B').U8('M').U32(static_cast<std::uint32_t>(14 + dib.size())).U16(0).U16(0).U32(14 + bitsOffsetInDib);
    w.Bytes(dib);
    return w.Data();
}

// An uncompressed DIB of the picture's pattern at `bits` per pixel.
TInput PlainBmp(int width, int height, int bits, bool topDown) {
    TWriter w;
    const int colours = bits <= 8 ? 1 << bits : 0;
    const std::size_t stride = static_cast<std::size_t>(((width * bits + 31) / 32) * 4);
    InfoHeader(w, 40, width, topDown ? -height : height, bits, 0, static_cast<std::uint32_t>(stride * height), colours);
    for (int i = 0; i < colours; ++i) w.U8(i * 40).U8(255 - i * 3).U8(i * 17).U8(0);
    const std::uint32_t offset = static_cast<std::uint32_t>(w.Size());
    for (int y = 0; y < height; ++y) {
        TInput row(stride, 0);
        for (int x = 0; x < width; ++x) {
            const unsigned v = static_cast<unsigned>(x * 7 + y * 13);
            switch (bits) {
            case 1: if (v & 1) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8)); break;
            case 4: row[x / 2] |= static_cast<std::uint8_t>((v & 15) << (x % 2 ? 0 : 4)); break;
            case 8: row[x] = static_cast<std::uint8_t>(v); break;
            case 16: row[2 * x] = static_cast<std::uint8_t>(v); row[2 * x + 1] = static_cast<std::uint8_t>(v >> 3); break;
            default:
                for (int c = 0; c < bits / 8; ++c) row[x * (bits / 8) + c] = static_cast<std::uint8_t>(v * (c + 1));
            }
        }
        w.Bytes(row);
    }
    return FileHeader(w.Data(), offset);
}

// Bit fields: 16 bits 5-6-5, or 32 bits in a V5 header with an alpha mask.
TInput BitfieldsBmp(int bits) {
    TWriter w;
    const int width = 5, height = 3;
    const std::size_t stride = static_cast<std::size_t>(((width * bits + 31) / 32) * 4);
    const int headerSize = bits == 16 ? 40 : 124;
    InfoHeader(w, headerSize, width, height, bits, 3, static_cast<std::uint32_t>(stride * height), 0);
    TInput dib = w.Data();
    TWriter masks;
    if (bits == 16) {
        masks.U32(0xF800).U32(0x07E0).U32(0x001F);
    } else {
        // V5: the masks live inside the header at byte 40.
        const std::uint32_t m[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        for (int i = 0; i < 4; ++i) {
            for (int b = 0; b < 4; ++b) dib[40 + 4 * i + b] = static_cast<std::uint8_t>(m[i] >> (8 * b));
        }
        dib[56] = 's'; dib[57] = 'R'; dib[58] = 'G'; dib[59] = 'B';  // colour space 'sRGB'
    }
    TWriter all;
    all.Bytes(dib).Bytes(masks.Data());
    const std::uint32_t offset = static_cast<std::uint32_t>(all.Size());
    for (int y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < stride; ++i) all.U8(static_cast<unsigned>(y * 31 + i * 5));
    }
    return FileHeader(all.Data(), offset);
}

// RLE8 / RLE4: encoded runs, an absolute run, a delta, line ends and the end.
TInput RleBmp(int bits) {
    TWriter rle;
    if (bits == 8) {
        rle.U8(4).U8(1).U8(0).U8(3).U8(2).U8(3).U8(4).U8(0).U8(0).U8(0);  // run, absolute (3 + pad), line end
        rle.U8(0).U8(2).U8(2).U8(0).U8(3).U8(5).U8(0).U8(0);              // delta, run, line end
        rle.U8(8).U8(6).U8(0).U8(1);                                     // run, end of bitmap
    } else {
        rle.U8(5).U8(0x12).U8(0).U8(4).U8(0x34).U8(0x56).U8(0).U8(0);     // run, absolute of 4, line end
        rle.U8(0).U8(2).U8(1).U8(1).U8(3).U8(0x77).U8(0).U8(0);
        rle.U8(8).U8(0x9A).U8(0).U8(1);
    }
    TWriter w;
    const int colours = 1 << bits;
    InfoHeader(w, 40, 8, 4, bits, bits == 8 ? 1 : 2, static_cast<std::uint32_t>(rle.Size()), colours);
    for (int i = 0; i < colours; ++i) w.U8(i).U8(i * 2).U8(255 - i).U8(0);
    const std::uint32_t offset = static_cast<std::uint32_t>(w.Size());
    w.Bytes(rle.Data());
    return FileHeader(w.Data(), offset);
}

// The OS/2 core header: 12 bytes, three-byte colour-table entries.
TInput CoreBmp() {
    TWriter w;
    w.U32(12).U16(3).U16(2).U16(1).U16(8);
    for (int i = 0; i < 256; ++i) w.U8(i).U8(255 - i).U8(i / 2);
    const std::uint32_t offset = static_cast<std::uint32_t>(w.Size());
    w.U8(1).U8(2).U8(3).U8(0).U8(4).U8(5).U8(6).U8(0);
    return FileHeader(w.Data(), offset);
}

void AddWritten(std::vector<TInput>& seeds, const std::function<TInput()>& write) {
    try {
        TInput data = write();
        if (!data.empty()) seeds.push_back(std::move(data));
    } catch (const std::exception&) {
        // That writer is not there (yet): the hand-made seeds have to do.
    }
}

std::vector<TInput> BmpSeeds() {
    std::vector<TInput> seeds;
    for (int bits : {1, 4, 8, 16, 24, 32}) seeds.push_back(PlainBmp(bits == 1 ? 13 : 7, 5, bits, false));
    seeds.push_back(PlainBmp(6, 4, 24, true));
    seeds.push_back(PlainBmp(3, 3, 8, true));
    seeds.push_back(BitfieldsBmp(16));
    seeds.push_back(BitfieldsBmp(32));
    seeds.push_back(RleBmp(8));
    seeds.push_back(RleBmp(4));
    seeds.push_back(CoreBmp());
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        AddWritten(seeds, [bits] {
            TBitmap b(9, 4, bits);
            for (std::size_t i = 0; i < b.Bits.size(); ++i) b.Bits[i] = static_cast<std::uint8_t>(i * 29);
            if (bits == 16) { b.RedMask = 0xF800; b.GreenMask = 0x07E0; b.BlueMask = 0x001F; }
            if (bits == 32) b.HasAlpha = true;
            return imaging::WriteBmp(b);
        });
    }
    return seeds;
}

// ----- ICO -----

// A DIB entry: header with doubled height, colour table, XOR pixels, AND mask.
TInput IconDib(int size, int bits) {
    TWriter w;
    const int colours = bits <= 8 ? 1 << bits : 0;
    const std::size_t stride = static_cast<std::size_t>(((size * bits + 31) / 32) * 4);
    const std::size_t maskStride = static_cast<std::size_t>(((size + 31) / 32) * 4);
    InfoHeader(w, 40, size, size * 2, bits, 0, static_cast<std::uint32_t>((stride + maskStride) * size), 0);
    for (int i = 0; i < colours; ++i) w.U8(i * 9).U8(i * 5).U8(255 - i).U8(0);
    for (int y = 0; y < size; ++y) {
        for (std::size_t i = 0; i < stride; ++i) w.U8(static_cast<unsigned>((y * 3 + i) * 7) | (bits == 32 && i % 4 == 3 ? 0x80 : 0));
    }
    for (int y = 0; y < size; ++y) {
        for (std::size_t i = 0; i < maskStride; ++i) w.U8(y < size / 2 ? 0xF0 : 0x00);
    }
    return w.Data();
}

TInput QtEncoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) return {};
    return TInput(bytes.begin(), bytes.end());
}

TInput IconFile(const std::vector<std::pair<int, TInput>>& entries) {  // (size, entry bytes)
    TWriter w;
    w.U16(0).U16(1).U16(static_cast<unsigned>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const auto& [size, bytes] : entries) {
        w.U8(size >= 256 ? 0 : size).U8(size >= 256 ? 0 : size).U8(0).U8(0).U16(1).U16(32);
        w.U32(static_cast<std::uint32_t>(bytes.size())).U32(offset);
        offset += static_cast<std::uint32_t>(bytes.size());
    }
    for (const auto& entry : entries) w.Bytes(entry.second);
    return w.Data();
}

std::vector<TInput> IconSeeds() {
    std::vector<TInput> seeds;
    seeds.push_back(IconFile({{16, IconDib(16, 4)}, {32, IconDib(32, 8)}}));
    seeds.push_back(IconFile({{16, IconDib(16, 1)}, {24, IconDib(24, 24)}, {48, IconDib(48, 32)}}));
    const TInput png = QtEncoded(Picture(20, 20, true), "png");
    if (!png.empty()) seeds.push_back(IconFile({{20, png}, {16, IconDib(16, 32)}}));
    AddWritten(seeds, [] { return QtEncoded(Picture(16, 16, true), "ico"); });
    AddWritten(seeds, [] { return imaging::WriteIcon(Picture(40, 40, false)); });
    return seeds;
}

// ----- GIF -----

// LZW data that a decoder reads as plain literal codes: a clear code before
// every run of literals, short enough that the code width never grows.
TInput LzwLiterals(const std::vector<unsigned>& indices, int minCodeSize) {
    const unsigned clear = 1u << minCodeSize;
    const unsigned end = clear + 1;
    const int width = minCodeSize + 1;
    const std::size_t perClear = (1u << width) - clear - 3;  // entries added before the width would grow
    TInput bytes;
    std::uint32_t acc = 0;
    int bitsIn = 0;
    const auto emit = [&](unsigned code) {
        acc |= code << bitsIn;
        bitsIn += width;
        while (bitsIn >= 8) {
            bytes.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            bitsIn -= 8;
        }
    };
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i % perClear == 0) emit(clear);
        emit(indices[i]);
    }
    emit(end);
    if (bitsIn) bytes.push_back(static_cast<std::uint8_t>(acc));
    TInput blocks{static_cast<std::uint8_t>(minCodeSize)};
    for (std::size_t i = 0; i < bytes.size(); i += 255) {
        const std::size_t n = std::min<std::size_t>(255, bytes.size() - i);
        blocks.push_back(static_cast<std::uint8_t>(n));
        blocks.insert(blocks.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                      bytes.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    blocks.push_back(0);
    return blocks;
}

void ColourTable(TWriter& w, int bitsMinusOne) {
    for (int i = 0; i < (2 << bitsMinusOne); ++i) w.U8(i * 30).U8(255 - i * 20).U8(i * 7);
}

void GifFrame(TWriter& w, int left, int top, int width, int height, int disposal, int transparent,
              int delay, bool localTable, bool interlaced, int minCodeSize) {
    w.U8(0x21).U8(0xF9).U8(4).U8((disposal << 2) | (transparent >= 0 ? 1 : 0)).U16(static_cast<unsigned>(delay));
    w.U8(transparent >= 0 ? transparent : 0).U8(0);
    w.U8(0x2C).U16(static_cast<unsigned>(left)).U16(static_cast<unsigned>(top));
    w.U16(static_cast<unsigned>(width)).U16(static_cast<unsigned>(height));
    w.U8((localTable ? 0x80 | (minCodeSize - 1) : 0) | (interlaced ? 0x40 : 0));
    if (localTable) ColourTable(w, minCodeSize - 1);
    std::vector<unsigned> indices(static_cast<std::size_t>(width * height));
    for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<unsigned>((i * 5 + i / 3) % (1u << minCodeSize));
    w.Bytes(LzwLiterals(indices, minCodeSize));
}

TInput GifFile(bool animated) {
    TWriter w;
    w.Text(animated ? "GIF89a" : "GIF87a").U16(10).U16(8);
    w.U8(0x80 | 0x70 | 2).U8(0).U8(0);  // global table of 8 entries
    ColourTable(w, 2);
    if (animated) {
        w.U8(0x21).U8(0xFF).U8(11).Text("NETSCAPE2.0").U8(3).U8(1).U16(3).U8(0);
        w.U8(0x21).U8(0xFE).U8(5).Text("seed!").U8(0);  // a comment
        GifFrame(w, 0, 0, 10, 8, 1, -1, 10, false, false, 3);
        GifFrame(w, 2, 1, 6, 5, 2, 3, 20, true, true, 2);
        GifFrame(w, 4, 4, 6, 4, 3, 0, 5, false, false, 3);
    } else {
        w.U8(0x2C).U16(0).U16(0).U16(10).U16(8).U8(0);
        std::vector<unsigned> indices(80);
        for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<unsigned>(i % 8);
        w.Bytes(LzwLiterals(indices, 3));
    }
    w.U8(0x3B);
    return w.Data();
}

std::vector<TInput> GifSeeds() {
    std::vector<TInput> seeds{GifFile(false), GifFile(true)};
    AddWritten(seeds, [] { return imaging::EncodeGif(Picture(12, 9, false)); });
    AddWritten(seeds, [] { return imaging::EncodeGif(Picture(12, 9, true)); });
    return seeds;
}

// ----- WMF -----

// One record: size in 16-bit words, function, 16-bit parameters.
void WmfRecord(TWriter& w, unsigned function, const std::vector<int>& params, const TInput& tail = {}) {
    w.U32(static_cast<std::uint32_t>(3 + params.size() + (tail.size() + 1) / 2)).U16(function);
    for (int p : params) w.I16(p);
    w.Bytes(tail);
    if (tail.size() % 2) w.U8(0);
}

// A small packed DIB (24 bits) for the bitmap records.
TInput SmallDib(int width, int height) {
    TWriter w;
    const std::size_t stride = static_cast<std::size_t>(((width * 24 + 31) / 32) * 4);
    InfoHeader(w, 40, width, height, 24, 0, static_cast<std::uint32_t>(stride * height), 0);
    for (int y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < stride; ++i) w.U8(static_cast<unsigned>(y * 40 + i * 9));
    }
    return w.Data();
}

TInput WmfFile(bool placeable) {
    TWriter body;
    WmfRecord(body, 0x020B, {0, 0});        // SETWINDOWORG y, x
    WmfRecord(body, 0x020C, {100, 160});    // SETWINDOWEXT y, x
    WmfRecord(body, 0x0102, {1});           // SETBKMODE transparent
    WmfRecord(body, 0x02FA, {0, 2, 0, 0x00FF, 0x0000});  // CREATEPENINDIRECT style, width (x, y), colour
    WmfRecord(body, 0x012D, {0});           // SELECTOBJECT 0
    WmfRecord(body, 0x02FC, {0, 0x8000, 0x0040, 0});     // CREATEBRUSHINDIRECT style, colour, hatch
    WmfRecord(body, 0x012D, {1});
    WmfRecord(body, 0x041B, {80, 120, 10, 10});          // RECTANGLE bottom, right, top, left
    WmfRecord(body, 0x0418, {90, 150, 40, 60});          // ELLIPSE
    WmfRecord(body, 0x0324, {3, 10, 90, 80, 20, 150, 95});  // POLYGON count, points
    WmfRecord(body, 0x0214, {5, 5});        // MOVETO y, x
    WmfRecord(body, 0x0213, {95, 155});     // LINETO y, x
    TInput font(50, 0);
    font[0] = 12;                            // height
    font[8] = 0x90; font[9] = 0x01;          // weight 400
    const char face[] = "Sans";
    std::copy(face, face + 4, font.begin() + 18);
    WmfRecord(body, 0x02FB, {}, font);       // CREATEFONTINDIRECT
    WmfRecord(body, 0x012D, {2});
    WmfRecord(body, 0x0209, {0x0000, 0x00});  // SETTEXTCOLOR
    WmfRecord(body, 0x0521, {5}, TInput{'H', 'e', 'l', 'l', 'o', 0, 50, 0, 20, 0});  // TEXTOUT len, text, y, x
    {
        TWriter p;  // STRETCHDIB: rop, usage, src h, w, y, x, dest h, w, y, x, DIB
        p.U32(0x00CC0020).U16(0).I16(3).I16(4).I16(0).I16(0).I16(30).I16(40).I16(60).I16(100);
        p.Bytes(SmallDib(4, 3));
        WmfRecord(body, 0x0F43, {}, p.Data());
    }
    WmfRecord(body, 0x01F0, {0});            // DELETEOBJECT
    WmfRecord(body, 0x0000, {});             // EOF

    TWriter w;
    if (placeable) {
        w.U32(0x9AC6CDD7).U16(0).I16(0).I16(0).I16(160).I16(100).U16(96).U32(0);
        unsigned sum = 0;
        for (std::size_t i = 0; i < 20; i += 2) sum ^= w.Data()[i] | (w.Data()[i + 1] << 8);
        w.U16(sum);
    }
    const std::uint32_t words = static_cast<std::uint32_t>(9 + body.Size() / 2);
    std::uint32_t largest = 0;
    for (std::size_t at = 0; at + 4 <= body.Size();) {
        const TInput& b = body.Data();
        const std::uint32_t size = b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
        largest = std::max(largest, size);
        at += 2 * static_cast<std::size_t>(size);
    }
    w.U16(1).U16(9).U16(0x0300).U32(words).U16(3).U32(largest).U16(0);
    w.Bytes(body.Data());
    return w.Data();
}

std::vector<TInput> WmfSeeds() {
    std::vector<TInput> seeds{WmfFile(true), WmfFile(false)};
    AddWritten(seeds, [] { return imaging::TMetafile::FromBitmap(Picture(8, 6, false)).SaveWmf(); });
    return seeds;
}

// ----- EMF -----

void EmfRecord(TWriter& w, std::uint32_t type, const std::vector<std::int32_t>& params, const TInput& tail = {}) {
    w.U32(type).U32(static_cast<std::uint32_t>(8 + 4 * params.size() + tail.size()));
    for (std::int32_t p : params) w.I32(p);
    w.Bytes(tail);
}

TInput EmfFile() {
    TWriter body;
    EmfRecord(body, 17, {1});                       // SETMAPMODE text
    EmfRecord(body, 9, {200, 150});                 // SETWINDOWEXTEX
    EmfRecord(body, 10, {0, 0});                    // SETWINDOWORGEX
    EmfRecord(body, 38, {1, 0, 3, 0, 0x000000FF});  // CREATEPEN ih, style, width x, y, colour
    EmfRecord(body, 37, {1});                       // SELECTOBJECT
    EmfRecord(body, 39, {2, 0, 0x0000FF00, 0});     // CREATEBRUSHINDIRECT ih, style, colour, hatch
    EmfRecord(body, 37, {2});
    EmfRecord(body, 43, {10, 10, 120, 90});         // RECTANGLE
    EmfRecord(body, 42, {50, 40, 180, 140});        // ELLIPSE
    {
        TWriter p;  // POLYGON16: bounds, count, points
        p.I32(0).I32(0).I32(190).I32(140).U32(3).I16(5).I16(140).I16(100).I16(5).I16(190).I16(140);
        EmfRecord(body, 86, {}, p.Data());
    }
    EmfRecord(body, 27, {0, 0});                    // MOVETOEX
    EmfRecord(body, 54, {199, 149});                // LINETO
    {
        const TInput dib = SmallDib(4, 3);
        const std::uint32_t bmiSize = 40;
        const std::uint32_t bitsSize = static_cast<std::uint32_t>(dib.size()) - bmiSize;
        TWriter p;  // STRETCHDIBITS
        p.I32(0).I32(0).I32(80).I32(60);                     // bounds
        p.I32(100).I32(80).I32(0).I32(0).I32(4).I32(3);      // dest x, y, src x, y, cx, cy
        p.U32(80).U32(bmiSize).U32(80 + bmiSize).U32(bitsSize);  // offsets from the record's start
        p.U32(0).U32(0x00CC0020).I32(80).I32(60);            // usage, rop, dest cx, cy
        p.Bytes(dib);
        EmfRecord(body, 81, {}, p.Data());
    }
    EmfRecord(body, 40, {1});                       // DELETEOBJECT
    EmfRecord(body, 14, {0, 16, 20});               // EOF

    TWriter w;
    w.U32(1).U32(88);
    w.I32(0).I32(0).I32(199).I32(149);              // bounds, device units
    w.I32(0).I32(0).I32(5291).I32(3969);            // frame, 0.01 mm
    w.U32(0x464D4520).U32(0x00010000);
    const std::size_t bytesAt = w.Size();
    w.U32(0).U32(18).U16(3).U16(0).U32(0).U32(0).U32(0);
    w.I32(1024).I32(768).I32(271).I32(203);         // device in pixels and millimetres
    w.Bytes(body.Data());
    w.SetU32(bytesAt, static_cast<std::uint32_t>(w.Size()));
    return w.Data();
}

std::vector<TInput> EmfSeeds() {
    std::vector<TInput> seeds{EmfFile()};
    AddWritten(seeds, [] { return imaging::TMetafile::FromBitmap(Picture(8, 6, false)).SaveEmf(); });
    return seeds;
}

// ----- JPEG and PNG -----

void AddCameraSeeds(std::vector<TInput>& seeds);

std::vector<TInput> JpegSeeds() {
    std::vector<TInput> seeds;
    AddWritten(seeds, [] { return QtEncoded(Picture(24, 17, false), "jpeg"); });
    AddWritten(seeds, [] { return QtEncoded(Picture(9, 8, false).convertToFormat(QImage::Format_Grayscale8), "jpeg"); });
    AddWritten(seeds, [] {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        writer.setOptimizedWrite(true);
        if (!writer.write(Picture(20, 12, false))) return TInput{};
        return TInput(bytes.begin(), bytes.end());
    });
    AddWritten(seeds, [] { return imaging::EncodeJpeg(Picture(19, 13, false), 75); });
    AddCameraSeeds(seeds);
    return seeds;
}

std::vector<TInput> ExifSeeds() {
    std::vector<TInput> seeds;
    AddCameraSeeds(seeds);
    return seeds;
}

// Camera files: an Exif segment with the orientation and a thumbnail.
void AddCameraSeeds(std::vector<TInput>& seeds) {
    AddWritten(seeds, [] {
        return test::WithApp1(imaging::EncodeJpeg(Picture(40, 30, false), 80),
                              test::ExifWithThumbnail(false, 6, imaging::EncodeJpeg(Picture(8, 6, false), 50)));
    });
    AddWritten(seeds, [] {
        return test::WithApp1(imaging::EncodeJpeg(Picture(32, 24, false), 80),
                              test::ExifWithThumbnail(true, 1, imaging::EncodeJpeg(Picture(16, 12, false), 50)));
    });
}

std::vector<TInput> PngSeeds() {
    std::vector<TInput> seeds;
    AddWritten(seeds, [] { return QtEncoded(Picture(13, 9, true), "png"); });
    AddWritten(seeds, [] { return QtEncoded(Picture(7, 5, false), "png"); });
    AddWritten(seeds, [] { return QtEncoded(Picture(9, 6, false).convertToFormat(QImage::Format_Grayscale8), "png"); });
    AddWritten(seeds, [] { return QtEncoded(Picture(9, 6, false).convertToFormat(QImage::Format_Indexed8), "png"); });
    AddWritten(seeds, [] { return QtEncoded(Picture(9, 6, false).convertToFormat(QImage::Format_Mono), "png"); });
    AddWritten(seeds, [] { return QtEncoded(Picture(5, 4, true).convertToFormat(QImage::Format_RGBA64), "png"); });
    AddWritten(seeds, [] { return imaging::EncodePng(Picture(11, 7, true)); });
    return seeds;
}

}  // namespace

std::vector<TInput> GeneratedSeeds(const std::string& target) {
    if (target == "bmp") return BmpSeeds();
    if (target == "ico") return IconSeeds();
    if (target == "gif") return GifSeeds();
    if (target == "wmf") return WmfSeeds();
    if (target == "emf") return EmfSeeds();
    if (target == "jpeg") return JpegSeeds();
    if (target == "exif") return ExifSeeds();
    if (target == "png") return PngSeeds();
    if (target == "selftest") return {TInput{'f', 'i', 'n', 'e'}};
    return {};
}

}  // namespace pixhold::fuzz
