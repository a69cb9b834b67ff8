#include "GraphicError.h"
#include "Metafile.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

using namespace pixhold::imaging;

namespace {

std::filesystem::path FixtureDir() {
    return std::filesystem::path(PIXHOLD_SOURCE_DIR) / "tests" / "imaging" / "fixtures" / "metafile";
}

TByteVector ReadFixture(const std::string& name) {
    std::ifstream in(FixtureDir() / name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return TByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Debugging aid: PIXHOLD_DUMP_DIR=/tmp keeps the rendered pictures.
void Dump(const QImage& image, const std::string& name) {
    if (const char* dir = std::getenv("PIXHOLD_DUMP_DIR")) image.save(QString::fromStdString(std::string(dir) + "/" + name));
}

// An opaque picture whose every pixel differs from its neighbours.
QImage Pattern(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb((x * 37 + y) & 0xFF, (y * 53 + x * 3) & 0xFF, (x * y) & 0xFF));
    }
    return image;
}

bool SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF)) return false;
        }
    }
    return true;
}

bool Near(QRgb a, QRgb b, int tolerance = 40) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

std::uint16_t U16(const TByteVector& b, std::size_t o) { return static_cast<std::uint16_t>(b[o] | (b[o + 1] << 8)); }
std::uint32_t U32(const TByteVector& b, std::size_t o) { return U16(b, o) | (static_cast<std::uint32_t>(U16(b, o + 2)) << 16); }
std::int32_t I32(const TByteVector& b, std::size_t o) { return static_cast<std::int32_t>(U32(b, o)); }

void Put16(TByteVector& b, int v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(TByteVector& b, std::int64_t v) {
    Put16(b, static_cast<int>(v & 0xFFFF));
    Put16(b, static_cast<int>((v >> 16) & 0xFFFF));
}

// Hand-made enhanced metafiles: a header of the given frame (pixels at 96 per
// inch on a 96-per-inch device), then records of 32-bit fields.
class TEmfBuilder {
public:
    explicit TEmfBuilder(int w = 100, int h = 100, std::uint16_t handles = 4) : w_(w), h_(h), handles_(handles) {}
    TEmfBuilder& Add(std::uint32_t type, std::initializer_list<std::int64_t> fields) {
        Put32(records_, type);
        Put32(records_, 8 + 4 * static_cast<std::int64_t>(fields.size()));
        for (std::int64_t f : fields) Put32(records_, f);
        ++count_;
        return *this;
    }
    TEmfBuilder& Raw(const TByteVector& record) {
        records_.insert(records_.end(), record.begin(), record.end());
        ++count_;
        return *this;
    }
    TByteVector Bytes(bool eof = true) const {
        TByteVector out;
        Put32(out, 1);
        Put32(out, 88);
        for (int v : {0, 0, w_ - 1, h_ - 1}) Put32(out, v);
        for (std::int64_t v : {0ll, 0ll, w_ * 2540ll / 96, h_ * 2540ll / 96}) Put32(out, v);
        Put32(out, 0x464D4520);
        Put32(out, 0x10000);
        const std::size_t total = 88 + records_.size() + (eof ? 20 : 0);
        Put32(out, static_cast<std::int64_t>(total));
        Put32(out, count_ + 1 + (eof ? 1 : 0));
        Put16(out, handles_);
        Put16(out, 0);
        for (int v : {0, 0, 0, 960, 960, 254, 254}) Put32(out, v);
        out.insert(out.end(), records_.begin(), records_.end());
        if (eof) {
            for (int v : {14, 20, 0, 16, 20}) Put32(out, v);
        }
        return out;
    }

private:
    int w_, h_;
    std::uint16_t handles_;
    TByteVector records_;
    int count_ = 0;
};

// Hand-made Windows metafiles: an optional placeable header, META_HEADER and
// records of 16-bit parameters (in file order).
class TWmfBuilder {
public:
    TWmfBuilder& Add(std::uint16_t function, std::initializer_list<int> params) {
        Put32(records_, 3 + static_cast<std::int64_t>(params.size()));
        Put16(records_, function);
        for (int p : params) Put16(records_, p);
        return *this;
    }
    TWmfBuilder& Raw(const TByteVector& record) {
        records_.insert(records_.end(), record.begin(), record.end());
        return *this;
    }
    TByteVector Bytes(bool placeable, int w = 100, int h = 100, int inch = 96, std::uint16_t objects = 4) const {
        TByteVector out;
        if (placeable) {
            Put32(out, 0x9AC6CDD7);
            for (int v : {0, 0, 0, w, h, inch, 0, 0}) Put16(out, v);
            std::uint16_t sum = 0;
            for (std::size_t i = 0; i < 20; i += 2) sum ^= U16(out, i);
            Put16(out, sum);
        }
        Put16(out, 1);
        Put16(out, 9);
        Put16(out, 0x300);
        Put32(out, static_cast<std::int64_t>(9 + records_.size() / 2 + 3));
        Put16(out, objects);
        Put32(out, 0);
        Put16(out, 0);
        out.insert(out.end(), records_.begin(), records_.end());
        Put32(out, 3);
        Put16(out, 0);
        return out;
    }

private:
    TByteVector records_;
};

QImage RenderBytes(const TByteVector& bytes) { return TMetafile::Read(bytes).Render(); }

constexpr QRgb White = 0xFFFFFFFF;

}  // namespace

// ---- Written metafiles read back --------------------------------------------

TEST(MetafileWriting, FromBitmapIsEnhancedAtTheBitmapsSize) {
    const TMetafile m = TMetafile::FromBitmap(Pattern(37, 23));
    EXPECT_TRUE(m.Enhanced());
    EXPECT_FALSE(m.Empty());
    EXPECT_EQ(m.Width(), 37);
    EXPECT_EQ(m.Height(), 23);
    EXPECT_TRUE(SamePixels(m.Render(), Pattern(37, 23)));
    EXPECT_TRUE(TMetafile::FromBitmap(QImage()).Empty());
}

TEST(MetafileWriting, EmfHeaderStatesSizesRecordsAndBytes) {
    const TByteVector emf = TMetafile::FromBitmap(Pattern(200, 100)).SaveEmf();
    ASSERT_GE(emf.size(), 88u);
    EXPECT_EQ(U32(emf, 0), 1u);
    EXPECT_EQ(U32(emf, 40), 0x464D4520u);
    EXPECT_EQ(U32(emf, 48), emf.size());  // nBytes
    EXPECT_EQ(U32(emf, 52), 3u);          // header, STRETCHDIBITS, EOF
    EXPECT_EQ(I32(emf, 16), 199);         // rclBounds, inclusive pixels
    EXPECT_EQ(I32(emf, 20), 99);
    EXPECT_EQ(I32(emf, 32), 5292);        // rclFrame: 200 px at 96 per inch in 0.01 mm
    EXPECT_EQ(I32(emf, 36), 2646);
    // The reference device is 96 pixels per inch.
    EXPECT_DOUBLE_EQ(I32(emf, 72) * 25.4 / I32(emf, 80), 96.0);
    EXPECT_DOUBLE_EQ(I32(emf, 76) * 25.4 / I32(emf, 84), 96.0);
    // Records chain to the EOF record at the end.
    std::size_t offset = 0;
    std::uint32_t type = 0;
    int records = 0;
    while (offset + 8 <= emf.size()) {
        type = U32(emf, offset);
        offset += U32(emf, offset + 4);
        ++records;
        if (type == 14) break;
    }
    EXPECT_EQ(type, 14u);
    EXPECT_EQ(offset, emf.size());
    EXPECT_EQ(records, 3);
    EXPECT_EQ(U32(emf, 88), 81u);  // EMR_STRETCHDIBITS
}

TEST(MetafileWriting, RoundTripsGiveTheBitmapsPixels) {
    for (const QSize size : {QSize(1, 1), QSize(37, 23), QSize(64, 3), QSize(5, 130)}) {
        const QImage image = Pattern(size.width(), size.height());
        const TMetafile made = TMetafile::FromBitmap(image);

        const TMetafile emf = TMetafile::Read(made.SaveEmf());
        EXPECT_TRUE(emf.Enhanced());
        EXPECT_EQ(QSize(emf.Width(), emf.Height()), size);
        EXPECT_TRUE(SamePixels(emf.Render(), image)) << size.width() << "x" << size.height();
        EXPECT_EQ(emf.SaveEmf(), made.SaveEmf());  // an EMF saves its own bytes

        const TMetafile wmf = TMetafile::Read(made.SaveWmf());
        EXPECT_FALSE(wmf.Enhanced());
        EXPECT_EQ(QSize(wmf.Width(), wmf.Height()), size);
        EXPECT_TRUE(SamePixels(wmf.Render(), image)) << size.width() << "x" << size.height();
        EXPECT_EQ(wmf.SaveWmf(), made.SaveWmf());  // a WMF keeps its records

        // A Windows metafile written as EMF becomes the EMF of its picture.
        const TMetafile again = TMetafile::Read(wmf.SaveEmf());
        EXPECT_TRUE(again.Enhanced());
        EXPECT_TRUE(SamePixels(again.Render(), image));
    }
}

TEST(MetafileWriting, PlaceableHeaderHasKeyBoxInchAndChecksum) {
    const TByteVector wmf = TMetafile::FromBitmap(Pattern(300, 120)).SaveWmf();
    ASSERT_GE(wmf.size(), 22u + 18u);
    EXPECT_EQ(U32(wmf, 0), 0x9AC6CDD7u);
    EXPECT_EQ(U16(wmf, 6), 0);    // left
    EXPECT_EQ(U16(wmf, 8), 0);    // top
    EXPECT_EQ(U16(wmf, 10), 300);  // right
    EXPECT_EQ(U16(wmf, 12), 120);  // bottom
    EXPECT_EQ(U16(wmf, 14), 96);   // units per inch
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2) sum ^= U16(wmf, i);
    EXPECT_EQ(U16(wmf, 20), sum);
    // META_HEADER: size in words is the file after the placeable header; EOF last.
    EXPECT_EQ(U32(wmf, 22 + 6) * 2, wmf.size() - 22);
    EXPECT_EQ(U32(wmf, wmf.size() - 6), 3u);
    EXPECT_EQ(U16(wmf, wmf.size() - 2), 0);
}

TEST(MetafileWriting, WindowsMetafileKeepsItsOwnUnitsPerInch) {
    TWmfBuilder b;
    b.Add(0x02FC, {0, 0x00FF, 0x0000, 0}).Add(0x012D, {0}).Add(0x041B, {1440, 1440, 0, 0});
    const TMetafile m = TMetafile::Read(b.Bytes(true, 1440, 720, 1440));
    EXPECT_EQ(QSize(m.Width(), m.Height()), QSize(96, 48));
    const TByteVector saved = m.SaveWmf();
    EXPECT_EQ(U16(saved, 14), 1440);
    EXPECT_EQ(U16(saved, 10), 1440);
    const QImage image = m.Render();
    EXPECT_EQ(image.pixel(48, 24), qRgb(255, 0, 0));
}

TEST(MetafileWriting, WideBitmapsAreRefusedForWindowsMetafiles) {
    const TMetafile m = TMetafile::FromBitmap(QImage(40000, 1, QImage::Format_RGB32));
    EXPECT_THROW(m.SaveWmf(), EInvalidGraphic);
    EXPECT_THROW(TMetafile().SaveEmf(), EInvalidGraphic);
}

TEST(MetafileWriting, DrawStretchesTheFrameIntoTheTarget) {
    QImage source(4, 2, QImage::Format_RGB32);
    source.fill(qRgb(0, 0, 255));
    for (int y = 0; y < 2; ++y) source.setPixel(0, y, qRgb(255, 0, 0));
    const TMetafile m = TMetafile::FromBitmap(source);
    QImage canvas(100, 100, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    m.Draw(painter, QRectF(10, 20, 40, 20));
    painter.end();
    EXPECT_EQ(canvas.pixel(15, 30), qRgb(255, 0, 0));  // the first column, ten times wider
    EXPECT_EQ(canvas.pixel(45, 30), qRgb(0, 0, 255));
    EXPECT_EQ(canvas.pixel(5, 30), White);
    EXPECT_EQ(canvas.pixel(55, 30), White);
    EXPECT_EQ(canvas.pixel(30, 45), White);
}

// ---- Drawings made by other programs --------------------------------------------

namespace {

struct TProbe {
    const char* What;
    int X, Y;
    QRgb Colour;
    bool EmfOnly = false;  // Inkscape's WMF export drops clipping
};

// tests/imaging/fixtures/metafile/drawing.svg, in its own 200 x 150 pixels.
const TProbe DrawingProbes[] = {
    {"red rectangle", 35, 25, qRgb(255, 0, 0)},
    {"rectangle border", 10, 25, qRgb(0, 0, 0)},
    {"blue ellipse", 110, 30, qRgb(0, 0, 255)},
    {"outside the ellipse", 82, 12, White},
    {"green triangle", 35, 75, qRgb(0, 192, 0)},
    {"beside the triangle", 15, 90, White},
    {"wide orange polyline", 82, 75, qRgb(255, 128, 0)},
    {"inside the polyline's bend", 95, 70, White},
    {"magenta pie", 170, 90, qRgb(255, 0, 255)},
    {"outside the pie's arc", 187, 73, White},
    {"cyan inside the clip", 160, 30, qRgb(0, 255, 255)},
    {"cyan clipped away", 180, 30, White, true},
    {"rotated square's centre", 100, 120, qRgb(128, 0, 128)},
    {"rotated square's top corner", 100, 108, qRgb(128, 0, 128)},
    {"outside the rotated square", 92, 112, White},
    {"bitmap's blue half", 134, 126, qRgb(0, 0, 255)},
    {"bitmap's yellow half", 154, 126, qRgb(255, 255, 0)},
};

int DarkPixels(const QImage& image, const QRect& area) {
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 100) ++dark;
        }
    }
    return dark;
}

}  // namespace

class MetafileFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(MetafileFixture, ShapesAreWhereTheDrawingHasThem) {
    const TMetafile m = TMetafile::Read(ReadFixture(GetParam()));
    EXPECT_NEAR(m.Width(), 200, 1);
    EXPECT_NEAR(m.Height(), 150, 1);
    const QImage image = m.Render();
    Dump(image, std::string(GetParam()) + ".png");
    for (const TProbe& probe : DrawingProbes) {
        if (probe.EmfOnly && !m.Enhanced()) continue;
        EXPECT_TRUE(Near(image.pixel(probe.X, probe.Y), probe.Colour))
            << GetParam() << ": " << probe.What << " at " << probe.X << "," << probe.Y << " is " << std::hex
            << image.pixel(probe.X, probe.Y);
    }
    // The two words of text, in black and in dark blue.
    EXPECT_GT(DarkPixels(image, QRect(10, 125, 35, 17)), 20) << GetParam();
    EXPECT_GT(DarkPixels(image, QRect(50, 125, 35, 17)), 20) << GetParam();
    EXPECT_EQ(DarkPixels(image, QRect(10, 105, 30, 15)), 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Inkscape, MetafileFixture,
                         ::testing::Values("inkscape-drawing.emf", "inkscape-drawing.wmf"));

// ---- Damaged input ------------------------------------------------------------------

namespace {

TByteVector Truncated(TByteVector bytes, std::size_t keep) {
    bytes.resize(keep);
    return bytes;
}

TByteVector WithU32(TByteVector bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return bytes;
}

struct TDamage {
    const char* Name;
    TByteVector Bytes;
};

std::vector<TDamage> DamagedFiles() {
    const TByteVector emf = TMetafile::FromBitmap(Pattern(8, 8)).SaveEmf();
    const TByteVector wmf = TMetafile::FromBitmap(Pattern(8, 8)).SaveWmf();
    const std::size_t wmfFirst = 22 + 18;  // the first record after both headers
    return {
        {"empty", {}},
        {"not a metafile", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0}},
        {"emf truncated in header", Truncated(emf, 60)},
        {"emf truncated in a record", Truncated(emf, emf.size() - 40)},
        {"emf header size beyond file", WithU32(emf, 4, 1u << 30)},
        {"emf record size zero", WithU32(emf, 88 + 4, 0)},
        {"emf record size beyond file", WithU32(emf, 88 + 4, 0x7FFFFFF0)},
        {"emf record size not a multiple of four", WithU32(emf, 88 + 4, 81)},
        {"emf empty frame and bounds", WithU32(WithU32(emf, 32, 0), 16, 0xFFFFFFFBu)},
        {"wmf truncated in placeable header", Truncated(wmf, 15)},
        {"wmf truncated in META_HEADER", Truncated(wmf, 30)},
        {"wmf truncated in a record", Truncated(wmf, wmf.size() - 100)},
        {"wmf record size zero", WithU32(wmf, wmfFirst, 0)},
        {"wmf record size two words", WithU32(wmf, wmfFirst, 2)},
        {"wmf record size beyond file", WithU32(wmf, wmfFirst, 0x7FFFFFFF)},
        {"plain wmf without a window extent", TWmfBuilder().Add(0x041B, {10, 10, 0, 0}).Bytes(false)},
        {"placeable wmf with an empty box", TWmfBuilder().Bytes(true, 0, 50)},
    };
}

}  // namespace

TEST(MetafileDamage, DamagedFilesAreRefusedWithAClearError) {
    for (const TDamage& damage : DamagedFiles()) {
        try {
            const TMetafile m = TMetafile::Read(damage.Bytes);
            (void)m.Render();
            ADD_FAILURE() << damage.Name << " was read";
        } catch (const EInvalidGraphic& e) {
            EXPECT_GT(std::string(e.what()).size(), 10u) << damage.Name;
        }
    }
}

TEST(MetafileDamage, HugeBoundsAreReadButRefusedWhenRendered) {
    const TMetafile emf = TMetafile::Read(TEmfBuilder(2000000, 2000000).Bytes());
    EXPECT_EQ(emf.Width(), 2000000);
    EXPECT_THROW(emf.Render(), EInvalidGraphic);
    const TMetafile wmf = TMetafile::Read(TWmfBuilder().Bytes(true, 32000, 32000, 1));
    EXPECT_EQ(wmf.Width(), 32000 * 96);
    EXPECT_THROW(wmf.Render(), EInvalidGraphic);
}

TEST(MetafileDamage, RecordsTooShortForTheirFieldsDrawNothing) {
    // A polygon claiming a million points in a record of three, a polypolygon
    // whose counts exceed its points, a text whose string lies beyond the record.
    TEmfBuilder emf;
    emf.Add(39, {1, 0, 0x0000FF, 0}).Add(37, {1})
        .Add(3, {0, 0, 10, 10, 1000000, 0, 0, 50, 0, 50, 50})
        .Add(8, {0, 0, 10, 10, 2, 3, 2, 5, 0, 0, 50, 0, 50, 50})
        .Add(84, {0, 0, 10, 10, 1, 0, 0, 10, 10, 5, 100000, 0, 0, 0, 0, 0, 0})
        .Add(43, {60, 60, 90, 90});  // a good rectangle after them still draws
    const QImage image = RenderBytes(emf.Bytes());
    EXPECT_EQ(image.pixel(25, 10), White);
    EXPECT_EQ(image.pixel(75, 75), qRgb(255, 0, 0));
}

TEST(MetafileDamage, ObjectIndexBeyondTheTableSelectsNothing) {
    TWmfBuilder wmf;
    wmf.Add(0x02FC, {0, 0xFF00, 0x0000, 0})  // green brush in slot 0
        .Add(0x012D, {0})
        .Add(0x012D, {7})                     // no object 7
        .Add(0x01F0, {9})                     // deleting it does nothing either
        .Add(0x041B, {90, 90, 10, 10});
    EXPECT_EQ(RenderBytes(wmf.Bytes(true, 100, 100, 96, 1)).pixel(50, 50), qRgb(0, 255, 0));

    TEmfBuilder emf;
    emf.Add(39, {1, 0, 0x00FF00, 0}).Add(37, {1}).Add(37, {70000}).Add(40, {70000}).Add(43, {10, 10, 90, 90});
    EXPECT_EQ(RenderBytes(emf.Bytes()).pixel(50, 50), qRgb(0, 255, 0));
}

// ---- Drawings exported by LibreOffice ---------------------------------------------

namespace {

int CountNear(const QImage& image, const QRect& area, QRgb colour, int tolerance = 40) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (Near(image.pixel(x, y), colour, tolerance)) ++n;
        }
    }
    return n;
}

}  // namespace

class MetafileShapesFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(MetafileShapesFixture, HatchPieAndTwoFonts) {
    const TMetafile m = TMetafile::Read(ReadFixture(GetParam()));
    EXPECT_NEAR(m.Width(), 302, 1);  // 8 x 6 cm
    EXPECT_NEAR(m.Height(), 227, 1);
    const QImage image = m.Render();
    Dump(image, std::string(GetParam()) + ".png");
    // The hatch: blue lines 0.1 cm apart with white between them.
    EXPECT_GT(CountNear(image, QRect(60, 25, 1, 65), qRgb(0, 0, 255)), 10) << GetParam();
    EXPECT_GT(CountNear(image, QRect(60, 25, 1, 65), White, 0), 10) << GetParam();
    // The quarter pie: only its upper right quarter of the circle.
    EXPECT_TRUE(Near(image.pixel(250, 50), qRgb(255, 0, 0))) << GetParam();
    EXPECT_EQ(image.pixel(200, 50), White) << GetParam();
    EXPECT_EQ(image.pixel(250, 100), White) << GetParam();
    // "Serif " in black, "Mono" in bold green after it.
    EXPECT_GT(DarkPixels(image, QRect(19, 130, 70, 40)), 30) << GetParam();
    EXPECT_GT(CountNear(image, QRect(90, 130, 80, 40), qRgb(0, 128, 0)), 30) << GetParam();
    EXPECT_EQ(CountNear(image, QRect(19, 130, 70, 40), qRgb(0, 128, 0)), 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(LibreOffice, MetafileShapesFixture, ::testing::Values("lo-shapes.emf", "lo-shapes.wmf"));

class MetafileTextFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(MetafileTextFixture, TextArcAndDashedBorder) {
    const TMetafile m = TMetafile::Read(ReadFixture(GetParam()));
    EXPECT_NEAR(m.Width(), 189, 1);
    EXPECT_NEAR(m.Height(), 89, 1);
    const QImage image = m.Render();
    Dump(image, std::string(GetParam()) + ".png");
    EXPECT_TRUE(Near(image.pixel(140, 67), qRgb(0, 160, 0))) << GetParam();       // the green rectangle
    EXPECT_GT(CountNear(image, QRect(30, 18, 25, 9), qRgb(0, 0, 255)), 3) << GetParam();  // the arc's top
    EXPECT_GT(CountNear(image, QRect(100, 5, 80, 35), qRgb(192, 0, 0)), 20) << GetParam();  // "Mono"
    EXPECT_GT(DarkPixels(image, QRect(3, 5, 67, 35)), 20) << GetParam();                    // "Serif"
    EXPECT_EQ(DarkPixels(image, QRect(3, 58, 60, 28)), 0) << GetParam();  // nothing below the arc
}

INSTANTIATE_TEST_SUITE_P(LibreOffice, MetafileTextFixture, ::testing::Values("lo-text.emf", "lo-text.wmf"));
