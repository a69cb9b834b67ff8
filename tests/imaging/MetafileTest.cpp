#include "GraphicError.h"
#include "Metafile.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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
    // A plain WMF whose window ends beyond 16 bits has no placeable header.
    const TMetafile far = TMetafile::Read(TWmfBuilder().Add(0x020B, {30000, 30000}).Add(0x020C, {100, 30000}).Bytes(false));
    EXPECT_EQ(far.Width(), 30000);
    EXPECT_THROW(far.SaveWmf(), EInvalidGraphic);
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

    // The painter's own transform applies on top: (10, 20, 40, 20) scaled by 2 and moved by (5, 5).
    canvas.fill(Qt::white);
    painter.begin(&canvas);
    painter.translate(5, 5);
    painter.scale(2, 2);
    m.Draw(painter, QRectF(10, 20, 40, 20));
    painter.end();
    EXPECT_EQ(canvas.pixel(35, 65), qRgb(255, 0, 0));  // first column: x 25..45
    EXPECT_EQ(canvas.pixel(80, 65), qRgb(0, 0, 255));
    EXPECT_EQ(canvas.pixel(20, 65), White);
    EXPECT_EQ(canvas.pixel(50, 40), White);

    // Drawing beyond the metafile's frame stays inside the target.
    TEmfBuilder wide;
    wide.Add(39, {1, 0, 0x0000FF, 0}).Add(37, {1}).Add(43, {-50, -50, 150, 150});
    canvas.fill(Qt::white);
    painter.begin(&canvas);
    TMetafile::Read(wide.Bytes()).Draw(painter, QRectF(25, 25, 50, 50));
    painter.end();
    EXPECT_EQ(canvas.pixel(50, 50), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(20, 50), White);
    EXPECT_EQ(canvas.pixel(80, 80), White);
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
        .Add(9999, {1, 2, 3})         // an unknown record is passed over
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

// ---- Records, hand-made ---------------------------------------------------------------

namespace {

// Record types and values of the EMF format.
enum : std::uint32_t {
    EmrSetWindowExt = 9, EmrSetWindowOrg = 10, EmrSetViewportExt = 11, EmrSetMapMode = 17, EmrSetBkMode = 18,
    EmrSetPolyFillMode = 19, EmrSetTextAlign = 22, EmrSetBkColor = 25, EmrMoveTo = 27, EmrExcludeClip = 29,
    EmrIntersectClip = 30, EmrSaveDC = 33, EmrRestoreDC = 34, EmrSetWorldTransform = 35, EmrModifyWorldTransform = 36,
    EmrSelectObject = 37, EmrCreatePen = 38, EmrCreateBrush = 39, EmrPie = 47, EmrLineTo = 54,
    EmrSetArcDirection = 57, EmrBeginPath = 59, EmrEndPath = 60, EmrCloseFigure = 61, EmrFillPath = 62,
    EmrExtSelectClipRgn = 75, EmrFont = 82, EmrExtTextOutW = 84, EmrPolyPolygon16 = 91, EmrRectangle = 43,
};
constexpr std::int64_t Red = 0x0000FF, Green = 0x00FF00, Blue = 0xFF0000;

std::int64_t FloatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

// A solid brush of that colour selected as object 1, no pen.
TEmfBuilder SolidEmf(std::int64_t colour) {
    TEmfBuilder b;
    b.Add(EmrCreateBrush, {1, 0, colour, 0}).Add(EmrSelectObject, {1}).Add(EmrSelectObject, {0x80000008});
    return b;
}

struct TPixelCase {
    const char* Name;
    TByteVector Bytes;
    std::vector<std::pair<QPoint, QRgb>> Expect;
};

std::vector<TPixelCase> EmfCases() {
    std::vector<TPixelCase> cases;
    {
        TEmfBuilder b = SolidEmf(Red);
        b.Add(EmrSetMapMode, {8}).Add(EmrSetWindowExt, {1000, 1000}).Add(EmrSetViewportExt, {100, 100});
        b.Add(EmrRectangle, {500, 500, 900, 900});
        cases.push_back({"anisotropic window of 1000 units", b.Bytes(), {{{70, 70}, qRgb(255, 0, 0)}, {{40, 40}, White}}});
    }
    {
        TEmfBuilder b = SolidEmf(Red);
        b.Add(EmrSetMapMode, {7}).Add(EmrSetWindowExt, {100, 100}).Add(EmrSetViewportExt, {100, 50});
        b.Add(EmrRectangle, {0, 0, 100, 100});
        cases.push_back({"isotropic keeps the aspect", b.Bytes(),
                         {{{40, 40}, qRgb(255, 0, 0)}, {{60, 40}, White}, {{40, 60}, White}}});
    }
    {
        TEmfBuilder b = SolidEmf(Red);  // 0.1 mm units, y up: 100 units = 1 cm = 37.8 pixels
        b.Add(EmrSetMapMode, {2}).Add(EmrRectangle, {0, 0, 100, -100});
        cases.push_back({"lometric", b.Bytes(), {{{18, 18}, qRgb(255, 0, 0)}, {{45, 45}, White}, {{18, 45}, White}}});
    }
    {
        TEmfBuilder b = SolidEmf(Red);
        b.Add(EmrSetWorldTransform, {FloatBits(1), 0, 0, FloatBits(1), FloatBits(50), 0});
        b.Add(EmrModifyWorldTransform, {FloatBits(2), 0, 0, FloatBits(2), 0, 0, 2});  // scale first, then move
        b.Add(EmrRectangle, {0, 0, 10, 10});
        cases.push_back({"world transform", b.Bytes(),
                         {{{60, 10}, qRgb(255, 0, 0)}, {{10, 10}, White}, {{75, 10}, White}}});
    }
    {
        TEmfBuilder b = SolidEmf(Red);
        b.Add(EmrCreateBrush, {2, 0, Green, 0}).Add(EmrSaveDC, {}).Add(EmrSelectObject, {2}).Add(EmrRestoreDC, {-1});
        b.Add(EmrRectangle, {0, 0, 100, 100});
        cases.push_back({"restore brings the brush back", b.Bytes(), {{{50, 50}, qRgb(255, 0, 0)}}});
    }
    {
        TEmfBuilder b = SolidEmf(Red);
        b.Add(EmrIntersectClip, {0, 0, 50, 100}).Add(EmrExcludeClip, {20, 20, 30, 30}).Add(EmrRectangle, {0, 0, 100, 100});
        b.Add(EmrExtSelectClipRgn, {0, 5}).Add(EmrCreateBrush, {2, 0, Green, 0}).Add(EmrSelectObject, {2});
        b.Add(EmrRectangle, {60, 60, 100, 100});
        cases.push_back({"clipping", b.Bytes(),
                         {{{10, 50}, qRgb(255, 0, 0)}, {{25, 25}, White}, {{75, 30}, White}, {{80, 80}, qRgb(0, 255, 0)}}});
    }
    {
        TEmfBuilder b = SolidEmf(Blue);
        b.Add(EmrBeginPath, {}).Add(EmrMoveTo, {0, 0}).Add(EmrLineTo, {100, 0}).Add(EmrLineTo, {0, 100});
        b.Add(EmrCloseFigure, {}).Add(EmrEndPath, {}).Add(EmrFillPath, {0, 0, 100, 100});
        cases.push_back({"filled path", b.Bytes(), {{{20, 20}, qRgb(0, 0, 255)}, {{80, 80}, White}}});
    }
    {
        // Two squares, the inner one wound the same way: a hole when alternate, filled when winding.
        const std::initializer_list<std::int64_t> squares = {
            0, 0, 100, 100, 2, 8, 4, 4, 10 | (10 << 16), 90 | (10 << 16), 90 | (90 << 16), 10 | (90 << 16),
            40 | (40 << 16), 60 | (40 << 16), 60 | (60 << 16), 40 | (60 << 16)};
        TEmfBuilder alternate = SolidEmf(Blue);
        alternate.Add(EmrPolyPolygon16, squares);
        cases.push_back({"alternate fill", alternate.Bytes(), {{{20, 20}, qRgb(0, 0, 255)}, {{50, 50}, White}}});
        TEmfBuilder winding = SolidEmf(Blue);
        winding.Add(EmrSetPolyFillMode, {2}).Add(EmrPolyPolygon16, squares);
        cases.push_back({"winding fill", winding.Bytes(), {{{20, 20}, qRgb(0, 0, 255)}, {{50, 50}, qRgb(0, 0, 255)}}});
    }
    {
        TEmfBuilder ccw = SolidEmf(Green);
        ccw.Add(EmrPie, {0, 0, 100, 100, 100, 50, 50, 0});
        cases.push_back({"pie counter-clockwise", ccw.Bytes(), {{{75, 25}, qRgb(0, 255, 0)}, {{25, 75}, White}}});
        TEmfBuilder cw = SolidEmf(Green);
        cw.Add(EmrSetArcDirection, {2}).Add(EmrPie, {0, 0, 100, 100, 100, 50, 50, 0});
        cases.push_back({"pie clockwise", cw.Bytes(), {{{75, 25}, White}, {{25, 75}, qRgb(0, 255, 0)}}});
    }
    {
        TEmfBuilder hatch;  // horizontal hatch lines in blue over a yellow background
        hatch.Add(EmrCreateBrush, {1, 2, Blue, 0}).Add(EmrSelectObject, {1}).Add(EmrSelectObject, {0x80000008});
        hatch.Add(EmrSetBkColor, {0x00FFFF}).Add(EmrRectangle, {0, 0, 100, 100});
        cases.push_back({"hatch on an opaque background", hatch.Bytes(), {{{50, 50}, 0}}});
    }
    {
        TEmfBuilder pen;  // a 10-unit red pen around a null brush
        pen.Add(EmrCreatePen, {1, 0, 10, 0, Red}).Add(EmrSelectObject, {1}).Add(EmrSelectObject, {0x80000005});
        pen.Add(EmrRectangle, {20, 20, 80, 80});
        cases.push_back({"wide pen, null brush", pen.Bytes(),
                         {{{17, 50}, qRgb(255, 0, 0)}, {{23, 50}, qRgb(255, 0, 0)}, {{50, 50}, White}, {{10, 50}, White}}});
    }
    {
        TEmfBuilder region = SolidEmf(Red);  // FILLRGN with the black stock brush, then the red brush again
        region.Add(71, {0, 0, 40, 40, 48, 0x80000004, 32, 1, 1, 16, 10, 10, 40, 40, 10, 10, 40, 40});
        region.Add(EmrRectangle, {60, 60, 90, 90});
        cases.push_back({"fill region", region.Bytes(),
                         {{{25, 25}, qRgb(0, 0, 0)}, {{50, 50}, White}, {{75, 75}, qRgb(255, 0, 0)}}});
    }
    return cases;
}

}  // namespace

TEST(MetafileRecords, EmfRecordsDrawWhereTheirMappingSays) {
    for (const TPixelCase& c : EmfCases()) {
        const QImage image = RenderBytes(c.Bytes);
        Dump(image, std::string(c.Name) + ".png");
        for (const auto& [at, colour] : c.Expect) {
            if (colour == 0) continue;  // checked below
            EXPECT_EQ(image.pixel(at), colour) << c.Name << " at " << at.x() << "," << at.y();
        }
        if (std::string(c.Name) == "hatch on an opaque background") {
            EXPECT_GT(CountNear(image, QRect(50, 5, 1, 90), qRgb(0, 0, 255), 0), 5);
            EXPECT_GT(CountNear(image, QRect(50, 5, 1, 90), qRgb(255, 255, 0), 0), 40);
        }
    }
}

namespace {

// EXTTEXTOUTW of "HI" at (x, y): the string follows the 76 bytes of fields.
TEmfBuilder& TextHi(TEmfBuilder& b, int x, int y) {
    return b.Add(EmrExtTextOutW, {0, 0, 0, 0, 1, 0, 0, x, y, 2, 76, 0, 0, 0, 0, 0, 0, 'H' | ('I' << 16)});
}

TByteVector TextEmf(std::uint32_t align) {
    TEmfBuilder b;
    // A 30-pixel bold font of the default face, black text on a transparent background.
    b.Add(EmrFont, {1, -30, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    b.Add(EmrSelectObject, {1}).Add(EmrSetBkMode, {1}).Add(EmrSetTextAlign, {align});
    return TextHi(b, 50, 50).Bytes();
}

}  // namespace

TEST(MetafileRecords, TextAlignmentPlacesTheString) {
    const QImage leftTop = RenderBytes(TextEmf(0));
    EXPECT_GT(DarkPixels(leftTop, QRect(50, 50, 50, 40)), 40);
    EXPECT_EQ(DarkPixels(leftTop, QRect(0, 0, 48, 100)), 0);
    EXPECT_EQ(DarkPixels(leftTop, QRect(0, 0, 100, 48)), 0);

    const QImage centreBaseline = RenderBytes(TextEmf(6 | 24));
    const int left = DarkPixels(centreBaseline, QRect(0, 0, 50, 100));
    const int right = DarkPixels(centreBaseline, QRect(50, 0, 50, 100));
    EXPECT_GT(left, 20);
    EXPECT_GT(right, 20);
    EXPECT_EQ(DarkPixels(centreBaseline, QRect(0, 53, 100, 47)), 0);  // nothing below the baseline

    const QImage rightBottom = RenderBytes(TextEmf(2 | 8));
    EXPECT_GT(DarkPixels(rightBottom, QRect(0, 0, 50, 50)), 40);
    EXPECT_EQ(DarkPixels(rightBottom, QRect(52, 0, 48, 100)), 0);
    EXPECT_EQ(DarkPixels(rightBottom, QRect(0, 52, 100, 48)), 0);
}

TEST(MetafileRecords, WmfObjectsTakeTheLowestFreeSlot) {
    TWmfBuilder b;
    b.Add(0x02FC, {0, 0x00FF, 0, 0})   // red brush: slot 0
        .Add(0x02FC, {0, 0xFF00, 0, 0})  // green brush: slot 1
        .Add(0x01F0, {0})                // slot 0 free again
        .Add(0x02FC, {0, 0, 0xFF, 0})    // blue brush: slot 0
        .Add(0x012D, {0})
        .Add(0x041B, {50, 50, 0, 0})
        .Add(0x012D, {1})
        .Add(0x041B, {100, 100, 50, 50});
    const QImage image = RenderBytes(b.Bytes(true));
    EXPECT_EQ(image.pixel(25, 25), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(75, 75), qRgb(0, 255, 0));
}

TEST(MetafileRecords, WmfWindowMapsLogicalUnitsIntoTheBox) {
    // The window (-50, -50) + (200, 200) over a 100-pixel box: logical (0, 0) is pixel (25, 25).
    TWmfBuilder b;
    b.Add(0x020B, {-50, -50}).Add(0x020C, {200, 200}).Add(0x02FC, {0, 0x00FF, 0, 0}).Add(0x012D, {0});
    b.Add(0x041B, {0, 0, -50, -50});
    const QImage placed = RenderBytes(b.Bytes(true));
    EXPECT_EQ(placed.pixel(12, 12), qRgb(255, 0, 0));
    EXPECT_EQ(placed.pixel(40, 40), White);

    // A plain file takes its size from the window; a negative extent turns y up.
    TWmfBuilder plain;
    plain.Add(0x020B, {80, 0}).Add(0x020C, {-80, 120}).Add(0x02FC, {0, 0x00FF, 0, 0}).Add(0x012D, {0});
    plain.Add(0x041B, {40, 60, 0, 0});  // bottom 40, right 60, top 0, left 0
    const TMetafile m = TMetafile::Read(plain.Bytes(false));
    EXPECT_EQ(QSize(m.Width(), m.Height()), QSize(120, 80));
    const QImage image = m.Render();
    EXPECT_EQ(image.pixel(30, 60), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(30, 20), White);
    EXPECT_EQ(image.pixel(90, 60), White);
    // Saved as placeable, the plain file gets the window as its box at 96 units per inch.
    const TByteVector saved = m.SaveWmf();
    EXPECT_EQ(U16(saved, 10), 120);
    EXPECT_EQ(U16(saved, 12), 80);
    EXPECT_EQ(U16(saved, 14), 96);
    EXPECT_TRUE(SamePixels(TMetafile::Read(saved).Render(), image));
}

TEST(MetafileRecords, WmfTextOutDrawsTheString) {
    TWmfBuilder b;
    b.Add(0x02FB, {-30, 0, 0, 0, 700, 0, 0, 0, 0})  // a 30-unit bold font of the default face
        .Add(0x012D, {0})
        .Add(0x0102, {1})                              // transparent background
        .Add(0x0521, {2, 'H' | ('I' << 8), 20, 20});   // "HI" at (20, 20), top-left aligned
    const QImage image = RenderBytes(b.Bytes(true));
    EXPECT_GT(DarkPixels(image, QRect(20, 20, 50, 40)), 40);
    EXPECT_EQ(DarkPixels(image, QRect(0, 0, 100, 18)), 0);
}

// ---- Damage anywhere ---------------------------------------------------------------

TEST(MetafileDamage, ChangedBytesAnywhereNeverCrashOrHang) {
    // Each file with a few bytes changed or cut short, read and rendered: an
    // error or a picture, under the sanitizers never a fault.
    std::vector<TByteVector> files;
    for (const char* name : {"inkscape-drawing.emf", "inkscape-drawing.wmf", "lo-shapes.emf", "lo-shapes.wmf",
                             "lo-text.emf", "lo-text.wmf"}) {
        files.push_back(ReadFixture(name));
    }
    files.push_back(TMetafile::FromBitmap(Pattern(16, 16)).SaveEmf());
    files.push_back(TMetafile::FromBitmap(Pattern(16, 16)).SaveWmf());
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int rendered = 0, refused = 0;
    for (const TByteVector& original : files) {
        for (int round = 0; round < 120; ++round) {
            TByteVector bytes = original;
            const int changes = 1 + static_cast<int>(next() % 6);
            for (int i = 0; i < changes; ++i) {
                const std::size_t at = next() % bytes.size();
                const std::uint32_t kind = next() % 4;
                bytes[at] = kind == 0 ? 0 : kind == 1 ? 0xFF : static_cast<std::uint8_t>(next());
            }
            if (next() % 8 == 0) bytes.resize(next() % bytes.size());
            try {
                const TMetafile m = TMetafile::Read(bytes);
                // Sizes the header allows but that would only cost memory are left out.
                if (static_cast<std::int64_t>(m.Width()) * m.Height() > 4'000'000) continue;
                (void)m.Render();
                ++rendered;
            } catch (const EInvalidGraphic&) {
                ++refused;
            }
        }
    }
    EXPECT_GT(rendered, 100);
    EXPECT_GT(refused, 10);
}

TEST(MetafileRecords, AlphaBlendUsesConstantAndPictureAlpha) {
    // ALPHABLEND of a 1 x 1 32-bit DIB stretched over the whole picture; the DIB follows the 108 bytes of fields.
    auto blend = [](std::int64_t function, std::int64_t pixel) {
        TEmfBuilder b;
        b.Add(114, {0, 0, 99, 99, 0, 0, 100, 100, function, 0, 0, FloatBits(1), 0, 0, FloatBits(1), 0, 0, 0, 0,
                    108, 40, 148, 4, 1, 1,
                    40, 1, 1, 1 | (32 << 16), 0, 4, 0, 0, 0, 0, pixel});
        return RenderBytes(b.Bytes());
    };
    const QRgb half = blend(128 << 16, 0x000000FF).pixel(50, 50);  // constant alpha 128, opaque blue
    EXPECT_NEAR(qRed(half), 127, 2);
    EXPECT_NEAR(qGreen(half), 127, 2);
    EXPECT_EQ(qBlue(half), 255);
    EXPECT_EQ(blend((255 << 16) | (1ll << 24), 0x00000000).pixel(50, 50), White);       // transparent pixel
    EXPECT_EQ(blend((255 << 16) | (1ll << 24), 0xFF0000FF).pixel(50, 50), qRgb(0, 0, 255));  // opaque pixel
}

TEST(MetafileWriting, OtherKindIsWrittenAsItsPicture) {
    // An EMF of vector records becomes a WMF bitmap of its rendering, and a WMF
    // an EMF of its rendering: the same pixels at 1:1.
    for (const char* name : {"lo-text.emf", "lo-text.wmf"}) {
        const TMetafile m = TMetafile::Read(ReadFixture(name));
        const TMetafile other = TMetafile::Read(m.Enhanced() ? m.SaveWmf() : m.SaveEmf());
        EXPECT_NE(other.Enhanced(), m.Enhanced()) << name;
        EXPECT_EQ(QSize(other.Width(), other.Height()), QSize(m.Width(), m.Height())) << name;
        EXPECT_TRUE(SamePixels(other.Render(), m.Render())) << name;
    }
}

TEST(MetafileRecords, GradientFillRectanglesAndTriangles) {
    // Two vertices, red at (0, 0) and blue at (100, 100), one horizontal rectangle.
    TEmfBuilder rect;
    rect.Add(118, {0, 0, 99, 99, 2, 1, 0, 0, 0, 0xFF00, 0, 100, 100, 0, 0xFF00, 0, 1});
    const QImage h = RenderBytes(rect.Bytes());
    EXPECT_TRUE(Near(h.pixel(2, 50), qRgb(255, 0, 0), 12)) << std::hex << h.pixel(2, 50);
    EXPECT_TRUE(Near(h.pixel(97, 50), qRgb(0, 0, 255), 12));
    EXPECT_TRUE(Near(h.pixel(50, 10), qRgb(127, 0, 127), 12)) << std::hex << h.pixel(50, 10);
    EXPECT_EQ(h.pixel(50, 10), h.pixel(50, 90));  // horizontal: the same down a column

    // A triangle of three grey corners over the top-left half.
    TEmfBuilder tri;
    tri.Add(118, {0, 0, 99, 99, 3, 1, 2, 0, 0, 0x3000 | (0x3000ll << 16), 0x3000, 100, 0, 0x3000 | (0x3000ll << 16),
                  0x3000, 0, 100, 0x3000 | (0x3000ll << 16), 0x3000, 0, 1, 2});
    const QImage t = RenderBytes(tri.Bytes());
    EXPECT_EQ(t.pixel(20, 20), qRgb(0x30, 0x30, 0x30));
    EXPECT_EQ(t.pixel(80, 80), White);
    // A vertex index beyond the table draws nothing.
    TEmfBuilder bad;
    bad.Add(118, {0, 0, 99, 99, 1, 1, 0, 0, 0, 0, 0, 0, 5});
    EXPECT_EQ(RenderBytes(bad.Bytes()).pixel(50, 50), White);
}

TEST(MetafileRecords, EnormousPensAndCoordinatesAreDrawn) {
    // A dashed pen far wider than the picture covers all of it, as a solid one does.
    for (const std::int64_t style : {0, 1}) {
        TEmfBuilder b;
        b.Add(EmrCreatePen, {1, style, 30000, 0, Red}).Add(EmrSelectObject, {1});
        b.Add(EmrMoveTo, {50, 50}).Add(EmrLineTo, {60, 60});
        const QImage image = RenderBytes(b.Bytes());
        for (const QPoint p : {QPoint(0, 0), QPoint(99, 0), QPoint(0, 99), QPoint(99, 99)}) {
            EXPECT_EQ(image.pixel(p), qRgb(255, 0, 0)) << "style " << style;
        }
    }
    // Coordinates near the 32-bit limits, scaled up two billion times, with pens of
    // every width: drawn (or clipped away) without end or fault.
    for (const std::int64_t style : {0, 1}) {
        for (const std::int64_t width : {0, 1, 5, 100000}) {
            TEmfBuilder b;
            b.Add(EmrSetMapMode, {8}).Add(EmrSetWindowExt, {1, 1}).Add(EmrSetViewportExt, {2000000000, 2000000000});
            b.Add(EmrCreatePen, {1, style, width, 0, Red}).Add(EmrSelectObject, {1});
            b.Add(EmrMoveTo, {-2000000000, -2000000000}).Add(EmrLineTo, {2000000000, 1999999999});
            b.Add(42, {-2000000000, -2000000000, 2000000000, 2000000000});
            b.Add(2, {0, 0, 0, 0, 4, -2000000000, 5, 2000000000, 7, -2000000000, 100, 2000000000, -3});
            EXPECT_NO_THROW(RenderBytes(b.Bytes())) << style << " " << width;
        }
    }
}

TEST(MetafileRecords, WmfRegionsFillAndClip) {
    // CREATEREGION of one scan: 10..40 both ways (slot 0); a red brush (slot 1), a green one (slot 2).
    const std::initializer_list<int> region = {0, 6, 0, 0, 34, 1, 2, 10, 10, 40, 40, 2, 10, 40, 10, 40, 2};
    TWmfBuilder fill;
    fill.Add(0x06FF, region).Add(0x02FC, {0, 0x00FF, 0, 0}).Add(0x02FC, {0, 0xFF00, 0, 0});
    fill.Add(0x012D, {2}).Add(0x0228, {0, 1});  // FILLREGION with the red brush, green stays selected
    fill.Add(0x041B, {90, 90, 60, 60});
    const QImage filled = RenderBytes(fill.Bytes(true));
    EXPECT_EQ(filled.pixel(25, 25), qRgb(255, 0, 0));
    EXPECT_EQ(filled.pixel(50, 50), White);
    EXPECT_EQ(filled.pixel(75, 75), qRgb(0, 255, 0));

    TWmfBuilder clip;
    clip.Add(0x06FF, region).Add(0x02FC, {0, 0xFF00, 0, 0}).Add(0x012D, {1});
    clip.Add(0x012C, {0}).Add(0x041B, {100, 100, 0, 0});  // clipped to the region
    clip.Add(0x012C, {1}).Add(0x041B, {90, 90, 60, 60});  // not a region: the clip is reset
    const QImage clipped = RenderBytes(clip.Bytes(true));
    EXPECT_EQ(clipped.pixel(25, 25), qRgb(0, 255, 0));
    EXPECT_EQ(clipped.pixel(50, 50), White);
    EXPECT_EQ(clipped.pixel(5, 5), White);
    EXPECT_EQ(clipped.pixel(75, 75), qRgb(0, 255, 0));
}

TEST(MetafileRecords, TextInAPathAddsItsOutlines) {
    // "HI" inside BEGINPATH/ENDPATH draws nothing until FILLPATH fills the glyphs with the brush.
    TEmfBuilder b;
    b.Add(EmrFont, {1, -60, 0, 0, 0, 900, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    b.Add(EmrSelectObject, {1}).Add(EmrSetBkMode, {1}).Add(EmrCreateBrush, {2, 0, Blue, 0}).Add(EmrSelectObject, {2});
    b.Add(EmrBeginPath, {});
    TextHi(b, 10, 10);
    b.Add(EmrEndPath, {});
    const TByteVector unfilled = b.Bytes();
    EXPECT_EQ(DarkPixels(RenderBytes(unfilled), QRect(0, 0, 100, 100)), 0);
    b.Add(EmrFillPath, {0, 0, 100, 100});
    EXPECT_GT(CountNear(RenderBytes(b.Bytes()), QRect(10, 10, 70, 60), qRgb(0, 0, 255), 0), 100);
}
