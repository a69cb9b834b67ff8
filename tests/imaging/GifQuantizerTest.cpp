// The GIF encoder's palette rule: 20 static colours at fixed entries, 236
// chosen for the picture, nearest colour for every pixel, no dithering.

#include "GifQuantizer.h"
#include "GraphicError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>

namespace pixhold::imaging {
namespace {

QRgb Colour(const TRgbQuad& q) { return qRgb(q.Red, q.Green, q.Blue); }

int Distance(QRgb a, QRgb b) {
    const int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
    return dr * dr + dg * dg + db * db;
}

// The lowest palette index nearest to a colour, by trying them all.
int NearestByBruteForce(const TBitmap& b, QRgb c) {
    int best = 0;
    for (int i = 1; i < 256; ++i) {
        if (Distance(Colour(b.Palette[i]), c) < Distance(Colour(b.Palette[best]), c)) best = i;
    }
    return best;
}

QImage Noise(int width, int height, unsigned seed, std::uint32_t mask = 0xFFFFFF) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) row[x] = 0xFF000000u | (random() & mask);
    }
    return image;
}

// `count` distinct colours, none of them a static one, repeated over the picture.
QImage FewColours(int width, int height, int count) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int k = (x + y * 7) % count;
            image.setPixel(x, y, qRgb(3 + k, 200 - (k % 50), 17 + 2 * (k / 50)));
        }
    }
    return image;
}

TEST(GifQuantizerTest, StaticColoursAreTheSystemPalettesTwenty) {
    const QRgb expected[20] = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),     qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128),   qRgb(192, 192, 192),
        qRgb(192, 220, 192), qRgb(166, 202, 240), qRgb(255, 251, 240), qRgb(160, 160, 164),
        qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),     qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255),   qRgb(255, 255, 255)};
    const auto colours = StaticColours();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Colour(colours[i]), expected[i]) << i;
}

TEST(GifQuantizerTest, PaletteHasTheStaticColoursAtTheirEntries) {
    for (const QImage& image : {Noise(50, 40, 1), FewColours(9, 9, 5)}) {
        const TBitmap b = QuantizeForGif(image);
        EXPECT_EQ(b.BitCount, 8);
        EXPECT_EQ(b.Width, image.width());
        EXPECT_EQ(b.Height, image.height());
        ASSERT_EQ(b.Palette.size(), 256u);
        const auto colours = StaticColours();
        for (int i = 0; i < 10; ++i) EXPECT_EQ(b.Palette[i], colours[i]) << i;
        for (int i = 10; i < 20; ++i) EXPECT_EQ(b.Palette[236 + i], colours[i]) << i;
    }
}

TEST(GifQuantizerTest, PicturesOfFewColoursKeepThemExactly) {
    struct Case {
        int Width, Height, Colours;
    };
    // 236 colours fill the free entries; 1024 x 1024 takes the path for large pictures.
    for (const Case c : {Case{1, 1, 1}, Case{30, 20, 100}, Case{40, 40, 236}, Case{1024, 1024, 200}}) {
        const QImage image = FewColours(c.Width, c.Height, c.Colours);
        EXPECT_EQ(QuantizeForGif(image).ToImage(), image) << c.Colours << " colours";
    }
    // The static colours need no free entry: 236 others and all 20 stay exact.
    QImage both = FewColours(64, 64, 236);
    const auto colours = StaticColours();
    for (int i = 0; i < 20; ++i) both.setPixel(i, 0, Colour(colours[i]));
    EXPECT_EQ(QuantizeForGif(both).ToImage(), both);
}

TEST(GifQuantizerTest, EveryPixelTakesTheNearestEntry) {
    // Many colours; the large picture takes the path for large pictures.
    for (const QImage& image : {Noise(64, 64, 2), Noise(1024, 1024, 3, 0x3F3F3F)}) {
        const TBitmap b = QuantizeForGif(image);
        // Check a sample of the large picture; all of the small one.
        const int step = image.width() * image.height() > 10000 ? 97 : 1;
        for (int i = 0; i < image.width() * image.height(); i += step) {
            const int x = i % image.width(), y = i / image.width();
            ASSERT_EQ(b.Row(y)[x], NearestByBruteForce(b, image.pixel(x, y))) << x << "," << y;
        }
    }
}

TEST(GifQuantizerTest, ChosenColoursFollowThePicturesClusters) {
    // 236 tight clusters of colours (each centre with its neighbours at +-2):
    // one free entry for each, so no pixel ends far from its colour.
    std::mt19937 random(5);
    std::vector<QRgb> centres;
    while (centres.size() < 236) {
        const QRgb c = qRgb(8 + random() % 240, 8 + random() % 240, 8 + random() % 240);
        bool apart = true;
        for (const QRgb o : centres) apart = apart && Distance(o, c) > 400;
        if (apart) centres.push_back(c);
    }
    QImage image(236, 27, QImage::Format_RGB32);
    for (int x = 0; x < 236; ++x) {
        for (int y = 0; y < 27; ++y) {
            const int d[3] = {y % 3 - 1, (y / 3) % 3 - 1, y / 9 - 1};
            const QRgb c = centres[x];
            image.setPixel(x, y, qRgb(qRed(c) + 2 * d[0], qGreen(c) + 2 * d[1], qBlue(c) + 2 * d[2]));
        }
    }
    const TBitmap b = QuantizeForGif(image);
    // Splits along the axes cannot part every pair of neighbouring clusters
    // for 236 entries; most clusters get an entry of their own, and the few
    // that share one share it with a near one.
    int close = 0, worst = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int d = Distance(b.Pixel(x, y), image.pixel(x, y));
            close += d <= 12;
            worst = std::max(worst, d);
        }
    }
    EXPECT_GE(close, image.width() * image.height() * 85 / 100);
    EXPECT_LE(worst, 400);
}

TEST(GifQuantizerTest, FlatAreasStayOneColourWithoutDithering) {
    // A noisy half forces real quantisation; the flat half's colour is no
    // palette colour, and a ditherer would mix entries there.
    QImage image = Noise(80, 40, 7);
    for (int y = 0; y < 40; ++y) {
        for (int x = 40; x < 80; ++x) image.setPixel(x, y, qRgb(101, 57, 203));
    }
    const TBitmap b = QuantizeForGif(image);
    std::set<int> indices;
    for (int y = 0; y < 40; ++y) {
        for (int x = 40; x < 80; ++x) indices.insert(b.Row(y)[x]);
    }
    EXPECT_EQ(indices.size(), 1u);
}

TEST(GifQuantizerTest, SamePictureGivesTheSameBitmap) {
    const QImage image = Noise(300, 200, 11);
    const TBitmap first = QuantizeForGif(image);
    EXPECT_EQ(QuantizeForGif(image.copy()), first);
    EXPECT_EQ(QuantizeForGif(image.convertToFormat(QImage::Format_RGB888)), first);
}

TEST(GifQuantizerTest, EmptyPictureIsAnError) {
    EXPECT_THROW(QuantizeForGif(QImage()), EInvalidGraphic);
}

}  // namespace
}  // namespace pixhold::imaging
